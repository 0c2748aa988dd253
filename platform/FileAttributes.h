// What the component and the dialogs ask about a file, read with one stat.
//
// Read-only means the current user may not write the file (for a folder:
// may not create or remove entries in it), the way a desktop user meets it;
// hidden means the name starts with ".". Symbolic links are followed, as
// opening the path would follow them.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "platform/DosTime.h"

namespace platform {

// The DOS attribute bits used in zip headers and by the engine.
inline constexpr std::uint32_t kDosAttrReadOnly = 0x01;
inline constexpr std::uint32_t kDosAttrHidden = 0x02;
inline constexpr std::uint32_t kDosAttrFolder = 0x10;

struct FileAttributes {
    bool exists = false;
    bool isFolder = false;
    bool isReadOnly = false;
    bool isHidden = false;
    bool isSymlink = false;  // the path itself is a link (the rest describes its target)
    std::int64_t size = 0;   // bytes; 0 for folders
    std::time_t modified = 0;
    std::uint32_t mode = 0;  // st_mode: type and permission bits

    // Read-only, hidden and folder as DOS attribute bits.
    std::uint32_t dosAttributes() const;
    // The modification time as a DOS date-time (clamped to the DOS range).
    DosDateTime dosModified() const { return TimeToDos(modified); }
};

// Everything above for `path`; `exists` false (and the rest zero) when the
// path or the target of a link is missing or cannot be examined.
FileAttributes ReadFileAttributes(const std::string& path);

// The file's modification time as a DOS date-time; nullopt when it is missing.
std::optional<DosDateTime> FileDosDateTime(const std::string& path);

// Sets the modification (and access) time; false when the file is missing,
// the user may not change it, or `dos` is not a valid DOS date-time.
bool SetFileModified(const std::string& path, std::time_t modified);
bool SetFileDosDateTime(const std::string& path, DosDateTime dos);

// True for a name whose last component starts with "." (not "." or "..").
bool IsHiddenName(const std::string& path);

}  // namespace platform
