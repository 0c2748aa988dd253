#include "cli/CliZip.h"

#include <algorithm>
#include <cctype>

CliZip::CliZip(CliContext& ctx, const std::string& archive) : ctx_(ctx), archive_(archive) {
    zip_.OnMessage = [this](TCustomZipArchiver&, int code, const std::string& text) {
        if (code != 0) {
            ctx_.err << "tarvik-cli: " << text << '\n';
            // Waiting for another writer is a notice, not the error.
            errorShown_ = errorShown_ || code != 187;
        }
    };
    zip_.OnSkipped = [this](TCustomZipArchiver&, const std::string& forFile, TZASkipTypes type,
                            int&) {
        ctx_.err << "tarvik-cli: übersprungen (" << SkipTypeName(type) << "): " << forFile << '\n';
    };
    zip_.SetUseUTF8(true);
    zip_.SetUnattended(true);
    zip_.Internal().WaitForLock = !ctx.noWait;
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
