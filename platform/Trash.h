// Moving files and folders to the desktop's trash, following the
// freedesktop.org trash specification, so that files deleted "with undo"
// show up in the file manager's trash and can be restored from there.
//
// A file on the file system of the home trash ($XDG_DATA_HOME/Trash, by
// default ~/.local/share/Trash) goes there. A file on another file system
// goes to that file system's top directory: $topdir/.Trash/$uid when
// $topdir/.Trash is a real folder (no link) with the sticky bit, otherwise
// $topdir/.Trash-$uid. The info/NAME.trashinfo record is written first;
// then the file is renamed into files/NAME. Nothing is ever copied and
// nothing is deleted: when the file cannot be renamed into a trash the call
// fails and the file stays where it was.
#pragma once

#include <optional>
#include <string>

namespace platform {

struct TrashResult {
    bool ok = false;
    std::string trashedPath;  // where the file is now (files/NAME)
    std::string infoPath;     // its info/NAME.trashinfo
    std::string error;        // the reason when not ok

    explicit operator bool() const { return ok; }
};

// Moves `path` (a file, a folder with its contents, or a symbolic link
// itself) to the trash.
TrashResult MoveToTrash(const std::string& path);

// Puts a second name of the file `path` (a hard link) into the trash and
// leaves the file where it is: the trash keeps the current content while the
// caller replaces the name atomically (rename over it). A symbolic link is
// followed (ResolveLinks), as ReplaceFile replaces the file it points to.
// Fails for folders and on file systems without hard links.
TrashResult LinkToTrash(const std::string& path);

// The home trash folder: $XDG_DATA_HOME/Trash when XDG_DATA_HOME is an
// absolute path, else $HOME/.local/share/Trash; no trailing slash.
std::string HomeTrashFolder();

// The trash folder of a file system's top directory as chosen above,
// creating $uid or .Trash-$uid (mode 0700) when `create` is set; nullopt
// when there is none that is safe to use.
std::optional<std::string> TopDirTrashFolder(const std::string& topDir, bool create);

// Percent-encodes a path for the Path= line: letters, digits, "-._~" and
// "/" stay, every other byte becomes %XX.
std::string PercentEncodePath(const std::string& path);

}  // namespace platform
