// Read side of an archive: the file is mapped read-only, the end records are located (also
// behind a prefix and in Zip64 form), the central directory is read into entries, and every
// local header is checked. Ranges are validated so that no entry reads outside the file and
// no two entries (or an entry and the central directory) share bytes.
#pragma once

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace ze {

struct Entry {
    uint16_t madeBy = 0, needed = 0, flags = 0, method = 0;
    uint32_t dosTime = 0, crc = 0;
    uint64_t csize = 0, usize = 0;
    uint32_t disk = 0;
    uint16_t intAttr = 0;
    uint32_t extAttr = 0;
    uint64_t lho = 0;                  // local header offset in the file (prefix already added)
    std::string name, extra, comment;  // extra: read with platform/ZipRecords.h (zrec)
    // From the local header.
    int localError = 0;  // engine error number when the local header is unusable
    bool nameMismatch = false;
    uint64_t dataStart = 0;  // first byte of the (possibly encrypted) data
    uint64_t rangeEnd = 0;   // end of data plus data descriptor
    uint16_t localFlags = 0;

    bool isDir() const;
    bool isSymlink() const;
    bool encrypted() const { return flags & 1; }
    bool strongEncryption() const { return (flags & 0x40) != 0; }
    unsigned unixMode() const;  // 0 when the entry carries no Unix mode
    time_t mtime() const;       // extended timestamp when present, else the DOS time
    // WinZip AES: strength 1-3 and real method; false when the entry has no AES record.
    bool aesInfo(int& strength, uint16_t& realMethod, int& vendorVersion) const;
};

class Archive {
public:
    Archive() = default;
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    // 0 on success or an engine error number.
    int open(const std::string& path);
    // Parses an archive in memory (the buffer must outlive the object).
    int openMemory(const uint8_t* data, uint64_t size);

    const uint8_t* data() const { return map_; }
    uint64_t size() const { return size_; }
    std::vector<Entry>& entries() { return entries_; }
    const std::string& comment() const { return comment_; }
    // First byte of the archive proper (its first local header or, without entries, its
    // central directory); the bytes before it are a prefix such as a self-extractor stub.
    uint64_t start() const { return start_; }
    std::string problem() const { return problem_; }
    // The job is done with the bytes below `offset`: their pages are unmapped from this
    // process (the page cache keeps them; touching them again reads them back), so that
    // reading a large archive does not make the job's resident memory grow with it.
    void dropPagesBelow(uint64_t offset) {
        const uint64_t to = std::min(offset, size_) & ~(kPage - 1);
        if (to >= dropped_ + kDropStep) {
            dropPages(dropped_, to);
            dropped_ = to;
        }
    }

    // Entry name decoded to UTF-8 for the given encoding option and 8-bit code page.
    static std::string decodeName(const Entry& e, int encoding, int codePage);

private:
    int parse();
    uint64_t descriptorLength(const Entry& e, uint64_t end, uint32_t localExtraLen) const;
    static constexpr uint64_t kPage = 4096, kDropStep = 8u << 20;
    void dropPages(uint64_t from, uint64_t to) {
        if (mapped_ && to > from)
            madvise(const_cast<uint8_t*>(map_) + from, size_t(to - from), MADV_DONTNEED);
    }
    int fd_ = -1;
    const uint8_t* map_ = nullptr;
    uint64_t size_ = 0;
    bool mapped_ = false;
    uint64_t dropped_ = 0;  // pages below are unmapped
    std::vector<Entry> entries_;
    std::string comment_;
    std::string problem_;
    uint64_t start_ = 0;
};

}  // namespace ze
