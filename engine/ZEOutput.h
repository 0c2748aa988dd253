// Writing extracted files without ever following a symbolic link: folders are opened and
// created one component at a time below the target folder with O_NOFOLLOW; a new file is
// created exclusively under its own name (removed again when the entry fails), a file that
// replaces another is written to a temporary name and renamed over it, so a failed entry
// leaves nothing behind and an existing file stays whole until its replacement is complete.
// Everything is relative to open folder descriptors: no path is looked up twice.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace ze {

// Splits an entry name into safe path components; false when the name is empty, absolute,
// has a drive prefix, a ".." component or a NUL byte. "\" counts as a separator, "." and
// empty components are dropped (so "./" gives no components), control characters become "_".
bool safeComponents(const std::string& name, std::vector<std::string>& parts);

// True when a link at `linkParts` (its own name last) pointing to `target` stays inside the
// target folder.
bool symlinkInside(const std::vector<std::string>& linkParts, const std::string& target);

// An open folder below the target folder. Shared by the job's thread and the writer threads
// (a queued file keeps its folder open); closed with the last reference.
struct DirHandle {
    int fd = -1;
    bool owned = true;  // false for the target folder itself (the job closes it)
    // Made by this job (or the target folder, found empty): it holds only what the job put
    // there, so a name the job has not written yet is known to be free without looking.
    bool fresh = false;
    ~DirHandle();
};
using Dir = std::shared_ptr<DirHandle>;

class TargetDir {
public:
    // `baseFd` stays the caller's; an empty target folder counts as fresh.
    explicit TargetDir(int baseFd);
    TargetDir(const TargetDir&) = delete;
    TargetDir& operator=(const TargetDir&) = delete;

    // Opens (creating when asked) the folder made of parts[0..n), starting from the deepest
    // folder of that path still open; null with errno on failure. Folders opened recently
    // stay open (at most kOpenFolders), so files in the same few folders cost no lookups.
    Dir openDir(const std::vector<std::string>& parts, size_t n, bool create);
    int base() const { return base_->fd; }

    // Whether the file at `key` (the path below the target folder, "a/b/c") must be looked
    // at before it is written: false only in a fresh folder where the job has put nothing
    // under that name. noteWritten(key) records a file or link the job put there.
    bool mayExist(const Dir& dir, const std::string& key) const;
    void noteWritten(const Dir& dir, const std::string& key) {
        if (dir->fresh)
            written_.insert(key);
    }

private:
    static constexpr size_t kOpenFolders = 64;
    struct Cached {
        Dir dir;
        uint64_t used = 0;
    };
    Dir base_;
    std::unordered_map<std::string, Cached> open_;  // by key "a/b/"
    std::unordered_set<std::string> made_;          // keys of the folders this job made
    std::unordered_set<std::string> written_;       // files and links written in fresh folders
    uint64_t tick_ = 0;
    void remember(const std::string& key, const Dir& dir);
};

// Creates a unique temporary file in dirFd for `leaf`; returns its fd and name.
int createTemp(int dirFd, const std::string& leaf, std::string& tmpName);

// Opens the file an entry is written to: under its own name when nothing is there
// (`direct`, created exclusively: a file that appeared since the job looked is never
// replaced without its decision), else a temporary name that placeFile renames over the old
// file. -1 on failure.
int openOutput(int dirFd, const std::string& leaf, bool exists, unsigned mode, std::string& tmp,
               bool& direct);
// Sets mode (when `chmod` or not direct) and modification time, closes fd and renames the
// temporary file into place. False (temporary file removed) when the rename fails.
bool placeFile(int dirFd, int fd, const std::string& tmp, const std::string& leaf, bool direct,
               unsigned mode, bool chmod, time_t mtime);

}  // namespace ze
