// The parts of an engine job that concern the archive file rather than its
// entries. The engine reads and writes one plain file, so a multi-part set
// is joined into a temporary archive before an extract or test, a spanned
// add writes one temporary archive that the span writer then splits (into a
// self-extracting set when the archive is an ".exe"), and a
// new ".exe" archive starts as a self-extractor stub with an empty archive
// that the engine adds to (it keeps whatever stands in front of an archive).
#include <sys/stat.h>

#include <filesystem>

#include "platform/TempFiles.h"
#include "zip/ZADllOpr.h"
#include "zip/ZALister.h"
#include "zip/ZAUtils.h"
#include "zip/ZAZipFile.h"

namespace fs = std::filesystem;

namespace {

bool IsExeName(const std::string& name) {
    return SameTextAscii(ExtractFileExt(name), ".exe");
}

}  // namespace

bool TZADLLOpr::ArchiveIsSet() {
    TZALister* lister = Host().Lister();
    if (lister == nullptr || Host().Count() == 0)
        return false;
    const TZAZipFile& zip = lister->CurrentZip();
    return zip.IsMultiPart || zip.DiskCount > 1;
}

bool TZADLLOpr::JoinSetForEngine() {
    if (!ArchiveIsSet())
        return true;
    std::string joined;
    if (JoinToTemp(ZipFileName(), joined, false) < 0 || joined.empty())
        return false;
    // Removed at the end of the operation whatever happens, and by the job
    // as soon as it is done.
    AddTemporary(joined, true);
    ArchiveName = joined;
    // The copy does not see a cancel given meanwhile; the job must not start.
    CheckCancelAndRaise();
    return true;
}

void TZADLLOpr::RemoveTemporaryArchive() {
    if (ArchiveName.empty() || ArchiveName == ZipFileName())
        return;
    std::error_code ec;
    fs::remove(ArchiveName, ec);
}

bool TZADLLOpr::PrepareSpannedAdd() {
    const std::string target = ZipFileName();
    OldParts.clear();
    std::string temp;
    int parts = 1;
    if (Host().Count() > 0) {
        // The job adds to a single-file copy of the archive: its entries stay.
        if (JoinToTemp(target, temp, false) < 0 || temp.empty())
            return false;
        AddTemporary(temp, true);
        std::unique_ptr<TZAZipFile> old = OpenArchive(target);
        parts = std::max(old->DiskCount, 1);
        if (parts > 1 && !WriteOptions().contains(zwoDiskSpan))
            OldNaming = old->NamingScheme;
        old->Close();
    } else {
        temp = platform::MakeTempFileName(WorkFolder(), "zip", ".zip");
        if (temp.empty())
            throw EZipArchiver(ZA_CODE(173));
        AddTemporary(temp, true);
    }
    ArchiveName = temp;
    // The files the new set is to replace (an empty archive too).
    NoteOldParts(target);
    // The copy does not see a cancel given meanwhile; the job must not start.
    CheckCancelAndRaise();
    if (Verbose())
        ReportMessageId(7, {temp});
    return true;
}

void TZADLLOpr::WriteSpannedAdd() {
    const std::string target = ZipFileName();
    auto& in = Internal();
    const std::int64_t savedMax = in.MaxVolumeSize;
    const std::uint32_t savedMinFree = in.MinFreeVolumeSize;
    const TZASpanOpts savedSpan = in.SpanOptions;
    if (OldNaming == kSchemeCompatible) {
        in.SpanOptions.include(spCompatName);
    } else if (OldNaming == kSchemeNumbered) {
        in.SpanOptions.exclude(spCompatName);
        in.SpanOptions.include(spNoVolumeName);
    }
    auto restore = [&] {
        in.MaxVolumeSize = savedMax;
        in.MinFreeVolumeSize = savedMinFree;
        in.SpanOptions = savedSpan;
        Lister().SetZipFileName(target, 0);
    };
    if (in.MaxVolumeSize <= 0 && OldParts.size() > 1) {
        // Without a size the new parts are as large as the old ones, which
        // may be smaller than the least room a part must have. The first
        // part of a self-extracting set left room for the program beside it
        // (noted last): with it, it is as large as a part.
        std::uintmax_t size = 0;
        std::uintmax_t first = 0;
        for (std::size_t i = 0; i < OldParts.size(); ++i) {
            std::error_code ec;
            const auto partSize = fs::file_size(OldParts[i].Path, ec);
            if (ec)
                continue;
            if (i == 0)
                first = partSize;
            size = std::max(size, i + 1 == OldParts.size() && IsExeName(OldParts[i].Path)
                                      ? first + partSize
                                      : partSize);
        }
        if (size > 0) {
            in.MaxVolumeSize = static_cast<std::int64_t>(size);
            in.MinFreeVolumeSize = static_cast<std::uint32_t>(
                std::min<std::uintmax_t>(in.MinFreeVolumeSize, std::max<std::uintmax_t>(first, 1)));
        }
    }
    std::int32_t r = 0;
    try {
        Lister().SetZipFileName(ArchiveName, 2);
        // An ".exe" becomes a self-extracting set: numbered parts and the
        // program with the stub and the set's directory (or one program
        // when everything fits into a part).
        r = IsExeName(target) ? ConvertToSpanSFX(target) : SpanTo(target);
    } catch (...) {
        restore();
        SetSuccessCount(0);
        throw;
    }
    restore();
    if (r < 0) {
        SetSuccessCount(0);
        throw EZipArchiver(ZAAbsCode(r), true);
    }
    // Parts of the old set that the new one did not write over (it has
    // fewer parts, or names them otherwise) would make the set ambiguous.
    RemoveUnreplacedOldParts();
}

bool TZADLLOpr::PrepareNewSFX() {
    const std::string target = ZipFileName();
    std::error_code ec;
    if (!IsExeName(target) || fs::exists(fs::symlink_status(target, ec)))
        return false;
    const std::int32_t r = WriteEmptySFX(target);
    if (r < 0) {
        fs::remove(target, ec);
        throw EZipArchiver(ZA_CODE(139), ZAMessageIdOf(ZAAbsCode(r)));
    }
    return true;
}
