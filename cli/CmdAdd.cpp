// tarvik-cli add [-r -p -m -f -u -H -E -0..-9 -P PASSWORD] ARCHIVE FILESPEC...
//
// Adds files and folders through the component. Names are taken relative to
// the current folder (the component's RootDir), as Info-ZIP zip stores them.
#include "cli/CliEngineJob.h"

int RunAdd(CliContext& ctx, std::span<const std::string> args) {
    CliSwitches sw;
    if (!ParseSwitches(ctx, args, "rpmfuHE0123456789", "P", sw))
        return kExitUsage;
    if (sw.operands.size() < 2 && !(sw.operands.size() == 1 && (sw.Has('f') || sw.Has('u')))) {
        ctx.err << "Aufruf: tarvik-cli add [OPTIONEN] ARCHIV DATEI...\n";
        return kExitUsage;
    }
    CliJob job(ctx);
    TZipArchiver& zip = job.Zip();
    TZAAddOpts opts;
    const std::pair<char, TZAAddOptsEnum> kMap[] = {
        {'r', AddRecurseDirs}, {'p', AddDirNames},    {'m', AddMove},     {'f', AddFreshen},
        {'u', AddUpdate},      {'H', AddHiddenFiles}, {'E', AddEmptyDirs}};
    for (const auto& [c, member] : kMap)
        if (sw.Has(c))
            opts.include(member);
    for (const auto& [c, value] : sw.given)
        if (c >= '0' && c <= '9')
            zip.SetAddCompLevel(c - '0');
    if (sw.Has('P')) {
        opts.include(AddEncrypt);
        zip.SetPassword(sw.Value('P'));
    }
    zip.SetAddOptions(opts);
    job.Open(sw.operands[0]);
    zip.SetFSpecArgs({sw.operands.begin() + 1, sw.operands.end()});
    zip.Add();
    const int status = job.ExitStatus();
    ctx.out << zip.SuccessCount() << " Datei(en) hinzugefügt\n";
    return status;
}
