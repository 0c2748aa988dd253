#include "zip/ZAWZip.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/DosTime.h"
#include "zip/ZAUtils.h"
#include "zip/ZAXcpt.h"

namespace {

std::string ThreeDigits(int n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%03d", ((n % 1000) + 1000) % 1000);
    return buf;
}

// The extension `ext` spelled in the case of `like` (".ZIP" keeps upper case).
std::string InCaseOf(const std::string& like, std::string ext) {
    const bool upper = !like.empty() && like == UpperCaseAscii(like) && like != ext;
    return upper ? UpperCaseAscii(ext) : ext;
}

}  // namespace

TZAWorkZip::TZAWorkZip(TZAHost& host, TZAWorkBin* owner)
    : TZAWorkFile(host, owner), drive_(std::make_unique<TZAWorkDrive>(host)) {}

TZAWorkZip::~TZAWorkZip() = default;

std::int32_t TZAWorkZip::FindLiveDuplicate(const std::string& /*name*/, const TZAZRec& /*self*/) {
    return -1;
}

// ---- part names ------------------------------------------------------------------

std::string TZAWorkZip::PartName(const std::string& name, int n, bool replace) const {
    if (DiskNumber > 999 || n > 999) {
        throw EZipArchiver(ZA_CODE(179));
    }
    const std::string ext = ExtractFileExt(name);
    std::string base = name.substr(0, name.size() - ext.size());
    if (replace) {
        base.resize(base.size() >= 3 ? base.size() - 3 : 0);
    }
    return base + ThreeDigits(n) + ext;
}

std::string TZAWorkZip::CompatibleName(const std::string& name) const {
    const std::string ext = ExtractFileExt(name);
    std::string newExt;
    if (DiskNumber == DiskCount - 1) {
        // Linux names are case-sensitive: the last part keeps the spelling
        // of the requested extension when that already is ".zip".
        newExt = SameTextAscii(ext, ".zip") ? ext : std::string(".zip");
    } else {
        char buf[16];
        std::snprintf(buf, sizeof buf, DiskNumber <= 8 ? ".z0%d" : ".z%d", DiskNumber + 1);
        newExt = InCaseOf(ext, buf);
    }
    return ChangeFileExt(name, newExt);
}

std::string TZAWorkZip::VolumeLabelName(int n) {
    return "PKBACK#" + ThreeDigits(n);
}

std::string TZAWorkZip::CurrentPartName() const {
    const std::string& name = requestedName_.empty() ? FileName() : requestedName_;
    if (NamingScheme == kSchemeCompatible) {
        return CompatibleName(name);
    }
    return PartName(name, DiskNumber + 1, replaceDigits_);
}

// ---- parts --------------------------------------------------------------------------

int TZAWorkZip::AskUser(const std::string& text, TMsgDlgButtons buttons, std::uint32_t kind,
                        const std::string& title) {
    std::string msg = text;
    return Host().ZipDialog(title, msg, buttons, kind);
}

void TZAWorkZip::AskForDisk(bool forWriting, bool acceptUnformatted) {
    if (DiskCount != 1) {
        multiPartMode_ = true;
    }
    if (!drive_->IsFloppy()) {
        newDiskNeeded_ = false;
        CheckCancelAndRaise();
        return;
    }
    // Removable disks: ask until the right one is in the drive.
    while (newDiskNeeded_ || !drive_->Refresh(acceptUnformatted)) {
        if (Unattended()) {
            throw EZipArchiver(ZA_CODE(126));
        }
        std::string text;
        if (DiskNumber < 0) {
            text = MessageText(66);
        } else if (forWriting || DiskCount > 0) {
            if (forWriting) {
                DiskCount = DiskNumber + 1;
                if (DiskCount >= 1000) {
                    throw EZipArchiver(ZA_CODE(179));
                }
            }
            text = MessageTextFmt(67, {std::int64_t{DiskNumber + 1}, std::int64_t{DiskCount}});
        } else {
            text = MessageTextFmt(65, {std::int64_t{DiskNumber + 1}});
        }
        text += MessageTextFmt(64, {drive_->Root()});
        bool aborted = false;
        if (Host().Events().OnGetNextDisk) {
            Host().Events().OnGetNextDisk(Host().Sender(), DiskNumber + 1, DiskCount,
                                          std::string(1, drive_->DriveLetter()), aborted);
        } else {
            const int r = AskUser(text, {mbOK, mbCancel}, DiskNumber < 0 ? zdError : zdWarning);
            aborted = r != mrOk;
        }
        if (aborted) {
            SetCancel(4);
            Info |= ziDiskAborted;
            throw EZipArchiver(ZA_CODE(2));
        }
        newDiskNeeded_ = false;
        CheckCancelAndRaise();
    }
}

