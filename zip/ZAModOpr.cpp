#include "zip/ZAModOpr.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "platform/AtomicReplace.h"
#include "platform/TempFiles.h"
#include "platform/ZipRecords.h"
#include "zip/ZALister.h"
#include "zip/ZAUtils.h"

using namespace zrec;

// ---- TZACopyRec ------------------------------------------------------------------

void TZACopyRec::AssignFrom(const TZADirRec& other) {
    TZAZRec::AssignFrom(other);
    if (const auto* copy = dynamic_cast<const TZACopyRec*>(&other)) {
        Source = copy->Source;
    }
}

std::int64_t TZACopyRec::CopySizeEstimate() {
    return LocalHeaderSize() + CompressedSize() +
           ((GeneralFlags() & kFlagDataDescriptor) != 0 ? 16 : 0);
}

std::int64_t TZACopyRec::CopyEntryData() {
    TZAWorkZip& out = Owner();
    TZAWorkZip& in = Source->Owner();
    if (out.Verbose()) {
        out.ReportMessage(0, MessageTextFmt(5, {FileName()}));
        if (out.TraceLevel() > 1) {
            out.ReportTrace("Copying local");
        }
    }
    std::int32_t r = Source->CheckLocalHeader();
    if (r < 0) {
        return r;
    }
    const std::int32_t header = WriteLocalHeader(DosDateTime(), Crc32());
    if (header < 0) {
        return header;
    }
    // The header is one record, never split between parts: it starts
    // `header` bytes before the position on the part being written.
    SetLocalHeaderOffset(out.Position() - header);
    SetStartDisk(static_cast<std::uint32_t>(std::max(0, out.DiskNumber)));
    out.ReportProgress(1, 0, CompressedSize(), FileName());
    out.ReportProgress(2, 0, header, {});

    const std::int64_t size = CompressedSize();
    const std::int64_t copied = (!in.MultiPartMode() && !out.MultiPartMode())
                                    ? out.CopyRangeFrom(in, size)
                                    : out.CopyFrom(in, size);
    if (copied != size) {
        return copied < 0 ? copied : -ZA_CODE(156);
    }
    std::int64_t total = header + size;
    if ((GeneralFlags() & kFlagDataDescriptor) != 0) {
        r = WriteDataDescriptor();
        if (r < 0) {
            return r;
        }
        out.ReportProgress(2, 0, r, {});
        total += r;
    }
    out.ReportProgress(1, 0, -1, FileName());
    return total;
}

// ---- TZAZipCopy ------------------------------------------------------------------

TZAZipCopy::TZAZipCopy(TZAHost& host, TZAWorkBin* owner) : TZAZipFile(host, owner) {
    Clear();
}

std::unique_ptr<TZAZRec> TZAZipCopy::CloneEntry(const TZAZRec& entry) {
    const auto* copy = dynamic_cast<const TZACopyRec*>(&entry);
    if (copy == nullptr) {
        return TZAZipFile::CloneEntry(entry);
    }
    auto clone = std::make_unique<TZACopyRec>(*this, *copy->Source);
    clone->AssignFrom(entry);
    return clone;
}

std::int32_t TZAZipCopy::AddCopy(TZAZRec& source) {
    std::int32_t index = -1;
    if (FindName(source.FileName(), index, false) != nullptr) {
        if (Verbose()) {
            ReportTrace("Duplicate FileName: " + source.FileName());
        }
        return -ZA_CODE(104);
    }
    auto rec = std::make_unique<TZACopyRec>(*this, source);
    rec->AssignFrom(source);
    rec->SetOwner(*this);
    return Add(std::move(rec));
}

std::int32_t TZAZipCopy::CopyEntries(TZAZipFile& source, bool copyAll) {
    if (Verbose()) {
        ReportTrace("Write file");
    }
    if (ZAMessageIdOf(source.HasChanged()) == 162) {
        return -ZA_CODE(162);
    }
    if (!source.IsOpen()) {
        const std::int32_t r = source.Reopen(kOpenRead);
        if (r < 0) {
            return r;
        }
    }
    if (source.IsMultiPart) {
        // Local headers are found by part number: reads go through the parts.
        source.SetMultiPartMode(true);
    }
    SetArchiveComment(source.ArchiveComment);
    for (std::int32_t i = 0; i < source.Count(); ++i) {
        TZAZRec& e = source.Entry(i);
        if (copyAll || e.TestStatus(esSelected)) {
            if (TraceLevel() > 1) {
                ReportTrace("including: " + e.FileName());
            }
            const std::int32_t r = AddCopy(e);
            if (r < 0) {
                return r;
            }
        } else if (TraceLevel() > 1) {
            ReportTrace("ignoring: " + e.FileName());
        }
    }
    return Commit(WriteOptions().contains(zwoZipTime));
}

