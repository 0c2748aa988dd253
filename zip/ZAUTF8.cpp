#include "zip/ZAUTF8.h"

#include "platform/CodePage.h"

std::string ComponentToOem(std::string_view text, bool utf8) {
    return utf8 ? platform::Utf8ToOem(text)
                : platform::ConvertCodePage(text, platform::kCodePageAnsi, platform::kCodePageOem);
}

std::string ComponentToUtf8(std::string_view text, bool utf8) {
    return utf8 ? std::string(text) : platform::AnsiToUtf8(text);
}

std::string ComponentToAnsi(std::string_view text, bool utf8) {
    return utf8 ? platform::Utf8ToAnsi(text) : std::string(text);
}

std::string CodePageToComponent(std::string_view text, unsigned codePage, bool utf8) {
    if (codePage == 0) {
        codePage = platform::kCodePageAnsi;
    }
    if (codePage == platform::kCodePageUtf8) {
        return Utf8ToComponent(text, utf8);
    }
    return platform::ConvertCodePage(text, codePage,
                                     utf8 ? platform::kCodePageUtf8 : platform::kCodePageAnsi);
}

std::string Utf8ToComponent(std::string_view text, bool utf8) {
    return utf8 ? std::string(text) : platform::Utf8ToAnsi(text);
}