bool TZAWorkZip::FindPartFile() {
    const std::string& requested = requestedName_.empty() ? FileName() : requestedName_;
    if ((NamingScheme == kSchemeUnknown || NamingScheme == kSchemeVolumeLabels) &&
        drive_->IsFloppy()) {
        const std::string want = VolumeLabelName(DiskNumber + 1);
        const std::string& label = drive_->VolumeLabel();
        ReportTrace("Checking disk " + label + " need " + want);
        const std::string blankForm = "PKBACK# " + want.substr(7);
        if ((SameTextAscii(label, want) || SameTextAscii(label, blankForm)) &&
            FileExists(FileName())) {
            NamingScheme = kSchemeVolumeLabels;
            ReportTrace("found volume " + label);
            return true;
        }
    }
    if (NamingScheme == kSchemeUnknown || NamingScheme == kSchemeVolumeLabels) {
        const std::string before = FileName();
        const std::string compat = CompatibleName(requested);
        if (FileExists(compat)) {
            SetFileName(compat);
            NamingScheme = kSchemeCompatible;
            return true;
        }
        const std::string numbered = PartName(requested, DiskNumber + 1, replaceDigits_);
        if (FileExists(numbered)) {
            SetFileName(numbered);
            NamingScheme = kSchemeNumbered;
            return true;
        }
        if (!drive_->IsFloppy()) {
            // The open that follows reports the missing part.
            SetFileName(numbered);
            return true;
        }
        SetFileName(before);
        return false;
    }
    SetFileName(CurrentPartName());
    return !drive_->IsFloppy() || FileExists(FileName());
}

void TZAWorkZip::OpenPartForReading(int n) {
    Close();
    if (DiskCount != 1 || n != 0) {
        multiPartMode_ = true;
    }
    DiskNumber = n;
    for (;;) {
        newDiskNeeded_ = true;
        Close();
        AskForDisk(false, SpanOptions().contains(spTryFormat));
        if (!FindPartFile()) {
            continue;
        }
        if (Verbose()) {
            ReportMessageId(217, {FileName()});
        }
        if (Open(kOpenRead)) {
            openName_ = FileName();
            return;
        }
        if (!drive_->IsFloppy()) {
            throw EZipArchiver(ZA_CODE(123));
        }
        ShowError(ZA_CODE(123), true);
    }
}

int TZAWorkZip::CheckDiskStatus(const std::string& name, int partNumber) {
    diskStatus_ = {};
    std::string text;
    if (FileExists(name)) {
        const std::int64_t date = [&] {
            TZAWorkFile probe(Host());
            probe.SetFileName(name);
            return probe.FileDate();
        }();
        if (Stamp() != 0 && date == static_cast<std::int64_t>(Stamp()) &&
            partNumber - 1 < DiskNumber) {
            diskStatus_.include(zdsPreviousDisk);
            text = MessageTextFmt(63, {std::int64_t{partNumber}});
        } else {
            diskStatus_.include(zdsSameFileName);
            text = MessageTextFmt(62, {name});
        }
    } else if (drive_->IsFloppy()) {
        diskStatus_.include(drive_->FreeSpace() == drive_->TotalSize() ? zdsEmpty : zdsHasFiles);
    }
    if (Host().Events().OnStatusDisk && !yesToAll_) {
        TZADiskAction action = zdaOk;
        Host().Events().OnStatusDisk(Host().Sender(), partNumber, name, diskStatus_, action);
        DiskAction = action;
        switch (action) {
            case zdaYesToAll:
                yesToAll_ = true;
                return kDiskOk;
            case zdaReject:
                return kDiskNo;
            case zdaCancel:
                return kDiskCancel;
            default:
                return kDiskOk;
        }
    }
    if ((!diskStatus_.contains(zdsPreviousDisk) && !diskStatus_.contains(zdsSameFileName)) ||
        yesToAll_ || Unattended()) {
        return kDiskOk;
    }
    const int r =
        AskUser(text, {mbYes, mbNo, mbCancel, mbYesToAll}, zdConfirmation, MessageText(68));
    if (r == mrYesToAll) {
        yesToAll_ = true;
        return kDiskOk;
    }
    // Without a dialog box the component works as if unattended.
    return r == mrNone ? kDiskOk : r;
}

