// libFuzzer target: the input is the surviving bytes of a damaged archive.
// Walks its local headers and data descriptors as the repair does, then
// writes what it found as a new archive and scans that again: every entry
// must survive the round trip with the same name, sizes and CRC.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "FuzzScratch.h"
#include "zip/ZARepairScan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    TZAMemorySource source(bytes);
    const TZARepairScan scan = ScanLocalHeaders(source);
    if (scan.entries.empty()) {
        return 0;
    }
    static const fuzz::Scratch scratch("fuzz-repair-");  // removed when the run ends
    const std::string path = scratch.Path("repaired.zip");
    if (!WriteRepairedArchive(source, scan, path)) {
        return 0;
    }
    std::ifstream in(path, std::ios::binary);
    const std::string written((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    TZAMemorySource again(written);
    const TZARepairScan second = ScanLocalHeaders(again);
    // (Bytes of a name may look like a local header in the new directory:
    // more entries than before are possible, fewer are not.)
    if (second.entries.size() < scan.entries.size()) {
        std::abort();
    }
    for (std::size_t i = 0; i < scan.entries.size(); ++i) {
        const TZARepairEntry& a = scan.entries[i];
        const TZARepairEntry& b = second.entries[i];
        if (a.name != b.name || a.crc != b.crc || a.compressedSize != b.compressedSize ||
            a.uncompressedSize != b.uncompressedSize) {
            std::abort();
        }
    }
    return 0;
}
