// Replacing a file so that its name never stands empty or half written, and
// copying file contents in the kernel.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Puts the file `source` in place of `target`: at every moment `target`
// names either its previous complete file (or nothing, when there was none)
// or the complete new one. On one file system this is a single rename(2).
// Across file systems the content is first copied into an unnamed file
// (O_TMPFILE) in the target's folder, which gets a unique name only right
// before the final rename; where unnamed files are not supported a hidden
// unique name is used for the copy. With SetWaitForDisk(true) the new
// content is synced to the disk before it gets the target's name. The new
// file takes the permissions of the one it replaces (or of a new file). `source` is removed once
// `target` holds it. A `target` that is a symbolic link stays one: the file it points to is
// replaced (ResolveLinks). False (with `error`) when nothing was replaced.
bool ReplaceFile(const std::string& source, const std::string& target,
                 std::string* error = nullptr);

// The file `path` names once symbolic links in its last part are followed
// (a relative link target counts from the link's folder; at most 40 links,
// as the kernel allows); `path` itself when it is no link. A link whose
// target does not exist yet gives that target, so that a new file is
// created where the link points.
std::string ResolveLinks(const std::string& path);

// Opens a new file without a name (O_TMPFILE, mode 0600) in `folder` for a
// file that is written first and then put in place of another one with
// ReplaceFileFrom: a process killed before that leaves nothing behind. -1
// (with errno) when the folder's file system has no unnamed files.
int CreateUnnamedFile(const std::string& folder);

// Puts the content of the unnamed file `fd` (CreateUnnamedFile, written and
// still open) in place of `target` as ReplaceFile does: it gets a hidden
// unique name beside the target only right before the rename (or is copied
// there from another file system). The caller closes `fd`.
bool ReplaceFileFrom(int fd, const std::string& target, std::string* error = nullptr);

// Removes what a replacement of `target` killed in its last steps left beside
// it: the new file named for the final rename but not renamed yet, or the old
// file exchanged out but not removed yet (hidden ".NAME.xxxxxxxx" files; the
// old content is already in the trash when undo was asked). Only for a caller
// that holds the writers' lock of `target`: no replacement of it is running.
// Returns how many files were removed.
int RemoveLeftReplacements(const std::string& target);

// Whether replacing waits until the new content is on the disk (off by
// default). Replacing is atomic either way: a process killed at any moment
// leaves the old or the new file under the name. Waiting also covers a
// power loss right after the rename, at the cost of writing the whole file
// to the disk first (about a second per GiB); without it the new file is
// written by the kernel's own write-back, as cp(1) leaves its copies.
void SetWaitForDisk(bool wait);
bool WaitForDisk();

// Renames `source` (already synced where WaitForDisk() asks for it) over
// `target` (links followed as by ReplaceFile) on the same file system
// (taking the target's permissions), with
// no sync of its own; the
// old target is left under the name `source` (names exchanged) where the
// file system allows. False (with `error`, errno EXDEV across file systems)
// when nothing moved.
bool MoveSyncedFile(const std::string& source, const std::string& target, std::string* error);

// Writes the file's data to the disk (fdatasync) when WaitForDisk() is
// set; false with errno.
bool SyncFileData(const std::string& path);

// Starts writing the given range of a file to the disk without waiting, so
// that a later sync has little left to wait for (only when WaitForDisk() is
// set: the early writing slows the copy down by half).
void StartWriteBack(int fd, std::int64_t offset, std::int64_t count);

// Copies `count` bytes from `in` at `inOffset` to `out` at `outOffset`
// (both file descriptors; the descriptors' own positions are not used) with
// copy_file_range(2), falling back to pread/pwrite where the kernel cannot.
// Returns the bytes copied (fewer at the end of `in`), or -1 with errno.
std::int64_t CopyFileRange(int in, std::int64_t inOffset, int out, std::int64_t outOffset,
                           std::int64_t count);

}  // namespace platform
