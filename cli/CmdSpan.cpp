// tarvik-cli span --volume-size N [--numbered] ARCHIVE [TARGET]
// tarvik-cli join SET TARGET
//
// span writes ARCHIVE as a multi-part set of parts no larger than N bytes
// (suffixes k, m, g for KiB, MiB, GiB), named like Info-ZIP's sets
// (name.z01, name.z02, ..., name.zip) or, with --numbered, name001.zip ...;
// TARGET defaults to ARCHIVE itself. join writes a set (named by its last
// part) as one archive.

#include <cctype>

#include "cli/CliCommand.h"
#include "cli/CliZip.h"

namespace {

bool parseSize(const std::string& text, std::int64_t& out) {
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

}  // namespace

int RunSpan(CliContext& ctx, std::span<const std::string> args) {
    std::int64_t volume = 0;
    bool numbered = false;
    std::vector<std::string> names;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--volume-size" && i + 1 < args.size()) {
            if (!parseSize(args[++i], volume)) {
                ctx.err << "tarvik-cli: span: ungültige Größe '" << args[i] << "'\n";
                return kExitUsage;
            }
        } else if (a == "--numbered") {
            numbered = true;
        } else if (!a.starts_with("--")) {
            names.push_back(a);
        } else {
            ctx.err << "tarvik-cli: span: unerwartetes Argument '" << a << "'\n";
            return kExitUsage;
        }
    }
    if (volume == 0 || names.empty() || names.size() > 2) {
        ctx.err << "tarvik-cli: span braucht --volume-size N und ein Archiv\n";
        return kExitUsage;
    }
    CliZip zip(ctx, names[0]);
    if (!zip.Loaded()) {
        return kExitFailure;
    }
    zip->SetMaxVolumeSize(volume);
    zip->SetMinFreeVolumeSize(static_cast<std::uint32_t>(std::min<std::int64_t>(volume, 65536)));
    TZASpanOpts span = zip->SpanOptions();
    span.exclude(spCompatName).exclude(spNoVolumeName);
    span.include(numbered ? spNoVolumeName : spCompatName);
    zip->SetSpanOptions(span);
    zip->Span(names.size() > 1 ? names[1] : std::string());
    return zip.Finish();
}

int RunJoin(CliContext& ctx, std::span<const std::string> args) {
    if (args.size() != 2) {
        ctx.err << "tarvik-cli: join braucht einen Teilesatz und ein Ziel\n";
        return kExitUsage;
    }
    CliZip zip(ctx, args[0]);
    if (!zip.Loaded()) {
        return kExitFailure;
    }
    zip->Join(args[1]);
    return zip.Finish();
}
