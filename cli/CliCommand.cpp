#include "cli/CliCommand.h"

namespace {

constexpr CliCommand kCommands[] = {
    {"--version", "", "Programm- und Komponentenversion anzeigen", RunVersion},
    {"languages", "", "Sprachtabellen des Meldungskatalogs auflisten", RunLanguages},
};

}  // namespace

std::span<const CliCommand> CliCommands() {
    return kCommands;
}
