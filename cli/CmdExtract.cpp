// tarvik-cli extract [-d DIR -j -o -f -u -P PASSWORD --exact] ARCHIVE [ENTRYSPEC...]
//
// Extracts the entries matching ENTRYSPEC (all without one) through the
// component into DIR (the current folder without -d). As with unzip, the
// entries keep their folders; -j drops them (-p, the old switch for folders,
// is still accepted). A name that matches nothing is reported as skipped.
// With --exact each ENTRYSPEC is an entry name taken literally.
#include "cli/CliEngineJob.h"

int RunExtract(CliContext& ctx, std::span<const std::string> args) {
    CliSwitches sw;
    if (!ParseSwitches(ctx, args, "jpofu", "dP", sw))
        return kExitUsage;
    if (sw.operands.empty()) {
        ctx.Say(ctx.Tr("Aufruf: tarvik-cli extract [OPTIONEN] ARCHIV [EINTRAG...]",
                       "usage: tarvik-cli extract [OPTIONS] ARCHIVE [ENTRY...]"));
        return kExitUsage;
    }
    CliJob job(ctx);
    TZipArchiver& zip = job.Zip();
    TZAExtrOpts opts;
    const std::pair<char, TZAExtrOptsEnum> kMap[] = {
        {'o', ExtrOverWrite}, {'f', ExtrFreshen}, {'u', ExtrUpdate}};
    for (const auto& [c, member] : kMap)
        if (sw.Has(c))
            opts.include(member);
    if (!sw.Has('j'))
        opts.include(ExtrDirNames);
    // Like unzip -d, a target folder that does not exist yet is made.
    if (sw.Has('d'))
        opts.include(ExtrForceDirs);
    zip.SetExtrOptions(opts);
    zip.SetExtrBaseDir(sw.Has('d') ? sw.Value('d') : zip.RootDir());
    if (sw.Has('P'))
        zip.SetPassword(sw.Value('P'));
    job.Open(sw.operands[0]);
    zip.SetFSpecArgs({sw.operands.begin() + 1, sw.operands.end()});
    zip.SetExactNames(sw.exact);
    zip.Extract();
    const int status = job.ExitStatus();
    ctx.out << zip.SuccessCount() << ctx.Tr(" von ", " of ") << job.Selected()
            << ctx.Tr(" Einträgen entpackt\n", " entries extracted\n");
    return status;
}
