#include "ZEOutput.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

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

TargetDir::~TargetDir() {
    if (cachedFd_ >= 0)
        close(cachedFd_);
}

int TargetDir::openDir(const std::vector<std::string>& parts, size_t n, bool create) {
    if (n == 0)
        return base_;
    std::string key;
    for (size_t i = 0; i < n; ++i)
        key += parts[i] + '/';
    if (cachedFd_ >= 0 && key == cachedKey_)
        return cachedFd_;
    int fd = base_;
    for (size_t i = 0; i < n; ++i) {
        int next = openat(fd, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT && create) {
            if (mkdirat(fd, parts[i].c_str(), 0777) != 0 && errno != EEXIST) {
                if (fd != base_)
                    close(fd);
                return -1;
            }
            next = openat(fd, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        int saved = errno;
        if (fd != base_)
            close(fd);
        if (next < 0) {
            errno = saved;
            return -1;
        }
        fd = next;
    }
    if (cachedFd_ >= 0)
        close(cachedFd_);
    cachedFd_ = fd;
    cachedKey_ = key;
    return fd;
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
    direct = false;
    if (!exists) {
        int fd =
            openat(dirFd, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) {
            direct = true;
            tmp = leaf;
            return fd;
        }
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
