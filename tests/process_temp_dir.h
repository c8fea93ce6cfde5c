#pragma once
// One temporary directory per test process and per family of tests: emptied
// when the process first uses it (a crashed run with the same process id may
// have left one) and removed when the process ends. ctest runs tests in
// parallel processes and several builds share /tmp, so no test can see
// another's files, nor be satisfied by a file an earlier run left.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

namespace qm::test {

class ProcessTempDir {
public:
    explicit ProcessTempDir(const std::string& family)
        : m_path(std::filesystem::temp_directory_path() / ("qm_" + family + "_tests") /
                 std::to_string(::getpid())) {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ~ProcessTempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ProcessTempDir(const ProcessTempDir&) = delete;
    ProcessTempDir& operator=(const ProcessTempDir&) = delete;

    // A folder of its own for the running test, created.
    std::filesystem::path ForCurrentTest() const {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string leaf = info ? std::string(info->test_suite_name()) + "_" + info->name()
                                : std::string("outside_tests");
        for (char& c : leaf)
            if (c == '/') c = '_';
        const auto dir = m_path / leaf;
        std::filesystem::create_directories(dir);
        return dir;
    }

private:
    std::filesystem::path m_path;
};

} // namespace qm::test
