// The zip component as the rewriting commands use it: unattended (errors go
// to the error stream, never to a dialog), UTF-8 strings, the window's
// language unless --language chose one, and the archive named.
#pragma once

#include <string>

#include "cli/CliCommand.h"
#include "zip/ZipArchiver.h"

class CliZip {
public:
    // `archive` may be empty (the multi-archive form of delete).
    CliZip(CliContext& ctx, const std::string& archive);

    TZipArchiver& operator*() { return zip_; }
    TZipArchiver* operator->() { return &zip_; }

    // Prints the recorded error (when there is one) and returns the exit code.
    int Finish();
    // False (with a message) when the archive could not be loaded.
    bool Loaded();
    // Sets are written with parts of at most `volume` bytes, named
    // name001.zip, ... (`numbered`) or name.z01, ..., name.zip.
    void SetParts(std::int64_t volume, bool numbered);

private:
    CliContext& ctx_;
    std::string archive_;
    TZipArchiver zip_;
    bool errorShown_ = false;
};