int TZAWorkZip::WipeDisk(const std::string& /*label*/) {
    // Only floppy disks are ever wiped, and Linux has none.
    return -3;
}

void TZAWorkZip::BeginMultiPartWrite(const std::string& name, std::int64_t expectedSize) {
    Close();
    requestedName_ = name;
    SetFileName(name);
    DiskNumber = 0;
    DiskCount = 0;
    NamingScheme = kSchemeUnknown;
    LogicalSize = expectedSize;
    multiPartMode_ = true;
    newDiskNeeded_ = false;
    writtenOnPart_ = 0;
    spaceLeft_ = 0;
    drive_->SetPath(name);
}

int TZAWorkZip::OpenNextOutputPart() {
    const TZASpanOpts span = SpanOptions();
    if (NamingScheme == kSchemeUnknown) {
        NamingScheme = span.contains(spCompatName) ? kSchemeCompatible
                       : (!drive_->IsFloppy() || span.contains(spNoVolumeName))
                           ? kSchemeNumbered
                           : kSchemeVolumeLabels;
    }
    const std::string requested = requestedName_.empty() ? FileName() : requestedName_;
    if (requestedName_.empty()) {
        requestedName_ = requested;
    }
    drive_->SetPath(requested);
    const std::string name = NamingScheme == kSchemeVolumeLabels ? requested : CurrentPartName();
    AskForDisk(true, span.contains(spWipeFiles));
    const int partNumber = DiskNumber + 1;
    diskStatus_ = {};

    int answer = CheckDiskStatus(name, partNumber);
    if (answer == kDiskYes && !drive_->IsFloppy() && span.contains(spCompatName) &&
        FileExists(requested) && requested != name) {
        answer = CheckDiskStatus(requested, partNumber);
        if (answer == kDiskYes) {
            RemoveFileOrRaise(requested, HowToDelete() != htdAllowUndo);
        }
    }
    if (answer == kDiskNo && drive_->IsFloppy()) {
        writtenOnPart_ = 0;
        newDiskNeeded_ = true;
        return 1;
    }
    if (answer == kDiskNo || answer == kDiskCancel || answer == 0) {
        throw EZipArchiver(ZA_CODE(2));
    }

    if (!Create(name)) {
        const int r = AskUser(MessageText(171), {mbRetry, mbCancel}, zdError);
        if (r == mrRetry) {
            newDiskNeeded_ = true;
            return 1;
        }
        // Without a dialog box the failure itself is the answer.
        throw EZipArchiver(r == mrNone ? ZA_CODE(171) : ZA_CODE(2));
    }
    openName_ = name;
    writtenOnPart_ = 0;

    drive_->Refresh(false);
    const std::uint32_t sector = std::max<std::uint32_t>(1, drive_->BytesPerSector());
    auto roundUp = [sector](std::uint32_t v) {
        return v % sector == 0 ? v : static_cast<std::uint32_t>((v / sector + 1) * sector);
    };
    if ((DiskNumber == 0 && KeepFreeOnDisk1() != 0) || KeepFreeOnAllDisks() != 0) {
        Internal().KeepFreeOnDisk1 = roundUp(KeepFreeOnDisk1());
        Internal().KeepFreeOnAllDisks = roundUp(KeepFreeOnAllDisks());
    }
    // A folder on a fixed disk offers its free space (the part was just
    // created empty), not the size of the whole file system.
    const std::int64_t room = drive_->IsFloppy() ? drive_->TotalSize() : drive_->FreeSpace();
    spaceLeft_ = room - KeepFreeOnAllDisks();
    if (MaxVolumeSize() > 0 && MaxVolumeSize() < spaceLeft_) {
        spaceLeft_ = MaxVolumeSize();
    }
    if (DiskNumber == 0) {
        spaceLeft_ -= KeepFreeOnDisk1();
    }
    if (static_cast<std::int64_t>(MinFreeVolumeSize()) > spaceLeft_ || spaceLeft_ <= 0) {
        Close();
        std::error_code ec;
        std::filesystem::remove(name, ec);
        if (Host().Events().OnStatusDisk) {
            TZADiskAction action = zdaOk;
            Host().Events().OnStatusDisk(Host().Sender(), partNumber, name,
                                         TZAZipDiskStatus{zdsNotEnoughSpace}, action);
            DiskAction = action;
            if (action == zdaCancel) {
                throw EZipArchiver(ZA_CODE(2));
            }
        } else {
            const int r = AskUser(MessageText(121), {mbRetry, mbCancel}, zdWarning);
            if (r == mrNone) {
                throw EZipArchiver(ZA_CODE(121));
            }
            if (r != mrRetry) {
                throw EZipArchiver(ZA_CODE(2));
            }
        }
        newDiskNeeded_ = true;
        return 1;
    }
    if (drive_->IsFloppy() && NamingScheme == kSchemeVolumeLabels &&
        !drive_->SetVolumeLabel(VolumeLabelName(partNumber))) {
        throw EZipArchiver(ZA_CODE(174));
    }
    return 0;
}

