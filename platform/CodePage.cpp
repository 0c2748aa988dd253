#include "platform/CodePage.h"

#include "platform/EntryName.h"

#include <iconv.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

// Every conversion runs as "decode to code points, encode from code points".
// UTF-8 and UTF-16 are coded by hand. Single-byte code pages (1252, 850 and
// most others) are turned into a 256-entry table once, with iconv supplying
// the mapping; after that no conversion calls iconv, so they are fast and
// safe from any thread. Only multi-byte code pages (932, 936, ...) go through
// iconv for every string, with descriptors cached per thread.

namespace platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kNoChar = 0xFFFFFFFF;

// ---------------------------------------------------------------- UTF-8 / UTF-16

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void appendUtf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 | (c >> 10));
        out += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
    }
}

// Decodes one character at `pos` and advances `pos`. A malformed sequence
// yields kReplacement and consumes its longest valid-looking prefix (at least
// one byte), so one broken character costs one replacement.
char32_t nextUtf8(std::string_view s, size_t& pos) {
    const auto lead = static_cast<unsigned char>(s[pos++]);
    if (lead < 0x80) {
        return lead;
    }
    int more;
    char32_t c;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        more = 1;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        more = 2;
        c = lead & 0x0F;
        if (lead == 0xE0)
            lo = 0xA0;  // overlong
        if (lead == 0xED)
            hi = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        more = 3;
        c = lead & 0x07;
        if (lead == 0xF0)
            lo = 0x90;  // overlong
        if (lead == 0xF4)
            hi = 0x8F;  // above U+10FFFF
    } else {
        return kReplacement;
    }
    for (int i = 0; i < more; ++i) {
        if (pos >= s.size()) {
            return kReplacement;
        }
        const auto b = static_cast<unsigned char>(s[pos]);
        const unsigned char min = i == 0 ? lo : 0x80;
        const unsigned char max = i == 0 ? hi : 0xBF;
        if (b < min || b > max) {
            return kReplacement;
        }
        c = (c << 6) | (b & 0x3F);
        ++pos;
    }
    return c;
}

char32_t nextUtf16(std::u16string_view s, size_t& pos) {
    const char16_t u = s[pos++];
    if (u < 0xD800 || u > 0xDFFF) {
        return u;
    }
    if (u <= 0xDBFF && pos < s.size() && s[pos] >= 0xDC00 && s[pos] <= 0xDFFF) {
        const char16_t low = s[pos++];
        return 0x10000 + ((char32_t(u) - 0xD800) << 10) + (low - 0xDC00);
    }
    return kReplacement;  // lone surrogate
}

// ---------------------------------------------------------------- code page names

// iconv's name for a Windows code page number, or "" for UTF-8.
std::string iconvName(unsigned cp) {
    if (cp == kCodePageUtf8) {
        return {};
    }
    if (cp >= 28591 && cp <= 28606) {
        return "ISO-8859-" + std::to_string(cp - 28590);
    }
    switch (cp) {
        case 20127:
            return "ASCII";
        case 20866:
            return "KOI8-R";
        case 21866:
            return "KOI8-U";
        case 10000:
            return "MACINTOSH";
        case 51932:
            return "EUC-JP";
        case 51949:
            return "EUC-KR";
        case 54936:
            return "GB18030";
        default:
            return "CP" + std::to_string(cp);
    }
}

