// The icon of a Windows program (the self-extractor stub): read as the bytes
// of an icon file (".ico"), and replaced by the images of an icon file. The
// program's resource section is rebuilt in place; sections after it (the
// base relocations) move along. Failures raise EZipArchiver with messages
// 143-149 (resources, sections, icons).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

// The images of the program's first icon group as an icon file; empty when
// the program has no icon or no resources, or is not a 32-bit program.
// Raises for a resource section that cannot be read.
std::vector<std::uint8_t> ReadExeIcon(std::span<const std::uint8_t> exe);

// Replaces the images of the program's first icon group by those of the
// icon file `ico`.
void ReplaceExeIcon(std::vector<std::uint8_t>& exe, std::span<const std::uint8_t> ico);
