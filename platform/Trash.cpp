#include "platform/Trash.h"

#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>

#include "platform/AtomicReplace.h"

namespace platform {
namespace {

// A name may be tried this often with a number appended before we give up.
constexpr int kMaxCollisions = 10000;

std::string errorText(int code) {
    return std::strerror(code);
}

std::string joinPath(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

std::string parentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

bool isRealFolder(const struct stat& st) {
    return S_ISDIR(st.st_mode);
}

// Creates `path` with mode 0700 unless a folder is already there (links to
// folders are accepted: the user may have moved ~/.local/share elsewhere).
bool ensureFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0) {
        return true;
    }
    struct stat st;
    return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The device of the nearest existing ancestor of `path`.
bool deviceOfNearest(std::string path, dev_t& dev) {
    struct stat st;
    while (::stat(path.c_str(), &st) != 0) {
        if (path == "/" || path.empty()) {
            return false;
        }
        path = parentOf(path);
    }
    dev = st.st_dev;
    return true;
}

// The mount point that holds `folder` (a canonical path on device `dev`).
std::string topDirOf(std::string folder, dev_t dev) {
    while (folder != "/") {
        const std::string parent = parentOf(folder);
        struct stat st;
        if (::stat(parent.c_str(), &st) != 0 || st.st_dev != dev) {
            break;
        }
        folder = parent;
    }
    return folder;
}

// A folder of ours to use as a trash: a real folder (no link) owned by us.
bool isOwnedFolder(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && isRealFolder(st) && st.st_uid == ::getuid();
}

std::optional<std::string> ownedFolder(const std::string& path, bool create) {
    if (isOwnedFolder(path)) {
        return path;
    }
    if (create && (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) && isOwnedFolder(path)) {
        return path;
    }
    return std::nullopt;
}

std::string localIsoTime(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    return buf;
}

// Writes the whole text; false on a short write.
bool writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Renames without replacing an existing target. Where the file system does
// not support RENAME_NOREPLACE the target was checked just before.
int renameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    struct stat st;
    if (::lstat(to.c_str(), &st) == 0) {
        return EEXIST;
    }
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

TrashResult failure(std::string text) {
    TrashResult r;
    r.error = std::move(text);
    return r;
}

}  // namespace

std::string PercentEncodePath(const std::string& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size());
    for (char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    return out;
}

std::string HomeTrashFolder() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && dataHome[0] == '/') {
        return joinPath(dataHome, "Trash");
    }
    std::string home;
    if (const char* h = std::getenv("HOME"); h && *h) {
        home = h;
    } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
        home = pw->pw_dir;
    } else {
        home = "/";
    }
    while (home.size() > 1 && home.back() == '/') {
        home.pop_back();
    }
    return joinPath(home, ".local/share/Trash");
}

std::optional<std::string> TopDirTrashFolder(const std::string& topDir, bool create) {
    const std::string uid = std::to_string(::getuid());
    // A shared .Trash is only trusted when nobody could have planted it as a
    // link and the sticky bit keeps users out of each other's folders.
    const std::string shared = joinPath(topDir, ".Trash");
    struct stat st;
    if (::lstat(shared.c_str(), &st) == 0 && isRealFolder(st) && (st.st_mode & S_ISVTX)) {
        if (auto mine = ownedFolder(joinPath(shared, uid), create)) {
            return mine;
        }
    }
    return ownedFolder(joinPath(topDir, ".Trash-" + uid), create);
}

namespace {

// Moves `path` into the trash, or, with `keep`, gives it a second name there
// (a hard link) and leaves it where it is.
TrashResult trashFile(const std::string& path, bool keep) {
    std::string target = path;
    while (target.size() > 1 && target.back() == '/') {
        target.pop_back();
    }
    if (target.empty() || target == "/") {
        return failure("nothing to move to the trash");
    }
    if (target[0] != '/') {
        char cwd[PATH_MAX];
        if (!::getcwd(cwd, sizeof cwd)) {
            return failure(errorText(errno));
        }
        target = joinPath(cwd, target);
    }
    const size_t slash = target.rfind('/');
    const std::string name = target.substr(slash + 1);
    if (name == "." || name == "..") {
        return failure("cannot move " + path + " to the trash");
    }
    // The folder is made canonical; the name itself is not resolved, so a
    // link is trashed as the link.
    const std::unique_ptr<char, decltype(&std::free)> realParent(
        ::realpath(parentOf(target).c_str(), nullptr), &std::free);
    if (!realParent) {
        return failure(errorText(errno));
    }
    const std::string original = joinPath(realParent.get(), name);
    struct stat st;
    if (::lstat(original.c_str(), &st) != 0) {
        return failure(errorText(errno));
    }

    // Choose the trash on the file's own file system: a rename never copies.
    std::string trash = HomeTrashFolder();
    std::string pathKey = original;
    dev_t homeDev;
    if (deviceOfNearest(trash, homeDev) && homeDev == st.st_dev) {
        std::error_code ec;
        std::filesystem::create_directories(parentOf(trash), ec);
        if (!ensureFolder(trash)) {
            return failure("cannot create the trash folder " + trash);
        }
    } else {
        const std::string topDir = topDirOf(realParent.get(), st.st_dev);
        const auto topTrash = TopDirTrashFolder(topDir, true);
        if (!topTrash) {
            return failure("no usable trash folder on the file system of " + original);
        }
        trash = *topTrash;
        // Paths in a top directory's trash are relative to that directory, so
        // the entry stays valid wherever the file system is mounted.
        pathKey = original.substr(topDir == "/" ? 1 : topDir.size() + 1);
    }
    const std::string filesFolder = trash + "/files";
    const std::string infoFolder = trash + "/info";
    if (!ensureFolder(filesFolder) || !ensureFolder(infoFolder)) {
        return failure("cannot create the folders of the trash " + trash);
    }
    if (original == trash || original.starts_with(trash + "/")) {
        return failure(original + " is part of the trash");
    }

    const std::string info = "[Trash Info]\nPath=" + PercentEncodePath(pathKey) +
                             "\nDeletionDate=" + localIsoTime(std::time(nullptr)) + "\n";
    for (int n = 1; n <= kMaxCollisions; ++n) {
        const std::string trashName = n == 1 ? name : name + "." + std::to_string(n);
        const std::string infoPath = infoFolder + "/" + trashName + ".trashinfo";
        const std::string filesPath = filesFolder + "/" + trashName;
        // The info file is created exclusively: it reserves the name.
        const int fd = ::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return failure(errorText(errno));
        }
        const bool written = writeAll(fd, info);
        if (::close(fd) != 0 || !written) {
            ::unlink(infoPath.c_str());
            return failure("cannot write " + infoPath);
        }
        int err = 0;
        if (keep) {
            err = ::link(original.c_str(), filesPath.c_str()) == 0 ? 0 : errno;
        } else {
            err = renameNoReplace(original, filesPath);
        }
        if (err == 0) {
            TrashResult r;
            r.ok = true;
            r.trashedPath = filesPath;
            r.infoPath = infoPath;
            return r;
        }
        ::unlink(infoPath.c_str());
        if (err != EEXIST && err != ENOTEMPTY) {
            return failure(errorText(err));
        }
        // A left-over file without its info file holds the name: next one.
    }
    return failure("too many files named " + name + " in the trash");
}

}  // namespace

TrashResult MoveToTrash(const std::string& path) {
    return trashFile(path, false);
}

TrashResult LinkToTrash(const std::string& path) {
    return trashFile(ResolveLinks(path), true);
}

}  // namespace platform
