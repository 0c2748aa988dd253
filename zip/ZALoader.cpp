#include "zip/ZALoader.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <filesystem>

#include "platform/ZipRecords.h"
#include "zip/ZAFileOpr.h"
#include "zip/ZALister.h"
#include "zip/ZAUtils.h"

using namespace zrec;

namespace {

// NTFS time blocks are kept only when they carry more than the bare head.
constexpr std::size_t kNtfsKeptAbove = 35;

}  // namespace

TZALoader::TZALoader(TZAHost& host, std::int32_t parts, std::vector<std::uint8_t> stub)
    : TZAZipFile(host), parts_(parts) {
    Clear();
    SetStub(std::move(stub));
}

std::string TZALoader::KeptExtra(const std::string& extra) {
    std::string kept;
    for (const std::uint16_t tag : {kTagZip64, kTagUnicodePath, kTagNtfs}) {
        const auto rec = FindExtra(extra, tag);
        if (rec && (tag != kTagNtfs || rec->length > kNtfsKeptAbove)) {
            kept.append(extra, rec->offset, rec->length);
        }
    }
    return kept;
}

std::int32_t TZALoader::AddEntry(const TZAZRec& entry) {
    auto rec = std::make_unique<TZAZRec>(*this);
    rec->AssignFrom(entry);
    rec->SetOwner(*this);
    rec->SetExtraFieldRaw(KeptExtra(entry.ExtraField()));
    return Add(std::move(rec));
}

std::int32_t TZALoader::BeforeCommit() {
    const std::int32_t r = TZAZipFile::BeforeCommit();
    if (r < 0) {
        return r;
    }
    // The directory lies on a part after the set's last one.
    DiskCount = parts_;
    DiskNumber = parts_;
    KeepStub = !Stub().empty();
    return 0;
}

// ---- the spanned self-extracting set (TZAFileOpr) -------------------------------------

std::uint32_t TZAFileOpr::DetachedSize(TZAZipFile& archive) {
    if (Stub.empty() && PrepareStub() < 0) {
        return 0;
    }
    std::uint64_t size = Stub.size();
    bool zip64 = false;
    for (std::int32_t i = 0; i < archive.Count(); ++i) {
        const TZAZRec& e = archive.Entry(i);
        size +=
            central::kSize + e.StoredName().size() + TZALoader::KeptExtra(e.ExtraField()).size();
        zip64 = zip64 || FindExtra(e.ExtraField(), kTagZip64).has_value();
    }
    size += zip64 ? eocd::kSize + zip64loc::kSize +
                        static_cast<std::uint64_t>(
                            std::max<std::int64_t>(archive.Zip64RecordLength, zip64end::kSize))
                  : eocd::kSize;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(size, UINT32_MAX));
}

std::int32_t TZAFileOpr::WriteDetachedStub(const std::string& setName, const std::string& program) {
    ReportTrace("Write detached SFX stub");
    if (Stub.empty()) {
        const std::int32_t r = PrepareStub();
        if (r < 0) {
            return r;
        }
    }
    std::unique_ptr<TZAZipFile> set = OpenArchive(setName);
    auto loader = std::make_unique<TZALoader>(Host(), std::max(1, set->DiskCount), Stub);
    for (std::int32_t i = 0; i < set->Count(); ++i) {
        if (loader->AddEntry(set->Entry(i)) < 0) {
            return -ZA_CODE(140);
        }
    }
    loader->SetArchiveComment(set->ArchiveComment);
    set->Close();
    if (!loader->Create(program)) {
        return -ZA_CODE(171);
    }
    const std::int32_t r = loader->Commit(false);
    loader->Close();
    return r < 0 ? r : 0;
}

