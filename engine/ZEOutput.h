// Writing extracted files without ever following a symbolic link: folders are opened and
// created one component at a time below the target folder with O_NOFOLLOW, files are written
// to a temporary name and renamed into place, so a failed entry leaves nothing behind.
#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace ze {

// Splits an entry name into safe path components; false when the name is empty, absolute,
// has a drive prefix, a ".." component or a NUL byte. "\" counts as a separator, "." and
// empty components are dropped (so "./" gives no components), control characters become "_".
bool safeComponents(const std::string& name, std::vector<std::string>& parts);

// True when a link at `linkParts` (its own name last) pointing to `target` stays inside the
// target folder.
bool symlinkInside(const std::vector<std::string>& linkParts, const std::string& target);

class TargetDir {
public:
    explicit TargetDir(int baseFd) : base_(baseFd) {}
    ~TargetDir();
    TargetDir(const TargetDir&) = delete;
    TargetDir& operator=(const TargetDir&) = delete;

    // Opens (creating when asked) the folder made of parts[0..n); -1 with errno on failure.
    // The returned descriptor stays owned by this object.
    int openDir(const std::vector<std::string>& parts, size_t n, bool create);
    int base() const { return base_; }

private:
    int base_;
    std::string cachedKey_;
    int cachedFd_ = -1;
};

// Creates a unique temporary file in dirFd for `leaf`; returns its fd and name.
int createTemp(int dirFd, const std::string& leaf, std::string& tmpName);

// Opens the file an entry is written to: under its own name when nothing is there
// (`direct`), else a temporary name that placeFile renames over the old file. -1 on failure.
int openOutput(int dirFd, const std::string& leaf, bool exists, unsigned mode, std::string& tmp,
               bool& direct);
// Sets mode (when `chmod` or not direct) and modification time, closes fd and renames the
// temporary file into place. False (temporary file removed) when the rename fails.
bool placeFile(int dirFd, int fd, const std::string& tmp, const std::string& leaf, bool direct,
               unsigned mode, bool chmod, time_t mtime);

}  // namespace ze
