#include "platform/FileSpecMatch.h"

#include <locale.h>
#include <wctype.h>
#include <algorithm>
#include <array>
#include <limits>

#include "platform/CodePage.h"

namespace {

constexpr char16_t kBackslash = u'\\';
constexpr char16_t kStar = u'*';
constexpr char16_t kQuestion = u'?';
constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

// The locale whose LC_CTYPE carries the Unicode case tables; created once and
// kept for the life of the process. Null when the C library has no such
// locale, in which case only Latin-1 letters are upper-cased by hand.
locale_t upperLocale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    return locale;
}

char16_t upperAscii(char ch) {
    if (ch >= 'a' && ch <= 'z') {
        return static_cast<char16_t>(ch - 'a' + 'A');
    }
    if (ch == '/') {
        return kBackslash;
    }
    return static_cast<char16_t>(ch);
}

// Simple (one-to-one) upper-case mapping of one UTF-16 code unit. Surrogate
// halves stay as they are, as does any letter whose capital would not fit in
// one code unit, so the text keeps its length.
char16_t upperUnit(char16_t ch) {
    if (ch < 0x80) {
        return upperAscii(static_cast<char>(ch));
    }
    if (ch >= 0xD800 && ch <= 0xDFFF) {
        return ch;
    }
    wint_t up = ch;
    if (const locale_t locale = upperLocale()) {
        up = towupper_l(ch, locale);
    } else if (ch >= 0xE0 && ch <= 0xFE && ch != 0xF7) {
        up = ch - 0x20;  // Latin-1 small letters
    } else if (ch == 0xFF) {
        up = 0x178;
    }
    if (up > 0xFFFF || (up >= 0xD800 && up <= 0xDFFF)) {
        return ch;
    }
    return static_cast<char16_t>(up);
}

// The comparison of one pattern character with one text character.
bool sameChar(char16_t pattern, char16_t text) {
    return pattern == text || (pattern == kQuestion && text != kBackslash);
}

// Parses a specification (or, with `isName`, a name) from `pos`; returns the
// position after it.
std::size_t parseText(std::u16string_view text, std::size_t pos, bool isName, TZAParsedSpec& spec) {
    const std::size_t n = text.size();
    while (pos < n && text[pos] <= u' ') {
        ++pos;
    }
    const std::size_t start = pos;
    std::size_t end = n;
    std::size_t next = n;
    std::size_t dot = kNone;
    std::size_t i = pos;
    while (i < n) {
        const char16_t ch = text[i];
        if (!isName && (ch < u' ' || ch == u'|')) {
            end = i;
            next = ch == u'|' ? i + 1 : i;
            break;
        }
        if (ch == u' ') {
            // Blanks belong to the file spec unless nothing but its end follows.
            std::size_t j = i;
            while (j < n && text[j] == u' ') {
                ++j;
            }
            if (j == n || (!isName && (text[j] < u' ' || text[j] == u'|'))) {
                end = i;
                next = j < n && text[j] == u'|' ? j + 1 : j;
                break;
            }
            i = j;
            continue;
        }
        if (ch == u':' || ch == kBackslash) {
            // A dot in a folder part is no extension dot.
            dot = kNone;
        } else if (ch == u'.' && i != start) {
            dot = i;
        }
        ++i;
    }

    spec = TZAParsedSpec{};
    spec.start = start;
    if (dot == kNone) {
        spec.baseEnd = end;
        spec.extStart = end;
    } else {
        spec.baseEnd = dot;
        spec.extStart = dot + 1;
        spec.flags |= TZAParsedSpec::HasDot;
    }
    spec.extEnd = end;
    spec.baseLen = spec.baseEnd - spec.start;
    spec.extLen = spec.extEnd - spec.extStart;

    const auto stars = [&](std::size_t from, std::size_t to) {
        return static_cast<std::size_t>(std::count(text.begin() + static_cast<std::ptrdiff_t>(from),
                                                   text.begin() + static_cast<std::ptrdiff_t>(to),
                                                   kStar));
    };
    const std::size_t baseStars = stars(spec.start, spec.baseEnd);
    const std::size_t extStars = stars(spec.extStart, spec.extEnd);
    if (spec.baseLen > 0) {
        spec.flags |= TZAParsedSpec::HasBase;
        if (baseStars == spec.baseLen) {
            spec.flags |= TZAParsedSpec::BaseAllStars;
        }
    }
    if (baseStars > 0) {
        spec.flags |= TZAParsedSpec::BaseHasStar;
    }
    if (spec.extLen > 0) {
        spec.flags |= TZAParsedSpec::HasExt;
        if (extStars == spec.extLen) {
            spec.flags |= TZAParsedSpec::ExtAllStars;
        }
    }
    if (extStars > 0) {
        spec.flags |= TZAParsedSpec::ExtHasStar;
    }
    return next;
}

