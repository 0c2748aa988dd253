#include "zip/ZAMatch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>

#include "tests/WildcardReference.h"
#include "zip/messages/ZAMsg.h"

namespace {

// Runs a test in one text mode and restores the process-wide switch after.
class UseUtf8Scope {
public:
    explicit UseUtf8Scope(bool on) : saved_(GetUseUTF8()) { SetUseUTF8(on); }
    ~UseUtf8Scope() { SetUseUTF8(saved_); }

private:
    bool saved_;
};

struct MatchCase {
    const char* spec;
    const char* name;
    bool expected;
};

void checkMatches(const MatchCase* begin, const MatchCase* end) {
    for (const MatchCase* c = begin; c != end; ++c) {
        SCOPED_TRACE(std::string("spec '") + c->spec + "' name '" + c->name + "'");
        EXPECT_EQ(FileNameMatch(c->spec, c->name), c->expected);
        // The prepared list must give the same answer as the cached call.
        EXPECT_EQ(TZASpecList(c->spec, GetUseUTF8()).matches(c->name), c->expected);
    }
}

const MatchCase kAsciiCases[] = {
    // case does not matter, lists
    {"*.TXT", "notes.txt", true},
    {"*.txt|*.doc", "a.doc", true},
    {"*.txt|*.doc", "a.xls", false},
    {"README", "readme", true},
    // "?" is one character, never a separator
    {"a?c", "abc", true},
    {"a?c", "ab", false},
    {"a?c", "a\\c", false},
    {"a?c", "a/c", false},
    {"*.t?t", "x.txt", true},
    {"*.t?t", "x.tt", false},
    // empty and blank-only
    {"*", "", false},
    {"", "a", false},
    {"", "", false},
    {"   ", "a", false},
    {" | |  |", "a", false},
    {"*", "   ", false},
    // match-all forms
    {"*.*", "a", true},
    {"*.*", "dir/x.y", true},
    {"*", "any.thing.at.all", true},
    {"**", "x", true},
    {"*.**", "x", true},
    // the trailing dot asks for no extension
    {"name.", "name", true},
    {"name.", "name.", true},
    {"name.", "name.txt", false},
    {"*.", "name", true},
    {"*.", "name.txt", false},
    {"name.txt", "name", false},
    // a spec without dot sees the whole name
    {"readme", "readme", true},
    {"readme", "readme.txt", false},
    {"readme", "readme2", false},
    {"a*", "abc.doc", true},
    {"a*", "xabc", false},
    {"a.*", "a", true},
    {"a.*", "a.b", true},
    {"a.*", "ab.c", false},
    {"*.tx*", "x.txt", true},
    {"*.tx*", "x.tx", true},
    {"*.tx*", "x.t", false},
    // folders: "*" runs over separators, "/" and "\" are alike, a dot in a folder is no extension
    {"*.txt", "dir/b.txt", true},
    {"*.txt", "dir\\b.txt", true},
    {"*.txt", "dir.txt/b", false},
    {"d*/*.txt", "dir/sub/a.txt", true},
    {"dir/*", "DIR\\a.b", true},
    {"dir/a.txt", "DIR\\A.TXT", true},
    {"dir/a.txt", "dir/a/txt", false},
    // stars in the middle, without overlap of front and back
    {"a*b*c", "aXbYc", true},
    {"a*b*c", "aXcYb", false},
    {"ab*bc", "abc", false},
    {"ab*bc", "abbc", true},
    {"*a*a*b", "aaab", true},
    {"*a*a*b", "abab", true},
    {"*a*a*b", "abba", false},
    // blanks: trailing ones end a spec, inner ones belong to it
    {"*.txt |*.doc", "a.txt", true},
    {"x.doc  | *.txt  ", "a.txt", true},
    {"my file.txt", "My File.TXT", true},
    {"my file.txt", "myfile.txt", false},
    {"a.txt", "  a.txt", true},
    {"a.txt", "a.txt  ", true},
    // control characters separate specs like "|"
    {"x.txt\tb.txt", "b.txt", true},
    // names are taken whole: a "|" in an entry name is part of it
    {"*.txt", "a|b.txt", true},
    {"a|b.txt", "a|b.txt", false},
};

const MatchCase kUtf8Cases[] = {
    {"\xC3\x84RGER.TXT", "\xC3\xA4rger.txt", true},  // Ä / ä
    {"\xC3\xA9*",
     "\xC3\x89"
     "clair",
     true},                                                                       // é / É
    {"\xCE\x91\xCE\x92\xCE\x93*", "\xCE\xB1\xCE\xB2\xCE\xB3\xCE\xB4.txt", true},  // Greek
    {"\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.*", "\xD0\xA4\xD0\x90\xD0\x99\xD0\x9B.TXT",
     true},  // Cyrillic
    {"\xC3\xA4?",
     "\xC3\x84"
     "b",
     true},
    {"?", "\xC3\xA4", true},  // one character, two bytes
    {"Stra\xC3\x9F"
     "e",
     "STRASSE", false},  // no multi-letter mapping
    {"*.t\xC3\xBCt", "a.T\xC3\x9CT", true},
};

const MatchCase kAnsiCases[] = {
    {"\xC4RGER", "\xE4rger", true},  // Ä / ä in Windows-1252
    {"*\xE9", "caf\xC9", true},      // é / É
    {"\xFF", "\x9F", true},          // ÿ / Ÿ
    {"?", "\xC3\xA4", false},        // UTF-8 bytes are two characters here
};

TEST(ZAMatch, FileNameMatchAscii) {
    UseUtf8Scope mode(false);
    checkMatches(std::begin(kAsciiCases), std::end(kAsciiCases));
    UseUtf8Scope utf8(true);
    checkMatches(std::begin(kAsciiCases), std::end(kAsciiCases));
}

TEST(ZAMatch, FileNameMatchUtf8) {
    UseUtf8Scope mode(true);
    checkMatches(std::begin(kUtf8Cases), std::end(kUtf8Cases));
}

TEST(ZAMatch, FileNameMatchAnsi) {
    UseUtf8Scope mode(false);
    checkMatches(std::begin(kAnsiCases), std::end(kAnsiCases));
}

TEST(ZAMatch, CacheFollowsTextMode) {
    // The same spec bytes mean different characters in the two modes.
    UseUtf8Scope mode(false);
    EXPECT_FALSE(FileNameMatch("?", "\xC3\xA4"));
    SetUseUTF8(true);
    EXPECT_TRUE(FileNameMatch("?", "\xC3\xA4"));
}

TEST(ZAMatch, ParsedSpecFlags) {
    using S = TZAParsedSpec;
    struct Case {
        const char16_t* text;
        std::size_t baseLen;
        std::size_t extLen;
        std::uint8_t flags;
    };
    const Case cases[] = {
        {u"*.*", 1, 1,
         S::HasBase | S::BaseAllStars | S::BaseHasStar | S::HasDot | S::HasExt | S::ExtAllStars |
             S::ExtHasStar},
        {u"*", 1, 0, S::HasBase | S::BaseAllStars | S::BaseHasStar},
        {u"NAME.", 4, 0, S::HasBase | S::HasDot},
        {u".PROFILE", 8, 0, S::HasBase},
        {u"A*.T*T", 2, 3, S::HasBase | S::BaseHasStar | S::HasDot | S::HasExt | S::ExtHasStar},
        {u"D.*\\X*", 6, 0, S::HasBase | S::BaseHasStar},  // the dot is in a folder part
        {u"A.B.C*", 3, 2, S::HasBase | S::HasDot | S::HasExt | S::ExtHasStar},
        {u"  A B  |X", 3, 0, S::HasBase},
    };
    for (const Case& c : cases) {
        TZAParsedSpec spec;
        parseFileSpec(c.text, 0, spec);
        EXPECT_EQ(spec.baseLen, c.baseLen) << std::u16string(c.text).size();
        EXPECT_EQ(spec.extLen, c.extLen);
        EXPECT_EQ(spec.flags, c.flags);
    }
}

TEST(ZAMatch, WildcardAgreesWithRecursiveDefinition) {
    std::mt19937 rng(20261207);
    const char16_t patternChars[] = u"ab?*\\";
    const char16_t textChars[] = u"ab\\.";
    for (int round = 0; round < 20000; ++round) {
        std::u16string pattern(rng() % 9, u' ');
        for (auto& ch : pattern) {
            ch = patternChars[rng() % 5];
        }
        std::u16string text(rng() % 11, u' ');
        for (auto& ch : text) {
            ch = textChars[rng() % 4];
        }
        ASSERT_EQ(wildcardMatch(pattern, text), tarvik_test::referenceWildcardMatch(pattern, text))
            << "round " << round;
    }
}

TEST(ZAMatch, PathologicalPatternStaysFast) {
    // Trying every position for every star would take exponential time on
    // these: the front and back pass, and the middle can never be placed.
    UseUtf8Scope mode(false);
    const std::string as(100000, 'a');
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(FileNameMatch("*a*a*a*a*a*a*a*a*a*ab*c", as + "c"));
    EXPECT_TRUE(FileNameMatch("*a*a*a*a*a*a*a*a*a*ab*c", as + "bc"));
    EXPECT_FALSE(FileNameMatch("x*a*a*a*a*a*b.*a*a*a*a*ab*z", "x" + as + "b." + as + "z"));
    EXPECT_FALSE(FileNameMatch("*aaaaaaaaaaaaaaaaab*", as));
    const auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_LT(elapsed, std::chrono::seconds(2));
}

TEST(ZAMatch, SameFileName) {
    struct Case {
        bool utf8;
        const char* a;
        const char* b;
        std::int32_t expected;
    };
    const Case cases[] = {
        {false, "abc", "ABC", 0},
        {false, "dir/a.txt", "DIR\\A.TXT", 0},
        {false, "", "", 0},
        {false, "abc", "abd", 'C' - 'D'},
        {false, "ab", "abc", -1},
        {false, "abc", "ab", 'C'},
        {false, "", "a", -1},
        {false, "\xE4", "\xC4", 0},
        {true, "\xC3\x84RGER", "\xC3\xA4rger", 0},
        {true, "\xCF\x82", "\xCE\xA3", 0},  // final sigma / capital sigma
        {true, "\xD0\x96", "\xD0\xB6", 0},  // Ж / ж
        {true, "a\xC3\xA4", "a\xC3\xB6", 0xC4 - 0xD6},
    };
    for (const Case& c : cases) {
        UseUtf8Scope mode(c.utf8);
        EXPECT_EQ(SameFileName(c.a, c.b), c.expected) << c.a << " / " << c.b;
    }
}

TEST(ZAMatch, HasNoWildcards) {
    EXPECT_TRUE(HasNoWildcards("dir/name.txt"));
    EXPECT_TRUE(HasNoWildcards(""));
    EXPECT_FALSE(HasNoWildcards("*.txt"));
    EXPECT_FALSE(HasNoWildcards("a?c"));
    EXPECT_FALSE(HasNoWildcards("a|b"));
}

TEST(ZAMatch, IsInvalidPath) {
    struct Case {
        std::string path;
        bool wild;
        bool expected;
    };
    const Case cases[] = {
        {"dir\\file.txt", false, false},
        {"dir/file.txt", false, false},
        {"a b\\c d", false, false},
        {"", false, true},
        {"\\abs", false, true},
        {"/abs", false, true},
        {"c:file", false, true},
        {"a<b", true, true},
        {"a>b", true, true},
        {"a|b", true, true},
        {std::string("a\x1F"
                     "b"),
         true, true},
        {"*.txt", false, true},
        {"*.txt", true, false},
        {"a?c", false, true},
        {"a?c", true, false},
        {"..\\up", false, true},
        {"a..b", false, true},
        {"dir \\x", false, true},
        {"dir /x", false, true},
        {std::string(260, 'x'), false, false},
        {std::string(261, 'x'), false, true},
    };
    UseUtf8Scope mode(false);
    for (const Case& c : cases) {
        EXPECT_EQ(IsInvalidPath(c.path, c.wild), c.expected) << c.path;
    }
    // The limit counts characters: 200 umlauts are 400 bytes of UTF-8.
    std::string umlauts;
    for (int i = 0; i < 200; ++i) {
        umlauts += "\xC3\xA4";
    }
    EXPECT_TRUE(IsInvalidPath(umlauts, false));
    SetUseUTF8(true);
    EXPECT_FALSE(IsInvalidPath(umlauts, false));
}

}  // namespace
