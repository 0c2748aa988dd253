// Small helpers of the engine: little-endian access, CRC-32 and the buffer type for large
// data. Text conversions, DOS date-time and the file-spec matcher are the platform's
// (platform/CodePage.h, platform/DosTime.h, platform/FileSpecMatch.h).
#pragma once

#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>
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

// A byte buffer for large data that lives for one file or one chunk (file contents, decoded
// entries, compressed pieces). From kMapThreshold on, its storage is mapped from the kernel
// and unmapped when freed, so that the memory really leaves the process: the C library
// keeps freed large blocks in the arena of the thread that used them, and with several
// worker threads the job's resident memory would grow with their number. While an add
// job runs (KeepFreed), a few freed mappings (at most 8 MiB) are kept for the next large
// buffer, so that its pages are not faulted in afresh for every file or chunk. Extraction
// keeps none: its queues use the memory bound already. Smaller buffers come from malloc.
// Bytes gained by resize() are not initialised.
class ByteBuffer {
public:
    static constexpr size_t kMapThreshold = 1u << 20;

    ByteBuffer() = default;
    explicit ByteBuffer(size_t n) { resize(n); }
    ByteBuffer(const uint8_t* p, size_t n) { assign(p, n); }
    ~ByteBuffer() { release(); }
    ByteBuffer(ByteBuffer&& o) noexcept { swap(o); }
    ByteBuffer& operator=(ByteBuffer&& o) noexcept {
        if (this != &o) {
            release();
            swap(o);
        }
        return *this;
    }
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;

    uint8_t* data() { return data_; }
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    size_t capacity() const { return cap_; }
    bool empty() const { return size_ == 0; }
    uint8_t* begin() { return data_; }
    uint8_t* end() { return data_ + size_; }
    const uint8_t* begin() const { return data_; }
    const uint8_t* end() const { return data_ + size_; }
    uint8_t& operator[](size_t i) { return data_[i]; }
    const uint8_t& operator[](size_t i) const { return data_[i]; }
    uint8_t& back() { return data_[size_ - 1]; }

    // Throws std::bad_alloc when the memory cannot be had.
    void reserve(size_t n);
    void resize(size_t n) {
        if (n > cap_)
            reserve(n);
        size_ = n;
    }
    void clear() { size_ = 0; }  // keeps the storage
    void assign(const uint8_t* p, size_t n);
    void append(const uint8_t* p, size_t n);
    void push_back(uint8_t b) { append(&b, 1); }
    void release();  // frees the storage (a mapping may be kept for reuse)
    // While one of these lives, freed mappings are kept for reuse; when the last one ends,
    // the kept ones are unmapped.
    struct KeepFreed {
        KeepFreed();
        ~KeepFreed();
        KeepFreed(const KeepFreed&) = delete;
        KeepFreed& operator=(const KeepFreed&) = delete;
    };
    void swap(ByteBuffer& o) noexcept {
        std::swap(data_, o.data_);
        std::swap(size_, o.size_);
        std::swap(cap_, o.cap_);
    }

private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0, cap_ = 0;  // cap_ >= kMapThreshold: mapped
};

}  // namespace ze
