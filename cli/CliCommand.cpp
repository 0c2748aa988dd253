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
    {"add", "[-r -p -m -f -u -H -E -0..-9 -P PASSWORT -s N[k|m|g] -N] ARCHIV DATEI...",
     "Dateien hinzufügen (-r Unterordner, -p mit Pfad, -m verschieben, -f auffrischen, -u "
     "aktualisieren, -H versteckte, -E leere Ordner, -0..-9 Stufe, -P verschlüsseln, -s "
     "mehrteilig mit Teilen von höchstens N Bytes, -N Teile name001.zip ...; ARCHIV.exe: "
     "neues selbstentpackendes Programm, mit -s geteilt: ARCHIV.exe und ARCHIV001.zip ...)",
     RunAdd},
    {"extract", "[-d ZIEL -p -o -f -u -P PASSWORT] ARCHIV [EINTRAG...]",
     "Einträge entpacken (-d Zielordner, -p mit Pfad, -o überschreiben, -f auffrischen, -u "
     "aktualisieren)",
     RunExtract},
    {"test", "[-P PASSWORT] ARCHIV", "Alle Einträge prüfen", RunTest},
    {"delete", "[--final] [--exclude SPEC] ARCHIV EINTRAG...",
     "Einträge löschen (ARCHIV \"\": Zeilen 'a.zip >> b.txt'; --final: alte Fassung nicht in den "
     "Papierkorb)",
     RunDelete},
    {"comment", "ARCHIV TEXT", "Archivkommentar ersetzen (leerer TEXT entfernt ihn)", RunComment},
    {"sfx",
     "[--caption T] [--message T] [--dir D] [--command C] [--stub PFAD] [--icon DATEI.ico] "
     "[--volume-size N] ARCHIV",
     "selbstentpackendes Programm ARCHIV.exe schreiben (mit --volume-size als geteiltes Archiv)",
     RunSfx},
    {"unsfx", "PROGRAMM.exe", "selbstentpackendes Programm in ein Zip-Archiv (.zip) umwandeln",
     RunUnsfx},
    {"span", "--volume-size N[k|m|g] [--numbered] ARCHIV [ZIEL]",
     "Archiv in Teile von höchstens N Bytes aufteilen (name.z01 ... name.zip)", RunSpan},
    {"join", "TEILESATZ ZIEL", "mehrteiliges Archiv zu einem Archiv zusammenfügen", RunJoin},
    {"repair", "BESCHÄDIGT [ZIEL]", "beschädigtes Archiv retten (Ziel: name-repariert.zip)",
     RunRepair},
};

}  // namespace

std::span<const CliCommand> CliCommands() {
    return kCommands;
}
