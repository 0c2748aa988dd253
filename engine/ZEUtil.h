// Small helpers of the engine: little-endian access, CRC-32, text conversion and the
// wildcard matcher used for include/exclude specifications.
#pragma once

#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace ze {

inline uint16_t rd16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t rd32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t rd64(const uint8_t* p) {
    return rd32(p) | (uint64_t(rd32(p + 4)) << 32);
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

// UTF-8 <-> UTF-16. Bytes that are not valid UTF-8 are taken as Windows-1252.
std::u16string utf8ToUtf16(std::string_view s);
std::string utf16ToUtf8(std::u16string_view s);
bool isValidUtf8(std::string_view s);
// 8-bit code page text to UTF-8 and back (iconv). codePage 0 means Windows-1252;
// 850 is the OEM page. Characters without a mapping become '_'.
std::string codePageToUtf8(std::string_view s, int codePage);
std::string utf8ToCodePage(std::string_view s, int codePage);
// True when a name needs an encoding decision: a byte above 126 or of 30 or less.
bool needsEncoding(std::string_view s);

// Case-insensitive match of a name against a "|"-separated list of specifications with "*"
// and "?"; "/" and "\" are alike. "*" and "*.*" match everything; a specification ending in
// "." matches names without an extension.
bool fileNameMatch(std::string_view specs, std::string_view name);
bool hasWildcards(std::string_view s);

}  // namespace ze
