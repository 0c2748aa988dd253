#include "platform/ArchiveLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

namespace platform {

FileIdentity IdentifyFile(const std::string& path) {
    FileIdentity id;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return id;
    }
    id.exists = true;
    id.device = static_cast<std::uint64_t>(st.st_dev);
    id.inode = static_cast<std::uint64_t>(st.st_ino);
    id.size = static_cast<std::int64_t>(st.st_size);
    id.changedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return id;
}

namespace {

// The files (and folders) this process holds locks on: the descriptor that
// holds the flock(2) and how many ArchiveLock objects share it. flock would
// make a second lock of the same file in the same process wait for the first
// for ever, and closing any descriptor of the lock's open file would drop it.
struct Holder {
    int fd = -1;
    int count = 0;
};
std::mutex registryMutex;
std::map<std::pair<dev_t, ino_t>, Holder>& registry() {
    static std::map<std::pair<dev_t, ino_t>, Holder> held;
    // A child made by fork(2) holds none of its parent's locks.
    static pid_t owner = ::getpid();
    if (owner != ::getpid()) {
        held.clear();
        owner = ::getpid();
    }
    return held;
}

std::pair<dev_t, ino_t> keyOf(int fd) {
    struct stat st {};
    ::fstat(fd, &st);
    return {st.st_dev, st.st_ino};
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Whether `fd` still stands for what `path` names: the same file, or (for a
// folder lock) still no file under the name.
bool stillNamed(int fd, const std::string& path, bool folder) {
    struct stat byName {};
    const bool exists = ::stat(path.c_str(), &byName) == 0;
    if (folder) {
        return !exists;
    }
    struct stat held {};
    return exists && ::fstat(fd, &held) == 0 && held.st_dev == byName.st_dev &&
           held.st_ino == byName.st_ino;
}

}  // namespace

ArchiveLock::~ArchiveLock() {
    Release();
}

void ArchiveLock::Release() {
    if (held_) {
        std::lock_guard guard(registryMutex);
        const auto it = registry().find({static_cast<dev_t>(device_), static_cast<ino_t>(inode_)});
        if (it != registry().end() && --it->second.count == 0) {
            ::close(it->second.fd);  // drops the lock
            registry().erase(it);
        }
        held_ = false;
    }
    path_.clear();
}

ArchiveLock::Result ArchiveLock::Acquire(const std::string& path, bool wait,
                                         const std::function<bool(bool first)>& waiting) {
    Release();
    error_.clear();
    bool asked = false;
    for (;;) {
        bool folder = false;
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd < 0 && errno == ENOENT) {
            folder = true;
            fd = ::open(folderOf(path).c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY);
        }
        if (fd < 0) {
            error_ = std::strerror(errno);
            return Result::Failed;
        }
        const auto key = keyOf(fd);
        {
            // Held by this process already (the same file by another name):
            // nested, not waited for.
            std::lock_guard guard(registryMutex);
            const auto it = registry().find(key);
            if (it != registry().end()) {
                ++it->second.count;
                ::close(fd);
                held_ = true;
                device_ = key.first;
                inode_ = key.second;
                path_ = path;
                return Result::Locked;
            }
        }
        while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EWOULDBLOCK) {
                error_ = std::strerror(errno);
                ::close(fd);
                return Result::Failed;
            }
            const bool first = !asked;
            asked = true;
            if (!wait || (waiting && !waiting(first))) {
                ::close(fd);
                return Result::Busy;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        if (stillNamed(fd, path, folder)) {
            std::lock_guard guard(registryMutex);
            registry()[key] = {fd, 1};
            held_ = true;
            device_ = key.first;
            inode_ = key.second;
            path_ = path;
            return Result::Locked;
        }
        // Replaced (or created) while we waited: lock what the name has now.
        ::close(fd);
    }
}

}  // namespace platform
