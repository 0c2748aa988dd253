// Write side: local and central headers with Zip64 records exactly where a value needs them,
// the end records, and a buffered output file with positioned patching.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ZEUtil.h"

namespace ze {

struct OutEntry {
    std::string name;     // stored name bytes
    std::string extra;    // extra records for both headers (no Zip64 record)
    std::string comment;  // stored comment bytes
    uint16_t madeBy = 0x031E, needed = 20, flags = 0, method = 0;
    uint32_t dosTime = 0, crc = 0, extAttr = 0;
    uint16_t intAttr = 0;
    uint64_t csize = 0, usize = 0, lho = 0;
    bool zip64Local = false;  // the local header carries a Zip64 record with both sizes
};

Bytes localHeader(const OutEntry& e);
Bytes centralHeader(const OutEntry& e);
Bytes dataDescriptor(const OutEntry& e);
Bytes endRecords(uint64_t count, uint64_t cdOffset, uint64_t cdSize, const std::string& comment);
// Version needed for a method, raised to 4.5 for Zip64.
uint16_t versionNeeded(uint16_t method, bool zip64, bool encrypted);

class OutFile {
public:
    explicit OutFile(int fd) : fd_(fd) { buf_.reserve(kBuf); }
    bool write(const void* p, size_t n);
    bool write(const Bytes& b) { return write(b.b.data(), b.b.size()); }
    bool flush();
    // Rewrites bytes already written (flushes first).
    bool patch(uint64_t at, const Bytes& b);
    uint64_t pos() const { return pos_; }
    bool failed() const { return failed_; }

private:
    static constexpr size_t kBuf = 1 << 20;
    int fd_;
    std::vector<uint8_t> buf_;
    uint64_t pos_ = 0;
    bool failed_ = false;
};

}  // namespace ze
