// Small helpers of the engine: little-endian access and CRC-32. Text conversions, DOS
// date-time and the file-spec matcher are the platform's (platform/CodePage.h,
// platform/DosTime.h, platform/FileSpecMatch.h).
#pragma once

#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "platform/CodePage.h"
#include "platform/FileSpecMatch.h"
#include "platform/ZipRecords.h"

namespace ze {

// Little-endian reads: the record layouts' own (platform/ZipRecords.h).
inline uint16_t rd16(const uint8_t* p) {
    return zrec::GetU16(p);
}
inline uint32_t rd32(const uint8_t* p) {
    return zrec::GetU32(p);
}
inline uint64_t rd64(const uint8_t* p) {
    return zrec::GetU64(p);
}

// Appends little-endian values to a byte buffer.
struct Bytes {
    std::vector<uint8_t> b;
    void u8(uint8_t v) { b.push_back(v); }
    void u16(uint32_t v) {
        b.push_back(uint8_t(v));
        b.push_back(uint8_t(v >> 8));
    }
    void u32(uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    void u64(uint64_t v) {
        u32(uint32_t(v));
        u32(uint32_t(v >> 32));
    }
    void raw(const void* p, size_t n) {
        auto* c = static_cast<const uint8_t*>(p);
        b.insert(b.end(), c, c + n);
    }
    void str(std::string_view s) { raw(s.data(), s.size()); }
};

uint32_t crc32(uint32_t crc, const void* data, size_t n);

}  // namespace ze
