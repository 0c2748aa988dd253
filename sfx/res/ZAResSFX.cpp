#include "sfx/res/ZAResSFX.h"

#include <algorithm>
#include <cctype>
#include <cstddef>

#if TARVIK_HAVE_SFX_STUB
extern const std::uint8_t ZAResSFX191_data[];
extern const std::size_t ZAResSFX191_size;
#endif

std::span<const std::uint8_t> FindRawResource(std::string_view name) {
#if TARVIK_HAVE_SFX_STUB
    // Resource names compare without regard to case, as Windows resource names do.
    constexpr std::string_view kStub = "ZAResSFX191";
    const auto same = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    };
    if (std::ranges::equal(name, kStub, same)) {
        return {ZAResSFX191_data, ZAResSFX191_size};
    }
#else
    (void)name;
#endif
    return {};
}