// ---- TZAModOpr ---------------------------------------------------------------------

TZAModOpr::TZAModOpr(TZAHost& host) : TZAFileOpr(host) {
    Closing = false;
}

TZAModOpr::~TZAModOpr() {
    Closing = true;
}

std::int32_t TZAModOpr::RewriteArchive(TZAZipFile& archive, std::int32_t expectedCount,
                                       bool copyAll) {
    if (archive.IsMultiPart && SameTextAscii(ExtractFileExt(archive.RequestedName()), ".exe")) {
        // A self-extracting set, opened through its program: the parts are
        // named with ".zip", and the program keeps its stub and block.
        const std::string program = archive.RequestedName();
        Stub = ProgramStub(program);
        if (Stub.empty()) {
            throw EZipArchiver(ZA_CODE(142));
        }
        SpanSFX = true;
        setProgram_ = program;
        archive.SetRequestedName(ChangeFileExt(program, ".zip"));
    }
    // The new archive is written in TempDir or the system's temporary
    // folder, never beside the archive: a run that is killed leaves nothing
    // next to it.
    auto copy = std::make_unique<TZAZipCopy>(Host());
    if (!copy->CreateTemporary("ZI$", {})) {
        throw EZipArchiver(ZA_CODE(171));
    }
    copy->SetArchiveComment(archive.ArchiveComment);
    if (KeepSFX && !archive.Stub().empty()) {
        // A self-extracting archive stays one: the stub goes first.
        if (Verbose()) {
            ReportTrace("Rebuild with SFX");
        }
        copy->SetStub(archive.Stub());
        copy->KeepStub = true;
    }
    const std::int32_t r = copy->CopyEntries(archive, copyAll);
    archive.Close();
    copy->Close();
    if (r < 0) {
        throw EZipArchiver(ZAAbsCode(r), true);
    }
    if (expectedCount >= 0 && copy->Count() != expectedCount) {
        throw EZipArchiver(ZA_CODE(140));
    }
    const std::int32_t replaced = ReplaceOldArchive(*copy, archive);
    if (replaced < 0) {
        throw EZipArchiver(ZAAbsCode(replaced), true);
    }
    return copy->Count();
}

std::int32_t TZAModOpr::ReplaceOldArchive(TZAZipCopy& copy, TZAZipFile& old) {
    if (old.IsMultiPart ||
        (WriteOptions().contains(zwoDiskSpan) && (old.Info & TZACentral::ziLoaded) == 0)) {
        return Recreate(copy, old);
    }
    old.Close();
    const std::string name = old.FileName();
    if (Verbose()) {
        ReportTrace("Replacing: " + name);
    }
    // One rename puts the new archive in place: the name never stands
    // without a complete archive. With undo the trash keeps the old one.
    if (!copy.RenameTo(name, HowToDelete() != htdAllowUndo)) {
        return -ZA_CODE(163);
    }
    Flags |= 1;
    return 0;
}

