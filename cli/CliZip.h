// The zip component as the rewriting commands use it: unattended (errors go
// to the error stream once, never to a dialog), UTF-8 strings in the chosen
// language, and the archive named.
#pragma once

#include <cstdint>
#include <string>

#include "cli/CliCommand.h"
#include "cli/CliReport.h"
#include "zip/ZipArchiver.h"

class CliZip {
public:
    // `archive` may be empty (the multi-archive form of delete).
    CliZip(CliContext& ctx, const std::string& archive);

    TZipArchiver& operator*() { return zip_; }
    TZipArchiver* operator->() { return &zip_; }

    // Names the archive (when the constructor did not).
    void Open(const std::string& archive);
    // True when a message was said.
    bool Said() const { return report_.Said(); }
    // Says the recorded error (when no message said it) and returns the exit
    // status.
    int Finish();
    // False (with a message) when the archive could not be loaded.
    bool Loaded();

private:
    CliContext& ctx_;
    std::string archive_;
    TZipArchiver zip_;
    CliReport report_;
};

// "N", "Nk", "Nm" or "Ng" (KiB, MiB, GiB) as bytes; false when it is not a
// positive size.
bool ParseVolumeSize(const std::string& text, std::int64_t& out);
// Multi-part output with parts of at most `volume` bytes, named like
// Info-ZIP's sets (name.z01, ..., name.zip) or numbered (name001.zip, ...).
void SetVolumeOptions(TCustomZipArchiver& zip, std::int64_t volume, bool numbered);
