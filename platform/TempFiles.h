// The temporary folder, unique temporary names and silent removal.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// `$TMPDIR` when it names a folder, else "/tmp"; always with a trailing "/".
std::string TempFolder();

// `path` with exactly one "/" appended when it does not end in one ("" stays "").
std::string WithTrailingSlash(std::string path);

// Creates a new empty file folder + prefix + six unique characters +
// extension (".tmp" when empty) with O_EXCL and mode 0600, so the name is
// taken the moment it is returned; an empty `folder` means TempFolder().
// Returns the full name, or "" when the folder does not exist or is not
// writable (`error`, when given, receives the system's error text).
std::string CreateTempFile(std::string_view folder, std::string_view prefix,
                           std::string_view extension = ".tmp", std::string* error = nullptr);

// A unique name of the same form that is NOT left behind as a file, for
// callers that create the file themselves and must find it missing first
// (a new archive, a spanning target). The name is checked by creating and
// removing the file with exactly that extension, so, unlike a name reserved
// with one extension and then renamed, it never names an existing file at
// the time of the call.
std::string MakeTempFileName(std::string_view folder, std::string_view prefix,
                             std::string_view extension, std::string* error = nullptr);

// Creates a new folder folder + prefix + six unique characters (mode 0700)
// and returns its name with a trailing "/", or "".
std::string CreateTempFolder(std::string_view folder, std::string_view prefix,
                             std::string* error = nullptr);

// Removes a file, a symbolic link or a folder with everything in it,
// without asking and without the trash; links are removed, never followed
// (trailing slashes are dropped first, so "link/" removes the link). True
// when nothing is left under `path` (also when nothing was there); "" and
// "/" are refused.
bool RemoveTree(const std::string& path);

}  // namespace platform