// Matches a pattern that begins and ends with "*" against a text. Every "*"
// matches any run of characters, so the question is only whether the literal
// pieces between the stars can be placed in order without overlap. The scan
// places each piece at its leftmost possible position and, on a mismatch,
// retries only from the most recent "*": moving an earlier piece further right
// can never help, because any text an earlier "*" could absorb, the later "*"
// can absorb as well. The answer is therefore the same as trying every
// position for every "*" in turn (which is exponential for patterns such as
// "*a*a*a*b"), while this takes at most |pattern| x |text| steps and no memory.
bool matchBetweenStars(std::u16string_view pattern, std::u16string_view text) {
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t star = kNone;
    std::size_t resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == kStar) {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && sameChar(pattern[p], text[t])) {
            ++p;
            ++t;
        } else if (star != kNone) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == kStar) {
        ++p;
    }
    return p == pattern.size();
}

}  // namespace

void prepareMatchText(std::string_view text, bool utf8, std::u16string& out) {
    out.reserve(out.size() + text.size());
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        const char ch = text[i];
        if (static_cast<unsigned char>(ch) >= 0x80) {
            break;
        }
        out.push_back(upperAscii(ch));
    }
    if (i == text.size()) {
        return;
    }
    // Everything before i was ASCII, so i starts a character in either encoding.
    const std::u16string wide =
        utf8 ? platform::Utf8ToUtf16(text.substr(i)) : platform::AnsiToUtf16(text.substr(i));
    for (const char16_t ch : wide) {
        out.push_back(upperUnit(ch));
    }
}

std::size_t parseFileSpec(std::u16string_view text, std::size_t pos, TZAParsedSpec& spec) {
    return parseText(text, pos, false, spec);
}

void parseFileName(std::u16string_view text, TZAParsedSpec& name) {
    parseText(text, 0, true, name);
}

bool wildcardMatch(std::u16string_view pattern, std::u16string_view text) {
    if (pattern.size() == 1 && pattern[0] == kStar) {
        return true;
    }
    if (text.empty()) {
        return pattern.empty();
    }
    // The literal front up to the first "*".
    std::size_t front = 0;
    while (front < pattern.size() && pattern[front] != kStar) {
        if (front >= text.size() || !sameChar(pattern[front], text[front])) {
            return false;
        }
        ++front;
    }
    if (front == pattern.size()) {
        return front == text.size();
    }
    // The literal back after the last "*", against the text's last characters
    // that the front has not used.
    std::size_t patternEnd = pattern.size();
    std::size_t textEnd = text.size();
    while (pattern[patternEnd - 1] != kStar) {
        if (textEnd <= front || !sameChar(pattern[patternEnd - 1], text[textEnd - 1])) {
            return false;
        }
        --patternEnd;
        --textEnd;
    }
    return matchBetweenStars(pattern.substr(front, patternEnd - front),
                             text.substr(front, textEnd - front));
}

void TZASpecList::assign(std::string_view specs, bool utf8) {
    utf8_ = utf8;
    text_.clear();
    specs_.clear();
    prepareMatchText(specs, utf8, text_);
    std::size_t pos = 0;
    for (;;) {
        while (pos < text_.size() && (text_[pos] <= u' ' || text_[pos] == u'|')) {
            ++pos;
        }
        if (pos >= text_.size()) {
            break;
        }
        TZAParsedSpec spec;
        pos = parseFileSpec(text_, pos, spec);
        specs_.push_back(spec);
    }
}

bool TZASpecList::matches(std::string_view name) const {
    thread_local std::u16string prepared;
    prepared.clear();
    prepareMatchText(name, utf8_, prepared);
    return matchesPrepared(prepared);
}

