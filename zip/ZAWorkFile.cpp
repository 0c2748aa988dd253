#include "zip/ZAWorkFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/AtomicReplace.h"
#include "platform/DosTime.h"
#include "platform/TempFiles.h"
#include "platform/Trash.h"
#include "zip/ZAStream.h"
#include "zip/ZAUtils.h"
#include "zip/ZAXcpt.h"
#include "zip/messages/ZAMsgIds.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kReadAhead = 64 * 1024;
constexpr std::int32_t kCopyChunk = 10240;
constexpr std::int32_t kStreamChunk = 20480;

std::string SystemErrorText(int err) {
    return std::strerror(err);
}

int AccessFlags(int mode) {
    switch (mode & 3) {
        case 1:
            return O_WRONLY;
        case 2:
            return O_RDWR;
        default:
            return O_RDONLY;
    }
}

std::int64_t Nanoseconds(const struct timespec& ts) {
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace

TZAWorkFile::~TZAWorkFile() {
    Close();
    if (isTemporary_ && !fileName_.empty()) {
        std::error_code ec;
        if (fs::exists(fileName_, ec)) {
            if (TraceFiles()) {
                ReportTrace("Deleting " + DisplayName(false));
            }
            fs::remove(fileName_, ec);
        }
    }
}

bool TZAWorkFile::TraceFiles() const {
    return TraceLevel() > 1;
}

std::int64_t TZAWorkFile::Position() {
    return IsOpen() ? pos_ : -1;
}

void TZAWorkFile::SetFileName(const std::string& name) {
    if (name != fileName_) {
        Close();
        fileName_ = name;
    }
}

void TZAWorkFile::SetPosition(std::int64_t pos) {
    Seek(kSeekBegin, pos);
}

void TZAWorkFile::AssignFrom(const TZAWorkFile& other) {
    if (&other == this) {
        return;
    }
    Close();
    alias_ = other.alias_;
    fileName_ = other.fileName_;
    isTemporary_ = false;  // only one object may delete the file
    openMode_ = other.openMode_;
    progressMode_ = other.progressMode_;
    stamp_ = other.stamp_;
}

void TZAWorkFile::Close() {
    if (fd_ < 0) {
        return;
    }
    if (!writePending()) {
        ReportTrace("Writing " + fileName_ + " failed at close");
    }
    buffering_ = false;
    if (stamp_ != 0 && (openMode_ & 3) != 0) {
        const auto t = platform::DosToTime(stamp_);
        const std::string dateText = platform::FormatDosDateTimeIso(stamp_);
        bool ok = false;
        if (t) {
            struct timespec times[2];
            times[0].tv_sec = 0;
            times[0].tv_nsec = UTIME_OMIT;
            times[1].tv_sec = *t;
            times[1].tv_nsec = 0;
            ok = ::futimens(fd_, times) == 0;
        }
        if (!ok) {
            ReportMessage(0, "Warning: Set file Date" + fileName_ + " to " + dateText + " failed " +
                                 SystemErrorText(t ? errno : EINVAL));
        } else if (TraceFiles()) {
            ReportTrace("Set file Date " + fileName_ + " to " + dateText);
        }
    }
    ::close(fd_);
    fd_ = -1;
    DropReadBuffer();
    if (TraceFiles()) {
        ReportTrace("Closed " + DisplayName(false));
    }
}

bool TZAWorkFile::Create(const std::string& name) {
    Close();
    std::string target = name.empty() ? fileName_ : name;
    if (fileName_.empty() || !name.empty()) {
        fileName_ = target;
    }
    if (TraceFiles()) {
        ReportTrace("Creating " + target);
    }
    fd_ = ::open(target.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        if (TraceFiles()) {
            ReportTrace("FileCreate Failed: " + target + "  " + SystemErrorText(errno));
        }
    }
    bytesRead_ = bytesWritten_ = 0;
    pos_ = 0;
    DropReadBuffer();
    openMode_ = kOpenCreated;
    return fd_ >= 0;
}

bool TZAWorkFile::Open(int mode) {
    Close();
    if (TraceFiles()) {
        ReportTrace("Opening " + DisplayName(false));
    }
    fd_ = ::open(fileName_.c_str(), AccessFlags(mode) | O_CLOEXEC);
    if (fd_ >= 0) {
        struct stat st {};
        // A folder opens on Linux but is no file to read.
        if (::fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) {
            ::close(fd_);
            fd_ = -1;
            errno = EISDIR;
        }
    }
    if (fd_ < 0) {
        if (TraceFiles()) {
            ReportTrace("FileOpen Failed: " + DisplayName(false) + "  " + SystemErrorText(errno));
        }
        return false;
    }
    openMode_ = mode;
    bytesRead_ = bytesWritten_ = 0;
    pos_ = 0;
    DropReadBuffer();
    return true;
}

std::int32_t TZAWorkFile::Reopen(int mode) {
    if (!IsOpen() || openMode_ != mode) {
        Close();
        if (TraceFiles()) {
            ReportTrace("Reopening " + fileName_);
        }
        if (!Open(mode)) {
            ReportTrace("Could not File_Reopen: " + fileName_ + "  " + SystemErrorText(errno));
            return -ZA_CODE(164);
        }
    }
    return 0;
}

std::string TZAWorkFile::DisplayName(bool withPath) const {
    if (alias_.empty()) {
        return fileName_;
    }
    return withPath ? alias_ + "<" + fileName_ + ">" : alias_;
}

std::int32_t TZAWorkFile::ReadPlain(void* buffer, std::int32_t length) {
    if (fd_ < 0 || !writePending()) {
        return -ZA_CODE(176);
    }
    std::size_t want =
        static_cast<std::size_t>(length < 0 ? -static_cast<std::int64_t>(length) : length);
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < want) {
        // From the read-ahead buffer.
        if (rbufLen_ > 0 && pos_ >= rbufStart_ &&
            pos_ < rbufStart_ + static_cast<std::int64_t>(rbufLen_)) {
            const std::size_t at = static_cast<std::size_t>(pos_ - rbufStart_);
            const std::size_t n = std::min(want - done, rbufLen_ - at);
            std::memcpy(out + done, rbuf_.data() + at, n);
            done += n;
            pos_ += static_cast<std::int64_t>(n);
            continue;
        }
        const std::size_t rest = want - done;
        if (rest >= kReadAhead) {
            const ssize_t got = ::pread(fd_, out + done, rest, pos_);
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return -ZA_CODE(176);
            }
            if (got == 0) {
                break;
            }
            done += static_cast<std::size_t>(got);
            pos_ += got;
            continue;
        }
        rbuf_.resize(kReadAhead);
        ssize_t got;
        do {
            got = ::pread(fd_, rbuf_.data(), kReadAhead, pos_);
        } while (got < 0 && errno == EINTR);
        if (got < 0) {
            DropReadBuffer();
            return -ZA_CODE(176);
        }
        rbufStart_ = pos_;
        rbufLen_ = static_cast<std::size_t>(got);
        if (got == 0) {
            break;
        }
    }
    bytesRead_ += static_cast<std::int64_t>(done);
    return static_cast<std::int32_t>(done);
}

