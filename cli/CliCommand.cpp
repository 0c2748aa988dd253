#include "cli/CliCommand.h"

#include <cstdio>
#include <iostream>

#include "platform/CodePage.h"

namespace {

constexpr CliCommand kCommands[] = {
    {"--version",
     {"", ""},
     {"Programm- und Komponentenversion anzeigen",
      "show the program's and the component's version"},
     RunVersion},
    {"languages",
     {"", ""},
     {"Sprachtabellen des Meldungskatalogs auflisten",
      "list the language tables of the message catalogue"},
     RunLanguages},
    {"list",
     {"[--tsv] [--dirs] [--encoding auto|none|oem|utf8|upath] ARCHIV",
      "[--tsv] [--dirs] [--encoding auto|none|oem|utf8|upath] ARCHIVE"},
     {"Einträge eines Zip-Archivs auflisten (--dirs: auch Ordnereinträge; --tsv: Name, gepackt, "
      "ungepackt, CRC-32, Methode, Datum, verschlüsselt; Steuerzeichen als \\t, \\n, \\xNN)",
      "list the entries of a zip archive (--dirs: folder entries too; --tsv: name, packed, "
      "unpacked, CRC-32, method, date, encrypted; control characters as \\t, \\n, \\xNN)"},
     RunList},
    {"add",
     {"[-r -j -I -m -f -u -E -L -0..-9 -P PASSWORT -s N[k|m|g] -N] ARCHIV DATEI...",
      "[-r -j -I -m -f -u -E -L -0..-9 -P PASSWORD -s N[k|m|g] -N] ARCHIVE FILE..."},
     {"Dateien hinzufügen, wie zip: mit Pfad, auch versteckte Dateien (-r Unterordner, -j ohne "
      "Pfad, -I ohne versteckte Dateien, -m verschieben, -f auffrischen, -u aktualisieren, -E "
      "leere Ordner, -L symbolischen Verknüpfungen folgen statt sie als Verknüpfungen zu "
      "speichern, -0..-9 Stufe, -P verschlüsseln, -s mehrteilig mit Teilen von höchstens N "
      "Bytes, -N Teile name001.zip ...; ARCHIV.exe: neues selbstentpackendes Programm; -p und -H "
      "werden angenommen)",
      "add files, as zip does: with their paths, hidden files too (-r subfolders, -j without "
      "paths, -I without hidden files, -m move, -f freshen, -u update, -E empty folders, -L follow "
      "symbolic links instead of storing them as links, -0..-9 "
      "level, -P encrypt, -s multi-part with parts of at most N bytes, -N parts name001.zip ...; "
      "ARCHIVE.exe: a new self-extracting program; -p and -H are accepted)"},
     RunAdd},
    {"extract",
     {"[-d ZIEL -j -o -f -u -P PASSWORT --exact] ARCHIV [EINTRAG...]",
      "[-d FOLDER -j -o -f -u -P PASSWORD --exact] ARCHIVE [ENTRY...]"},
     {"Einträge entpacken, wie unzip: mit Pfad (-d Zielordner, -j ohne Pfad, -o überschreiben, "
      "-f auffrischen, -u aktualisieren, --exact Namen wörtlich: * ? | ohne Sonderbedeutung; "
      "-p wird angenommen)",
      "extract entries, as unzip does: with their paths (-d target folder, -j without paths, -o "
      "overwrite, -f freshen, -u update, --exact names taken literally: * ? | are plain "
      "characters; -p is accepted)"},
     RunExtract},
    {"test",
     {"[-P PASSWORT --exact] ARCHIV [EINTRAG...]", "[-P PASSWORD --exact] ARCHIVE [ENTRY...]"},
     {"Einträge prüfen (alle ohne EINTRAG; --exact Namen wörtlich)",
      "test entries (all without ENTRY; --exact names taken literally)"},
     RunTest},
    {"delete",
     {"[--final] [--exact] [--exclude SPEC] ARCHIV EINTRAG...",
      "[--final] [--exact] [--exclude SPEC] ARCHIVE ENTRY..."},
     {"Einträge löschen (ARCHIV \"\": Zeilen 'a.zip >> b.txt'; --final: alte Fassung nicht in den "
      "Papierkorb; --exact Namen wörtlich)",
      "delete entries (ARCHIVE \"\": lines 'a.zip >> b.txt'; --final: the old version does not go "
      "to the trash; --exact names taken literally)"},
     RunDelete},
    {"comment",
     {"ARCHIV TEXT", "ARCHIVE TEXT"},
     {"Archivkommentar ersetzen (leerer TEXT entfernt ihn)",
      "replace the archive comment (an empty TEXT removes it)"},
     RunComment},
    {"sfx",
     {"[--caption T] [--message T] [--dir D] [--command C] [--stub PFAD] [--icon DATEI.ico] "
      "[--volume-size N] ARCHIV",
      "[--caption T] [--message T] [--dir D] [--command C] [--stub PATH] [--icon FILE.ico] "
      "[--volume-size N] ARCHIVE"},
     {"selbstentpackendes Programm ARCHIV.exe schreiben (mit --volume-size als geteiltes Archiv)",
      "write the self-extracting program ARCHIVE.exe (with --volume-size as a split archive)"},
     RunSfx},
    {"unsfx",
     {"PROGRAMM.exe", "PROGRAM.exe"},
     {"selbstentpackendes Programm in ein Zip-Archiv (.zip) umwandeln",
      "turn a self-extracting program into a zip archive (.zip)"},
     RunUnsfx},
    {"span",
     {"--volume-size N[k|m|g] [--numbered] ARCHIV [ZIEL]",
      "--volume-size N[k|m|g] [--numbered] ARCHIVE [TARGET]"},
     {"Archiv in Teile von höchstens N Bytes aufteilen (name.z01 ... name.zip)",
      "split an archive into parts of at most N bytes (name.z01 ... name.zip)"},
     RunSpan},
    {"join",
     {"TEILESATZ ZIEL", "SET TARGET"},
     {"mehrteiliges Archiv zu einem Archiv zusammenfügen",
      "join a multi-part archive into one archive"},
     RunJoin},
    {"repair",
     {"BESCHÄDIGT [ZIEL]", "DAMAGED [TARGET]"},
     {"beschädigtes Archiv retten (Ziel: name-repariert.zip)",
      "rescue the whole entries of a damaged archive (target: name-repariert.zip)"},
     RunRepair},
};

// Length of a well-formed UTF-8 sequence at the start of `s` (0: not one).
std::size_t Utf8SequenceLength(std::string_view s) {
    const auto b0 = static_cast<unsigned char>(s[0]);
    const std::size_t n = b0 < 0x80 ? 1 : b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC0 ? 2 : 0;
    return n != 0 && s.size() >= n && platform::IsValidUtf8(s.substr(0, n)) ? n : 0;
}

}  // namespace

std::span<const CliCommand> CliCommands() {
    return kCommands;
}

std::string TerminalText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        if (text.starts_with("\r\n")) {
            out += ' ';
            text.remove_prefix(2);
            continue;
        }
        const auto b = static_cast<unsigned char>(text[0]);
        const std::size_t n = b < 0x20 || b == 0x7F ? 0 : Utf8SequenceLength(text);
        if (n == 0) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += b == '\t' ? "\\t" : b == '\n' ? "\\n" : b == '\r' ? "\\r" : hex;
            text.remove_prefix(1);
            continue;
        }
        out.append(text.substr(0, n));
        text.remove_prefix(n);
    }
    return out;
}

void CliContext::Say(std::string_view text) const {
    err << "tarvik-cli: " << TerminalText(text) << '\n';
    err.flush();
}
