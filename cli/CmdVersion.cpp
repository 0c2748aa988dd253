#include "cli/CliCommand.h"

namespace {

// The zip component's version, as its Version property reports it.
constexpr std::string_view kComponentVersion = "1.9.1.0023";

}  // namespace

int RunVersion(CliContext& ctx, std::span<const std::string> args) {
    if (!args.empty()) {
        ctx.Say(ctx.Tr("--version erwartet keine Argumente", "--version takes no arguments"));
        return kExitUsage;
    }
    ctx.out << "tarvik-cli " << TARVIK_VERSION << ctx.Tr(" (Komponente ", " (component ")
            << kComponentVersion << ")\n";
    return kExitOk;
}