std::int32_t TZAWorkFile::WritePlain(const void* buffer, std::int32_t length) {
    if (fd_ < 0) {
        return -ZA_CODE(180);
    }
    const std::size_t want =
        static_cast<std::size_t>(length < 0 ? (-length) & kRecordSizeMask : length);
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    DropReadBuffer();
    if (buffering_) {
        constexpr std::size_t kWriteBlock = 4 << 20;
        if (!wbuf_.empty() && pos_ != wbufStart_ + static_cast<std::int64_t>(wbuf_.size()) &&
            !writePending()) {
            return -ZA_CODE(180);
        }
        if (wbuf_.empty()) {
            wbufStart_ = pos_;
        }
        wbuf_.insert(wbuf_.end(), in, in + want);
        pos_ += static_cast<std::int64_t>(want);
        bytesWritten_ += static_cast<std::int64_t>(want);
        if (wbuf_.size() >= kWriteBlock && !writePending()) {
            return -ZA_CODE(180);
        }
        return static_cast<std::int32_t>(want);
    }
    std::size_t done = 0;
    while (done < want) {
        const ssize_t put = ::pwrite(fd_, in + done, want - done, pos_);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -ZA_CODE(180);
        }
        if (put == 0) {
            break;
        }
        done += static_cast<std::size_t>(put);
        pos_ += put;
    }
    bytesWritten_ += static_cast<std::int64_t>(done);
    return static_cast<std::int32_t>(done);
}

