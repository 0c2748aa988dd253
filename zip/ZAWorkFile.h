// TZAWorkFile: every file the component reads or writes. A POSIX file
// descriptor with 64-bit positions, plus byte counters, an optional
// temporary mark (the file is deleted with the object), a DOS date-time
// stamp applied at close, and trace lines.
//
// Reads go through a small read-ahead buffer, because records are read field
// by field; writes and seeks are positioned (pread/pwrite at the object's own
// position), so the buffer never goes stale unnoticed.
//
// Lengths: a negative length passed to Read/Write marks a record (see
// TZAWorkZip). For a plain file, Read takes |length| bytes and Write takes
// (-length) & kRecordSizeMask bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "zip/ZACore.h"

class TZAStream;

// Open modes as the component uses them: the low two bits are the access
// (0 read, 1 write, 2 read/write); 0x20 asks to deny others write access,
// which Linux does not enforce.
inline constexpr int kOpenRead = 0x20;       // read, deny write
inline constexpr int kOpenReadWrite = 0x02;  // read and write
inline constexpr int kOpenCreated = 0x02;    // the mode recorded after Create

// Record marks in negative lengths.
inline constexpr std::int32_t kRecordSizeMask = 0x1FFFF;
inline constexpr std::int32_t kRecordMustFit = 0x20000;
// The length argument for writing `size` bytes as one record.
constexpr std::int32_t RecordLength(std::int32_t size, bool mustFit = false) {
    return -(size | (mustFit ? kRecordMustFit : 0));
}

// Seek origins.
inline constexpr int kSeekBegin = 0;
inline constexpr int kSeekCurrent = 1;
inline constexpr int kSeekEnd = 2;

// What the component remembers of an open file to notice a change later:
// the Linux counterpart of the 52-byte file information record.
struct TZAFileInformation {
    std::uint32_t attributes = 0;   // st_mode
    std::int64_t creationTime = 0;  // ns since 1970 (birth time where known)
    std::int64_t accessTime = 0;
    std::int64_t writeTime = 0;
    std::uint64_t volumeSerial = 0;  // st_dev
    std::int64_t size = 0;
    std::uint32_t linkCount = 0;
    std::uint64_t fileIndex = 0;  // st_ino
    bool operator==(const TZAFileInformation&) const = default;
};

class TZAWorkFile : public TZACore {
public:
    using TZACore::TZACore;
    ~TZAWorkFile() override;
    TZAWorkFile(const TZAWorkFile&) = delete;
    TZAWorkFile& operator=(const TZAWorkFile&) = delete;

    // ---- virtual operations --------------------------------------------------
    // The position, -1 when closed.
    virtual std::int64_t Position();
    // A different name closes the file first.
    virtual void SetFileName(const std::string& name);
    virtual void SetPosition(std::int64_t pos);
    // Takes the other's name, alias, mode, stamp and temporary mark (the
    // other keeps its open file).
    virtual void AssignFrom(const TZAWorkFile& other);
    virtual void Close();
    // Creates or truncates `name` (or FileName); read/write.
    virtual bool Create(const std::string& name = {});
    virtual bool Open(int mode);
    // Opens again when closed or opened with another mode; message 164 code on failure.
    virtual std::int32_t Reopen(int mode);
    virtual std::string DisplayName(bool withPath = false) const;
    // Count read (short at the end of the file), or a negative code.
    virtual std::int32_t Read(void* buffer, std::int32_t length);
    // Reads the fields widths[0..last] (all at once for a plain file).
    virtual std::int32_t ReadGather(void* buffer, std::span<const int> widths, int last);
    virtual std::int32_t Write(const void* buffer, std::int32_t length);
    virtual std::int32_t WriteGather(const void* buffer, std::span<const int> widths, int last);

