// Runs a fuzz target's entry point over saved inputs, without libFuzzer, so
// that the ordinary test build (gcc, sanitizers) replays the seeds and every
// input that once crashed. Arguments are files or directories of files.
// A fault aborts through the sanitizers; an argument that does not exist or
// holds no input fails the run, so a lost corpus does not pass unnoticed.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

bool RunFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    // A copy of exactly the input's size, so reads past its end are caught.
    auto* data = new uint8_t[bytes.size() ? bytes.size() : 1];
    std::copy(bytes.begin(), bytes.end(), data);
    LLVMFuzzerTestOneInput(data, bytes.size());
    delete[] data;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    size_t runs = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path arg(argv[i]);
        std::error_code ec;
        std::vector<std::filesystem::path> files;
        if (std::filesystem::is_directory(arg, ec)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(arg, ec))
                if (entry.is_regular_file()) files.push_back(entry.path());
            std::sort(files.begin(), files.end());
        } else if (std::filesystem::is_regular_file(arg, ec)) {
            files.push_back(arg);
        }
        if (files.empty()) {
            std::fprintf(stderr, "no inputs in %s\n", argv[i]);
            ok = false;
        }
        for (const auto& file : files) {
            std::printf("replaying %s\n", file.c_str());
            std::fflush(stdout);
            ok = RunFile(file) && ok;
            ++runs;
        }
    }
    std::printf("%zu inputs replayed\n", runs);
    return ok && runs > 0 ? 0 : 1;
}