bool TZAWorkFile::writePending() {
    std::size_t done = 0;
    while (done < wbuf_.size() && !wbufFailed_) {
        const ssize_t put = ::pwrite(fd_, wbuf_.data() + done, wbuf_.size() - done,
                                     wbufStart_ + static_cast<std::int64_t>(done));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            wbufFailed_ = true;
        } else {
            done += static_cast<std::size_t>(put);
        }
    }
    wbuf_.clear();
    return !wbufFailed_;
}

void TZAWorkFile::BeginWriteBuffer() {
    buffering_ = true;
    wbufFailed_ = false;
}

bool TZAWorkFile::FlushWriteBuffer() {
    const bool ok = writePending();
    buffering_ = false;
    wbufFailed_ = false;
    return ok;
}

std::int32_t TZAWorkFile::Read(void* buffer, std::int32_t length) {
    return ReadPlain(buffer, length);
}

std::int32_t TZAWorkFile::ReadGather(void* buffer, std::span<const int> widths, int last) {
    std::int32_t total = 0;
    for (int i = 0; i <= last && i < static_cast<int>(widths.size()); ++i) {
        total += widths[static_cast<std::size_t>(i)];
    }
    return Read(buffer, total);
}

std::int32_t TZAWorkFile::Write(const void* buffer, std::int32_t length) {
    return WritePlain(buffer, length);
}

std::int32_t TZAWorkFile::WriteGather(const void* buffer, std::span<const int> widths, int last) {
    std::int32_t total = 0;
    for (int i = 0; i <= last && i < static_cast<int>(widths.size()); ++i) {
        total += widths[static_cast<std::size_t>(i)];
    }
    return Write(buffer, total);
}

bool TZAWorkFile::ReadExact(void* buffer, std::int32_t length) {
    const std::int32_t want = length < 0 ? -length : length;
    return Read(buffer, length) == want;
}

void TZAWorkFile::ReadOrRaise(void* buffer, std::int32_t length, std::int32_t code) {
    if (!ReadExact(buffer, length)) {
        throw EZipArchiver(code != 0 ? code : ZA_CODE(176));
    }
}

void TZAWorkFile::SeekOrRaise(int origin, std::int32_t code, std::int64_t offset) {
    if (Seek(origin, offset) < 0) {
        if (code == 0) {
            code = ZA_CODE(177);
        } else if (code == -1) {
            code = ZA_CODE(161);
        }
        throw EZipArchiver(code);
    }
}

bool TZAWorkFile::WriteExact(const void* buffer, std::int32_t length) {
    const std::int32_t want = length < 0 ? (-length) & kRecordSizeMask : length;
    return Write(buffer, length) == want;
}

void TZAWorkFile::WriteOrRaise(const void* buffer, std::int32_t length, std::int32_t code) {
    if (!WriteExact(buffer, length)) {
        throw EZipArchiver(code != 0 ? code : ZA_CODE(180));
    }
}

std::int64_t TZAWorkFile::CopyFrom(TZAWorkFile& source, std::int64_t count) {
    std::vector<std::uint8_t> buf(kCopyChunk);
    std::int64_t done = 0;
    while (count > 0) {
        const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, kCopyChunk));
        const std::int32_t got = source.Read(buf.data(), n);
        if (got != n) {
            return got < 0 ? got : -ZA_CODE(176);
        }
        const std::int32_t put = Write(buf.data(), n);
        if (put != n) {
            return put < 0 ? put : -ZA_CODE(180);
        }
        done += n;
        count -= n;
        ReportFileProgress(2, 38, n, source.FileName());
    }
    return done;
}

