#include "platform/AtomicReplace.h"

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

std::string uniqueSuffix() {
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device rd;
    std::string s(8, 'x');
    for (char& c : s) {
        c = kChars[rd() % (sizeof kChars - 1)];
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

// Across file systems: copy `source` next to `target`, then rename it over.
bool replaceByCopy(const std::string& source, const std::string& target, std::string* error) {
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        setError(error, "open " + source, errno);
        return false;
    }
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
        ::close(in);
        return false;
    }
    bool ok = copyAll(in, out) && (!WaitForDisk() || ::fdatasync(out) == 0);
    int err = errno;
    ::close(in);
    if (ok && unnamed) {
        // The copy is complete: give it a name for the final rename.
        const std::string fdPath = "/proc/self/fd/" + std::to_string(out);
        ok = false;
        for (int attempt = 0; attempt < 100; ++attempt) {
            named = folder + "/." + nameOf(target) + "." + uniqueSuffix();
            if (::linkat(AT_FDCWD, fdPath.c_str(), AT_FDCWD, named.c_str(), AT_SYMLINK_FOLLOW) ==
                0) {
                ok = true;
                break;
            }
            err = errno;
            if (err != EEXIST) {
                break;
            }
        }
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
        setError(error, "copy " + source + " to " + target, err);
        return false;
    }
    ::unlink(source.c_str());
    return true;
}

}  // namespace

bool MoveSyncedFile(const std::string& source, const std::string& target, std::string* error) {
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

bool ReplaceFile(const std::string& source, const std::string& target, std::string* error) {
    // When waiting for the disk, the new content reaches it before its name
    // does: a power loss right after the rename must not leave the name on
    // unwritten blocks (exchanging names, below, skips ext4's own flush on
    // rename).
    if (!SyncFileData(source)) {
        setError(error, "sync " + source, errno);
        return false;
    }
    // The new file takes the permissions of the one it replaces, or those a
    // newly created file would get (temporary files are private).
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) {
        ::chmod(source.c_str(), old.st_mode & 07777);
    } else {
        const mode_t mask = ::umask(022);
        ::umask(mask);
        ::chmod(source.c_str(), 0666 & ~mask);
    }
    const int err = moveOver(source, target);
    if (err == 0) {
        return true;
    }
    if (err != EXDEV) {
        setError(error, "rename " + source + " to " + target, err);
        return false;
    }
    return replaceByCopy(source, target, error);
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
