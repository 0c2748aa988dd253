// How a command's component speaks to the terminal: every error and every
// skipped file is said once, as one line on standard error in the chosen
// language, and the exit status follows from what happened.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "cli/CliCommand.h"
#include "zip/ZipArchiver.h"

class CliReport {
public:
    // Takes over the component's OnMessage and OnSkipped events.
    CliReport(CliContext& ctx, TCustomZipArchiver& zip);

    // Says the recorded error when no message has said it yet.
    void SayRecordedError();
    // The exit status: failure when an error was recorded or files were
    // skipped and nothing was done (`done` items), a warning when something
    // was done all the same or the archive loaded with a warning.
    int Status(std::int64_t done);

    // The archive the messages are about: a message that does not name it
    // yet is said after its name.
    void SetSubject(const std::string& archive) { subject_ = archive; }
    int Skipped() const { return skipped_; }
    bool Said() const { return !said_.empty(); }

private:
    void SayOnce(const std::string& text);

    CliContext& ctx_;
    TCustomZipArchiver& zip_;
    std::string subject_;
    std::set<std::string> said_;
    std::string lastError_;  // the last error said, until a skip follows it
    int skipped_ = 0;
};
