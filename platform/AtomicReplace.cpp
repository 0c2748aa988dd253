#include "platform/AtomicReplace.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

namespace platform {

namespace {

std::atomic<bool> waitForDisk{false};

void setError(std::string* error, const std::string& what, int code) {
    if (error) {
        *error = what + ": " + std::strerror(code);
    }
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

constexpr char kSuffixChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kSuffixLength = 8;

std::string uniqueSuffix() {
    std::random_device rd;
    std::string s(kSuffixLength, 'x');
    for (char& c : s) {
        c = kSuffixChars[rd() % (sizeof kSuffixChars - 1)];
    }
    return s;
}

// File systems whose copy_file_range(2) shares blocks (reflinks) instead of
// copying bytes.
bool mayShareBlocks(int fd) {
    constexpr long kBtrfs = 0x9123683E;
    constexpr long kXfs = 0x58465342;
    struct statfs fs {};
    return ::fstatfs(fd, &fs) == 0 &&
           (static_cast<long>(fs.f_type) == kBtrfs || static_cast<long>(fs.f_type) == kXfs);
}

// Copies the whole of `in` into `out`; false with errno.
bool copyAll(int in, int out) {
    struct stat st {};
    if (::fstat(in, &st) != 0) {
        return false;
    }
    const std::int64_t copied = CopyFileRange(in, 0, out, 0, st.st_size);
    if (copied != st.st_size) {
        if (copied >= 0) {
            errno = EIO;
        }
        return false;
    }
    ::fchmod(out, st.st_mode & 07777);
    return true;
}

// Puts `from` in place of `to`: 0, or the errno of the failure. An existing
// target is exchanged with the new file in one step and then unlinked under
// the new file's old name; a plain rename over it would make ext4 allocate
// and start writing every delayed block of the new file inside the rename
// (its replace-by-rename safeguard), seconds for a large archive.
int moveOver(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE) == 0) {
        ::unlink(from.c_str());  // now the old file
        return 0;
    }
    if (errno != ENOENT && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        return errno;
    }
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// The permissions a file replacing `target` takes: those of the one it
// replaces, or those a newly created file would get (temporary files are
// private).
mode_t newFileMode(const std::string& target) {
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) {
        return old.st_mode & 07777;
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666 & ~mask;
}

// Gives the unnamed file `fd` a hidden unique name beside `target` in
// `folder`; false with `err` (EXDEV when the file lies on another file
// system).
bool nameUnnamed(int fd, const std::string& folder, const std::string& target, std::string& named,
                 int& err) {
    const std::string fdPath = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        named = folder + "/." + nameOf(target) + "." + uniqueSuffix();
        if (::linkat(AT_FDCWD, fdPath.c_str(), AT_FDCWD, named.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            return true;
        }
        err = errno;
        if (err != EEXIST) {
            break;
        }
    }
    named.clear();
    return false;
}

// Across file systems: copies the open file `in` next to `target` (into an
// unnamed file that is named only for the final rename), then renames it
// over the target.
bool replaceByCopy(int in, const std::string& what, const std::string& target, std::string* error) {
    const std::string folder = folderOf(target);
    std::string named;
    bool unnamed = true;
    int out = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (out < 0) {
        // No unnamed files here: a hidden unique name for the copy.
        unnamed = false;
        for (int attempt = 0; attempt < 100 && out < 0; ++attempt) {
            named = folder + "/." + nameOf(target) + "." + uniqueSuffix();
            out = ::open(named.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
            if (out < 0 && errno != EEXIST) {
                break;
            }
        }
    }
    if (out < 0) {
        setError(error, "create in " + folder, errno);
        return false;
    }
    bool ok = copyAll(in, out) && (!WaitForDisk() || ::fdatasync(out) == 0);
    int err = errno;
    if (ok && unnamed) {
        // The copy is complete: give it a name for the final rename.
        ok = nameUnnamed(out, folder, target, named, err);
    }
    ::close(out);
    if (ok) {
        err = moveOver(named, target);
        ok = err == 0;
    }
    if (!ok) {
        if (!named.empty()) {
            ::unlink(named.c_str());
        }
        setError(error, "copy " + what + " to " + target, err);
        return false;
    }
    return true;
}

}  // namespace

bool MoveSyncedFile(const std::string& source, const std::string& linkOrTarget,
                    std::string* error) {
    const std::string target = ResolveLinks(linkOrTarget);
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) {
        ::chmod(source.c_str(), old.st_mode & 07777);
    }
    // The old file stays under the source's name, for the caller to remove.
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0 ||
        ((errno == ENOENT || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) &&
         ::rename(source.c_str(), target.c_str()) == 0)) {
        return true;
    }
    setError(error, "rename " + source + " to " + target, errno);
    return false;
}

void SetWaitForDisk(bool wait) {
    waitForDisk = wait;
}

bool WaitForDisk() {
    return waitForDisk;
}

