#include "cli/CliZip.h"

#include <algorithm>

CliZip::CliZip(CliContext& ctx, const std::string& archive) : ctx_(ctx), archive_(archive) {
    zip_.OnMessage = [this](TCustomZipArchiver&, int code, const std::string& text) {
        if (code != 0) {
            ctx_.err << "tarvik-cli: " << text << '\n';
            errorShown_ = true;
        }
    };
    zip_.OnSkipped = [this](TCustomZipArchiver&, const std::string& forFile, TZASkipTypes type,
                            int&) {
        ctx_.err << "tarvik-cli: übersprungen (" << SkipTypeName(type) << "): " << forFile << '\n';
    };
    zip_.SetUseUTF8(true);
    zip_.SetUnattended(true);
    if (ctx.language.empty()) {
        zip_.SetLanguage("DE");
    }
    if (!archive.empty()) {
        zip_.SetZipFileName(archive);
    }
}

bool CliZip::Loaded() {
    if (zip_.ArchiveLoaded()) {
        return true;
    }
    if (!errorShown_) {
        ctx_.err << "tarvik-cli: " << archive_ << ": " << zip_.ErrMessage() << '\n';
    }
    return false;
}

int CliZip::Finish() {
    if (zip_.ErrCode() == 0) {
        return kExitOk;
    }
    if (!errorShown_) {
        ctx_.err << "tarvik-cli: " << zip_.ErrMessage() << '\n';
    }
    return kExitFailure;
}

void CliZip::SetParts(std::int64_t volume, bool numbered) {
    zip_.SetMaxVolumeSize(volume);
    zip_.SetMinFreeVolumeSize(static_cast<std::uint32_t>(std::min<std::int64_t>(volume, 65536)));
    TZASpanOpts span = zip_.SpanOptions();
    span.exclude(spCompatName).exclude(spNoVolumeName);
    span.include(numbered ? spNoVolumeName : spCompatName);
    zip_.SetSpanOptions(span);
}
