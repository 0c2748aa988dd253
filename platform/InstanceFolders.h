// Private temporary folders of one running program: each instance makes its
// own (mode 0700) and holds a lock on it while it runs, so that a later
// instance can tell the folders of instances that have ended (crashed or
// killed before they could clean up) from those still in use, and remove them.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Creates folder + prefix + six unique characters with mode 0700 and locks it
// until ReleaseInstanceFolder or the end of the process. The folder takes its
// final name only once it is locked, so no other instance ever sees it
// unlocked. Returns the name with a trailing "/", or "" (`error` receives the
// system's error text).
std::string CreateInstanceFolder(std::string_view folder, std::string_view prefix,
                                 std::string* error = nullptr);

// Removes a folder made by CreateInstanceFolder with everything in it and
// drops its lock. True when nothing is left.
bool ReleaseInstanceFolder(const std::string& path);

// Removes the folders folder + prefix + six characters that belong to this
// user and whose lock no process holds. Links and other users' folders are
// left alone. Returns how many were removed.
int RemoveStaleInstanceFolders(std::string_view folder, std::string_view prefix);

// The private folder of this process for the work files of archive
// operations (copies a rewrite starts from, staged parts, the unpacked
// engine): TempFolder() + "tarvik-work-" + six characters, made on first use
// as an instance folder and removed at the normal end of the process. A
// process killed in the middle of an operation leaves it unlocked, and the
// next program that calls RemoveStaleWorkFolders removes it with what it
// holds. Falls back to TempFolder() when the folder cannot be made.
std::string ProcessWorkFolder();

// Removes the work folders of processes that ended without removing theirs;
// once per process (later calls do nothing).
void RemoveStaleWorkFolders();

}  // namespace platform
