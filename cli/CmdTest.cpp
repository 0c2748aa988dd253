// tarvik-cli test [-P PASSWORD] ARCHIVE
//
// Checks every entry of the archive (data and CRC-32) without writing.
#include "cli/CliEngineJob.h"

int RunTest(CliContext& ctx, std::span<const std::string> args) {
    CliSwitches sw;
    if (!ParseSwitches(ctx, args, "", "P", sw))
        return kExitUsage;
    if (sw.operands.size() != 1) {
        ctx.err << "Aufruf: tarvik-cli test [-P PASSWORT] ARCHIV\n";
        return kExitUsage;
    }
    CliJob job(ctx);
    TZipArchiver& zip = job.Zip();
    zip.SetExtrOptions(TZAExtrOpts{ExtrTest});
    if (sw.Has('P'))
        zip.SetPassword(sw.Value('P'));
    job.Open(sw.operands[0]);
    const int entries = zip.Count();
    zip.Extract();
    const int status = job.ExitStatus();
    ctx.out << zip.SuccessCount() << " von " << entries << " Datei(en) geprüft\n";
    return status;
}
