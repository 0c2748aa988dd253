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
    {"add", "[-r -p -m -f -u -H -E -0..-9 -P PASSWORT] ARCHIV DATEI...",
     "Dateien hinzufügen (-r Unterordner, -p mit Pfad, -m verschieben, -f auffrischen, -u "
     "aktualisieren, -H versteckte, -E leere Ordner, -0..-9 Stufe, -P verschlüsseln)",
     RunAdd},
    {"extract", "[-d ZIEL -p -o -f -u -P PASSWORT] ARCHIV [EINTRAG...]",
     "Einträge entpacken (-d Zielordner, -p mit Pfad, -o überschreiben, -f auffrischen, -u "
     "aktualisieren)",
     RunExtract},
    {"test", "[-P PASSWORT] ARCHIV", "Alle Einträge prüfen", RunTest},
};

}  // namespace

std::span<const CliCommand> CliCommands() {
    return kCommands;
}
