// The self-extractor stub as the component reads and changes it, in memory.
// First byte 0: the rest is a program; its settings record is read (in both
// text modes) and its icon is read. First byte 1: then come the length of
// an icon file (16 bits), the icon file and the program, whose icon is
// replaced; a program that took the icon must still have a readable icon.
// Failures raise EZipArchiver; nothing may read or write out of bounds.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "zip/ZALister.h"
#include "zip/ZAStubIcon.h"
#include "zip/ZAXcpt.h"
#include "zip/ZipArchiver.h"

namespace {

void ReadSettings(std::span<const std::uint8_t> program) {
    static TZipArchiver zip;
    zip.SetUnattended(true);
    for (const bool utf8 : {false, true}) {
        zip.SetUseUTF8(utf8);
        TZALister lister(zip);
        (void)lister.ReadStubSettings(program);
    }
    zip.SetUseUTF8(false);
}

void ReadIcon(std::span<const std::uint8_t> program) {
    try {
        (void)ReadExeIcon(program);
    } catch (const EZipArchiver&) {
    }
}

void ReplaceIcon(std::span<const std::uint8_t> rest) {
    if (rest.size() < 2) {
        return;
    }
    const std::size_t icoSize = std::min<std::size_t>(rest[0] | (rest[1] << 8), rest.size() - 2);
    const std::vector<std::uint8_t> ico(rest.begin() + 2, rest.begin() + 2 + icoSize);
    std::vector<std::uint8_t> program(rest.begin() + 2 + icoSize, rest.end());
    try {
        ReplaceExeIcon(program, ico);
    } catch (const EZipArchiver&) {
        return;
    }
    try {
        (void)ReadExeIcon(program);
    } catch (const EZipArchiver&) {
        __builtin_trap();  // a program we wrote must be readable again
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::span<const std::uint8_t> rest(data + 1, size - 1);
    if ((data[0] & 1) == 0) {
        ReadSettings(rest);
        ReadIcon(rest);
    } else {
        ReplaceIcon(rest);
    }
    return 0;
}
