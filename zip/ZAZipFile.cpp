#include "zip/ZAZipFile.h"

#include <algorithm>

#include "platform/ZipRecords.h"
#include "zip/ZAXcpt.h"

using namespace zrec;

TZAZipFile::TZAZipFile(TZAHost& host, TZAWorkBin* owner)
    : TZACentral(host, owner), hash_(std::make_unique<TZADirHashList>(*this)) {}

TZAZipFile::~TZAZipFile() {
    // Entries go before the index that refers to them.
    TZACentral::Clear();
}

// ---- table overrides ---------------------------------------------------------------

void TZAZipFile::Clear() {
    hash_->Clear();
    indexed_ = 0;
    TZACentral::Clear();
}

void TZAZipFile::SetCapacity(std::int32_t n) {
    TZACentral::SetCapacity(n);
    // Resize the index only when its bucket count would change, so that
    // growing one entry at a time does not rebuild it over and over. Every
    // entry is indexed again when a lookup needs it.
    if (hashing_ && TZADirHashList::BucketCountFor(n) != hash_->Length()) {
        hash_->SizeFor(n);
        indexed_ = 0;
    }
}

std::int32_t TZAZipFile::Add(std::unique_ptr<TZAZRec> entry) {
    // Indexed by the next lookup: loading only to list the entries never
    // decodes or hashes a name.
    return TZACentral::Add(std::move(entry));
}

void TZAZipFile::IndexPending() {
    if (hash_->IsEmpty()) {
        return;
    }
    for (; indexed_ < Count(); ++indexed_) {
        hash_->Insert(indexed_, false);
    }
}

void TZAZipFile::ClearCachedNames() {
    TZACentral::ClearCachedNames();
    RebuildHash(0, false);
}

TZAZRec* TZAZipFile::FindName(std::string_view name, std::int32_t& index, bool hasWildcards) {
    if (!hasWildcards && index < 0 && !hash_->IsEmpty()) {
        IndexPending();
        if (name.empty()) {
            index = kNoIndex;
            return nullptr;
        }
        const std::int32_t found = hash_->Find(name, true);
        if (found < 0) {
            index = kNoIndex;
            return nullptr;
        }
        index = found;
        return &Entry(found);
    }
    return TZACentral::FindName(name, index, hasWildcards);
}

std::int32_t TZAZipFile::FindDuplicate(TZAZRec& entry) {
    if (hash_->IsEmpty()) {
        return TZACentral::FindDuplicate(entry);
    }
    IndexPending();
    const std::int32_t found = hash_->Find(entry.FileName(), false);
    if (found >= 0 && &Entry(found) == &entry) {
        // The index holds this entry under its name: another one can only
        // be found by looking at every entry.
        return TZACentral::FindDuplicate(entry);
    }
    if (found >= 0 && Verbose()) {
        ReportMessage(0, "Trace: Duplicate FileName: " + entry.FileName());
    }
    return found >= 0 ? found : -1;
}

std::int32_t TZAZipFile::FindLiveDuplicate(const std::string& name, const TZAZRec& self) {
    IndexPending();
    if (!hash_->IsEmpty() && hash_->Find(name, true) < 0) {
        return -1;
    }
    return TZACentral::FindLiveDuplicate(name, self);
}

std::int32_t TZAZipFile::TruncateFrom(std::int32_t index) {
    const std::int32_t removed = TZACentral::TruncateFrom(index);
    indexed_ = std::min(indexed_, Count());
    RebuildHash(0, false);
    return removed;
}

void TZAZipFile::AssignFrom(const TZAWorkFile& other) {
    hash_->Clear();
    indexed_ = 0;
    TZACentral::AssignFrom(other);
    const auto* src = dynamic_cast<const TZAZipFile*>(&other);
    if (src == nullptr) {
        return;
    }
    lastWrite_ = src->lastWrite_;
    openResult_ = src->openResult_;
    StubBytes = src->StubBytes;
    KeepStub = !StubBytes.empty();
    hashing_ = src->hashing_;
    if (hashing_) {
        RebuildHash(0, true);
    }
}

std::int32_t TZAZipFile::RebuildHash(std::uint32_t filter, bool allowDuplicates) {
    if (!hashing_) {
        return 0;
    }
    hash_->SizeFor(Count());
    std::int32_t already = 0;
    for (std::int32_t i = 0; i < Count(); ++i) {
        const TZAZRec& e = Entry(i);
        if (filter != 0xFFFFFFFFu) {
            if (e.TestStatus(esExcluded | esSearchSkip | esIncomplete)) {
                continue;
            }
            if (filter != 0 && !e.TestStatus(filter)) {
                continue;
            }
        }
        if (hash_->Insert(i, allowDuplicates) != nullptr) {
            ++already;
        }
    }
    indexed_ = Count();
    return already;
}

void TZAZipFile::SetHashing(bool on) {
    hashing_ = on;
    if (on) {
        RebuildHash(0, false);
    } else {
        hash_->Clear();
        indexed_ = 0;
    }
}

void TZAZipFile::TakeStub(TZAZipFile& other) {
    StubBytes = std::move(other.StubBytes);
    other.StubBytes.clear();
}

// ---- opening ---------------------------------------------------------------------------

