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
};

struct CliCommand {
    std::string_view name;
    std::string_view usage;  // arguments after the name, for the help text
    std::string_view help;
    int (*run)(CliContext& ctx, std::span<const std::string> args);
};

// All commands, in the order the help text lists them.
std::span<const CliCommand> CliCommands();

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

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
