// tarvik-cli comment ARCHIVE TEXT
//
// Replaces the archive comment in place (only the end of the file is
// rewritten); an empty TEXT removes it.

#include "cli/CliCommand.h"
#include "cli/CliZip.h"

int RunComment(CliContext& ctx, std::span<const std::string> args) {
    if (args.size() != 2) {
        ctx.Say(ctx.Tr("comment braucht ein Archiv und einen Text",
                       "comment needs an archive and a text"));
        return kExitUsage;
    }
    CliZip zip(ctx, args[0]);
    if (!zip.Loaded()) {
        return kExitFailure;
    }
    zip->SetZipComment(args[1]);
    return zip.Finish();
}