void TZAWorkZip::EndOutputPart() {
    if (Stamp() == 0) {
        const std::int64_t date = FileDate();
        if (date > 0) {
            SetStamp(static_cast<std::uint32_t>(date));
        }
    }
    Close();
    writtenOnPart_ = 0;
    newDiskNeeded_ = true;
    ++DiskNumber;
}

int TZAWorkZip::FinishParts() {
    Close();
    if (!multiPartMode_) {
        return 0;
    }
    const std::string requested = requestedName_;
    const bool rename =
        (NamingScheme == kSchemeCompatible && !SameTextAscii(ExtractFileExt(openName_), ".zip")) ||
        (NamingScheme == kSchemeNumbered && DiskNumber == 0);
    if (!rename || requested.empty() || openName_ == requested) {
        return 0;
    }
    if (FileExists(requested)) {
        diskStatus_ = {zdsSameFileName};
        bool replace = yesToAll_;
        if (!replace) {
            if (Host().Events().OnStatusDisk) {
                TZADiskAction action = zdaOk;
                Host().Events().OnStatusDisk(Host().Sender(), DiskNumber, requested, diskStatus_,
                                             action);
                DiskAction = action;
                replace = action == zdaOk || action == zdaYesToAll;
                yesToAll_ = yesToAll_ || action == zdaYesToAll;
            } else {
                const int r = Unattended() ? mrYes
                                           : AskUser(MessageTextFmt(62, {requested}), {mbYes, mbNo},
                                                     zdConfirmation, MessageText(68));
                replace = r == mrYes || r == mrNone;
            }
        }
        if (!replace) {
            ReportMessage(0, MessageTextFmt(15, {openName_}));
            return 0;
        }
        DeleteFileOrTrash(requested, true);
    }
    if (!FileExists(openName_)) {
        return -1;
    }
    std::error_code ec;
    std::filesystem::rename(openName_, requested, ec);
    if (ec) {
        return -1;
    }
    if (Verbose()) {
        ReportTrace("renamed " + openName_ + " to " + requested);
    }
    SetFileNameRaw(requested);
    openName_ = requested;
    return 0;
}

bool TZAWorkZip::SameFile(bool writing) {
    const TZAFileInformation now = FileInformation();
    const TZAFileInformation& was = fileInfo_;
    return now.attributes == was.attributes && now.creationTime == was.creationTime &&
           now.volumeSerial == was.volumeSerial && now.size == was.size &&
           now.fileIndex == was.fileIndex && (writing || now.writeTime == was.writeTime);
}

void TZAWorkZip::AssignFrom(const TZAWorkFile& other) {
    TZAWorkFile::AssignFrom(other);
    const auto* o = dynamic_cast<const TZAWorkZip*>(&other);
    if (o == nullptr || o == this) {
        return;
    }
    DiskNumber = o->DiskNumber;
    LogicalSize = o->LogicalSize;
    Info = o->Info;
    SizeAtOpen = o->SizeAtOpen;
    StartKind = o->StartKind;
    DiskCount = o->DiskCount;
    DiskAction = o->DiskAction;
    NamingScheme = o->NamingScheme;
    openName_ = o->openName_;
    requestedName_ = o->requestedName_;
    multiPartMode_ = o->multiPartMode_;
    replaceDigits_ = o->replaceDigits_;
    diskStatus_ = o->diskStatus_;
    fileInfo_ = o->fileInfo_;
    drive_->SetPath(FileName());
}

