// Writes a zip archive of many small stored entries quickly, for the tests
// and benchmarks of large directories: entry i is called nameOf(i) and holds
// sizeOf(i) bytes 'x' (at most kMaxData). Archives of 65535 entries and more
// get the Zip64 end records; an entry whose local header lies at 4 GiB or
// beyond gets a Zip64 record with its offset. Peers (unzip, 7zz, Python)
// read the result.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/ZipRecords.h"

namespace manyentries {

inline constexpr std::uint32_t kMaxData = 64;

// One date-time per entry, spread over the years 1990-2025.
inline std::uint32_t DosDateTimeOf(std::uint64_t i) {
    const auto year = static_cast<std::uint32_t>(10 + i % 36);
    const auto month = static_cast<std::uint32_t>(1 + i % 12);
    const auto day = static_cast<std::uint32_t>(1 + i % 28);
    const auto hour = static_cast<std::uint32_t>(i % 24);
    const auto minute = static_cast<std::uint32_t>(i % 60);
    return (((year << 9) | (month << 5) | day) << 16) | (hour << 11) | (minute << 5);
}

// True when the whole archive was written.
template <typename NameOf, typename SizeOf>
bool Write(const std::string& path, std::uint64_t count, NameOf&& nameOf, SizeOf&& sizeOf) {
    using namespace zrec;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "wb"),
                                                            &std::fclose);
    if (!f) {
        return false;
    }
    static char buffer[1 << 20];
    std::setvbuf(f.get(), buffer, _IOFBF, sizeof buffer);
    const std::string data(kMaxData, 'x');
    std::uint32_t crcs[kMaxData + 1];
    for (std::uint32_t n = 0; n <= kMaxData; ++n) {
        crcs[n] = Crc32(std::string_view(data).substr(0, n));
    }
    bool ok = true;
    auto put = [&](const void* p, std::size_t n) { ok = ok && std::fwrite(p, 1, n, f.get()) == n; };
    // The local headers and data; the central directory is made again in a
    // second pass, so that a directory of millions of entries is never held.
    std::uint64_t offset = 0;
    std::uint8_t head[central::kSize + 12];
    for (std::uint64_t i = 0; i < count && ok; ++i) {
        const std::string name = nameOf(i);
        const std::uint32_t size = std::min<std::uint32_t>(sizeOf(i), kMaxData);
        TZALocalHeader h;
        h.versionNeeded = 10;
        h.dosDateTime = DosDateTimeOf(i);
        h.crc32 = crcs[size];
        h.compressedSize = h.uncompressedSize = size;
        h.nameLength = static_cast<std::uint16_t>(name.size());
        h.Encode(head);
        put(head, local::kSize);
        put(name.data(), name.size());
        put(data.data(), size);
        offset += local::kSize + name.size() + size;
    }
    const std::uint64_t centralOffset = offset;
    offset = 0;
    for (std::uint64_t i = 0; i < count && ok; ++i) {
        const std::string name = nameOf(i);
        const std::uint32_t size = std::min<std::uint32_t>(sizeOf(i), kMaxData);
        const bool far = offset >= kSentinel32;
        TZACentralHeader h;
        h.versionMadeBy = (3 << 8) | (far ? kVersionZip64 : 20);  // Unix
        h.versionNeeded = far ? kVersionZip64 : 10;
        h.dosDateTime = DosDateTimeOf(i);
        h.crc32 = crcs[size];
        h.compressedSize = h.uncompressedSize = size;
        h.nameLength = static_cast<std::uint16_t>(name.size());
        h.extraLength = far ? 12 : 0;
        h.externalAttributes = 0100644u << 16;
        h.localHeaderOffset = far ? kSentinel32 : static_cast<std::uint32_t>(offset);
        h.Encode(head);
        put(head, central::kSize);
        put(name.data(), name.size());
        if (far) {
            std::uint8_t extra[12];
            PutU16(extra, kTagZip64);
            PutU16(extra + 2, 8);
            PutU64(extra + 4, offset);
            put(extra, sizeof extra);
        }
        offset += local::kSize + name.size() + size;
    }
    const std::uint64_t centralEnd = static_cast<std::uint64_t>(std::ftell(f.get()));
    const std::uint64_t centralSize = centralEnd - centralOffset;
    const bool zip64 =
        count >= kSentinel16 || centralOffset >= kSentinel32 || centralSize >= kSentinel32;
    std::uint8_t tail[zip64end::kSize + zip64loc::kSize + eocd::kSize];
    std::size_t at = 0;
    if (zip64) {
        TZAZip64EndRecord z;
        z.entriesOnDisk = z.totalEntries = count;
        z.centralSize = centralSize;
        z.centralOffset = centralOffset;
        z.Encode(tail);
        TZAZip64Locator l;
        l.zip64Offset = centralEnd;
        l.Encode(tail + zip64end::kSize);
        at = zip64end::kSize + zip64loc::kSize;
    }
    TZAEndRecord e;
    e.entriesOnDisk = e.totalEntries =
        count >= kSentinel16 ? kSentinel16 : static_cast<std::uint16_t>(count);
    e.centralSize =
        centralSize >= kSentinel32 ? kSentinel32 : static_cast<std::uint32_t>(centralSize);
    e.centralOffset =
        centralOffset >= kSentinel32 ? kSentinel32 : static_cast<std::uint32_t>(centralOffset);
    e.Encode(tail + at);
    put(tail, at + eocd::kSize);
    return ok && std::fflush(f.get()) == 0;
}

}  // namespace manyentries
