// Scratch folders and environment overrides shared by the platform tests.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "platform/TempFiles.h"

namespace platform_test {

// A fresh folder under the system temporary folder, removed with everything
// in it at the end of the test. Its name ends without a slash.
class ScratchFolder {
public:
    ScratchFolder() {
        path_ = platform::CreateTempFolder("/tmp", "tarvik-test-");
        if (!path_.empty()) {
            path_.pop_back();
        }
    }
    ~ScratchFolder() { platform::RemoveTree(path_); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Sets (or with nullptr unsets) an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = getenv(name)) {
            old_ = old;
        }
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_.c_str(), old_->c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// True when something (also a dangling link) has this name.
inline bool pathExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

inline void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace platform_test
