// The component's exceptions and the packed error code they carry.
//
// A packed code is a signed 32-bit value: bits 0-8 the message number in the
// catalogue, bits 9-22 the source line of the raising site, bits 23-31 the
// number of the raising unit. A negative code means the same error as its
// absolute value. Raising sites build their code with ZA_CODE(id), which
// takes the unit from the file name and the line from __LINE__, so every
// site's code is distinct without a hand-kept table of constants.
#pragma once

#include <climits>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "zip/messages/ZAMsg.h"

namespace zaxcpt_detail {

// Units allowed to raise, with their numbers (1-255: the code stays positive).
// A new unit that raises adds its base name here; an unlisted name does not compile.
struct UnitNumber {
    std::string_view name;
    int number;
};
inline constexpr UnitNumber kUnits[] = {
    {"ZipArchiver", 1},
    {"ZACore", 2},
    {"ZAXcpt", 3},
    {"ZAWorkFile", 4},
    {"ZAWZip", 5},
    {"ZADrv", 6},
    {"ZAEOC", 7},
    {"ZAIRec", 8},
    {"ZACentral", 9},
    {"ZAZipFile", 10},
    {"ZACenDir", 11},
    {"ZALister", 12},
    {"ZAFileOpr", 13},
    {"ZAModOpr", 14},
    {"ZAZippedOpr", 15},
    {"ZADllOpr", 16},
    {"ZADllLoad", 17},
    {"ZAArgSplit", 18},
    {"ZAMatch", 19},
    {"ZAUTF8", 20},
    {"ZAUtils", 21},
    {"ZAPipes", 22},
    {"ZAStream", 23},
    {"ZAInternal", 24},
    {"ZAProgress", 25},
    {"ZAMsg", 26},
    {"ZADlg", 27},
    {"ZASFX", 28},
    {"ZAEngineJob", 29},
    {"ZADialogProvider", 30},
    {"ZipArchiverOps", 40},
    {"ZADllOprSets", 41},
    {"ZALoader", 42},
    {"ZAStubIcon", 43},
    {"ZARepair", 44},
    // Test sources raise through the same macro.
    {"ZAXcptTest", 100},
    {"ZACoreTest", 101},
    {"ZAPipesTest", 102},
};

consteval std::string_view baseName(std::string_view path) {
    auto slash = path.find_last_of("/\\");
    if (slash != std::string_view::npos)
        path.remove_prefix(slash + 1);
    auto dot = path.find('.');
    if (dot != std::string_view::npos)
        path = path.substr(0, dot);
    return path;
}

consteval int unitNumber(std::string_view path) {
    const std::string_view base = baseName(path);
    for (const auto& u : kUnits)
        if (u.name == base)
            return u.number;
    throw "unit not registered in zaxcpt_detail::kUnits";
}

}  // namespace zaxcpt_detail

inline constexpr int kZAMsgIdMask = 0x1FF;
inline constexpr int kZALineMask = 0x3FFF;

// Packs unit, line and message id; each part is cut to its field width.
constexpr std::int32_t ZAPackCode(int unit, int line, int msgId) {
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(unit & 0x1FF) << 23) |
                                     (static_cast<std::uint32_t>(line & kZALineMask) << 9) |
                                     static_cast<std::uint32_t>(msgId & kZAMsgIdMask));
}
consteval std::int32_t ZACodeAt(std::string_view file, int line, int msgId) {
    return ZAPackCode(zaxcpt_detail::unitNumber(file), line, msgId);
}
// The packed code for message `id` raised at this source line.
#define ZA_CODE(id) (::ZACodeAt(__FILE__, __LINE__, (id)))

// Parts of a packed code; all take the absolute value first.
constexpr int ZAAbsCode(std::int32_t code) {
    return code == INT32_MIN ? INT32_MAX : (code < 0 ? -code : code);
}
constexpr int ZAMessageIdOf(std::int32_t code) {
    return ZAAbsCode(code) & kZAMsgIdMask;
}
constexpr int ZALineOf(std::int32_t code) {
    return (ZAAbsCode(code) >> 9) & kZALineMask;
}
constexpr int ZAUnitOf(std::int32_t code) {
    return (ZAAbsCode(code) >> 23) & 0xFF;
}

// Engine error numbers to message ids: 0 stays 0, 1-35 are ids 232-266,
// anything above (or below 0) is 237 "Fatal error".
constexpr int EngineErrorToMessageId(int engineError) {
    if (engineError == 0)
        return 0;
    if (engineError >= 1 && engineError <= 35)
        return engineError + 231;
    return 237;
}

class EZAException : public std::exception {
public:
    // The code with its catalogue text formatted with `args`; shown to the user.
    EZAException(std::int32_t code, std::initializer_list<TZAFmtArg> args);
    explicit EZAException(std::int32_t code) : EZAException(code, {}) {}
    // The code with its unformatted catalogue text; `display` decides whether
    // the component shows it in its dialog.
    EZAException(std::int32_t code, bool display);
    // Guards against a string literal choosing the display-flag constructor.
    EZAException(std::int32_t code, const char*) = delete;

    const char* what() const noexcept override { return Message.c_str(); }

    // The message in the component's current encoding: in UTF-8 mode the
    // catalogue text is fetched again, converted and formatted again with the
    // kept arguments, so arguments already in UTF-8 are not converted twice.
    std::string DisplayText() const;

    std::uint8_t ArgKind = 0;  // 0: no kept string argument, 1: Arg1, 2: Arg1 and Arg2
    std::string Arg1;
    std::string Arg2;
    std::int32_t FullCode = 0;  // absolute value of the code
    bool Display = true;
    std::int32_t MessageId = 0;  // FullCode and 511
    std::string Message = "TZipArchiver exception";

protected:
    EZAException() = default;
    void SetCode(std::int32_t code);
    void Format(std::span<const TZAFmtArg> args);

    // The arguments of the formatted constructors, for re-formatting in DisplayText.
    std::vector<TZAFmtArg> args_;
};

class EZipArchiver : public EZAException {
public:
    using EZAException::EZAException;
    // Formats with one integer.
    template <typename T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool>) EZipArchiver(std::int32_t code, T n)
        : EZipArchiver(code, static_cast<std::int64_t>(n), 0) {}
    // Formats with one string, kept as Arg1 (ArgKind 1).
    EZipArchiver(std::int32_t code, const std::string& s);
    EZipArchiver(std::int32_t code, const char* s) : EZipArchiver(code, std::string(s)) {}
    // Formats with two strings, kept as Arg1 and Arg2 (ArgKind 2).
    EZipArchiver(std::int32_t code, const std::string& s1, const std::string& s2);

private:
    EZipArchiver(std::int32_t code, std::int64_t n, int);
};