std::int32_t TZAFileOpr::ConvertToSpanSFX(const std::string& destination, TZAZipFile* archive) {
    ReportTrace("ConvertToSpanSFX");
    std::unique_ptr<TZAZipFile> opened;
    archive = &ArchiveOrCurrent(archive, opened);
    const std::string target =
        destination.empty() ? ChangeFileExt(archive->FileName(), ".exe") : destination;
    SpanSFX = true;
    const std::int32_t prepared = PrepareStub();
    if (prepared < 0) {
        return prepared;
    }
    const std::string parts = ChangeFileExt(target, ".zip");
    const std::uint32_t detached = DetachedSize(*archive);
    std::error_code ec;
    const auto fileSize = std::filesystem::file_size(archive->FileName(), ec);
    const std::int64_t size =
        archive->IsMultiPart ? archive->LogicalSize : static_cast<std::int64_t>(ec ? 0 : fileSize);
    if (MaxVolumeSize() <= 0 || size + static_cast<std::int64_t>(Stub.size()) <= MaxVolumeSize()) {
        ReportTrace("Too small for span sfx");
        Stub.clear();
        return ConvertToSFX(target, archive);
    }
    // The first part keeps room for the stub (it shares a disk with it on
    // removable media), rounded to the file system's block size.
    struct statvfs vfs {};
    const std::string folder = ExtractFilePath(target).empty() ? "." : ExtractFilePath(target);
    const bool known = ::statvfs(folder.c_str(), &vfs) == 0;
    const std::uint64_t cluster = known && vfs.f_bsize > 0 ? vfs.f_bsize : 4096;
    const std::int64_t volume =
        known ? static_cast<std::int64_t>(vfs.f_blocks * vfs.f_frsize) : MaxVolumeSize();
    const std::int64_t usable = std::min<std::int64_t>(
        {volume > 0 ? volume : MaxVolumeSize(), MaxVolumeSize(), 0x7FFFFFFF});
    if (usable < static_cast<std::int64_t>(detached) + 26) {
        return -ZA_CODE(136);
    }
    // Readers find the parts of a program's set by their numbers
    // (name001.zip, ...), not by the compatible names.
    std::int32_t r = 0;
    {
        TZAPartSettingsKeeper keep(Internal());
        const std::uint32_t minFree = MinFreeVolumeSize();
        Internal().SpanOptions.exclude(spCompatName).include(spNoVolumeName);
        std::uint64_t need = static_cast<std::uint64_t>(detached) + 26 + KeepFreeOnDisk1();
        need = (need + cluster - 1) / cluster * cluster;
        if (static_cast<std::uint64_t>(usable) <= need) {
            return -ZA_CODE(136);  // the rounded room leaves the first part nothing
        }
        Internal().KeepFreeOnDisk1 =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(need, 0x7FFFFFFF));
        // With a part size of the user's, what is left of the first part
        // beside the program is all it can offer; the least room a disk
        // must have would refuse every part size below about twice the
        // program's size.
        Internal().MinFreeVolumeSize = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(minFree, static_cast<std::uint64_t>(usable) - need));
        r = WriteSetStaged(*archive, parts, target);
    }
    Stub.clear();
    if (r < 0) {
        return r;
    }
    MakeCurrent(target);
    return 0;
}

bool TZAFileOpr::WriteSpanned(const std::string& temporaryArchive, bool hadEntries) {
    const std::string target = ZipFileName();
    std::int32_t r = 0;
    if (SameTextAscii(ExtractFileExt(target), ".exe")) {
        try {
            std::unique_ptr<TZAZipFile> temp = OpenArchive(temporaryArchive);
            r = ConvertToSpanSFX(target, temp.get());
        } catch (const EZAException& e) {
            r = -e.FullCode;
        }
        if (r < 0) {
            SetSuccessCount(0);
            ShowErrorFmt(ZA_CODE(171), {"Error " + std::to_string(ZAAbsCode(r))});
        }
    } else {
        if (hadEntries) {
            // The set keeps the naming of the one it replaces.
            Lister().TakeOverArchiveSettings();
        }
        r = CopyToSpanned(temporaryArchive, target, true);
        if (r < 0) {
            SetSuccessCount(0);
        }
    }
    DeleteFileOrTrash(temporaryArchive, true);
    Lister().SetZipFileName(target, 0);
    Internal().ZipFileName = target;
    return r >= 0;
}
