// Name matching for the component: wildcard specifications ("*", "?", lists
// separated by "|"), case-insensitive name equality and the check of path
// values given in specification lines.
//
// Both texts are converted to UTF-16 (from UTF-8 when the process-wide UTF-8
// switch is on, otherwise from Windows-1252), upper-cased with the Unicode
// simple upper-case mapping, and "/" is counted as "\" throughout.
#pragma once

#include "platform/FileSpecMatch.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// True when `name` matches one of the "|"-separated specifications in `specs`.
// An empty name never matches.
bool FileNameMatch(std::string_view specs, std::string_view name);

// 0 when both names are equal ignoring case and "/" versus "\"; otherwise the
// difference of the first differing UTF-16 characters, or of the lengths.
std::int32_t SameFileName(std::string_view a, std::string_view b);

// True when `path` is unusable as a relative path value: empty, absolute
// (leading "\" or "/"), longer than 260 characters, holding a control
// character or one of ":<>|", holding "*" or "?" unless `allowWildcards`,
// or holding ".." or a blank in front of a separator.
bool IsInvalidPath(std::string_view path, bool allowWildcards);
