// Shared helpers of the record, work-zip and end-record tests: scratch
// files, byte strings and a component to hang work objects on.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "PlatformTestSupport.h"
#include "ZATestZip.h"
#include "zip/ZipArchiver.h"

namespace records_test {

using platform_test::ReadFile;
using platform_test::ScratchFolder;
using platform_test::WriteFile;
using ztest::Shell;

// Bytes from a list of values 0-255.
inline std::string B(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) {
        s.push_back(static_cast<char>(b));
    }
    return s;
}

inline std::string LE16(unsigned v) {
    return B({int(v & 0xFF), int((v >> 8) & 0xFF)});
}
inline std::string LE32(std::uint32_t v) {
    return LE16(v & 0xFFFF) + LE16(v >> 16);
}
inline std::string LE64(std::uint64_t v) {
    return LE32(static_cast<std::uint32_t>(v)) + LE32(static_cast<std::uint32_t>(v >> 32));
}

}  // namespace records_test
