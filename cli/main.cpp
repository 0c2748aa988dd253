// tarvik-cli: a command-line front end over the zip component.
//   tarvik-cli [--language CODE] [--sync] [--no-wait] COMMAND [ARGS...]

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "cli/CliCommand.h"
#include "platform/AtomicReplace.h"
#include "zip/messages/ZAMsg.h"

namespace {

void printUsage(const CliContext& ctx, std::ostream& out) {
    out << ctx.Tr(
        "Aufruf: tarvik-cli [--language CODE] [--sync] [--no-wait] BEFEHL [ARGUMENTE]\n\n"
        "Globale Optionen:\n"
        "  --language CODE   Sprache der Meldungen und dieser Hilfe (z. B. DE, US;\n"
        "                    ohne: die Sprache des Benutzers aus LC_ALL, LC_MESSAGES, "
        "LANG)\n"
        "  --sync            geänderte Archive erst auf die Platte schreiben, dann "
        "umbenennen\n"
        "  --no-wait         nicht warten, wenn ein anderes Programm das Archiv gerade ändert\n"
        "  --help            diese Hilfe\n\n"
        "Befehle:\n",
        "Usage: tarvik-cli [--language CODE] [--sync] [--no-wait] COMMAND [ARGUMENTS]\n\n"
        "Global options:\n"
        "  --language CODE   language of the messages and of this help (e.g. DE, US;\n"
        "                    without: the user's language from LC_ALL, LC_MESSAGES, "
        "LANG)\n"
        "  --sync            write changed archives to the disk before renaming them\n"
        "  --no-wait         fail at once when another program is changing the archive\n"
        "  --help            this help\n\n"
        "Commands:\n");
    // Each command: its form on one line, what it does below, wrapped.
    for (const CliCommand& command : CliCommands()) {
        const std::string_view usage = ctx.Tr(command.usage.de, command.usage.en);
        out << "  " << command.name << (usage.empty() ? "" : " ") << usage << '\n';
        std::string line = "      ";
        std::string_view help = ctx.Tr(command.help.de, command.help.en);
        while (!help.empty()) {
            const std::size_t end = help.find(' ');
            const std::string_view word = help.substr(0, end);
            if (line.size() > 6 && line.size() + 1 + word.size() > 78) {
                out << line << '\n';
                line = "      ";
            }
            line += (line.size() > 6 ? " " : "") + std::string(word);
            help = end == std::string_view::npos ? std::string_view() : help.substr(end + 1);
        }
        out << line << '\n';
    }
    out << ctx.Tr(
        "\nExit-Status (für jeden Befehl):\n"
        "  0  alles erledigt\n"
        "  1  erledigt, mit Warnungen oder übersprungenen Dateien\n"
        "  2  nichts erledigt, oder das Archiv ist unbrauchbar\n"
        "  3  falscher Aufruf (unbekannte Option, fehlendes Argument)\n"
        "Jede Meldung steht einmal auf der Standardfehlerausgabe, in UTF-8.\n",
        "\nExit status (for every command):\n"
        "  0  everything done\n"
        "  1  done, with warnings or files skipped\n"
        "  2  nothing done, or the archive is unusable\n"
        "  3  wrong usage (unknown option, missing argument)\n"
        "Every message appears once on standard error, in UTF-8.\n");
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> argList(argv + 1, argv + argc);
    CliContext ctx{{}, false, std::cout, std::cerr};

    // The global options first: the language decides how everything after
    // them is said, the help included.
    bool help = false;
    bool missingLanguage = false;
    std::size_t i = 0;
    for (; i < argList.size(); ++i) {
        const std::string& arg = argList[i];
        if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg == "--language" && i + 1 < argList.size()) {
            ctx.language = argList[++i];
        } else if (arg == "--sync") {
            // Also safe against a power loss right after the command, for
            // about a second per GiB written.
            platform::SetWaitForDisk(true);
        } else if (arg == "--no-wait") {
            ctx.noWait = true;
        } else if (arg.starts_with("--language=")) {
            ctx.language = arg.substr(11);
        } else if (arg == "--language") {
            missingLanguage = true;
        } else {
            break;
        }
    }
    // One language for every command, and UTF-8 for every text: the
    // component's messages, the engine's, and tarvik-cli's own.
    SetUseUTF8(true);
    const bool known = !SelectLanguage(ctx.language.empty() ? "*" : ctx.language).empty();
    ctx.german = (CurrentLanguageId() & 0x3FF) == 0x07;
    if (missingLanguage) {
        ctx.Say(ctx.Tr("--language braucht einen Sprachcode", "--language needs a language code"));
        return kExitUsage;
    }
    if (help) {
        printUsage(ctx, ctx.out);
        return kExitOk;
    }
    if (i == argList.size()) {
        printUsage(ctx, ctx.err);
        return kExitUsage;
    }
    if (!ctx.language.empty() && !known && ctx.language != "US") {
        ctx.Say(std::string(ctx.Tr("Sprache '", "language '")) + ctx.language +
                std::string(ctx.Tr("' nicht gefunden, es gilt die eingebaute Tabelle",
                                   "' not found, the built-in table is used")));
    }

    const std::string& name = argList[i];
    for (const CliCommand& command : CliCommands()) {
        if (command.name == name) {
            const std::span<const std::string> rest(argList.data() + i + 1, argList.size() - i - 1);
            return command.run(ctx, rest);
        }
    }
    ctx.Say(std::string(ctx.Tr("unbekannter Befehl '", "unknown command '")) + name + "' (" +
            std::string(ctx.Tr("tarvik-cli --help zeigt die Befehle",
                               "tarvik-cli --help lists the commands")) +
            ")");
    return kExitUsage;
}
