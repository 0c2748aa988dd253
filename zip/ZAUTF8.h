// Text encodings of names and comments stored in archives: the test for text
// that needs an encoding decision, and the conversions between the
// component's string form (UTF-8 when the UseUTF8 switch is on, else ANSI =
// Windows-1252), the OEM code page (CP850) and UTF-8.
#pragma once

#include <string>
#include <string_view>

// True when the text holds a byte above 126 or a byte of 30 or less (31 does
// not count): such a text cannot be stored the same way in every encoding.
bool NeedsEncoding(std::string_view text);

// Conversions from the component's string form; `utf8` tells whether the
// text is UTF-8 (else ANSI).
std::string ComponentToOem(std::string_view text, bool utf8);
std::string ComponentToUtf8(std::string_view text, bool utf8);
std::string ComponentToAnsi(std::string_view text, bool utf8);

// 8-bit text in `codePage` (0 = ANSI) to the component's string form.
std::string CodePageToComponent(std::string_view text, unsigned codePage, bool utf8);
// UTF-8 text to the component's string form.
std::string Utf8ToComponent(std::string_view text, bool utf8);
