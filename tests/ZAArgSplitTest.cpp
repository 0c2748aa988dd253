#include "zip/ZAArgSplit.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

struct SplitCase {
    const char* allow;
    std::uint8_t options;
    std::string line;
    std::uint8_t error;
    std::string errorText;
    std::string mainSpec;
    std::string found;
    std::vector<std::string> values;
};

using T = TZAArgSplitter;

const SplitCase kCases[] = {
    // plain specifications
    {">E", 0, "", T::zasNone, "", "", "", {}},
    {">E", 0, "   a.zip   ", T::zasNone, "", "a.zip", "", {}},
    {">E", 0, "a/b.zip /E:c", T::zasNone, "", "a/b.zip", "E", {"c"}},
    {">E", 0, "my file.zip", T::zasNone, "", "my file.zip", "", {}},
    // quoted text keeps blanks and "/"; the quotes go
    {">E", 0, "\"my file.txt\" /E:x", T::zasNone, "", "my file.txt", "E", {"x"}},
    {">E", 0, "\"a /E:b\"", T::zasNone, "", "a /E:b", "", {}},
    {">E", 0, "\"a  \"  ", T::zasNone, "", "a  ", "", {}},
    {"E", 0, "x /E:\"my docs/*.txt\"", T::zasNone, "", "x", "E", {"my docs\\*.txt"}},
    // ">>" arguments
    {">E", 0, "a.zip >> docs\\b.txt", T::zasNone, "", "a.zip", ">", {"docs\\b.txt"}},
    {">E",
     0,
     "a.zip>>docs/b.txt /E:*.bak",
     T::zasNone,
     "",
     "a.zip",
     ">E",
     {"docs\\b.txt", "*.bak"}},
    {">E", 0, "a.zip >> *.txt", T::zasBadValue, "*.txt", "a.zip", "", {}},
    {">E", T::zasArgWildcards, "a.zip >> *.txt", T::zasNone, "", "a.zip", ">", {"*.txt"}},
    {">E",
     T::zasArgWildcards,
     "a.zip >> *.txt|*.doc",
     T::zasBadValue,
     "*.txt|*.doc",
     "a.zip",
     "",
     {}},
    {">E",
     T::zasArgWildcards | T::zasArgList,
     "a.zip >> *.txt|*.doc",
     T::zasNone,
     "",
     "a.zip",
     ">",
     {"*.txt|*.doc"}},
    {">E", T::zasArgList, "a.zip >> a.txt|../b", T::zasBadValue, "a.txt|..\\b", "a.zip", "", {}},
    {">E", 0, "a.zip >>", T::zasBadValue, "", "a.zip", "", {}},
    {">E", 0, "a >> b >> c", T::zasBadValue, "b>>c", "a", "", {}},
    {">E", T::zasSplitAtLast, "a >> b >> c", T::zasNone, "", "a>>b", ">", {"c"}},
    {">E", 0, "a >>   >> b", T::zasBadValue, ">>b", "a", "", {}},
    {"E", 0, "a.zip >> b", T::zasNone, "", "a.zip >> b", "", {}},
    // switches: S and N
    {"SE", 0, "x /S", T::zasNone, "", "x", "S", {"+"}},
    {"SE", 0, "x /s-", T::zasNone, "", "x", "S", {"-"}},
    {"SE", 0, "x /S+x", T::zasBadSyntax, "/S+x", "x", "", {}},
    {"N", 0, "/N- /n+", T::zasDuplicate, "/n+", "", "N", {"-"}},
    // C
    {"C", 0, "x /C:5", T::zasNone, "", "x", "C", {"5"}},
    {"C", 0, "x /C:12", T::zasBadValue, "/C:12", "x", "", {}},
    {"C", 0, "x /C", T::zasBadSyntax, "/C", "x", "", {}},
    // E
    {"E", 0, "x /E", T::zasNone, "", "x", "E", {"|"}},
    {"E", 0, "x /E:a/b | c ", T::zasNone, "", "x", "E", {"a\\b | c"}},
    {"E", 0, "x /Ex", T::zasBadSyntax, "/Ex", "x", "", {}},
    {"E", 0, "x /E:", T::zasBadSyntax, "/E:", "x", "", {}},
    {"E", 0, "x /E:a /E:b", T::zasDuplicate, "/E:b", "x", "E", {"a"}},
    // F
    {"F", 0, "x /F:.", T::zasNone, "", "x", "F", {"."}},
    {"F", 0, "x /F:\" \"", T::zasNone, "", "x", "F", {"."}},
    {"F", 0, "x /F:dir/sub", T::zasNone, "", "x", "F", {"dir\\sub"}},
    {"F", 0, "x /F:../up", T::zasBadValue, "/F:../up", "x", "", {}},
    {"F", 0, "x /F:*", T::zasBadValue, "/F:*", "x", "", {}},
    // X
    {"X", 0, "x /X:a::", T::zasNone, "", "x", "X", {"a::"}},
    {"X", 0, "x /X: a\\b :: c ", T::zasNone, "", "x", "X", {"a/b::c"}},
    {"X", 0, "x /X: :: ", T::zasNone, "", "x", "", {}},
    {"X", 0, "x /X:a", T::zasBadSyntax, "/X:a", "x", "", {}},
    // letters and syntax
    {"E", 0, "x /S", T::zasNotAllowed, "/S", "x", "", {}},
    {"E>", 0, "x />:a", T::zasBadSyntax, "/>:a", "x", "", {}},
    {"E", 0, "x /", T::zasBadSyntax, "/", "x", "", {}},
    {"E", 0, "x / /E:a", T::zasBadSyntax, "/ /E:a", "x", "", {}},
    {"E", 0, "/E:only", T::zasNone, "", "", "E", {"only"}},
    // literal rest of the line
    {"<E", 0, "x <rest /E:y ", T::zasNone, "", "x", "<", {"rest /E:y "}},
    {"<E", 0, "x /E:a<b", T::zasNone, "", "x", "E<", {"a", "b"}},
    {"E", 0, "x<y", T::zasNone, "", "x<y", "", {}},
};

