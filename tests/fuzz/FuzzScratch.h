// A scratch folder for fuzz targets that must hand files to the code under
// test: created under $TMPDIR (see platform::TempFolder) on first use and
// removed with everything in it when the process ends normally, so a run
// leaves nothing behind.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
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

// Puts an input into a file of the scratch folder. The file is overwritten and
// then cut to size rather than truncated first: a file truncated to nothing and
// written again is flushed to disk when closed (ext4's protection of replaced
// files), which would make every input cost a disk write.
inline bool WriteInput(const std::string& path, const std::uint8_t* data, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    bool ok = size == 0 || ::pwrite(fd, data, size, 0) == static_cast<ssize_t>(size);
    ok = ::ftruncate(fd, static_cast<off_t>(size)) == 0 && ok;
    return ::close(fd) == 0 && ok;
}

}  // namespace fuzz
