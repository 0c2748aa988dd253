#include "platform/FileAttributes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

std::uint32_t FileAttributes::dosAttributes() const {
    std::uint32_t bits = 0;
    if (isReadOnly) {
        bits |= kDosAttrReadOnly;
    }
    if (isHidden) {
        bits |= kDosAttrHidden;
    }
    if (isFolder) {
        bits |= kDosAttrFolder;
    }
    return bits;
}

bool IsHiddenName(const std::string& path) {
    size_t end = path.size();
    while (end > 1 && path[end - 1] == '/') {
        --end;
    }
    const size_t slash = path.rfind('/', end - 1);
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    const std::string_view name = std::string_view(path).substr(start, end - start);
    return name.size() > 1 && name[0] == '.' && name != "..";
}

FileAttributes ReadFileAttributes(const std::string& path) {
    FileAttributes a;
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        return a;
    }
    struct stat lst;
    a.exists = true;
    a.isSymlink = ::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode);
    a.isFolder = S_ISDIR(st.st_mode);
    a.isHidden = IsHiddenName(path);
    // access() answers for the real user, which is the user of a desktop
    // program; it also sees read-only mounts that the mode bits do not show.
    a.isReadOnly = ::access(path.c_str(), W_OK) != 0;
    a.size = a.isFolder ? 0 : static_cast<std::int64_t>(st.st_size);
    a.modified = st.st_mtime;
    a.mode = st.st_mode;
    return a;
}

std::optional<DosDateTime> FileDosDateTime(const std::string& path) {
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return TimeToDos(st.st_mtime);
}

bool SetFileModified(const std::string& path, std::time_t modified) {
    const struct timespec times[2] = {{modified, 0}, {modified, 0}};
    return !path.empty() && ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool SetFileDosDateTime(const std::string& path, DosDateTime dos) {
    const auto t = DosToTime(dos);
    return t && SetFileModified(path, *t);
}

}  // namespace platform