std::int64_t TZAWorkFile::FileDate() {
    struct stat st {};
    const int rc = IsOpen() ? ::fstat(fd_, &st) : ::stat(fileName_.c_str(), &st);
    if (rc != 0) {
        return -1;
    }
    return platform::TimeToDos(st.st_mtim.tv_sec);
}

bool TZAWorkFile::CreateTemporary(const std::string& prefix, const std::string& nearFile) {
    std::string folder = TempDir();
    if (folder.empty() && !nearFile.empty() && nearFile.rfind("//", 0) != 0) {
        std::error_code ec;
        const fs::path full = fs::absolute(fs::path(nearFile), ec);
        if (!ec) {
            folder = full.parent_path().string();
        }
    }
    if (folder.empty()) {
        folder = WorkFolder();
    }
    Close();
    std::string error;
    const std::string name = platform::CreateTempFile(folder, prefix, ".tmp", &error);
    if (name.empty()) {
        if (TraceFiles()) {
            ReportTrace("Creating temporary name failed " + folder + prefix + "  " + error);
        }
        return false;
    }
    fileName_ = name;
    isTemporary_ = true;
    if (TraceFiles()) {
        ReportTrace("Created temporary " + fileName_);
    }
    bytesRead_ = bytesWritten_ = 0;
    return Open(kOpenReadWrite);
}

bool TZAWorkFile::RenameTo(const std::string& newName, bool permanent) {
    if (TraceFiles()) {
        ReportTrace("Rename " + DisplayName(false) + " to " + newName);
    }
    Close();
    // A file changed by another program since this operation locked it is
    // not replaced: that change would be lost.
    CheckUnchangedSinceLocked(newName);
    std::error_code ec;
    if (fs::exists(newName, ec) && !fs::equivalent(fileName_, newName, ec) && !permanent) {
        // Undo wanted: the trash keeps a second name of the old file while
        // the rename below replaces it in one step. When the trash cannot
        // keep it, the old file stays and the new one is not put in place.
        const platform::TrashResult kept = platform::LinkToTrash(newName);
        if (!kept) {
            throw EZipArchiver(ZA_CODE(zamsg::kTrashFailedKept), newName, kept.error);
        }
    }
    // rename(2) semantics: the target is replaced atomically, never erased
    // first, so a failure at any point leaves it holding the old file.
    std::string error;
    if (!platform::ReplaceFile(fileName_, newName, &error)) {
        if (TraceFiles()) {
            ReportTrace("Rename failed: " + error);
        }
        return false;
    }
    isTemporary_ = false;
    fileName_ = newName;
    NoteReplaced(newName);
    return true;
}

std::int64_t TZAWorkFile::CopyRangeFrom(TZAWorkFile& source, std::int64_t count) {
    if (!IsOpen() || !source.IsOpen() || count < 0) {
        return -ZA_CODE(156);
    }
    constexpr std::int64_t kSlice = 8 << 20;  // progress and cancel checks per slice
    std::int64_t done = 0;
    if (!writePending() || !source.writePending()) {
        return -ZA_CODE(180);
    }
    DropReadBuffer();
    while (done < count) {
        const std::int64_t want = std::min(count - done, kSlice);
        const std::int64_t got = platform::CopyFileRange(source.fd_, source.pos_, fd_, pos_, want);
        if (got != want) {
            return got < 0 ? -ZA_CODE(180) : -ZA_CODE(176);
        }
        // When the rename waits for the disk, written slices go there while
        // the next ones are copied, so that the sync has little left to do.
        platform::StartWriteBack(fd_, pos_, got);
        source.pos_ += got;
        source.bytesRead_ += got;
        pos_ += got;
        bytesWritten_ += got;
        done += got;
        ReportFileProgress(2, 38, got, source.FileName());
        CheckCancelAndRaise();
    }
    return done;
}