    // ---- non-virtual operations --------------------------------------------------
    bool ReadExact(void* buffer, std::int32_t length);
    // Raises `code` (0: message 176 "Error reading file") on a short read.
    void ReadOrRaise(void* buffer, std::int32_t length, std::int32_t code = 0);
    // Raises `code` when the seek fails (0: message 177, -1: message 161).
    void SeekOrRaise(int origin, std::int32_t code, std::int64_t offset);
    bool WriteExact(const void* buffer, std::int32_t length);
    // Raises `code` (0: message 180 "Error writing file") on a short write.
    void WriteOrRaise(const void* buffer, std::int32_t length, std::int32_t code = 0);
    // Copies `count` bytes from the source's position; bytes copied or a negative code.
    std::int64_t CopyFrom(TZAWorkFile& source, std::int64_t count);
    // The file's modification time as DOS date-time, -1 when unknown.
    std::int64_t FileDate();
    // Creates a unique temporary file near `nearFile` (or in TempDir / the
    // system's temporary folder) and opens it read/write.
    bool CreateTemporary(const std::string& prefix, const std::string& nearFile);
    // Moves the file to `newName`, replacing an existing file atomically
    // (rename(2) semantics; across file systems a copy beside the target is
    // renamed over it). Unless `permanent`, the old target is kept in the
    // trash; when the trash cannot keep it, nothing is replaced and message
    // 186 is raised. False when nothing was replaced.
    bool RenameTo(const std::string& newName, bool permanent);
    // Copies `count` bytes from the source's position to this file's position
    // in the kernel (copy_file_range), for plain single files only; both
    // positions advance. Bytes copied or a negative code (176, 180).
    std::int64_t CopyRangeFrom(TZAWorkFile& source, std::int64_t count);
    TZAFileInformation FileInformation();
    bool IsAtEnd();
    // Last-write time in ns since 1970; 0 when unknown.
    std::int64_t LastWriteTime();
    void ReportFileProgress(int kind, int messageId, std::int64_t count,
                            const std::string& text = {});
    std::int64_t ReadToStream(TZAStream& stream, std::int64_t count);
    // New position, -1 when closed or the position would be negative.
    std::int64_t Seek(int origin, std::int64_t offset);
    // Cuts the file at the position.
    bool Truncate();
    std::int64_t WriteFromStream(TZAStream& stream, std::int64_t count);
    // The size of the open file, -1 when closed.
    std::int64_t FileSize();
    // Collects the following small sequential writes in memory and writes
    // them in large blocks (one write for a whole central directory);
    // FlushWriteBuffer writes what is left and ends the collecting: false
    // when a write failed. Reads, copies, size queries and Close flush first.
    void BeginWriteBuffer();
    bool FlushWriteBuffer();

    // ---- state ------------------------------------------------------------------
    const std::string& FileName() const { return fileName_; }
    bool IsOpen() const { return fd_ >= 0; }
    bool IsTemporary() const { return isTemporary_; }
    void SetTemporary(bool on) { isTemporary_ = on; }
    const std::string& Alias() const { return alias_; }
    void SetAlias(const std::string& alias) { alias_ = alias; }
    std::int64_t BytesRead() const { return bytesRead_; }
    std::int64_t BytesWritten() const { return bytesWritten_; }
    int OpenMode() const { return openMode_; }
    std::uint32_t Stamp() const { return stamp_; }
    void SetStamp(std::uint32_t dosDateTime) { stamp_ = dosDateTime; }
    std::uint8_t ProgressMode() const { return progressMode_; }
    void SetProgressMode(std::uint8_t mode) { progressMode_ = mode; }

protected:
    // Raw access for TZAWorkZip: one read/write on the current file without
    // the multi-part handling.
    std::int32_t ReadPlain(void* buffer, std::int32_t length);
    std::int32_t WritePlain(const void* buffer, std::int32_t length);
    bool TraceFiles() const;
    void SetFileNameRaw(const std::string& name) { fileName_ = name; }

private:
    void DropReadBuffer() { rbufLen_ = 0; }
    // Writes the collected bytes; false (and remembered) on failure.
    bool writePending();

    std::string alias_;
    std::int64_t bytesRead_ = 0;
    std::int64_t bytesWritten_ = 0;
    std::string fileName_;
    int fd_ = -1;
    bool isTemporary_ = false;
    int openMode_ = 0;
    std::uint8_t progressMode_ = 0;
    std::uint32_t stamp_ = 0;

    std::int64_t pos_ = 0;
    std::vector<std::uint8_t> rbuf_;
    std::int64_t rbufStart_ = 0;
    std::size_t rbufLen_ = 0;
    std::vector<std::uint8_t> wbuf_;
    std::int64_t wbufStart_ = 0;
    bool buffering_ = false;
    bool wbufFailed_ = false;
};