TEST(ZAArgSplit, SplitTable) {
    for (const SplitCase& c : kCases) {
        SCOPED_TRACE("allow '" + std::string(c.allow) + "' line '" + c.line + "'");
        TZAArgSplitter splitter;
        splitter.SetOptions(c.options);
        splitter.SetAllow(c.allow);
        splitter.SetRaw(c.line);
        EXPECT_EQ(splitter.Error(), c.error);
        EXPECT_EQ(splitter.ErrorText(), c.errorText);
        EXPECT_EQ(splitter.MainSpec(), c.mainSpec);
        EXPECT_EQ(splitter.Found(), c.found);
        EXPECT_EQ(splitter.Values(), c.values);
        for (std::size_t i = 0; i < c.found.size(); ++i) {
            EXPECT_TRUE(splitter.Has(c.found[i]));
            EXPECT_EQ(splitter.Value(c.found[i]), c.values[i]);
        }
    }
}

TEST(ZAArgSplit, LettersIgnoreCase) {
    TZAArgSplitter splitter;
    splitter.SetAllow("e>");
    EXPECT_EQ(splitter.Allow(), "E>");
    splitter.SetRaw("a.zip /e:x");
    EXPECT_TRUE(splitter.Has('e'));
    EXPECT_EQ(splitter.Value('e'), "x");
    EXPECT_FALSE(splitter.Has('s'));
    EXPECT_EQ(splitter.Value('s'), "");
}

TEST(ZAArgSplit, BadAllowKeepsTheOldSet) {
    TZAArgSplitter splitter;
    splitter.SetAllow("E");
    splitter.SetAllow("E?");
    EXPECT_EQ(splitter.Error(), T::zasBadSyntax);
    EXPECT_EQ(splitter.ErrorText(), "?");
    EXPECT_EQ(splitter.Allow(), "E");
}

TEST(ZAArgSplit, ChangesSplitAgain) {
    TZAArgSplitter splitter;
    splitter.SetRaw("a.zip >> b.txt /E:c");
    EXPECT_EQ(splitter.Error(), T::zasNotAllowed);  // nothing allowed yet
    splitter.SetAllow(">E");
    EXPECT_EQ(splitter.Error(), T::zasNone);
    EXPECT_EQ(splitter.Found(), ">E");
    splitter.SetRaw("other.zip");
    EXPECT_EQ(splitter.MainSpec(), "other.zip");
    EXPECT_EQ(splitter.Found(), "");
    splitter.SetRaw("a.zip >> *.txt");
    EXPECT_EQ(splitter.Error(), T::zasBadValue);
    splitter.SetOptions(T::zasArgWildcards);
    EXPECT_EQ(splitter.Error(), T::zasNone);
    EXPECT_EQ(splitter.Value('>'), "*.txt");
}

TEST(ZAArgSplit, LongArgumentIsCut) {
    TZAArgSplitter splitter;
    splitter.SetAllow(">");
    splitter.SetRaw("a.zip >> " + std::string(3000, 'x'));
    EXPECT_EQ(splitter.Error(), T::zasBadValue);  // longer than a path may be
    EXPECT_EQ(splitter.ErrorText(), std::string(2048, 'x'));
}

// Blanks next to ">>" go, repeatedly: the literal rule, for comparison.
std::string joinArrowsByRepetition(std::string text) {
    for (bool changed = true; changed;) {
        changed = false;
        for (const char* from : {" >>", ">> "}) {
            for (std::size_t hit; (hit = text.find(from)) != std::string::npos;) {
                text.erase(from[0] == ' ' ? hit : hit + 2, 1);
                changed = true;
            }
        }
    }
    return text;
}

TEST(ZAArgSplit, BlanksAroundArrowsGoLikeRepeatedReplacement) {
    std::mt19937 rng(7);
    const char alphabet[] = "a >";
    for (int round = 0; round < 5000; ++round) {
        std::string line(1 + rng() % 12, ' ');
        for (char& ch : line) {
            ch = alphabet[rng() % 3];
        }
        line = "x" + line + "y";  // no blanks at the ends, so nothing else trims
        const std::string joined = joinArrowsByRepetition(line);
        const std::size_t sep = joined.find(">>");
        TZAArgSplitter splitter;
        splitter.SetAllow(">");
        splitter.SetRaw(line);
        SCOPED_TRACE("line '" + line + "'");
        if (sep == std::string::npos) {
            EXPECT_EQ(splitter.MainSpec(), line);
            continue;
        }
        EXPECT_EQ(splitter.MainSpec(), joined.substr(0, sep));
        const std::string arg =
            splitter.Error() == T::zasNone ? splitter.Value('>') : splitter.ErrorText();
        EXPECT_EQ(arg, joined.substr(sep + 2));
    }
}

TEST(ZAArgSplit, OwnedByAWorkObject) {
    TZAWorkBin owner;
    auto* splitter = CreateOwned<TZAArgSplitter>(&owner);
    ASSERT_NE(splitter, nullptr);
    EXPECT_EQ(owner.OwnedCount(), 1);
    EXPECT_EQ(owner.Owned(0), splitter);
}

}  // namespace
