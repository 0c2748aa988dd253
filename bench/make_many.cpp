// tarvik-make-many ARCHIVE COUNT
//
// Writes an archive of COUNT small stored files in 500 folders
// ("dir123/file0000042.txt", 0 to 36 bytes each) for the listing
// benchmarks; Zip64 end records from 65535 entries on.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/ManyEntriesZip.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: tarvik-make-many ARCHIVE COUNT\n");
        return 2;
    }
    const std::uint64_t count = std::strtoull(argv[2], nullptr, 10);
    const bool ok = manyentries::Write(
        argv[1], count,
        [](std::uint64_t i) {
            char name[40];
            std::snprintf(name, sizeof name, "dir%03u/file%07llu.txt",
                          static_cast<unsigned>(i % 500), static_cast<unsigned long long>(i));
            return std::string(name);
        },
        [](std::uint64_t i) { return static_cast<std::uint32_t>(i % 37); });
    if (!ok) {
        std::fprintf(stderr, "tarvik-make-many: %s cannot be written\n", argv[1]);
        return 1;
    }
    return 0;
}
