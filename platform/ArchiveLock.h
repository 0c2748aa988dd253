// The lock a writer holds on an archive (or a multi-part set, by the name it
// is opened with) while it rewrites it, so that two writers never work on the
// same archive at once: the second waits, or is told. It is an advisory lock
// (flock(2)) on the archive file itself, which the kernel drops when the
// holder ends, however it ends: a killed run never blocks the next one.
//
// Every rewrite puts a new file in place by rename, so the name may name
// another file once the lock is granted; then the lock is taken again on the
// file the name has now. A name with no file behind it yet (a new archive, a
// set of numbered parts opened through its missing main name) is locked
// through its folder, until a file appears under the name. A file (or
// folder) this process has locked already is locked again at once, nested:
// one process never waits for itself.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

// What identifies a file's content for a writer that only ever replaces
// files by rename: the file (device, inode), its size and last change.
struct FileIdentity {
    bool exists = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t changedNs = 0;  // last modification, in nanoseconds

    bool operator==(const FileIdentity&) const = default;
};

// The identity of the file `path` names now (exists is false when none).
FileIdentity IdentifyFile(const std::string& path);

class ArchiveLock {
public:
    enum class Result {
        Locked,  // held now
        Busy,    // another writer holds it and waiting was not allowed or was given up
        Failed,  // the name cannot be locked (see Error())
    };

    ArchiveLock() = default;
    ~ArchiveLock();
    ArchiveLock(const ArchiveLock&) = delete;
    ArchiveLock& operator=(const ArchiveLock&) = delete;

    // Takes the lock of `path`. When another writer holds it: without
    // `wait`, Busy at once; with it, `waiting` is called (first with true,
    // then about five times a second with false) while the lock is not
    // free, and waiting ends with Busy when it returns false.
    Result Acquire(const std::string& path, bool wait,
                   const std::function<bool(bool first)>& waiting = {});
    void Release();
    bool Held() const { return held_; }
    const std::string& Path() const { return path_; }
    const std::string& Error() const { return error_; }

private:
    bool held_ = false;
    std::uint64_t device_ = 0;  // what is locked (the descriptor lives in a
    std::uint64_t inode_ = 0;   // table of the process's locks)
    std::string path_;
    std::string error_;
};

}  // namespace platform
