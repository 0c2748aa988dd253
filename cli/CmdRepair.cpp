// tarvik-cli repair DAMAGED [TARGET]
//
// Rescues the entries of a damaged archive into a new one (default: the
// name with "-repariert.zip"); the damaged file stays as it is. Exit status
// 0 when every entry was recovered, 1 when some were lost, 2 when none
// could be (or nothing was written).
#include "cli/CliZip.h"
#include "zip/ZARepair.h"

namespace {

constexpr int kRepairNothing = 2;

}  // namespace

int RunRepair(CliContext& ctx, std::span<const std::string> args) {
    if (args.empty() || args.size() > 2) {
        ctx.err << "Aufruf: tarvik-cli repair BESCHÄDIGT [ZIEL]\n";
        return kExitUsage;
    }
    CliZip zip(ctx, {});
    TZARepairOutcome outcome;
    const int error = zip->Repair(args[0], args.size() > 1 ? args[1] : std::string(), outcome);
    for (const std::string& m : outcome.messages) {
        ctx.err << "tarvik-cli: " << m << '\n';
    }
    if (error != 0) {
        zip.Finish();
        return kRepairNothing;
    }
    ctx.out << outcome.recovered << " von " << outcome.recovered + outcome.lost
            << " Einträgen gerettet: " << outcome.target << '\n';
    return outcome.lost == 0 ? kExitOk : kExitWarning;
}