bool iconvKnows(const std::string& name) {
    iconv_t cd = iconv_open("UTF-32LE", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    iconv_close(cd);
    return true;
}

// ---------------------------------------------------------------- single-byte tables

struct ByteTable {
    std::array<char32_t, 256> decode{};
    std::vector<std::pair<char32_t, unsigned char>> encode;  // sorted by code point
    bool asciiCompatible = true;

    unsigned char lookup(char32_t c) const {
        if (c < 0x80 && asciiCompatible) {
            return static_cast<unsigned char>(c);
        }
        auto it =
            std::lower_bound(encode.begin(), encode.end(), std::make_pair(c, (unsigned char)0));
        return it != encode.end() && it->first == c ? it->second : '?';
    }
};

// Builds the table of a code page by decoding each byte on its own (bytes
// are not composed with following combining marks, as on Windows). Returns
// nullptr when the code page is multi-byte (a lead byte alone is incomplete).
std::unique_ptr<ByteTable> buildByteTable(const std::string& name) {
    iconv_t cd = iconv_open("UTF-32LE", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return nullptr;
    }
    auto table = std::make_unique<ByteTable>();
    bool multiByte = false;
    for (unsigned b = 0; b < 256 && !multiByte; ++b) {
        char in = static_cast<char>(b);
        unsigned char outBuf[16];
        char* inPtr = &in;
        size_t inLeft = 1;
        char* outPtr = reinterpret_cast<char*>(outBuf);
        size_t outLeft = sizeof outBuf;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        if (r != static_cast<size_t>(-1)) {
            // Some converters (CP1258) hold a letter back waiting for a
            // combining mark; flushing releases it.
            r = iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
        }
        char32_t c = kNoChar;
        if (r != static_cast<size_t>(-1) && sizeof outBuf - outLeft == 4) {
            c = outBuf[0] | (outBuf[1] << 8) | (outBuf[2] << 16) | (char32_t(outBuf[3]) << 24);
        } else if (r == static_cast<size_t>(-1) && errno == EINVAL) {
            multiByte = true;
        }
        table->decode[b] = c == kNoChar ? kReplacement : c;
        if (b < 0x80 && c != b) {
            table->asciiCompatible = false;
        }
        if (c != kNoChar) {
            table->encode.emplace_back(c, static_cast<unsigned char>(b));
        }
    }
    iconv_close(cd);
    if (multiByte) {
        return nullptr;
    }
    // Sort by code point; of several bytes for one code point the lowest wins.
    std::stable_sort(table->encode.begin(), table->encode.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    table->encode.erase(
        std::unique(table->encode.begin(), table->encode.end(),
                    [](const auto& a, const auto& b) { return a.first == b.first; }),
        table->encode.end());
    return table;
}

// A code page as the converters see it: UTF-8, a byte table, or an iconv name.
struct Codec {
    unsigned cp = kCodePageAnsi;
    const ByteTable* table = nullptr;  // single-byte code page
    std::string name;                  // multi-byte code page (iconv)
    bool utf8() const { return cp == kCodePageUtf8; }
};

// The two code pages every reader of names needs come from the tables the
// self-extractor shares (EntryName.c), so that all readers agree on them.
std::unique_ptr<ByteTable> sharedByteTable(unsigned cp) {
    auto table = std::make_unique<ByteTable>();
    for (unsigned b = 0; b < 256; ++b) {
        const char32_t c = entry_name_byte(cp, static_cast<unsigned char>(b));
        table->decode[b] = c;
        table->encode.emplace_back(c, static_cast<unsigned char>(b));
    }
    std::stable_sort(table->encode.begin(), table->encode.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    return table;
}

const ByteTable& ansiTable() {
    static const std::unique_ptr<ByteTable> table = sharedByteTable(kCodePageAnsi);
    return *table;
}

const ByteTable& oemTable() {
    static const std::unique_ptr<ByteTable> table = sharedByteTable(kCodePageOem);
    return *table;
}

// Resolves a code page number; unknown numbers fall back to the ANSI code page.
Codec codecFor(unsigned cp) {
    if (cp == 0 || cp == kCodePageAnsi) {
        return {kCodePageAnsi, &ansiTable(), {}};
    }
    if (cp == kCodePageOem) {
        return {kCodePageOem, &oemTable(), {}};
    }
    if (cp == kCodePageUtf8) {
        return {kCodePageUtf8, nullptr, {}};
    }
    struct Entry {
        std::unique_ptr<ByteTable> table;
        std::string name;  // set for multi-byte code pages
        bool known = false;
    };
    static std::mutex mutex;
    static std::map<unsigned, Entry> cache;  // entries are never removed
    std::lock_guard lock(mutex);
    auto [it, inserted] = cache.try_emplace(cp);
    Entry& e = it->second;
    if (inserted) {
        const std::string name = iconvName(cp);
        if (iconvKnows(name)) {
            e.known = true;
            e.table = buildByteTable(name);
            if (!e.table) {
                e.name = name;
            }
        }
    }
    if (!e.known) {
        return {kCodePageAnsi, &ansiTable(), {}};
    }
    return {cp, e.table.get(), e.name};
}

// ---------------------------------------------------------------- iconv for multi-byte code pages

// Descriptors are stateful, so each thread keeps its own.
class IconvCache {
public:
    ~IconvCache() {
        for (auto& [key, cd] : descriptors_) {
            iconv_close(cd);
        }
    }
    iconv_t get(const std::string& to, const std::string& from) {
        auto key = std::make_pair(to, from);
        auto it = descriptors_.find(key);
        if (it == descriptors_.end()) {
            iconv_t cd = iconv_open(to.c_str(), from.c_str());
            if (cd == reinterpret_cast<iconv_t>(-1)) {
                return cd;
            }
            it = descriptors_.emplace(std::move(key), cd).first;
        }
        iconv(it->second, nullptr, nullptr, nullptr, nullptr);  // reset shift state
        return it->second;
    }

private:
    std::map<std::pair<std::string, std::string>, iconv_t> descriptors_;
};

IconvCache& iconvCache() {
    thread_local IconvCache cache;
    return cache;
}

std::u32string iconvDecode(std::string_view text, const std::string& name) {
    std::u32string out;
    iconv_t cd = iconvCache().get("UTF-32LE", name);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return out;
    }
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    std::vector<unsigned char> buf(4 * text.size() + 16);
    while (inLeft > 0) {
        char* outPtr = reinterpret_cast<char*>(buf.data());
        size_t outLeft = buf.size();
        const size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        const size_t produced = buf.size() - outLeft;
        for (size_t i = 0; i + 3 < produced; i += 4) {
            out += char32_t(buf[i] | (buf[i + 1] << 8) | (buf[i + 2] << 16) |
                            (char32_t(buf[i + 3]) << 24));
        }
        if (r != static_cast<size_t>(-1)) {
            break;
        }
        if (errno == EILSEQ) {  // invalid byte: replace it and go on
            out += kReplacement;
            ++in;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        } else if (errno == EINVAL) {  // truncated character at the end
            out += kReplacement;
            break;
        } else if (errno != E2BIG) {
            break;
        }
    }
    return out;
}

void iconvEncode(std::u32string_view text, const std::string& name, std::string& out) {
    iconv_t cd = iconvCache().get(name, "UTF-32LE");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return;
    }
    std::vector<unsigned char> in;
    in.reserve(4 * text.size());
    for (char32_t c : text) {
        for (int i = 0; i < 4; ++i) {
            in.push_back(static_cast<unsigned char>(c >> (8 * i)));
        }
    }
    char* inPtr = reinterpret_cast<char*>(in.data());
    size_t inLeft = in.size();
    std::vector<char> buf(4 * text.size() + 16);
    while (inLeft > 0) {
        char* outPtr = buf.data();
        size_t outLeft = buf.size();
        const size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buf.data(), buf.size() - outLeft);
        if (r != static_cast<size_t>(-1)) {
            break;
        }
        if (errno == EILSEQ) {  // no mapping in the target: '?' and go on
            out += '?';
            inPtr += 4;
            inLeft -= 4;
        } else if (errno != E2BIG) {
            break;
        }
    }
    // Close any shift sequence of stateful encodings.
    char* outPtr = buf.data();
    size_t outLeft = buf.size();
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buf.data(), buf.size() - outLeft);
}

