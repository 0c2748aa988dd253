// tarvik-cli delete [--final] [--exact] ARCHIVE ENTRYSPEC...
//
// Deletes the entries matching the specifications (wildcards "*" and "?",
// lists with "|"; "--exclude SPEC" leaves matching entries alone). With
// --exact each ENTRYSPEC (and SPEC) is an entry name taken literally. With an
// empty ARCHIVE ("") each ENTRYSPEC is a line naming an archive and what to
// delete from it: "a.zip >> docs/b.txt", or just "a.zip" for every entry.
// The old archive goes to the trash unless --final.

#include "cli/CliCommand.h"
#include "cli/CliZip.h"

int RunDelete(CliContext& ctx, std::span<const std::string> args) {
    bool final = false;
    bool exact = false;
    std::vector<std::string> specs;
    std::vector<std::string> excludes;
    std::string archive;
    bool haveArchive = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--final") {
            final = true;
        } else if (a == "--exact") {
            exact = true;
        } else if (a == "--exclude" && i + 1 < args.size()) {
            excludes.push_back(args[++i]);
        } else if (!haveArchive) {
            archive = a;
            haveArchive = true;
        } else {
            specs.push_back(a);
        }
    }
    if (!haveArchive || specs.empty()) {
        ctx.Say(ctx.Tr("delete braucht ein Archiv und mindestens eine Angabe",
                       "delete needs an archive and at least one entry"));
        return kExitUsage;
    }
    CliZip zip(ctx, archive);
    if (!archive.empty() && !zip.Loaded()) {
        return kExitFailure;
    }
    zip->SetHowToDelete(final ? htdFinal : htdAllowUndo);
    zip->SetFSpecArgs(specs);
    zip->SetFSpecArgsExcl(excludes);
    zip->SetExactNames(exact);
    zip->Delete();
    const int rc = zip.Finish();
    if (rc != kExitFailure) {
        ctx.out << zip->SuccessCount() << ctx.Tr(" Einträge gelöscht\n", " entries deleted\n");
    }
    return rc;
}