// ---- reading and writing ---------------------------------------------------------------

std::int32_t TZAWorkZip::Read(void* buffer, std::int32_t length) {
    if (!multiPartMode_) {
        return ReadPlain(buffer, length);
    }
    return ReadAcrossParts(buffer, length);
}

std::int32_t TZAWorkZip::ReadAcrossParts(void* buffer, std::int32_t length) {
    try {
        const bool record = length < 0;
        std::int64_t want = record ? -static_cast<std::int64_t>(length) : length;
        auto* out = static_cast<std::uint8_t*>(buffer);
        std::int32_t total = 0;
        while (want > 0) {
            const std::int32_t got = ReadPlain(out + total, static_cast<std::int32_t>(want));
            if (got < 0) {
                return got;
            }
            total += got;
            want -= got;
            if (want == 0) {
                break;
            }
            // A record may not straddle two parts, and a short read in the
            // middle of a part is an error rather than a part boundary.
            if ((record && got > 0) || !IsAtEnd()) {
                return -ZA_CODE(176);
            }
            OpenPartForReading(DiskNumber + 1);
        }
        return total;
    } catch (const EZAException& e) {
        return -e.FullCode;
    } catch (...) {
        return -ZA_CODE(176);
    }
}

std::int32_t TZAWorkZip::ReadGather(void* buffer, std::span<const int> widths, int last) {
    if (!multiPartMode_) {
        return TZAWorkFile::ReadGather(buffer, widths, last);
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::int32_t total = 0;
    for (int i = 0; i <= last && i < static_cast<int>(widths.size()); ++i) {
        const int w = widths[static_cast<std::size_t>(i)];
        if (w == 0) {
            continue;
        }
        const std::int32_t got = Read(out + total, -w);
        if (got < 0) {
            return got;
        }
        total += got;
        if (got != w) {
            break;
        }
    }
    return total;
}

std::int32_t TZAWorkZip::Write(const void* buffer, std::int32_t length) {
    if (!multiPartMode_) {
        return WritePlain(buffer, length);
    }
    return WriteAcrossParts(buffer, length);
}

std::int32_t TZAWorkZip::WriteAcrossParts(const void* buffer, std::int32_t length) {
    try {
        // Every chunk of a copy comes through here: a cancel stops the set
        // within a part as well as between parts.
        CheckWriteCancelAndRaise();
        const bool record = length < 0;
        const bool mustFit = record && ((-length) & kRecordMustFit) != 0;
        std::int64_t remaining = record ? ((-length) & kRecordSizeMask) : length;
        const auto* in = static_cast<const std::uint8_t*>(buffer);
        std::int32_t total = 0;
        for (;;) {
            if (!IsOpen()) {
                CheckWriteCancelAndRaise();
                newDiskNeeded_ = DiskNumber != 0;
                while (OpenNextOutputPart() == 1) {
                }
            }
            // A record that does not fit moves to the next part -- unless
            // this part is still empty: then no part can take it whole, and
            // moving on would only create empty parts.
            if (record && remaining > spaceLeft_ && writtenOnPart_ > 0) {
                EndOutputPart();
                if (mustFit) {
                    return kNewPartStarted;
                }
                continue;
            }
            const std::int64_t chunk = std::min<std::int64_t>(
                std::min<std::int64_t>(std::max<std::int64_t>(spaceLeft_, 0), 0x7FFFFFFF),
                remaining);
            if (chunk > 0) {
                const std::int32_t put = WritePlain(in + total, static_cast<std::int32_t>(chunk));
                if (put != chunk) {
                    throw EZipArchiver(ZA_CODE(175));
                }
                spaceLeft_ -= chunk;
                writtenOnPart_ += put;
                total += put;
                remaining -= chunk;
            }
            if (remaining == 0) {
                return total;
            }
            EndOutputPart();
            spaceLeft_ = 0;
        }
    } catch (const EZAException& e) {
        return -e.FullCode;
    } catch (...) {
        return -ZA_CODE(1);
    }
}

std::int32_t TZAWorkZip::WriteGather(const void* buffer, std::span<const int> widths, int last) {
    std::int32_t total = 0;
    for (int i = 0; i <= last && i < static_cast<int>(widths.size()); ++i) {
        total += widths[static_cast<std::size_t>(i)];
    }
    return Write(buffer, multiPartMode_ ? RecordLength(total) : total);
}
