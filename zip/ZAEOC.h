// TZAEOC: finds and decodes the end of an archive -- the end of central
// directory record at the tail of the file, the Zip64 locator and record
// behind it, an executable stub in front, and the part of a multi-part set
// that holds the end record -- and writes the end records of a new archive.
//
// Results of the search (FindEndRecord, OpenArchivePart, OpenMultiPart):
// a negative packed code, or a bit set:
//   kEocGarbage  (1): the end record claimed more comment than the file
//                     holds, or bytes follow the comment (LogicalSize then
//                     ends at the comment);
//   kEocPreamble (2): PreambleSize is not 0 (data before the archive, or
//                     offsets that do not match).
// Every size, count and offset read here is checked against the file before
// it is used: a lying field ends in a message code, never in a read outside
// the file or an allocation of its size. TotalEntries is at most what the
// central directory's bytes could hold (see PlausibleEntryCount).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zip/ZAWZip.h"

inline constexpr std::int32_t kEocGarbage = 1;
inline constexpr std::int32_t kEocPreamble = 2;

class TZAEOC : public TZAWorkZip {
public:
    using TZAWorkZip::TZAWorkZip;

    // Opens FileName if needed and searches; reads the Zip64 records unless
    // `noZip64`. Leaves the file open on success and closed on failure.
    std::int32_t FindEndRecord(bool noZip64);
    // FindEndRecord plus the stub probe and the multi-part search.
    std::int32_t OpenArchivePart(bool noZip64);
    // The search for the part of a set that holds the end record, after
    // `previousError` (message 123: the named file is missing).
    std::int32_t OpenMultiPart(bool noZip64, std::int32_t previousError);
    // Sets NamingScheme of a multi-part archive after a successful open.
    void RecogniseNamingScheme();
    // Writes the Zip64 end record and locator when needed, the end record and
    // the comment at the current write position; 22 + comment length, or a
    // negative code (message 159).
    std::int32_t WriteEndRecords();
    // A new archive comment (raw bytes, at most 65535 are written).
    void SetArchiveComment(const std::string& comment) { ArchiveComment = comment; }
    void AssignFrom(const TZAWorkFile& other) override;

    // What the stub probe found (for tests and the self-extractor code).
    struct TZAStubProbe {
        int kind = 0;                 // 1 plain exe, 17/19 appended, 2065/2067 detached, <0 error
        std::int64_t stubLength = 0;  // bytes before the archive
        std::string archiveName;      // name part of the detached archive
    };
    TZAStubProbe ProbeStub();
    // The end of the executable image (largest section end), 0 when the
    // file is no 32-bit Windows executable.
    std::int64_t ExecutableImageEnd();

    // An upper bound for the number of central headers: TotalEntries, but
    // never more than the central directory size (or the file) can hold at
    // 46 bytes per header. Use it to size tables before reading.
    std::int64_t PlausibleEntryCount() const;

    // ---- what the search found ------------------------------------------------
    std::string ArchiveComment;
    bool IsMultiPart = false;
    std::int32_t CentralStartDisk = 0;
    std::int32_t CentralEntriesOnDisk = 0;
    std::int32_t TotalEntries = 0;
    std::int64_t CentralOffset = 0;
    std::int64_t CentralSize = 0;
    std::int64_t EndRecordOffset = 0;
    std::int64_t PreambleSize = 0;
    std::uint16_t Zip64MadeBy = 0;
    std::uint16_t Zip64Needed = 0;
    bool HasZip64 = false;
    std::int64_t Zip64RecordLength = 0;
    // Offset of the Zip64 end record when a valid locator was read, else -1.
    std::int64_t Zip64RecordOffset = -1;
    // The executable stub in front of a self-extracting archive, read by
    // OpenArchivePart (empty when there is none).
    std::vector<std::uint8_t> StubBytes;

private:
    std::int32_t Search(bool noZip64);
    std::int32_t ReadZip64Records(std::int32_t result);
    bool ReadAt(std::int64_t offset, void* buffer, std::int32_t length);
};
