#include "platform/InstanceFolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/TempFiles.h"

namespace platform {

namespace {

constexpr std::size_t kUniqueLength = 6;
// While a folder is being made and locked, its name has this in front of the
// unique part, so that cleaners do not take it for a stale folder.
constexpr std::string_view kNewMark = "new-";

// The locks this process holds, by folder (with trailing "/").
std::mutex& locksMutex() {
    static std::mutex m;
    return m;
}
std::map<std::string, int>& locks() {
    static std::map<std::string, int> held;
    return held;
}

std::string withoutSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

void setError(std::string* error, int code) {
    if (error) {
        *error = std::strerror(code);
    }
}

}  // namespace

std::string CreateInstanceFolder(std::string_view folder, std::string_view prefix,
                                 std::string* error) {
    const std::string base = WithTrailingSlash(folder.empty() ? TempFolder() : std::string(folder));
    const std::string made =
        CreateTempFolder(base, std::string(prefix) + std::string(kNewMark), error);
    if (made.empty()) {
        return {};
    }
    const std::string madePath = withoutSlash(made);
    const int fd = ::open(madePath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        setError(error, errno);
        if (fd >= 0) {
            ::close(fd);
        }
        ::rmdir(madePath.c_str());
        return {};
    }
    // The same unique characters without the mark; never over another folder.
    const std::string unique = madePath.substr(madePath.size() - kUniqueLength);
    const std::string finalPath = base + std::string(prefix) + unique;
    if (::renameat2(AT_FDCWD, madePath.c_str(), AT_FDCWD, finalPath.c_str(), RENAME_NOREPLACE) !=
        0) {
        setError(error, errno);
        ::close(fd);
        ::rmdir(madePath.c_str());
        return {};
    }
    const std::string result = WithTrailingSlash(finalPath);
    std::lock_guard<std::mutex> guard(locksMutex());
    locks()[result] = fd;
    return result;
}

bool ReleaseInstanceFolder(const std::string& path) {
    const std::string key = WithTrailingSlash(path);
    const bool removed = RemoveTree(key);
    std::lock_guard<std::mutex> guard(locksMutex());
    auto it = locks().find(key);
    if (it != locks().end()) {
        ::close(it->second);
        locks().erase(it);
    }
    return removed;
}

int RemoveStaleInstanceFolders(std::string_view folder, std::string_view prefix) {
    const std::string base = WithTrailingSlash(folder.empty() ? TempFolder() : std::string(folder));
    DIR* dir = ::opendir(base.c_str());
    if (!dir) {
        return 0;
    }
    int removed = 0;
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view name = e->d_name;
        if (name.substr(0, prefix.size()) != prefix) {
            continue;
        }
        // A folder still marked new whose lock nobody holds was left by an
        // instance that died while making it. (Its maker, should it be alive
        // between making and locking it, finds it gone and fails cleanly.)
        const std::string_view rest = name.substr(prefix.size());
        if (rest.size() != kUniqueLength && (rest.size() != kNewMark.size() + kUniqueLength ||
                                             rest.substr(0, kNewMark.size()) != kNewMark)) {
            continue;
        }
        const std::string path = base + std::string(name);
        struct stat st;
        // Only real folders of this user; a link is never followed.
        if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) {
            continue;
        }
        {
            std::lock_guard<std::mutex> guard(locksMutex());
            if (locks().count(path + "/") != 0) {
                continue;  // this process's own
            }
        }
        const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        // A lock that can be taken belongs to no running instance.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            if (RemoveTree(path)) {
                ++removed;
            }
        }
        ::close(fd);
    }
    ::closedir(dir);
    return removed;
}

namespace {

constexpr std::string_view kWorkPrefix = "tarvik-work-";

}  // namespace

std::string ProcessWorkFolder() {
    static const std::string folder = [] {
        RemoveStaleWorkFolders();
        std::string made = CreateInstanceFolder({}, kWorkPrefix);
        if (made.empty()) {
            return TempFolder();
        }
        static std::string removeAtExit;
        removeAtExit = made;
        std::atexit([] { ReleaseInstanceFolder(removeAtExit); });
        return made;
    }();
    return folder;
}

void RemoveStaleWorkFolders() {
    static std::once_flag once;
    std::call_once(once, [] { RemoveStaleInstanceFolders({}, kWorkPrefix); });
}

}  // namespace platform