bool SyncFileData(const std::string& path) {
    if (!WaitForDisk()) {
        return true;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = ::fdatasync(fd) == 0;
    ::close(fd);
    return ok;
}

void StartWriteBack(int fd, std::int64_t offset, std::int64_t count) {
    if (!WaitForDisk()) {
        return;
    }
    ::sync_file_range(fd, offset, count, SYNC_FILE_RANGE_WRITE);
}

bool ReplaceFile(const std::string& source, const std::string& linkOrTarget, std::string* error) {
    const std::string target = ResolveLinks(linkOrTarget);
    // When waiting for the disk, the new content reaches it before its name
    // does: a power loss right after the rename must not leave the name on
    // unwritten blocks (exchanging names, below, skips ext4's own flush on
    // rename).
    if (!SyncFileData(source)) {
        setError(error, "sync " + source, errno);
        return false;
    }
    ::chmod(source.c_str(), newFileMode(target));
    const int err = moveOver(source, target);
    if (err == 0) {
        return true;
    }
    if (err != EXDEV) {
        setError(error, "rename " + source + " to " + target, err);
        return false;
    }
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        setError(error, "open " + source, errno);
        return false;
    }
    const bool copied = replaceByCopy(in, source, target, error);
    ::close(in);
    if (copied) {
        ::unlink(source.c_str());
    }
    return copied;
}

std::string ResolveLinks(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return current;
        }
        std::vector<char> buffer(static_cast<std::size_t>(std::max<off_t>(st.st_size, 255)) + 1);
        const ssize_t n = ::readlink(current.c_str(), buffer.data(), buffer.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size()) {
            return current;
        }
        const std::string link(buffer.data(), static_cast<std::size_t>(n));
        if (link.front() == '/') {
            current = link;
        } else {
            const auto slash = current.rfind('/');
            current = slash == std::string::npos ? link : current.substr(0, slash + 1) + link;
        }
    }
    return current;
}

int CreateUnnamedFile(const std::string& folder) {
    return ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

bool ReplaceFileFrom(int fd, const std::string& linkOrTarget, std::string* error) {
    const std::string target = ResolveLinks(linkOrTarget);
    ::fchmod(fd, newFileMode(target));
    const std::string folder = folderOf(target);
    std::string named;
    int err = 0;
    if (nameUnnamed(fd, folder, target, named, err)) {
        if (ReplaceFile(named, target, error)) {
            return true;
        }
        ::unlink(named.c_str());
        return false;
    }
    if (err != EXDEV) {
        setError(error, "name a new file beside " + target, err);
        return false;
    }
    return replaceByCopy(fd, "a new file", target, error);
}

int RemoveLeftReplacements(const std::string& linkOrTarget) {
    const std::string target = ResolveLinks(linkOrTarget);
    const std::string folder = folderOf(target);
    const std::string prefix = "." + nameOf(target) + ".";
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return 0;
    }
    std::vector<std::string> left;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name.size() != prefix.size() + kSuffixLength ||
            name.compare(0, prefix.size(), prefix) != 0 ||
            name.find_first_not_of(kSuffixChars, prefix.size()) != std::string::npos) {
            continue;
        }
        left.push_back(folder + "/" + name);
    }
    ::closedir(dir);
    int removed = 0;
    for (const std::string& path : left) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(path.c_str()) == 0) {
            ++removed;
        }
    }
    return removed;
}

std::int64_t CopyFileRange(int in, std::int64_t inOffset, int out, std::int64_t outOffset,
                           std::int64_t count) {
    // Where the file system cannot share blocks, the kernel copies through
    // a pipe of its own; calls of 128 KiB keep that copy in the CPU cache
    // and measured up to three times less system time than calls of 1 or
    // 8 MiB. Where it can (reflinks), one call covers the whole range.
    constexpr std::int64_t kKernelCall = 128 << 10;
    const std::int64_t call = mayShareBlocks(out) ? count : kKernelCall;
    std::int64_t done = 0;
    bool kernelCopy = true;
    std::vector<char> buffer;
    while (done < count) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::int64_t>(count - done, 1 << 30));
        ssize_t n = -1;
        if (kernelCopy) {
            loff_t inPos = inOffset + done;
            loff_t outPos = outOffset + done;
            n = ::copy_file_range(in, &inPos, out, &outPos,
                                  static_cast<std::size_t>(std::min<std::int64_t>(
                                      static_cast<std::int64_t>(want), call)),
                                  0);

            if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                          errno == EOPNOTSUPP || errno == EBADF)) {
                kernelCopy = false;
                continue;
            }
        } else {
            buffer.resize(1 << 20);
            n = ::pread(in, buffer.data(), std::min(want, buffer.size()), inOffset + done);
            if (n > 0) {
                ssize_t put = 0;
                while (put < n) {
                    const ssize_t w =
                        ::pwrite(out, buffer.data() + put, static_cast<std::size_t>(n - put),
                                 outOffset + done + put);
                    if (w < 0) {
                        if (errno == EINTR) {
                            continue;
                        }
                        return -1;
                    }
                    put += w;
                }
            }
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (n == 0) {
            break;  // end of `in`
        }
        done += n;
    }
    return done;
}

}  // namespace platform
