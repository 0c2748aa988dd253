// The subcommands of tarvik-cli: each is a name, a one-line help text and a
// function; main() parses the global options and dispatches.
#pragma once

#include <ostream>
#include <span>
#include <string>
#include <string_view>

// What every command gets: the global options and where to write.
struct CliContext {
    std::string language;  // --language CODE, empty when not given
    bool noWait = false;   // --no-wait: fail at once when another writer has the archive
    std::ostream& out;
    std::ostream& err;
    // The chosen language (--language, else the user's locale) is German.
    bool german = false;

    // The text in the chosen language: German or English.
    std::string_view Tr(std::string_view de, std::string_view en) const { return german ? de : en; }
    // One message on standard error: "tarvik-cli: " and the text as one line
    // of valid UTF-8 (see TerminalText).
    void Say(std::string_view text) const;
};

// A text as one line of valid UTF-8 for the terminal: a line break of a
// catalogue text becomes a blank; other control characters and bytes that are
// not UTF-8 are written as escapes (\t, \n, \r, \xNN), as `list --tsv` does.
std::string TerminalText(std::string_view text);

// Both languages of a help text.
struct CliText {
    std::string_view de;
    std::string_view en;
};

struct CliCommand {
    std::string_view name;
    CliText usage;  // arguments after the name, for the help text
    CliText help;
    int (*run)(CliContext& ctx, std::span<const std::string> args);
};

// All commands, in the order the help text lists them.
std::span<const CliCommand> CliCommands();

// Exit statuses, the same for every command.
inline constexpr int kExitOk = 0;       // everything done
inline constexpr int kExitWarning = 1;  // done, with files skipped or other warnings
inline constexpr int kExitFailure = 2;  // nothing done, or the archive is unusable
inline constexpr int kExitUsage = 3;    // wrong usage: unknown option, missing argument

int RunVersion(CliContext& ctx, std::span<const std::string> args);
int RunLanguages(CliContext& ctx, std::span<const std::string> args);
int RunList(CliContext& ctx, std::span<const std::string> args);
int RunAdd(CliContext& ctx, std::span<const std::string> args);
int RunExtract(CliContext& ctx, std::span<const std::string> args);
int RunTest(CliContext& ctx, std::span<const std::string> args);
int RunDelete(CliContext& ctx, std::span<const std::string> args);
int RunComment(CliContext& ctx, std::span<const std::string> args);
int RunSfx(CliContext& ctx, std::span<const std::string> args);
int RunUnsfx(CliContext& ctx, std::span<const std::string> args);
int RunSpan(CliContext& ctx, std::span<const std::string> args);
int RunJoin(CliContext& ctx, std::span<const std::string> args);
int RunRepair(CliContext& ctx, std::span<const std::string> args);
