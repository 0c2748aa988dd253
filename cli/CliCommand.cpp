#include "cli/CliCommand.h"

namespace {

constexpr CliCommand kCommands[] = {
    {"--version", "", "Programm- und Komponentenversion anzeigen", RunVersion},
    {"languages", "", "Sprachtabellen des Meldungskatalogs auflisten", RunLanguages},
    {"list", "[--tsv] [--dirs] [--encoding auto|none|oem|utf8|upath] ARCHIV",
     "Einträge eines Zip-Archivs auflisten (--dirs: auch Ordnereinträge; --tsv: Name, gepackt, "
     "ungepackt, CRC-32, Methode, "
     "Datum, verschlüsselt; Steuerzeichen als \\t, \\n, \\xNN)",
     RunList},
};

}  // namespace

std::span<const CliCommand> CliCommands() {
    return kCommands;
}