std::int32_t TZAModOpr::Recreate(TZAZipCopy& copy, TZAZipFile& old) {
    std::string name = old.RequestedName().empty() ? old.FileName() : old.RequestedName();
    const std::uint8_t scheme = old.NamingScheme;
    if (scheme == kSchemeNumbered) {
        // Opened by a part's name (name003.zip): the set is name.zip.
        const std::string ext = ExtractFileExt(name);
        const std::string stem = name.substr(0, name.size() - ext.size());
        if (stem.size() > 3 &&
            std::all_of(stem.end() - 3, stem.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            name = stem.substr(0, stem.size() - 3) + ext;
        }
    }
    if (Verbose()) {
        ReportTrace("Recreate multi-part: " + name);
    }
    // The copy holds the whole archive; read it back and write the set.
    // (Registered, so that a set's journal names it for removal too.)
    AddTemporary(copy.FileName(), true);
    std::unique_ptr<TZAZipFile> whole = OpenArchive(copy.FileName());
    // Parts as large as the old first part, unless a size is set.
    TZAPartSettingsKeeper keep(Internal());
    if (Internal().MaxVolumeSize <= 0 && old.IsMultiPart) {
        std::error_code ec;
        const std::string first = scheme == kSchemeCompatible ? ChangeFileExt(name, ".z01")
                                                              : old.PartName(name, 1, false);
        const auto size = std::filesystem::file_size(first, ec);
        if (!ec && size > 0) {
            Internal().MaxVolumeSize = static_cast<std::int64_t>(size);
        }
    }
    Internal().SpanOptions.exclude(spCompatName);
    if (scheme == kSchemeCompatible) {
        Internal().SpanOptions.include(spCompatName);
    } else {
        Internal().SpanOptions.include(spNoVolumeName);
    }
    old.Close();
    // The old set stays whole until the new one is written: see WriteSetStaged.
    Flags |= 1;
    const std::int32_t r = WriteSetStaged(*whole, name, SpanSFX ? setProgram_ : std::string());
    whole->Close();
    return r < 0 ? r : 0;
}

std::vector<std::uint8_t> TZAModOpr::ProgramStub(const std::string& program) {
    TZAZipFile probe(Host());
    probe.SetFileName(program);
    if (probe.FindEndRecord(true) < 0 || !probe.IsOpen() ||
        probe.CentralSize >= probe.EndRecordOffset) {
        return {};
    }
    const std::int64_t size = probe.EndRecordOffset - probe.CentralSize;
    std::vector<std::uint8_t> stub(static_cast<std::size_t>(size));
    if (size > 0x7FFFFFFF || probe.Seek(kSeekBegin, 0) != 0 ||
        !probe.ReadExact(stub.data(), static_cast<std::int32_t>(size))) {
        return {};
    }
    return stub;
}

void TZAModOpr::ReplaceEnd(const std::string& archive, std::int64_t at,
                           const std::string& comment) {
    // The new file is written beside the archive without a name (on the same
    // file system the copy can share the unchanged blocks) and put in its
    // place whole: a run killed at any moment leaves the old archive or the
    // new one, never an end record that disagrees with the comment after it.
    std::string error;
    std::string temp;
    const std::string target = platform::ResolveLinks(archive);
    const auto slash = target.rfind('/');
    int out =
        platform::CreateUnnamedFile(slash == std::string::npos ? "." : target.substr(0, slash));
    if (out < 0) {
        temp = platform::CreateTempFile(WorkFolder(), "zcm", ".tmp", &error);
        if (temp.empty()) {
            ReportTrace(error);
            throw EZipArchiver(ZA_CODE(173));
        }
        out = ::open(temp.c_str(), O_WRONLY | O_CLOEXEC);
    }
    const int in = ::open(archive.c_str(), O_RDONLY | O_CLOEXEC);
    std::uint8_t record[22];
    bool ok =
        in >= 0 && out >= 0 && ::pread(in, record, 22, at) == 22 && GetU32(record) == kEndRecordSig;
    const int code = ok ? 159 : 158;
    if (ok) {
        PutU16(record + 20, static_cast<std::uint16_t>(comment.size()));
        std::string tail(reinterpret_cast<const char*>(record), 22);
        tail += comment;
        ok = platform::CopyFileRange(in, 0, out, 0, at) == at &&
             ::pwrite(out, tail.data(), tail.size(), at) == static_cast<ssize_t>(tail.size());
    }
    if (in >= 0) {
        ::close(in);
    }
    CheckUnchangedSinceLocked(ZipFileName());
    if (ok) {
        ok = temp.empty() ? platform::ReplaceFileFrom(out, archive, &error)
                          : platform::ReplaceFile(temp, archive, &error);
    }
    if (out >= 0) {
        ::close(out);
    }
    if (!ok) {
        if (!temp.empty()) {
            ::unlink(temp.c_str());
        }
        ReportTrace(error);
        throw EZipArchiver(code == 158 ? ZA_CODE(158) : ZA_CODE(159));
    }
}

void TZAModOpr::ChangeComment(const std::string& text) {
    if (Host().Lister() == nullptr) {
        return;
    }
    try {
        if (ZipFileName().empty()) {
            throw EZipArchiver(ZA_CODE(133));
        }
        LockForRewrite(ZipFileName());
        Internal().SpanOptions.exclude(spExactName);
        auto zip = std::make_unique<TZAZipFile>(Host());
        zip->SetFileName(ZipFileName());
        zip->SetRequestedName(ZipFileName());
        // Only the end record is needed, not the directory.
        const std::int32_t opened = zip->Open(false, true);
        Lister().AfterAction = aaReload;
        if (opened < 0) {
            throw EZipArchiver(ZAAbsCode(opened), true);
        }
        const std::int64_t at = zip->EndRecordOffset;
        const std::string stored = text.substr(0, std::min<std::size_t>(text.size(), 0xFFFF));
        zip->Close();
        // The archive (or the last part of a set) is replaced whole, never
        // changed in place.
        ReplaceEnd(zip->FileName(), at, stored);
        Internal().ZipComment = stored;
    } catch (const EZAException& e) {
        ShowExceptionError(e);
        Internal().ZipComment.clear();
    }
}
