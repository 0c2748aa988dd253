#include "ZEUtil.h"

#include <iconv.h>
#include <libdeflate.h>

#include <cctype>

namespace ze {

uint32_t crc32(uint32_t crc, const void* data, size_t n) {
    return libdeflate_crc32(crc, data, n);
}

static const char16_t kCp1252High[32] = {
    0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};

static char16_t cp1252(uint8_t c) {
    return (c >= 0x80 && c < 0xA0) ? kCp1252High[c - 0x80] : char16_t(c);
}

// Decodes one UTF-8 sequence at s[i]; returns its length or 0 when invalid.
static int utf8Seq(std::string_view s, size_t i, uint32_t& cp) {
    auto c = uint8_t(s[i]);
    int n = c < 0x80             ? 1
            : (c & 0xE0) == 0xC0 ? 2
            : (c & 0xF0) == 0xE0 ? 3
            : (c & 0xF8) == 0xF0 ? 4
                                 : 0;
    if (n == 0 || i + n > s.size())
        return 0;
    cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k < n; ++k) {
        auto d = uint8_t(s[i + k]);
        if ((d & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (d & 0x3F);
    }
    static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

bool isValidUtf8(std::string_view s) {
    uint32_t cp;
    for (size_t i = 0; i < s.size();) {
        int n = utf8Seq(s, i, cp);
        if (n == 0)
            return false;
        i += size_t(n);
    }
    return true;
}

std::u16string utf8ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        uint32_t cp;
        int n = utf8Seq(s, i, cp);
        if (n == 0) {
            out.push_back(cp1252(uint8_t(s[i])));
            ++i;
            continue;
        }
        i += size_t(n);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
    }
    return out;
}

static void putUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xC0 | (cp >> 6)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(char(0xE0 | (cp >> 12)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (cp >> 18)));
        out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    }
}

std::string utf16ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t cp = s[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;
        }
        putUtf8(out, cp);
    }
    return out;
}

static std::string iconvName(int codePage) {
    if (codePage == 0 || codePage == 1252)
        return "WINDOWS-1252";
    if (codePage == 65001)
        return "UTF-8";
    return "CP" + std::to_string(codePage);
}

static std::string convert(std::string_view s, const std::string& to, const std::string& from) {
    iconv_t cd = iconv_open(to.c_str(), from.c_str());
    if (cd == iconv_t(-1))
        return std::string(s);
    std::string out;
    std::string in(s);
    char* ip = in.data();
    size_t il = in.size();
    char buf[512];
    while (il > 0) {
        char* op = buf;
        size_t ol = sizeof buf;
        size_t r = iconv(cd, &ip, &il, &op, &ol);
        out.append(buf, size_t(op - buf));
        if (r == size_t(-1) && errno != E2BIG) {
            // Unmappable or invalid input: one replacement character, skip one byte
            // (or one UTF-8 sequence).
            out.push_back('_');
            uint32_t cp;
            int n = from == "UTF-8" ? utf8Seq(std::string_view(ip, il), 0, cp) : 1;
            size_t skip = n > 0 ? size_t(n) : 1;
            ip += skip;
            il -= skip;
        }
    }
    iconv_close(cd);
    return out;
}

std::string codePageToUtf8(std::string_view s, int codePage) {
    if (codePage == 65001)
        return std::string(s);
    return convert(s, "UTF-8", iconvName(codePage));
}

std::string utf8ToCodePage(std::string_view s, int codePage) {
    if (codePage == 65001)
        return std::string(s);
    return convert(s, iconvName(codePage), "UTF-8");
}

bool needsEncoding(std::string_view s) {
    for (char ch : s) {
        auto c = uint8_t(ch);
        if (c > 126 || c <= 30)
            return true;
    }
    return false;
}

bool hasWildcards(std::string_view s) {
    return s.find_first_of("*?|") != std::string_view::npos;
}

static char32_t foldAt(std::string_view s, size_t& i) {
    uint32_t cp;
    int n = utf8Seq(s, i, cp);
    if (n == 0) {
        cp = uint8_t(s[i]);
        n = 1;
    }
    i += size_t(n);
    if (cp == '\\')
        return U'/';
    if (cp < 128)
        return char32_t(std::toupper(int(cp)));
    // Latin-1 supplement and Latin Extended-A lower case letters.
    if (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7)
        return char32_t(cp - 0x20);
    if (cp >= 0x100 && cp <= 0x17F && (cp & 1))
        return char32_t(cp - 1);
    return char32_t(cp);
}

static std::u32string fold(std::string_view s) {
    std::u32string out;
    for (size_t i = 0; i < s.size();)
        out.push_back(foldAt(s, i));
    return out;
}

static bool wild(const char32_t* p, const char32_t* pe, const char32_t* t, const char32_t* te) {
    while (p < pe && *p != U'*') {
        if (t == te)
            return false;
        if (*p != *t && !(*p == U'?' && *t != U'/'))
            return false;
        ++p;
        ++t;
    }
    if (p == pe)
        return t == te;
    while (p < pe && *p == U'*')
        ++p;
    if (p == pe)
        return true;
    for (const char32_t* s = t; s <= te; ++s)
        if (wild(p, pe, s, te))
            return true;
    return false;
}

static bool matchOne(std::u32string spec, const std::u32string& name) {
    if (spec == U"*" || spec == U"*.*")
        return true;
    if (!spec.empty() && spec.back() == U'.' && spec.size() > 1) {
        // "name." matches names without an extension in their last component.
        size_t slash = name.rfind(U'/');
        size_t dot = name.rfind(U'.');
        if (dot != std::u32string::npos && (slash == std::u32string::npos || dot > slash))
            return false;
        spec.pop_back();
    }
    return wild(spec.data(), spec.data() + spec.size(), name.data(), name.data() + name.size());
}

bool fileNameMatch(std::string_view specs, std::string_view name) {
    if (specs.empty() || name.empty())
        return false;
    std::u32string n = fold(name);
    size_t pos = 0;
    while (pos <= specs.size()) {
        size_t bar = specs.find('|', pos);
        if (bar == std::string_view::npos)
            bar = specs.size();
        std::string_view one = specs.substr(pos, bar - pos);
        while (!one.empty() && uint8_t(one.front()) <= 32)
            one.remove_prefix(1);
        while (!one.empty() && uint8_t(one.back()) <= 32)
            one.remove_suffix(1);
        if (!one.empty() && matchOne(fold(one), n))
            return true;
        pos = bar + 1;
    }
    return false;
}

}  // namespace ze