// ---------------------------------------------------------------- generic conversion

std::u32string decode(std::string_view text, const Codec& codec) {
    std::u32string out;
    if (codec.utf8()) {
        out.reserve(text.size());
        for (size_t pos = 0; pos < text.size();) {
            out += nextUtf8(text, pos);
        }
    } else if (codec.table) {
        out.reserve(text.size());
        for (char ch : text) {
            out += codec.table->decode[static_cast<unsigned char>(ch)];
        }
    } else {
        out = iconvDecode(text, codec.name);
    }
    return out;
}

std::string encode(std::u32string_view text, const Codec& codec) {
    std::string out;
    if (codec.utf8()) {
        out.reserve(text.size());
        for (char32_t c : text) {
            appendUtf8(out, c);
        }
    } else if (codec.table) {
        out.reserve(text.size());
        for (char32_t c : text) {
            out += static_cast<char>(codec.table->lookup(c));
        }
    } else {
        iconvEncode(text, codec.name, out);
    }
    return out;
}

// Byte tables straight to UTF-8 and back: the common case when loading archives.
std::string tableToUtf8(std::string_view text, const ByteTable& table) {
    if (table.asciiCompatible && IsAscii(text)) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    for (char ch : text) {
        appendUtf8(out, table.decode[static_cast<unsigned char>(ch)]);
    }
    return out;
}

