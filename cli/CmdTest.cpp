// tarvik-cli test [-P PASSWORD --exact] ARCHIVE [ENTRYSPEC...]
//
// Checks the entries matching ENTRYSPEC (all without one: data and CRC-32)
// without writing. The summary counts what the engine chose, folder entries
// included, so that its two numbers agree. With --exact each ENTRYSPEC is an
// entry name taken literally.
#include "cli/CliEngineJob.h"

int RunTest(CliContext& ctx, std::span<const std::string> args) {
    CliSwitches sw;
    if (!ParseSwitches(ctx, args, "", "P", sw))
        return kExitUsage;
    if (sw.operands.empty()) {
        ctx.Say(ctx.Tr("Aufruf: tarvik-cli test [-P PASSWORT --exact] ARCHIV [EINTRAG...]",
                       "usage: tarvik-cli test [-P PASSWORD --exact] ARCHIVE [ENTRY...]"));
        return kExitUsage;
    }
    CliJob job(ctx);
    TZipArchiver& zip = job.Zip();
    zip.SetExtrOptions(TZAExtrOpts{ExtrTest});
    if (sw.Has('P'))
        zip.SetPassword(sw.Value('P'));
    job.Open(sw.operands[0]);
    zip.SetFSpecArgs({sw.operands.begin() + 1, sw.operands.end()});
    zip.SetExactNames(sw.exact);
    zip.Extract();
    const int status = job.ExitStatus();
    ctx.out << zip.SuccessCount() << ctx.Tr(" von ", " of ") << job.Selected()
            << ctx.Tr(" Einträgen geprüft\n", " entries tested\n");
    return status;
}
