// The catalogue's packed texts, generated at build time by tarvik-msgpack
// from text/*.txt and linked into the library as byte arrays.
#pragma once

#include <cstdint>
#include <span>

// The built-in English table as one block (code "US", id 1033).
std::span<const std::uint8_t> DefaultMessageBlock();

// The program's language resource "ZAResStr191": language blocks end to end.
std::span<const std::uint8_t> ProgramLanguageResource();
