#include <algorithm>
#include <cstdio>

#include "cli/CliCommand.h"
#include "platform/CodePage.h"
#include "zip/messages/ZAMsg.h"

namespace {

void printLine(CliContext& ctx, std::string_view code, int id, std::string_view name,
               bool selected) {
    char hexId[16];
    std::snprintf(hexId, sizeof hexId, "0x%04X", static_cast<unsigned>(id));
    std::string line = std::string(selected ? "* " : "  ") + std::string(code);
    line.resize(std::max<std::size_t>(line.size() + 1, 8), ' ');
    // Catalogue texts are ANSI; the terminal wants UTF-8.
    ctx.out << line << hexId << "  " << platform::AnsiToUtf8(name) << '\n';
}

}  // namespace

// Lists the built-in table and every block of the language resource; the
// selected one (after --language) is marked with "*".
int RunLanguages(CliContext& ctx, std::span<const std::string> args) {
    if (!args.empty()) {
        ctx.Say(ctx.Tr("languages erwartet keine Argumente", "languages takes no arguments"));
        return kExitUsage;
    }
    const int selectedId = CurrentLanguageId();
    const std::string selectedName = CurrentLanguageName();
    const bool builtIn = selectedName == "US: default";
    printLine(ctx, "US", 1033, "US: default", builtIn);
    bool marked = builtIn;
    for (const TZALanguageInfo& language : AvailableLanguages()) {
        const bool selected =
            !marked && language.code == selectedName && language.languageId == selectedId;
        marked = marked || selected;
        printLine(ctx, language.code, language.languageId, language.name, selected);
    }
    return kExitOk;
}
