// tarvik-cli span --volume-size N [--numbered] ARCHIVE [TARGET]
// tarvik-cli join SET TARGET
//
// span writes ARCHIVE as a multi-part set of parts no larger than N bytes
// (suffixes k, m, g for KiB, MiB, GiB), named like Info-ZIP's sets
// (name.z01, name.z02, ..., name.zip) or, with --numbered, name001.zip ...;
// TARGET defaults to ARCHIVE itself. join writes a set (named by its last
// part) as one archive.

#include "cli/CliCommand.h"
#include "cli/CliZip.h"

int RunSpan(CliContext& ctx, std::span<const std::string> args) {
    std::int64_t volume = 0;
    bool numbered = false;
    std::vector<std::string> names;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--volume-size" && i + 1 < args.size()) {
            if (!ParseVolumeSize(args[++i], volume)) {
                ctx.Say(std::string(ctx.Tr("span: ungültige Größe '", "span: invalid size '")) +
                        args[i] + "'");
                return kExitUsage;
            }
        } else if (a == "--numbered") {
            numbered = true;
        } else if (!a.starts_with("--")) {
            names.push_back(a);
        } else {
            ctx.Say(std::string(
                        ctx.Tr("span: unerwartetes Argument '", "span: unexpected argument '")) +
                    a + "'");
            return kExitUsage;
        }
    }
    if (volume == 0 || names.empty() || names.size() > 2) {
        ctx.Say(ctx.Tr("span braucht --volume-size N und ein Archiv",
                       "span needs --volume-size N and an archive"));
        return kExitUsage;
    }
    CliZip zip(ctx, names[0]);
    if (!zip.Loaded()) {
        return kExitFailure;
    }
    SetVolumeOptions(*zip, volume, numbered);
    zip->Span(names.size() > 1 ? names[1] : std::string());
    return zip.Finish();
}

int RunJoin(CliContext& ctx, std::span<const std::string> args) {
    if (args.size() != 2) {
        ctx.Say(
            ctx.Tr("join braucht einen Teilesatz und ein Ziel", "join needs a set and a target"));
        return kExitUsage;
    }
    CliZip zip(ctx, args[0]);
    if (!zip.Loaded()) {
        return kExitFailure;
    }
    zip->Join(args[1]);
    return zip.Finish();
}
