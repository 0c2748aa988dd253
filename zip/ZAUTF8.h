// Text encodings of names and comments stored in archives: the test for text
// that needs an encoding decision, and the conversions between the
// component's string form (UTF-8 when the UseUTF8 switch is on, else ANSI =
// Windows-1252), the OEM code page (CP850) and UTF-8.
#pragma once

#include <string>
#include <string_view>

#include "platform/CodePage.h"

// The test for text that needs an encoding decision lives with the code pages.
using platform::NeedsEncoding;

// Conversions from the component's string form; `utf8` tells whether the
// text is UTF-8 (else ANSI).
std::string ComponentToOem(std::string_view text, bool utf8);
std::string ComponentToUtf8(std::string_view text, bool utf8);
std::string ComponentToAnsi(std::string_view text, bool utf8);

// 8-bit text in `codePage` (0 = ANSI) to the component's string form.
std::string CodePageToComponent(std::string_view text, unsigned codePage, bool utf8);
// UTF-8 text to the component's string form.
std::string Utf8ToComponent(std::string_view text, bool utf8);
