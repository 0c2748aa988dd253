// Replays inputs through a fuzz target's entry point in an ordinary build:
// every argument is a file or a folder whose files (in name order) are fed
// to LLVMFuzzerTestOneInput one by one. Used by CTest to run the committed
// seeds and the inputs of past findings, also under the sanitizers. Fails
// when an argument cannot be read or when no input was found at all; a
// finding itself ends the process the way it would end the fuzzer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace fs = std::filesystem;

namespace {

bool Replay(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    // A copy of exactly the input's size, so that a read past its end is seen.
    std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(data.data(), data.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize != nullptr) {
        LLVMFuzzerInitialize(&argc, &argv);
    }
    std::size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg = argv[i];
        std::error_code ec;
        std::vector<fs::path> files;
        if (fs::is_directory(arg, ec)) {
            for (const auto& e : fs::directory_iterator(arg, ec)) {
                if (e.is_regular_file()) {
                    files.push_back(e.path());
                }
            }
            std::sort(files.begin(), files.end());
        } else if (fs::exists(arg, ec)) {
            files.push_back(arg);
        } else {
            continue;  // a target without regressions has no folder for them
        }
        for (const auto& f : files) {
            if (!Replay(f)) {
                return 1;
            }
            ++count;
        }
    }
    std::printf("%zu inputs replayed\n", count);
    return count > 0 ? 0 : 1;
}
