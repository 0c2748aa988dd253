// The rescue of a damaged archive from its local headers alone: when the end
// records or the central directory are missing or damaged (a cut-off
// download, a half-written archive, a lost part of a set), every entry whose
// local header and data survived whole can still be found and copied.
//
// ScanLocalHeaders walks the bytes from the start: each local header, its
// data and its data descriptor (with or without signature, 32-bit or Zip64
// sizes). Where the header gives the sizes, they are used; otherwise a
// deflated entry is inflated to find where its data end, and the descriptor
// of any other entry is searched for by its sizes. Every entry's CRC is
// checked where it can be (stored and deflated entries without encryption).
// WriteRepairedArchive writes the entries found as a new archive. Nothing here
// writes to the damaged bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The surviving bytes, read by offset.
class TZARepairSource {
public:
    virtual ~TZARepairSource() = default;
    virtual std::int64_t Size() const = 0;
    // Reads up to `length` bytes at `offset`; fewer only at the end.
    virtual std::int64_t ReadAt(std::int64_t offset, void* buffer, std::int64_t length) = 0;
};

// Bytes in memory (tests, the fuzz target).
class TZAMemorySource : public TZARepairSource {
public:
    explicit TZAMemorySource(std::string_view bytes) : bytes_(bytes) {}
    std::int64_t Size() const override { return static_cast<std::int64_t>(bytes_.size()); }
    std::int64_t ReadAt(std::int64_t offset, void* buffer, std::int64_t length) override;

private:
    std::string_view bytes_;
};

// Files end to end: a single archive, or the parts of a split set in their
// order (a part that is missing is simply not added).
class TZAPartsSource : public TZARepairSource {
public:
    TZAPartsSource() = default;
    ~TZAPartsSource() override;
    TZAPartsSource(const TZAPartsSource&) = delete;
    TZAPartsSource& operator=(const TZAPartsSource&) = delete;
    // False when the file cannot be opened for reading.
    bool AddPart(const std::string& path);
    std::int64_t Size() const override { return size_; }
    std::int64_t ReadAt(std::int64_t offset, void* buffer, std::int64_t length) override;

private:
    struct Part {
        int fd = -1;
        std::int64_t start = 0;
        std::int64_t size = 0;
    };
    std::vector<Part> parts_;
    std::int64_t size_ = 0;
};

// Why an entry could not be rescued.
enum class TZARepairLoss {
    HeaderCut,  // its local header ends with the surviving bytes
    DataCut,    // its data end with the surviving bytes, or do not decode
    BadCrc,     // its data are there but do not match their CRC or sizes
    NoDataEnd,  // no data descriptor that fits was found after it
};

struct TZARepairEntry {
    std::int64_t headerOffset = 0;  // in the source
    std::uint16_t versionNeeded = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t dosDateTime = 0;
    std::string name;   // the stored bytes
    std::string extra;  // the local extra field without its Zip64 record
    std::int64_t dataOffset = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint32_t crc = 0;
    bool checked = false;  // the CRC was checked against the data
    // From a surviving central header of the same entry (same name, CRC and
    // compressed size), when one was found; otherwise Unix defaults.
    bool fromCentral = false;
    std::uint16_t versionMadeBy = 0;
    std::uint16_t internalAttributes = 0;
    std::uint32_t externalAttributes = 0;
    std::string comment;
};

struct TZARepairLost {
    std::int64_t headerOffset = 0;
    std::string name;  // as far as it survived
    TZARepairLoss reason = TZARepairLoss::DataCut;
};

struct TZARepairScan {
    std::vector<TZARepairEntry> entries;
    std::vector<TZARepairLost> lost;
};

// Walks the local headers of `source`. `cancelled` is asked now and then;
// when it returns true the scan ends with what it found so far.
TZARepairScan ScanLocalHeaders(TZARepairSource& source,
                               const std::function<bool()>& cancelled = {});

// Writes `scan.entries` with their data from `source` as a new archive to
// `path` (created; an existing file is replaced): the local headers with the
// checked CRC and sizes, the central directory and end records (Zip64 where
// needed). False with errno set when writing failed.
bool WriteRepairedArchive(TZARepairSource& source, const TZARepairScan& scan,
                          const std::string& path);