bool TZASpecList::matchesPrepared(std::u16string_view name) const {
    if (specs_.empty()) {
        return false;
    }
    TZAParsedSpec parsed;
    parseFileName(name, parsed);
    if (parsed.extEnd == parsed.start) {
        return false;  // nothing but blanks
    }
    for (const TZAParsedSpec& spec : specs_) {
        if (matchesOne(spec, name, parsed)) {
            return true;
        }
    }
    return false;
}

bool TZASpecList::matchesOne(const TZAParsedSpec& spec, std::u16string_view name,
                             const TZAParsedSpec& parsed) const {
    using S = TZAParsedSpec;
    const std::u16string_view text = text_;
    if (spec.has(S::BaseAllStars) && (spec.has(S::ExtAllStars) || !spec.has(S::HasDot))) {
        return true;  // "*.*" or "*"
    }
    if (spec.has(S::HasExt) && !spec.has(S::ExtHasStar) && spec.extLen != parsed.extLen) {
        return false;
    }
    if (!spec.has(S::BaseHasStar) && spec.baseLen != parsed.baseLen) {
        return false;
    }
    std::size_t nameBaseEnd = parsed.baseEnd;
    if (!spec.has(S::ExtAllStars)) {
        if (spec.has(S::HasExt)) {
            if (!parsed.has(S::HasExt) ||
                !wildcardMatch(text.substr(spec.extStart, spec.extLen),
                               name.substr(parsed.extStart, parsed.extLen))) {
                return false;
            }
        } else if (spec.has(S::HasDot)) {
            if (parsed.has(S::HasExt)) {
                return false;  // "name." asks for a name without extension
            }
        } else if (parsed.has(S::HasExt)) {
            nameBaseEnd = parsed.extEnd;  // a spec without dot sees the whole name
        }
    }
    if (spec.has(S::BaseAllStars)) {
        return true;
    }
    const std::u16string_view specBase = text.substr(spec.start, spec.baseLen);
    const std::u16string_view nameBase = name.substr(parsed.start, nameBaseEnd - parsed.start);
    if (spec.has(S::BaseHasStar)) {
        return wildcardMatch(specBase, nameBase);
    }
    if (specBase.size() != nameBase.size()) {
        return false;
    }
    for (std::size_t i = 0; i < specBase.size(); ++i) {
        if (!sameChar(specBase[i], nameBase[i])) {
            return false;
        }
    }
    return true;
}

std::int32_t CompareFileNames(std::string_view a, std::string_view b, bool utf8) {
    thread_local std::u16string preparedA;
    thread_local std::u16string preparedB;
    preparedA.clear();
    preparedB.clear();
    prepareMatchText(a, utf8, preparedA);
    prepareMatchText(b, utf8, preparedB);
    // Characters past the end of b count as 0, so a longer a differs at b's end.
    for (std::size_t i = 0; i < preparedA.size(); ++i) {
        const int charA = preparedA[i];
        const int charB = i < preparedB.size() ? preparedB[i] : 0;
        if (charA != charB) {
            return charA - charB;
        }
    }
    const auto diff =
        static_cast<std::int64_t>(preparedA.size()) - static_cast<std::int64_t>(preparedB.size());
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        diff, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

bool MatchFileSpecs(std::string_view specs, std::string_view name, bool utf8) {
    if (specs.empty() || name.empty()) {
        return false;
    }
    // Entry selection calls this once per entry with the same specification
    // list (an include list and an exclude list alternate), so the last few
    // lists are kept prepared and parsed.
    struct CachedList {
        std::string specs;
        bool utf8 = false;
        bool valid = false;
        TZASpecList list;
    };
    thread_local std::array<CachedList, 4> cache;
    thread_local std::size_t nextSlot = 0;
    for (const CachedList& entry : cache) {
        if (entry.valid && entry.utf8 == utf8 && entry.specs == specs) {
            return entry.list.matches(name);
        }
    }
    CachedList& slot = cache[nextSlot];
    nextSlot = (nextSlot + 1) % cache.size();
    slot.specs.assign(specs);
    slot.utf8 = utf8;
    slot.list.assign(specs, utf8);
    slot.valid = true;
    return slot.list.matches(name);
}

bool HasNoWildcards(std::string_view text) {
    return text.find_first_of("*?|") == std::string_view::npos;
}
