// What tarvik-cli add, extract and test share: a component wired to the
// terminal (every message and skipped file once on standard error, progress
// there when it is a terminal, passwords asked without echo) and the exit
// status.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "cli/CliCommand.h"
#include "cli/CliReport.h"
#include "zip/ZipArchiver.h"

class CliJob {
public:
    explicit CliJob(CliContext& ctx);
    ~CliJob();
    CliJob(const CliJob&) = delete;
    CliJob& operator=(const CliJob&) = delete;

    TZipArchiver& Zip() { return *zip_; }
    // Opens the archive (a missing one is fine for add).
    void Open(const std::string& archive);
    // The exit status after the operation (see CliReport::Status).
    int ExitStatus();
    // Entries the engine chose for the operation (its announced total).
    std::int64_t Selected() const { return selected_; }

private:
    CliContext& ctx_;
    std::unique_ptr<TZipArchiver> zip_;
    std::unique_ptr<CliReport> report_;
    std::int64_t selected_ = 0;
    std::int64_t folders_ = 0;  // folder entries among them
    bool progressShown_ = false;
};

// Splits "-abc" style switches; those in `withValue` take the next argument.
// "--exact" (names taken literally) sets `exact`.
// Returns false (and says why) on an unknown switch or a missing value.
struct CliSwitches {
    std::vector<std::pair<char, std::string>> given;
    std::vector<std::string> operands;
    bool exact = false;
    bool Has(char c) const;
    std::string Value(char c) const;
};
bool ParseSwitches(CliContext& ctx, std::span<const std::string> args, std::string_view known,
                   std::string_view withValue, CliSwitches& out);
