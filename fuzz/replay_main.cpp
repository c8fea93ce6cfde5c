// Runs a fuzz target's entry point over saved inputs, without libFuzzer, so
// that the ordinary test build (gcc, sanitizers) replays the seeds and every
// input that once crashed. Arguments are files or directories of files.
// A fault aborts through the sanitizers; an argument that does not exist or
// holds no input fails the run, so a lost corpus does not pass unnoticed.
// A well-formed seed, named good-*, must also have delivered frames (or, for
// the record parsers, records: fuzz::NoteDelivered), so a target whose reader
// refuses every input fails its replay too; with --good-seeds at least one
// such seed must be among the inputs.

#include "fuzz/fuzz_input.h"

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

bool IsWellFormedSeed(const std::filesystem::path& path) {
    return path.filename().string().rfind("good-", 0) == 0;
}

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
    qm::fuzz::TakeDelivered();
    LLVMFuzzerTestOneInput(data, bytes.size());
    delete[] data;
    const size_t delivered = qm::fuzz::TakeDelivered();
    if (IsWellFormedSeed(path)) {
        std::printf("  %zu delivered\n", delivered);
        if (delivered == 0) {
            std::fprintf(stderr, "%s is well-formed but delivered nothing\n", path.c_str());
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    size_t runs = 0, wellFormed = 0;
    bool ok = true;
    bool needWellFormed = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--good-seeds") {
            needWellFormed = true;
            continue;
        }
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
            wellFormed += IsWellFormedSeed(file) ? 1 : 0;
        }
    }
    std::printf("%zu inputs replayed, %zu of them well-formed\n", runs, wellFormed);
    if (needWellFormed && wellFormed == 0) {
        std::fprintf(stderr, "no well-formed seed (good-*) among the inputs\n");
        ok = false;
    }
    return ok && runs > 0 ? 0 : 1;
}
