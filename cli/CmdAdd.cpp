// tarvik-cli add [-r -j -I -m -f -u -E -L -0..-9 -P PASSWORD -s SIZE -N] ARCHIVE FILESPEC...
//
// Adds files and folders through the component. As with Info-ZIP zip, names
// keep their paths relative to the current folder (the component's RootDir)
// and hidden files are included; -j drops the paths, -I leaves hidden files
// out (-p and -H, the old switches for the two, are still accepted).
// Symbolic links are stored as links; -L follows them.
// -s SIZE writes the archive as a multi-part set (zip -s style names, or
// numbered ones with -N); an ARCHIVE.exe that does not exist yet becomes a
// new self-extracting program, with -s a self-extracting set (the program
// with the set's directory beside its parts ARCHIVE001.zip, ...).
#include "cli/CliEngineJob.h"
#include "cli/CliZip.h"

int RunAdd(CliContext& ctx, std::span<const std::string> args) {
    CliSwitches sw;
    if (!ParseSwitches(ctx, args, "rjIpmfuHEL0123456789N", "Ps", sw))
        return kExitUsage;
    std::int64_t volume = 0;
    if (sw.Has('s') && !ParseVolumeSize(sw.Value('s'), volume)) {
        ctx.Say(std::string(ctx.Tr("add: ungültige Größe '", "add: invalid size '")) +
                sw.Value('s') + "'");
        return kExitUsage;
    }
    if (sw.operands.size() < 2 && !(sw.operands.size() == 1 && (sw.Has('f') || sw.Has('u')))) {
        ctx.Say(ctx.Tr("Aufruf: tarvik-cli add [OPTIONEN] ARCHIV DATEI...",
                       "usage: tarvik-cli add [OPTIONS] ARCHIVE FILE..."));
        return kExitUsage;
    }
    CliJob job(ctx);
    TZipArchiver& zip = job.Zip();
    TZAAddOpts opts;
    const std::pair<char, TZAAddOptsEnum> kMap[] = {{'r', AddRecurseDirs}, {'m', AddMove},
                                                    {'f', AddFreshen},     {'u', AddUpdate},
                                                    {'E', AddEmptyDirs},   {'L', AddFollowLinks}};
    for (const auto& [c, member] : kMap)
        if (sw.Has(c))
            opts.include(member);
    if (!sw.Has('j'))
        opts.include(AddDirNames);
    if (!sw.Has('I'))
        opts.include(AddHiddenFiles);
    for (const auto& [c, value] : sw.given)
        if (c >= '0' && c <= '9')
            zip.SetAddCompLevel(c - '0');
    if (sw.Has('P')) {
        opts.include(AddEncrypt);
        zip.SetPassword(sw.Value('P'));
    }
    zip.SetAddOptions(opts);
    if (volume > 0) {
        SetVolumeOptions(zip, volume, sw.Has('N'));
        zip.SetWriteOptions(zip.WriteOptions() + zwoDiskSpan);
    }
    job.Open(sw.operands[0]);
    zip.SetFSpecArgs({sw.operands.begin() + 1, sw.operands.end()});
    zip.Add();
    const int status = job.ExitStatus();
    ctx.out << zip.SuccessCount() << ctx.Tr(" Einträge hinzugefügt\n", " entries added\n");
    return status;
}
