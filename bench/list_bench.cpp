// tarvik-list-bench ARCHIVE
//
// Loads an archive through the component as the window does (ZipFileName,
// then Count and every DirEntry's name, sizes and date) and prints one line:
//   entries=N load_s=T list_s=T total_s=T maxrss_kb=K check=X
// check is a sum over the values read, so that the reads cannot be dropped
// and two runs on the same archive can be compared.

#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "zip/ZAIRec.h"
#include "zip/ZipArchiver.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tarvik-list-bench ARCHIVE\n");
        return 2;
    }
    using Clock = std::chrono::steady_clock;
    const auto t0 = Clock::now();
    TZipArchiver zip;
    zip.SetUseUTF8(true);
    zip.SetUnattended(true);
    zip.SetZipFileName(argv[1]);
    if (!zip.ArchiveLoaded()) {
        std::fprintf(stderr, "tarvik-list-bench: %s: %s\n", argv[1], zip.ErrMessage().c_str());
        return 1;
    }
    const auto t1 = Clock::now();
    std::uint64_t check = 0;
    const int count = zip.Count();
    for (int i = 0; i < count; ++i) {
        const auto e = zip.DirEntry(i);
        if (!e) {
            continue;
        }
        check += e->FileName().size();
        check += static_cast<std::uint64_t>(e->CompressedSize());
        check += static_cast<std::uint64_t>(e->UncompressedSize());
        check += e->DosDateTime();
    }
    const auto t2 = Clock::now();
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto secs = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
    std::printf("entries=%d load_s=%.4f list_s=%.4f total_s=%.4f maxrss_kb=%ld check=%llu\n", count,
                secs(t1 - t0), secs(t2 - t1), secs(t2 - t0), usage.ru_maxrss,
                static_cast<unsigned long long>(check));
    return 0;
}
