#include "cli/CliZip.h"

#include <algorithm>
#include <cctype>

#include "zip/messages/ZAMsg.h"

CliZip::CliZip(CliContext& ctx, const std::string& archive)
    : ctx_(ctx), archive_(archive), report_(ctx, zip_) {
    zip_.SetUseUTF8(true);
    zip_.SetUnattended(true);
    zip_.Internal().WaitForLock = !ctx.noWait;
    if (!archive.empty()) {
        Open(archive);
    }
}

void CliZip::Open(const std::string& archive) {
    archive_ = archive;
    report_.SetSubject(archive);
    zip_.SetZipFileName(archive);
}

bool CliZip::Loaded() {
    if (zip_.ArchiveLoaded()) {
        return true;
    }
    report_.SayRecordedError();
    if (!report_.Said()) {
        ctx_.Say(archive_ + ": " + MessageText(123));
    }
    return false;
}

int CliZip::Finish() {
    return report_.Status(zip_.SuccessCount());
}

bool ParseVolumeSize(const std::string& text, std::int64_t& out) {
    std::size_t used = 0;
    long long v = 0;
    try {
        v = std::stoll(text, &used);
    } catch (...) {
        return false;
    }
    std::string unit = text.substr(used);
    for (char& c : unit) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const std::int64_t factor = unit.empty()  ? 1
                                : unit == "k" ? 1024
                                : unit == "m" ? 1024 * 1024
                                : unit == "g" ? 1024LL * 1024 * 1024
                                              : 0;
    if (factor == 0 || v <= 0) {
        return false;
    }
    out = v * factor;
    return true;
}

void SetVolumeOptions(TCustomZipArchiver& zip, std::int64_t volume, bool numbered) {
    zip.SetMaxVolumeSize(volume);
    zip.SetMinFreeVolumeSize(static_cast<std::uint32_t>(std::min<std::int64_t>(volume, 65536)));
    TZASpanOpts span = zip.SpanOptions();
    span.exclude(spCompatName).exclude(spNoVolumeName);
    span.include(numbered ? spNoVolumeName : spCompatName);
    zip.SetSpanOptions(span);
}
