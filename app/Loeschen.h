// Silent deletion of a folder with everything in it.
#pragma once

#include <QString>

// Removes one trailing "/" and deletes the folder tree silently and
// permanently (no trash). True on success. The root and an empty path are
// refused.
bool DeleteFolder(const QString& path);
