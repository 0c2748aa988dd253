// A scratch folder for fuzz targets that must hand files to the code under
// test: created under $TMPDIR (see platform::TempFolder) on first use and
// removed with everything in it when the process ends normally, so a run
// leaves nothing behind.
#pragma once

#include <string>
#include <string_view>

#include "platform/TempFiles.h"

namespace fuzz {

class Scratch {
public:
    explicit Scratch(std::string_view prefix) : folder_(platform::CreateTempFolder("", prefix)) {
        if (folder_.empty()) {
            __builtin_trap();  // no writable temporary folder: nothing can be fuzzed
        }
    }
    ~Scratch() { platform::RemoveTree(folder_); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    // The folder, with a trailing "/".
    const std::string& Folder() const { return folder_; }
    std::string Path(std::string_view name) const { return folder_ + std::string(name); }

private:
    std::string folder_;
};

}  // namespace fuzz
