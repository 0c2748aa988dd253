// Small helpers shared by the component's units: path pieces in the style the
// component uses them (a file name's folder, name and extension), file
// existence, the temporary folder and deleting a file.
#pragma once

#include <string>
#include <string_view>

// The folder part of a path including its trailing "/", or "".
std::string ExtractFilePath(std::string_view path);
// The name after the last "/".
std::string ExtractFileName(std::string_view path);
// The extension including its ".", or "" (a dot in a folder name does not count).
std::string ExtractFileExt(std::string_view path);
// The path with its extension replaced by `ext` (which includes its ".").
std::string ChangeFileExt(std::string_view path, std::string_view ext);
// ASCII upper case (code-page-independent, for extensions and labels).
std::string UpperCaseAscii(std::string_view text);
bool SameTextAscii(std::string_view a, std::string_view b);

// True for an existing regular file.
bool FileExists(const std::string& path);
// Deletes a file, to the desktop trash unless `permanent`. A file the trash
// cannot take is kept, never deleted for good instead: false then, with the
// reason in `error` when given.
bool DeleteFileOrTrash(const std::string& path, bool permanent, std::string* error = nullptr);
