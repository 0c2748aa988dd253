// The file-spec matcher every part of the program shares (the component's
// entry selection, the engine's include and exclude lists): wildcard
// specifications ("*", "?", lists separated by "|") and case-insensitive name
// equality on prepared text.
//
// Texts are converted to UTF-16 (from UTF-8 or from Windows-1252, as the
// caller says), upper-cased with the Unicode simple upper-case mapping, and
// "/" is counted as "\" throughout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One parsed specification (or name) as positions into prepared text. The base
// is [start, baseEnd), the extension [extStart, extEnd); the extension dot, if
// any, sits at baseEnd and belongs to neither part.
struct TZAParsedSpec {
    enum Flag : std::uint8_t {
        HasBase = 0x01,       // base length >= 1
        BaseAllStars = 0x02,  // every character of the base is "*"
        BaseHasStar = 0x04,
        HasDot = 0x08,  // an extension dot was found (possibly the last character)
        HasExt = 0x10,  // the extension is not empty
        ExtAllStars = 0x20,
        ExtHasStar = 0x40,
    };

    std::size_t start = 0;
    std::size_t baseEnd = 0;
    std::size_t extStart = 0;
    std::size_t extEnd = 0;
    std::size_t baseLen = 0;
    std::size_t extLen = 0;
    std::uint8_t flags = 0;

    bool has(Flag flag) const { return (flags & flag) != 0; }
};

// Appends `text` to `out` converted to UTF-16 and upper-cased, with "/"
// turned into "\". `utf8` selects the source encoding. Pure ASCII text takes
// a path without conversion or allocation (beyond the buffer's growth).
void prepareMatchText(std::string_view text, bool utf8, std::u16string& out);

// Parses one specification of a prepared list starting at `pos`: leading
// characters up to blank are skipped; the file spec ends at a control
// character, at "|" or at blanks that are followed by the end or by "|".
// Returns the position after it ("|" consumed).
std::size_t parseFileSpec(std::u16string_view text, std::size_t pos, TZAParsedSpec& spec);

// Parses a prepared name: like a specification, except that "|" and control
// characters are ordinary characters of a name (leading characters up to
// blank and trailing blanks are still dropped).
void parseFileName(std::u16string_view text, TZAParsedSpec& name);

// The wildcard comparison of prepared texts: "*" matches any run of
// characters (including "\" and "."), "?" any one character other than "\".
// A pattern of exactly "*" matches everything; an empty text matches only an
// empty pattern.
bool wildcardMatch(std::u16string_view pattern, std::u16string_view text);

// A "|"-separated specification list prepared and parsed once, for matching
// many names against the same list.
class TZASpecList {
public:
    TZASpecList() = default;
    TZASpecList(std::string_view specs, bool utf8) { assign(specs, utf8); }

    void assign(std::string_view specs, bool utf8);
    bool empty() const { return specs_.empty(); }
    std::size_t count() const { return specs_.size(); }

    // True when the name matches one of the specifications.
    bool matches(std::string_view name) const;
    // The same for a name that is already prepared (prepareMatchText).
    bool matchesPrepared(std::u16string_view name) const;

private:
    bool matchesOne(const TZAParsedSpec& spec, std::u16string_view name,
                    const TZAParsedSpec& parsedName) const;

    std::u16string text_;
    std::vector<TZAParsedSpec> specs_;
    bool utf8_ = false;
};

// 0 when both names are equal ignoring case and "/" versus "\"; otherwise the
// difference of the first differing UTF-16 characters, or of the lengths.
std::int32_t CompareFileNames(std::string_view a, std::string_view b, bool utf8);

// True when `name` matches one of the "|"-separated specifications in `specs`
// (texts in UTF-8 when `utf8`, else Windows-1252). An empty name never
// matches. The last few lists are kept prepared, for callers that test many
// names against one list.
bool MatchFileSpecs(std::string_view specs, std::string_view name, bool utf8);

// True when the text contains none of "*", "?" and "|".
bool HasNoWildcards(std::string_view text);