std::string utf8ToTable(std::string_view text, const ByteTable& table) {
    if (table.asciiCompatible && IsAscii(text)) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size());
    for (size_t pos = 0; pos < text.size();) {
        out += static_cast<char>(table.lookup(nextUtf8(text, pos)));
    }
    return out;
}

}  // namespace

std::string ConvertCodePage(std::string_view text, unsigned from, unsigned to) {
    const Codec source = codecFor(from);
    const Codec target = codecFor(to);
    if (source.cp == target.cp || text.empty()) {
        return std::string(text);
    }
    const bool asciiSafe = (source.utf8() || (source.table && source.table->asciiCompatible)) &&
                           (target.utf8() || (target.table && target.table->asciiCompatible));
    if (asciiSafe && IsAscii(text)) {
        return std::string(text);
    }
    if (source.table && target.utf8()) {
        return tableToUtf8(text, *source.table);
    }
    if (source.utf8() && target.table) {
        return utf8ToTable(text, *target.table);
    }
    return encode(decode(text, source), target);
}

std::string AnsiToUtf8(std::string_view ansi) {
    return tableToUtf8(ansi, ansiTable());
}
std::string Utf8ToAnsi(std::string_view utf8) {
    return utf8ToTable(utf8, ansiTable());
}
std::string OemToUtf8(std::string_view oem) {
    return tableToUtf8(oem, oemTable());
}
std::string Utf8ToOem(std::string_view utf8) {
    return utf8ToTable(utf8, oemTable());
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (size_t pos = 0; pos < utf8.size();) {
        appendUtf16(out, nextUtf8(utf8, pos));
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (size_t pos = 0; pos < utf16.size();) {
        appendUtf8(out, nextUtf16(utf16, pos));
    }
    return out;
}

std::string Utf16ToAnsi(std::u16string_view utf16) {
    const ByteTable& table = ansiTable();
    std::string out;
    out.reserve(utf16.size());
    for (size_t pos = 0; pos < utf16.size();) {
        out += static_cast<char>(table.lookup(nextUtf16(utf16, pos)));
    }
    return out;
}

std::u16string AnsiToUtf16(std::string_view ansi) {
    const ByteTable& table = ansiTable();
    std::u16string out;
    out.reserve(ansi.size());
    for (char ch : ansi) {
        appendUtf16(out, table.decode[static_cast<unsigned char>(ch)]);
    }
    return out;
}

bool IsValidUtf8(std::string_view text) {
    return entry_name_valid_utf8(reinterpret_cast<const unsigned char*>(text.data()),
                                 text.size()) != 0;
}

bool IsAscii(std::string_view text) {
    // Eight bytes at a time: long names are common in big archives.
    size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        uint64_t word;
        std::copy_n(text.data() + i, 8, reinterpret_cast<char*>(&word));
        if (word & 0x8080808080808080ULL) {
            return false;
        }
    }
    for (; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) {
            return false;
        }
    }
    return true;
}

bool IsKnownCodePage(unsigned cp) {
    return cp == 0 || codecFor(cp).cp == cp;
}

bool NeedsEncoding(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b > 126 || b <= 30;
    });
}

unsigned EntryTextCodePage(std::uint16_t flags, std::uint16_t versionMadeBy,
                           std::string_view stored, unsigned ansiCodePage) {
    const unsigned encoding = entry_name_encoding(
        flags, versionMadeBy, reinterpret_cast<const unsigned char*>(stored.data()), stored.size());
    if (encoding == ENTRY_NAME_ANSI) {
        return ansiCodePage == 0 ? kCodePageAnsi : ansiCodePage;
    }
    return encoding == ENTRY_NAME_OEM ? kCodePageOem : kCodePageUtf8;
}

std::optional<std::string_view> EntryUnicodeText(std::string_view data, std::string_view stored) {
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(stored.data()),
                            static_cast<uInt>(stored.size()));
    const unsigned char* text = nullptr;
    size_t length = 0;
    if (entry_name_unicode_text(reinterpret_cast<const unsigned char*>(data.data()), data.size(),
                                static_cast<uint32_t>(crc), &text, &length) == 0) {
        return std::nullopt;
    }
    return std::string_view(reinterpret_cast<const char*>(text), length);
}

}  // namespace platform
