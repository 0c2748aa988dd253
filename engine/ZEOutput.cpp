#include "ZEOutput.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ze {

bool safeComponents(const std::string& name, std::vector<std::string>& parts) {
    parts.clear();
    if (name.empty() || name.find('\0') != std::string::npos)
        return false;
    if (name[0] == '/' || name[0] == '\\')
        return false;
    if (name.size() >= 2 && name[1] == ':' && isalpha(uint8_t(name[0])))
        return false;
    std::string cur;
    auto flush = [&]() {
        if (cur == "..")
            return false;
        if (!cur.empty() && cur != ".")
            parts.push_back(cur);
        cur.clear();
        return true;
    };
    for (char c : name) {
        if (c == '/' || c == '\\') {
            if (!flush())
                return false;
        } else {
            cur.push_back(uint8_t(c) < 32 || c == 127 ? '_' : c);
        }
    }
    return flush();
}

bool symlinkInside(const std::vector<std::string>& linkParts, const std::string& target) {
    if (target.empty() || target[0] == '/' || target.find('\0') != std::string::npos)
        return false;
    std::vector<std::string> stack(linkParts.begin(), linkParts.end() - 1);
    std::string cur;
    auto step = [&]() {
        if (cur == "..") {
            if (stack.empty())
                return false;
            stack.pop_back();
        } else if (!cur.empty() && cur != ".") {
            stack.push_back(cur);
        }
        cur.clear();
        return true;
    };
    for (char c : target) {
        if (c == '/') {
            if (!step())
                return false;
        } else {
            cur.push_back(c);
        }
    }
    return step();
}

DirHandle::~DirHandle() {
    if (owned && fd >= 0)
        close(fd);
}

TargetDir::TargetDir(int baseFd) : base_(std::make_shared<DirHandle>()) {
    base_->fd = baseFd;
    base_->owned = false;
    // An empty target folder is as good as one the job made. Read through its own
    // descriptor: fdopendir takes the one it is given.
    int probe = openat(baseFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (DIR* d = probe >= 0 ? fdopendir(probe) : nullptr) {
        bool empty = true;
        while (dirent* de = readdir(d))
            if (strcmp(de->d_name, ".") != 0 && strcmp(de->d_name, "..") != 0) {
                empty = false;
                break;
            }
        closedir(d);
        base_->fresh = empty;
    } else if (probe >= 0) {
        close(probe);
    }
}

void TargetDir::remember(const std::string& key, const Dir& dir) {
    if (open_.size() >= kOpenFolders) {
        auto oldest = open_.begin();
        for (auto it = open_.begin(); it != open_.end(); ++it)
            if (it->second.used < oldest->second.used)
                oldest = it;
        open_.erase(oldest);
    }
    open_[key] = {dir, ++tick_};
}

Dir TargetDir::openDir(const std::vector<std::string>& parts, size_t n, bool create) {
    if (n == 0)
        return base_;
    // The keys of the path's folders: "a/", "a/b/", ...
    std::vector<std::string> keys(n);
    std::string key;
    for (size_t i = 0; i < n; ++i) {
        key += parts[i];
        key += '/';
        keys[i] = key;
    }
    Dir dir = base_;
    size_t from = 0;
    for (size_t i = n; i-- > 0;) {
        auto it = open_.find(keys[i]);
        if (it != open_.end()) {
            it->second.used = ++tick_;
            dir = it->second.dir;
            from = i + 1;
            break;
        }
    }
    for (size_t i = from; i < n; ++i) {
        const char* name = parts[i].c_str();
        bool madeNow = false;
        int next = openat(dir->fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT && create) {
            if (mkdirat(dir->fd, name, 0777) == 0)
                madeNow = true;
            else if (errno != EEXIST)
                return nullptr;
            next = openat(dir->fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (next < 0)
            return nullptr;
        if (madeNow)
            made_.insert(keys[i]);
        auto h = std::make_shared<DirHandle>();
        h->fd = next;
        h->fresh = made_.count(keys[i]) != 0;
        remember(keys[i], h);
        dir = std::move(h);
    }
    return dir;
}

bool TargetDir::mayExist(const Dir& dir, const std::string& key) const {
    return !dir->fresh || written_.count(key) || made_.count(key + '/');
}

int createTemp(int dirFd, const std::string& leaf, std::string& tmpName) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        uint32_t r = 0;
        if (getrandom(&r, sizeof r, 0) != sizeof r)
            r = uint32_t(rand());
        char suffix[16];
        snprintf(suffix, sizeof suffix, ".%08x", r);
        tmpName = "." + leaf.substr(0, 200) + suffix + ".ztmp";
        int fd = openat(dirFd, tmpName.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

int openOutput(int dirFd, const std::string& leaf, bool exists, unsigned mode, std::string& tmp,
               bool& direct) {
    direct = !exists;
    if (direct) {
        tmp = leaf;
        return openat(dirFd, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      mode);
    }
    return createTemp(dirFd, leaf, tmp);
}

bool placeFile(int dirFd, int fd, const std::string& tmp, const std::string& leaf, bool direct,
               unsigned mode, bool chmod, time_t mtime) {
    if (!direct || chmod)
        fchmod(fd, mode);
    struct timespec ts[2] = {{0, UTIME_OMIT}, {mtime, 0}};
    futimens(fd, ts);
    close(fd);
    if (!direct && renameat(dirFd, tmp.c_str(), dirFd, leaf.c_str()) != 0) {
        unlinkat(dirFd, tmp.c_str(), 0);
        return false;
    }
    return true;
}

}  // namespace ze
