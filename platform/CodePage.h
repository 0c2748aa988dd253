// Conversions between the text encodings the component meets: the ANSI code
// page (Windows-1252), the OEM code page (CP850), UTF-8 and UTF-16LE.
// Characters without a mapping in the target become '?', malformed input
// becomes U+FFFD (or '?' in an 8-bit target), so a conversion never fails and
// never drops the rest of a string.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Code page numbers as stored in archives and options.
inline constexpr unsigned kCodePageAnsi = 1252;
inline constexpr unsigned kCodePageOem = 850;
inline constexpr unsigned kCodePageUtf8 = 65001;

// Converts 8-bit text in code page `from` to 8-bit text in code page `to`;
// 0 means the ANSI code page, and a number iconv does not know is treated as
// the ANSI code page too. Invalid input bytes decode to U+FFFD (which becomes
// '?' in an 8-bit target) and the conversion goes on. Text already in the
// target code page is returned unchanged.
std::string ConvertCodePage(std::string_view text, unsigned from, unsigned to);

// True when `cp` is 0, 1252, 850, 65001 or a number iconv knows (as "CP<n>",
// or ISO-8859-n for 28591..28606).
bool IsKnownCodePage(unsigned cp);

std::string AnsiToUtf8(std::string_view ansi);
std::string Utf8ToAnsi(std::string_view utf8);
std::string OemToUtf8(std::string_view oem);
std::string Utf8ToOem(std::string_view utf8);

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);
std::string Utf16ToAnsi(std::u16string_view utf16);
std::u16string AnsiToUtf16(std::string_view ansi);

// True when `text` is well-formed UTF-8 (no overlongs, no surrogates).
bool IsValidUtf8(std::string_view text);
// True when every byte is below 0x80.
bool IsAscii(std::string_view text);

// True when the text holds a byte above 126 or a byte of 30 or less (31 does
// not count): such a name or comment cannot be stored the same way in every
// encoding.
bool NeedsEncoding(std::string_view text);

// The code page of an entry's stored name or comment when neither a forced
// encoding nor a Unicode record decides, by the rule all readers share
// (EntryName.h): kCodePageUtf8, kCodePageOem, or the ANSI code page
// `ansiCodePage` (0 = Windows-1252).
unsigned EntryTextCodePage(std::uint16_t flags, std::uint16_t versionMadeBy,
                           std::string_view stored, unsigned ansiCodePage);

// The text of the Unicode record whose data (after tag and size) is `data`,
// when it stands for the stored bytes `stored`: version 1, matching CRC-32,
// not empty, valid UTF-8 (EntryName.h); else empty.
std::optional<std::string_view> EntryUnicodeText(std::string_view data, std::string_view stored);

}  // namespace platform
