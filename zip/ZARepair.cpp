#include "zip/ZARepair.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/AtomicReplace.h"
#include "platform/TempFiles.h"
#include "platform/ZipRecords.h"
#include "zip/ZARepairScan.h"
#include "zip/ZAUtils.h"
#include "zip/ZAXcpt.h"
#include "zip/messages/ZAMsg.h"
#include "zip/messages/ZAMsgIds.h"

namespace {

// The highest part number of Info-ZIP's naming (name.z01 ... name.z99, then
// the last part as name.zip).
constexpr int kMaxPartNumber = 99;

int LossMessage(TZARepairLoss loss) {
    switch (loss) {
        case TZARepairLoss::HeaderCut:
            return zamsg::kRepairLocalIncomplete;
        case TZARepairLoss::DataCut:
            return zamsg::kRepairDataIncomplete;
        case TZARepairLoss::BadCrc:
            return zamsg::kRepairCrcError;
        case TZARepairLoss::NoDataEnd:
            break;
    }
    return zamsg::kRepairNoDataEnd;
}

// Part `k` (1-99) of the set whose last part is `last`: name.z01 ...
std::string PartName(const std::string& last, int k) {
    char ext[16];
    std::snprintf(ext, sizeof ext, ".z%02d", k);
    return ChangeFileExt(last, ext);
}

// The part number of the end record at the tail of `path`, 0 when there is
// none.
int LastPartNumber(const std::string& path) {
    TZAPartsSource file;
    if (!file.AddPart(path)) {
        return 0;
    }
    const std::int64_t size = file.Size();
    const auto length = static_cast<std::int64_t>(
        std::min<std::int64_t>(size, static_cast<std::int64_t>(zrec::eocd::kMaxSearch)));
    std::vector<std::uint8_t> tail(static_cast<std::size_t>(length));
    if (file.ReadAt(size - length, tail.data(), length) != length) {
        return 0;
    }
    for (std::int64_t i = length - static_cast<std::int64_t>(zrec::eocd::kSize); i >= 0; --i) {
        if (zrec::GetU32(tail.data() + i) == zrec::kEndRecordSig) {
            return zrec::TZAEndRecord::Decode(tail.data() + i).thisDisk;
        }
    }
    return 0;
}

}  // namespace

std::string TZARepair::SetName(const std::string& damaged) {
    const std::string ext = ExtractFileExt(damaged);
    const bool partExt = ext.size() == 4 && (ext[1] == 'z' || ext[1] == 'Z') &&
                         std::isdigit(static_cast<unsigned char>(ext[2])) != 0 &&
                         std::isdigit(static_cast<unsigned char>(ext[3])) != 0;
    return partExt ? ChangeFileExt(damaged, ".zip") : damaged;
}

std::string TZARepair::DefaultTarget(const std::string& damaged) {
    return ChangeFileExt(SetName(damaged), "") + "-repariert.zip";
}

std::vector<std::string> TZARepair::PartsOf(const std::string& damaged,
                                            std::vector<std::string>& missing) {
    const std::string name = SetName(damaged);
    std::vector<std::string> parts;
    int last = 0;
    if (SameTextAscii(ExtractFileExt(name), ".zip")) {
        // The last part's end record, when it survived, numbers the parts.
        last = std::min(LastPartNumber(name), kMaxPartNumber);
        for (int k = 1; k <= kMaxPartNumber; ++k) {
            if (FileExists(PartName(name, k))) {
                last = std::max(last, k);
            }
        }
        for (int k = 1; k <= last; ++k) {
            const std::string part = PartName(name, k);
            (FileExists(part) ? parts : missing).push_back(part);
        }
    }
    if (FileExists(name)) {
        parts.push_back(name);
    } else if (last > 0) {
        missing.push_back(name);  // the last part of a set is lost
    }
    return parts;
}

void TZARepair::Run(const std::string& damaged, const std::string& target,
                    TZARepairOutcome& outcome) {
    outcome = {};
    outcome.target = target.empty() ? DefaultTarget(damaged) : target;
    std::vector<std::string> missing;
    const std::vector<std::string> parts = PartsOf(damaged, missing);
    if (parts.empty()) {
        throw EZipArchiver(ZA_CODE(164));
    }
    if (FileExists(outcome.target)) {
        throw EZipArchiver(ZA_CODE(zamsg::kRepairTargetExists), outcome.target);
    }
    TZAPartsSource source;
    for (const std::string& part : parts) {
        if (!source.AddPart(part)) {
            throw EZipArchiver(ZA_CODE(164));
        }
    }
    auto report = [&](const std::string& text) {
        outcome.messages.push_back(text);
        ReportMessage(0, text);
    };
    for (const std::string& part : missing) {
        report(MessageTextFmt(zamsg::kRepairPartMissing, {ExtractFileName(part)}));
    }
    const TZARepairScan scan = ScanLocalHeaders(source, [this] { return CheckCancel(); });
    CheckCancelAndRaise();
    for (const TZARepairLost& l : scan.lost) {
        report(MessageTextFmt(LossMessage(l.reason), {l.name}));
    }
    outcome.recovered = static_cast<int>(scan.entries.size());
    outcome.lost = static_cast<int>(scan.lost.size());
    if (scan.entries.empty()) {
        throw EZipArchiver(ZA_CODE(zamsg::kRepairNothingFound));
    }
    // Written under a name of its own first: the target appears complete or
    // not at all.
    std::string folder = ExtractFilePath(outcome.target);
    const std::string temporary =
        platform::CreateTempFile(folder.empty() ? "." : folder, ".tarvik-repair-");
    if (temporary.empty()) {
        throw EZipArchiver(ZA_CODE(173));
    }
    AddTemporary(temporary, true);
    if (!WriteRepairedArchive(source, scan, temporary)) {
        throw EZipArchiver(ZA_CODE(175));
    }
    if (FileExists(outcome.target) || !platform::ReplaceFile(temporary, outcome.target)) {
        throw EZipArchiver(ZA_CODE(171));
    }
    const std::int64_t total = outcome.recovered + outcome.lost;
    ReportMessage(0,
                  MessageTextFmt(zamsg::kRepairRecovered, {std::int64_t{outcome.recovered}, total,
                                                           ExtractFileName(outcome.target)}));
    SetSuccessCount(outcome.recovered);
}
