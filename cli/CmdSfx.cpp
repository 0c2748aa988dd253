// tarvik-cli sfx [--caption TEXT] [--message TEXT] [--dir FOLDER]
//                [--command LINE] [--stub PATH] [--icon FILE.ico]
//                [--volume-size N] ARCHIVE
// tarvik-cli unsfx PROGRAM.exe
//
// sfx writes ARCHIVE as a self-extracting program (its name with ".exe"),
// with the icon from an icon file when given; with --volume-size as a
// self-extracting set: parts of at most N bytes (ARCHIVE001.zip, ...)
// and the program holding the set's directory;
// unsfx writes a self-extracting program as a plain archive (".zip").

#include <fstream>
#include <iterator>

#include "cli/CliCommand.h"
#include "cli/CliZip.h"
#include "zip/ZAInternal.h"

int RunSfx(CliContext& ctx, std::span<const std::string> args) {
    std::string caption, message, dir, command, stub, icon, archive;
    std::int64_t volume = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--caption" && hasValue) {
            caption = args[++i];
        } else if (a == "--message" && hasValue) {
            message = args[++i];
        } else if (a == "--dir" && hasValue) {
            dir = args[++i];
        } else if (a == "--command" && hasValue) {
            command = args[++i];
        } else if (a == "--stub" && hasValue) {
            stub = args[++i];
        } else if (a == "--icon" && hasValue) {
            icon = args[++i];
        } else if (a == "--volume-size" && hasValue) {
            if (!ParseVolumeSize(args[++i], volume)) {
                ctx.Say(std::string(ctx.Tr("sfx: ungültige Größe '", "sfx: invalid size '")) +
                        args[i] + "'");
                return kExitUsage;
            }
        } else if (archive.empty() && !a.starts_with("--")) {
            archive = a;
        } else {
            ctx.Say(
                std::string(ctx.Tr("sfx: unerwartetes Argument '", "sfx: unexpected argument '")) +
                a + "'");
            return kExitUsage;
        }
    }
    if (archive.empty()) {
        ctx.Say(ctx.Tr("sfx braucht ein Archiv", "sfx needs an archive"));
        return kExitUsage;
    }
    CliZip zip(ctx, archive);
    if (!zip.Loaded()) {
        return kExitFailure;
    }
    zip->SetSFXCaption(caption);
    zip->SetSFXMessage(message);
    zip->SetSFXDefaultDir(dir);
    zip->SetSFXCommandLine(command);
    zip->SetSFXPath(stub);
    if (!icon.empty()) {
        std::ifstream in(icon, std::ios::binary);
        TZAIcon data{std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {})};
        if (!in && !in.eof()) {
            ctx.Say(std::string(ctx.Tr("sfx: Symbol '", "sfx: icon '")) + icon +
                    std::string(ctx.Tr("' nicht lesbar", "' cannot be read")));
            return kExitFailure;
        }
        zip->SetSFXIcon(&data);
    }
    if (volume > 0) {
        SetVolumeOptions(*zip, volume, true);
        zip->ConvertToSpanSFX();
    } else {
        zip->ConvertToSFX();
    }
    const int rc = zip.Finish();
    if (rc == kExitOk) {
        ctx.out << zip->ZipFileName() << '\n';
    }
    return rc;
}

int RunUnsfx(CliContext& ctx, std::span<const std::string> args) {
    if (args.size() != 1) {
        ctx.Say(ctx.Tr("unsfx braucht ein selbstentpackendes Programm",
                       "unsfx needs a self-extracting program"));
        return kExitUsage;
    }
    CliZip zip(ctx, args[0]);
    if (!zip.Loaded()) {
        return kExitFailure;
    }
    zip->ConvertToZIP();
    const int rc = zip.Finish();
    if (rc == kExitOk) {
        ctx.out << zip->ZipFileName() << '\n';
    }
    return rc;
}