TZAFileInformation TZAWorkFile::FileInformation() {
    TZAFileInformation info;
    if (!IsOpen()) {
        return info;
    }
    struct statx sx {};
    writePending();
    if (::statx(fd_, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
        return info;
    }
    info.attributes = sx.stx_mode;
    if ((sx.stx_mask & STATX_BTIME) != 0) {
        info.creationTime =
            static_cast<std::int64_t>(sx.stx_btime.tv_sec) * 1000000000 + sx.stx_btime.tv_nsec;
    }
    info.accessTime =
        static_cast<std::int64_t>(sx.stx_atime.tv_sec) * 1000000000 + sx.stx_atime.tv_nsec;
    info.writeTime =
        static_cast<std::int64_t>(sx.stx_mtime.tv_sec) * 1000000000 + sx.stx_mtime.tv_nsec;
    info.volumeSerial = (static_cast<std::uint64_t>(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
    info.size = static_cast<std::int64_t>(sx.stx_size);
    info.linkCount = sx.stx_nlink;
    info.fileIndex = sx.stx_ino;
    return info;
}

bool TZAWorkFile::IsAtEnd() {
    const std::int64_t size = FileSize();
    return size >= 0 && pos_ == size;
}

std::int64_t TZAWorkFile::LastWriteTime() {
    struct stat st {};
    const int rc = IsOpen() ? ::fstat(fd_, &st) : ::stat(fileName_.c_str(), &st);
    return rc == 0 ? Nanoseconds(st.st_mtim) : 0;
}

void TZAWorkFile::ReportFileProgress(int kind, int messageId, std::int64_t count,
                                     const std::string& text) {
    std::string t = text;
    if (t.empty() && messageId >= 33) {
        t = MessageText(messageId);
    }
    if (progressMode_ == 0) {
        if (kind == 1 || kind == 4 || kind == 6) {
            return;
        }
        if (kind == 2 || kind == 3 || kind == 5 || kind == 7) {
            kind = 0;
        }
    } else if (progressMode_ == 2) {
        if (kind == 1 || kind == 4) {
            return;
        }
        if (kind == 2) {
            kind = 7;
        } else if (kind == 5) {
            kind = 6;
        }
    }
    ReportProgress(kind, messageId, count, t);
}

std::int64_t TZAWorkFile::ReadToStream(TZAStream& stream, std::int64_t count) {
    std::vector<std::uint8_t> buf(kStreamChunk);
    std::int64_t done = 0;
    while (count > 0) {
        const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, kStreamChunk));
        const std::int32_t got = Read(buf.data(), n);
        if (got < 0) {
            return got;
        }
        if (got != n || stream.Write(buf.data(), got) != got) {
            return -ZA_CODE(163);
        }
        done += got;
        count -= got;
    }
    return done;
}

std::int64_t TZAWorkFile::WriteFromStream(TZAStream& stream, std::int64_t count) {
    std::vector<std::uint8_t> buf(kStreamChunk);
    count = std::min(count, stream.Size() - stream.Position());
    std::int64_t done = 0;
    while (count > 0) {
        const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, kStreamChunk));
        const auto got = static_cast<std::int32_t>(stream.Read(buf.data(), n));
        if (got != n) {
            return -ZA_CODE(163);
        }
        const std::int32_t put = Write(buf.data(), n);
        if (put != n) {
            return put < 0 ? put : -ZA_CODE(180);
        }
        done += n;
        count -= n;
    }
    return done;
}

std::int64_t TZAWorkFile::Seek(int origin, std::int64_t offset) {
    if (!IsOpen()) {
        return -1;
    }
    std::int64_t base = 0;
    if (origin == kSeekCurrent) {
        base = pos_;
    } else if (origin == kSeekEnd) {
        base = FileSize();
        if (base < 0) {
            return -1;
        }
    }
    if ((offset < 0 && base < -offset) || (offset > 0 && base > INT64_MAX - offset)) {
        return -1;
    }
    pos_ = base + offset;
    return pos_;
}

bool TZAWorkFile::Truncate() {
    if (!IsOpen()) {
        return false;
    }
    DropReadBuffer();
    return writePending() && ::ftruncate(fd_, pos_) == 0;
}

std::int64_t TZAWorkFile::FileSize() {
    if (!IsOpen()) {
        return -1;
    }
    struct stat st {};
    return writePending() && ::fstat(fd_, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}
