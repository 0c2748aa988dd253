// The raw-data resources linked into the program. The self-extractor stub
// "ZAResSFX191" (its 4-byte version, then the stub program) is generated at
// build time from ZASFX191.bin.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

// The resource of that name, or an empty span when the program has none
// (the stub is missing from builds without the Windows cross compiler).
std::span<const std::uint8_t> FindRawResource(std::string_view name);
