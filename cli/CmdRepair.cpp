// tarvik-cli repair DAMAGED [TARGET]
//
// Rescues the entries of a damaged archive into a new one (default: the
// name with "-repariert.zip"); the damaged file stays as it is. Exit status
// 0 when every entry was recovered, 1 when some were lost, 2 when none
// could be (or nothing was written).
#include "cli/CliZip.h"
#include "zip/ZARepair.h"

int RunRepair(CliContext& ctx, std::span<const std::string> args) {
    if (args.empty() || args.size() > 2) {
        ctx.Say(ctx.Tr("Aufruf: tarvik-cli repair BESCHÄDIGT [ZIEL]",
                       "usage: tarvik-cli repair DAMAGED [TARGET]"));
        return kExitUsage;
    }
    CliZip zip(ctx, {});
    TZARepairOutcome outcome;
    const int error = zip->Repair(args[0], args.size() > 1 ? args[1] : std::string(), outcome);
    for (const std::string& m : outcome.messages) {
        ctx.Say(m);
    }
    if (error != 0) {
        zip.Finish();
        return kExitFailure;
    }
    ctx.out << outcome.recovered << ctx.Tr(" von ", " of ") << outcome.recovered + outcome.lost
            << ctx.Tr(" Einträgen gerettet: ", " entries recovered: ") << outcome.target << '\n';
    return outcome.lost == 0 ? kExitOk : kExitWarning;
}