std::int32_t TZAZipFile::Open(bool noZip64, bool noLoad) {
    ForgetFileInformation();
    Info = 0;
    std::int32_t result = -ZA_CODE(123);
    Drive().SetPath(FileName());
    if (!Drive().IsFloppy() || Drive().Refresh()) {
        result = OpenArchivePart(noZip64);
    }
    if (result >= 0) {
        lastWrite_ = LastWriteTime();
        RecogniseNamingScheme();
        if (!noZip64 && !noLoad) {
            Info |= ziLoadRequested;
            if ((result & kEocGarbage) != 0) {
                ReportLoadWarning(ZA_CODE(151));
            }
            // Data in front (kEocPreamble) is reported by the directory's
            // loader, which also finds the directory.
            const std::int32_t r = LoadCentralDirectory();
            if (r != 0) {
                result = r;
            } else {
                Info |= ziLoaded | ziAuxPending;
                TakeFileInformation();
            }
        }
    }
    openResult_ = result;
    if (TraceLevel() > 1) {
        ReportTrace("Open = " +
                    (result < 0 ? MessageText(ZAMessageIdOf(result)) : std::to_string(result)));
    }
    return result;
}

std::int32_t TZAZipFile::Reopen(int mode) {
    std::int32_t r = TZACentral::Reopen(mode);
    if (r >= 0 && (Info & ziLoaded) != 0 && !SameFile((mode & 3) != 0)) {
        ReportTrace("File has changed! " + OpenName());
        r = -ZA_CODE(196);
    }
    return r;
}

std::int32_t TZAZipFile::HasChanged() {
    if (IsOpen() || TZAWorkFile::Open(kOpenRead)) {
        const std::int64_t now = LastWriteTime();
        if (now != 0) {
            const std::int32_t r = now != lastWrite_ ? -ZA_CODE(162) : 0;
            lastWrite_ = now;
            return r;
        }
    }
    return -ZA_CODE(164);
}

// ---- writing -------------------------------------------------------------------------------

std::int32_t TZAZipFile::BeforeCommit() {
    return 0;
}

std::int64_t TZAZipFile::CopyEntry(TZAZRec& entry) {
    const std::int64_t estimate = entry.CopySizeEstimate();
    return estimate > 0 ? entry.CopyEntryData() : estimate;
}

std::int64_t TZAZipFile::WriteDirectory() {
    if (Verbose()) {
        ReportTrace(MessageTextFmt(5, {MessageText(3)}));
    }
    const std::int64_t central = WriteCentralDirectory();
    if (central < 0) {
        return central;
    }
    const std::int32_t parts = FinishParts();
    if (parts < 0) {
        return parts;
    }
    if (Verbose()) {
        ReportTrace("  finished ok");
    }
    return central + parts;
}

std::int32_t TZAZipFile::Commit(bool stampWithNewest) {
    if (Verbose()) {
        ReportTrace("Commit file");
    }
    const std::int32_t before = BeforeCommit();
    if (before < 0) {
        return before;
    }
    std::int32_t count = 0;
    std::int64_t total = 0;
    std::uint32_t newest = 0;
    for (std::int32_t i = 0; i < Count(); ++i) {
        TZAZRec& e = Entry(i);
        if (e.TestStatus(esDropped | esDeleted)) {
            continue;
        }
        ++count;
        total += e.CopySizeEstimate();
        newest = std::max(newest, e.DosDateTime());
    }
    const bool withStub = KeepStub && !StubBytes.empty();
    if (withStub) {
        total += static_cast<std::int64_t>(StubBytes.size());
    }
    std::int32_t result = 0;
    try {
        ReportProgress(4, 0, count + 1, {});
        ReportProgress(5, 0, total, MessageText(44));
        if (Verbose()) {
            ReportTrace(" to process " + std::to_string(count) + " entries");
            ReportTrace(" size = " + std::to_string(total));
        }
        if (stampWithNewest) {
            SetStamp(newest);
        }
        std::int64_t copied = 0;
        if (MultiPartMode()) {
            std::uint8_t marker[4];
            PutU32(marker, kMultiPartMarker);
            if (Write(marker, RecordLength(4)) != 4) {
                throw EZipArchiver(ZA_CODE(175));
            }
            copied += 4;
            StartKind = kStartMultiPart;
        } else if (withStub) {
            ReportProgress(1, 0, static_cast<std::int64_t>(StubBytes.size()), MessageText(35));
            WriteOrRaise(StubBytes.data(), static_cast<std::int32_t>(StubBytes.size()));
            ReportProgress(2, 0, static_cast<std::int64_t>(StubBytes.size()), {});
            copied += static_cast<std::int64_t>(StubBytes.size());
            StartKind = kStartExecutable;
        } else {
            StartKind = kStartLocalHeader;
        }
        if (total > 0) {
            for (std::int32_t i = 0; i < Count() && result >= 0; ++i) {
                TZAZRec& e = Entry(i);
                if (e.TestStatus(esDropped | esDeleted)) {
                    continue;
                }
                CheckWriteCancelAndRaise();
                const std::int64_t r = CopyEntry(e);
                if (r < 0) {
                    result = static_cast<std::int32_t>(r);
                } else {
                    copied += r;
                }
            }
        }
        if (result >= 0) {
            // The central directory and end records go out in one write
            // (in parts, the writer splits them where the parts end).
            if (!MultiPartMode()) {
                BeginWriteBuffer();
            }
            std::int64_t dir = WriteDirectory();
            if (!FlushWriteBuffer() && dir >= 0) {
                dir = -ZA_CODE(180);
            }
            if (dir < 0) {
                result = static_cast<std::int32_t>(dir);
            } else {
                result = count;
                LogicalSize = copied + dir;
            }
        }
    } catch (const EZAException& e) {
        result = -e.FullCode;
    }
    ReportProgress(3, 0, 0, {});
    return result;
}
