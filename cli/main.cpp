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

void printUsage(std::ostream& out) {
    out << "Aufruf: tarvik-cli [--language CODE] [--sync] [--no-wait] BEFEHL [ARGUMENTE]\n\n"
           "Globale Optionen:\n"
           "  --language CODE   Sprache des Meldungskatalogs (z. B. DE, * = Systemsprache)\n"
           "  --sync            geänderte Archive erst auf die Platte schreiben, dann umbenennen\n"
           "  --no-wait         nicht warten, wenn ein anderes Programm das Archiv gerade ändert\n"
           "  --help            diese Hilfe\n\n"
           "Befehle:\n";
    for (const CliCommand& command : CliCommands()) {
        std::string head = "  " + std::string(command.name);
        if (!command.usage.empty()) {
            head += ' ' + std::string(command.usage);
        }
        head.resize(std::max<std::size_t>(head.size() + 1, 20), ' ');
        out << head << command.help << '\n';
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> argList(argv + 1, argv + argc);
    CliContext ctx{{}, false, std::cout, std::cerr};

    std::size_t i = 0;
    for (; i < argList.size(); ++i) {
        const std::string& arg = argList[i];
        if (arg == "--help" || arg == "-h") {
            printUsage(ctx.out);
            return kExitOk;
        }
        if (arg == "--language" && i + 1 < argList.size()) {
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
            ctx.err << "tarvik-cli: --language braucht einen Sprachcode\n";
            return kExitUsage;
        } else {
            break;
        }
    }
    if (i == argList.size()) {
        printUsage(ctx.err);
        return kExitUsage;
    }
    if (!ctx.language.empty() && SelectLanguage(ctx.language).empty() && ctx.language != "US") {
        ctx.err << "tarvik-cli: Sprache '" << ctx.language
                << "' nicht gefunden, es gilt die eingebaute Tabelle\n";
    }

    const std::string& name = argList[i];
    for (const CliCommand& command : CliCommands()) {
        if (command.name == name) {
            const std::span<const std::string> rest(argList.data() + i + 1, argList.size() - i - 1);
            return command.run(ctx, rest);
        }
    }
    ctx.err << "tarvik-cli: unbekannter Befehl '" << name << "'\n";
    printUsage(ctx.err);
    return kExitUsage;
}
