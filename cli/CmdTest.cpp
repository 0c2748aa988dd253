// tarvik-cli test [-P PASSWORD --exact] ARCHIVE [ENTRYSPEC...]
//
// Checks the entries matching ENTRYSPEC (every entry without one: data and
// CRC-32) without writing. With --exact each ENTRYSPEC is an entry name taken
// literally.
#include "cli/CliEngineJob.h"

int RunTest(CliContext& ctx, std::span<const std::string> args) {
    CliSwitches sw;
    if (!ParseSwitches(ctx, args, "", "P", sw))
        return kExitUsage;
    if (sw.operands.empty()) {
        ctx.err << "Aufruf: tarvik-cli test [-P PASSWORT --exact] ARCHIV [EINTRAG...]\n";
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
    const bool all = sw.operands.size() == 1;
    const int entries = zip.Count();
    zip.Extract();
    const int status = job.ExitStatus();
    if (all)
        ctx.out << zip.SuccessCount() << " von " << entries << " Datei(en) geprüft\n";
    else
        ctx.out << zip.SuccessCount() << " Datei(en) geprüft\n";
    return status;
}
