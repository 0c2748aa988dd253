#include "zip/messages/ZAMsg.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "MsgBlock.h"
#include "platform/CodePage.h"
#include "zip/messages/ZAResStr.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Texts = std::map<int, std::string>;

// Reads a text source independently of the packer: "N<TAB>text" lines with
// the escapes \r \n \s \\; comments and header lines are skipped.
Texts readSource(const std::string& name) {
    std::ifstream file(std::string(TARVIK_SOURCE_DIR) + "/zip/messages/text/" + name);
    EXPECT_TRUE(file.good()) << name;
    Texts texts;
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#' || line[0] == '@') {
            continue;
        }
        const auto tab = line.find('\t');
        std::string text;
        for (std::size_t i = tab + 1; i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) {
                const char e = line[++i];
                text += e == 'r' ? '\r' : e == 'n' ? '\n' : e == 's' ? ' ' : e;
            } else {
                text += line[i];
            }
        }
        texts[std::stoi(line.substr(0, tab))] = text;
    }
    return texts;
}

std::string missing(long long id) {
    return "Resource missing for " + std::to_string(id);
}

// A UTF-16 (or 8-bit) table over one range covering the given numbers.
Bytes makeTable(const Texts& utf8, bool wide = true) {
    msgpack::TableContent content;
    content.wide = wide;
    content.ranges.push_back({utf8.begin()->first, utf8.rbegin()->first});
    for (const auto& [n, text] : utf8) {
        if (wide) {
            content.wideTexts[n] = platform::Utf8ToUtf16(text);
        } else {
            content.narrowTexts[n] = platform::Utf8ToAnsi(text);
        }
    }
    return msgpack::BuildTable(content);
}

// A block whose message 2 names it ("XX text") and whose 279 is its name.
Bytes makeBlock(std::uint16_t id, const std::string& code, const std::string& name) {
    // Padding keeps the table above the minimum size that counts as texts.
    const Texts texts{{2, code + " text"},
                      {13, "L\xC3\xB6schen " + code},
                      {200, "padding padding padding padding"},
                      {279, name}};
    return msgpack::PackBlock(id, code, makeTable(texts));
}

Bytes concat(std::initializer_list<Bytes> blocks) {
    Bytes all;
    for (const Bytes& b : blocks) {
        all.insert(all.end(), b.begin(), b.end());
    }
    return all;
}

// Several blocks in the order of the program's full resource, including the
// two with id 0x040A and the "S1" block that no code can reach.
const Bytes& testResource() {
    static const Bytes resource = concat({
        makeBlock(0x0403, "CT", "CT: Catalan"),
        makeBlock(0x0407, "DE", "DE: German"),
        makeBlock(0x040A, "ES", "ES: Spanish"),
        makeBlock(0x0C0A, "S1", "S1: Spannish"),
        makeBlock(0x040A, "SP", "SP: Spanish"),
        makeBlock(0x041D, "SW", "SW: Swedish"),
    });
    return resource;
}

class ZAMsgTest : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
        UseBuiltInLanguageResource();
        SetOnLoadStr({});
        SetUseUTF8(false);
    }
};

// --- Every number of both tables against the text sources -----------------

TEST_F(ZAMsgTest, BuiltInTableHoldsEverySourceText) {
    const Texts en = readSource("en.txt");
    EXPECT_EQ(en.size(), 260u);
    for (int n = 0; n < 512; ++n) {
        SCOPED_TRACE(n);
        const auto it = en.find(n);
        EXPECT_EQ(CatalogueText(n), it != en.end() ? platform::Utf8ToAnsi(it->second) : missing(n));
    }
}

TEST_F(ZAMsgTest, GermanTableFallsBackToBuiltInTexts) {
    const Texts en = readSource("en.txt");
    const Texts de = readSource("de.txt");
    EXPECT_EQ(de.size(), 251u);
    ASSERT_EQ(SelectLanguage("DE"), "DE");
    SetUseUTF8(true);  // compare against the UTF-8 sources directly
    for (int n = 0; n < 512; ++n) {
        SCOPED_TRACE(n);
        std::string expected = missing(n);
        if (de.count(n)) {
            expected = de.at(n);
        } else if (en.count(n)) {
            expected = en.at(n);
        }
        EXPECT_EQ(MessageText(n), expected);
    }
}

TEST_F(ZAMsgTest, ExactTextsWithEdgeBlanksAndControls) {
    struct Case {
        const char* language;
        int id;
        std::string text;
    };
    const Case cases[] = {
        {"", 71, "Confirm Password "},
        {"", 258, "Error "},
        {"", 200, " Unknown error %d"},
        {"", 208, " [$%x] %s"},
        {"", 59, "'%s'\r\nwill overwrite\r\n '%s'\r\nRename to '%s'?"},
        {"", 277, "Tarvik-Team"},
        {"", 279, "US: default"},
        {"DE", 2, "Abbruch der Operation durch den Benutzer"},
        {"DE", 1, "Unbekannter Fehler"},
        {"DE", 219, "Trace: "},
        {"DE", 18, "Es wurde versucht, eine alte %s zu laden von "},
        {"DE", 13, "Fehler - keine Dateien zum L\xF6schen angegeben!"},  // ANSI
        {"DE", 64, "\r\nin Laufwerk: %s"},
        {"DE", 279, "DE: German"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        SelectLanguageId(1033);
        SelectLanguage(c.language);
        EXPECT_EQ(CatalogueText(c.id), c.text);
    }
}

TEST_F(ZAMsgTest, PackedBlocksHaveTheirDeclaredLayout) {
    const auto builtIn = UnpackBlock(DefaultMessageBlock(), 0);
    ASSERT_TRUE(builtIn);
    EXPECT_EQ(builtIn->languageId, 1033);
    EXPECT_EQ(builtIn->table[6] | (builtIn->table[7] << 8), 0);  // 8-bit texts
    // Ten ranges, then the end marker.
    EXPECT_EQ(builtIn->table[8 + 10 * 6] | (builtIn->table[9 + 10 * 6] << 8), 0xFFFF);

    const auto blocks = ListBlocks(ProgramLanguageResource());
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].code, "DE");
    EXPECT_EQ(blocks[0].languageId, 0x0407);
    const auto german = UnpackBlock(ProgramLanguageResource(), 0);
    ASSERT_TRUE(german);
    EXPECT_NE(german->table[6] | (german->table[7] << 8), 0);  // UTF-16 texts
    EXPECT_EQ(german->table[8 + 9 * 6] | (german->table[9 + 9 * 6] << 8), 0xFFFF);
}

// --- Lookup -----------------------------------------------------------------

TEST_F(ZAMsgTest, MissingTextsNameTheNumberAsPassed) {
    EXPECT_EQ(CurrentLanguageName(), "US: default");
    EXPECT_EQ(CurrentLanguageId(), 1033);
    EXPECT_EQ(CatalogueText(400), missing(400));
    EXPECT_EQ(CatalogueText(0x1234), missing(4660));  // number 52: no text
    EXPECT_EQ(CatalogueText(2 + 512), CatalogueText(2));
    EXPECT_EQ(MessageText(-2), CatalogueText(2));
    EXPECT_EQ(MessageText(-400), missing(400));
    EXPECT_EQ(MessageText(INT_MIN), missing(2147483648LL));
}

TEST_F(ZAMsgTest, OnLoadStrSeesReducedNumberAndMayReplace) {
    std::vector<int> seen;
    SetOnLoadStr([&](int ident, std::string& text) {
        seen.push_back(ident);
        if (ident == 2) {
            text = "replaced";
        } else if (ident == 3) {
            text.clear();  // empty: the catalogue's text stays
        } else if (ident == 400) {
            text = text.empty() ? "from hook" : "unexpected";
        }
    });
    EXPECT_EQ(CatalogueText(2 + 512), "replaced");
    EXPECT_EQ(CatalogueText(3), "Central directory");
    EXPECT_EQ(CatalogueText(400), "from hook");
    EXPECT_EQ(CatalogueText(52), missing(52));
    EXPECT_EQ(seen, (std::vector<int>{2, 3, 400, 52}));
    ASSERT_EQ(SelectLanguage("DE"), "DE");
    EXPECT_EQ(CatalogueText(3), "Central Directory");  // German text reaches the hook too
}

TEST_F(ZAMsgTest, Utf8SwitchConvertsTexts) {
    ASSERT_EQ(SelectLanguage("DE"), "DE");
    EXPECT_EQ(MessageText(14), "Keine Unterst\xFCtzung f\xFCr geteilte Archive");
    SetUseUTF8(true);
    EXPECT_TRUE(GetUseUTF8());
    EXPECT_EQ(MessageText(14), "Keine Unterst\xC3\xBCtzung f\xC3\xBCr geteilte Archive");
    EXPECT_EQ(MessageTextFmt(120, {std::string("C:")}), "Laufwerk C: ist nicht verf\xC3\xBCgbar");
    // The catalogue itself stays ANSI; the hook receives ANSI as well.
    EXPECT_EQ(CatalogueText(14), "Keine Unterst\xFCtzung f\xFCr geteilte Archive");
}

// --- Language selection -------------------------------------------------------

struct SelectCase {
    const char* label;
    const char* before;  // code selected first, or ""
    const char* arg;
    const char* result;  // SelectLanguage's result
    const char* name;    // CurrentLanguageName() afterwards
    int id;              // CurrentLanguageId() afterwards
    const char* text2;   // message 2 afterwards: which table serves
};

TEST_F(ZAMsgTest, SelectLanguageByCode) {
    SetLanguageResource(testResource());
    const std::string builtIn2 = "User canceled operation";
    const SelectCase cases[] = {
        {"plain", "", "DE", "DE", "DE", 0x0407, "DE text"},
        {"lower case, region", "", " de-AT", "DE", "DE", 0x0407, "DE text"},
        {"digit second: no block", "DE", "S1", "", "US: default", 1033, builtIn2.c_str()},
        {"best partial match", "", "SPX", "SP", "SP", 0x040A, "SP text"},
        {"full match ends walk", "", "es", "ES", "ES", 0x040A, "ES text"},
        {"US keeps selection", "DE", "US", "", "DE", 0x0407, "DE text"},
        {"empty keeps selection", "DE", "", "", "DE", 0x0407, "DE text"},
        {"short code keeps selection", "DE", "D", "", "DE", 0x0407, "DE text"},
        {"digit first: empty code", "DE", "1DE", "", "DE", 0x0407, "DE text"},
        {"unknown code drops selection", "DE", "XX", "", "US: default", 1033, builtIn2.c_str()},
        {"underscore belongs to code", "", "SW_X", "SW", "SW", 0x041D, "SW text"},
    };
    for (const SelectCase& c : cases) {
        SCOPED_TRACE(c.label);
        SelectLanguageId(1033);
        if (*c.before != '\0') {
            ASSERT_EQ(SelectLanguage(c.before), c.before);
        }
        EXPECT_EQ(SelectLanguage(c.arg), c.result);
        EXPECT_EQ(CurrentLanguageName(), c.name);
        EXPECT_EQ(CurrentLanguageId(), c.id);
        EXPECT_EQ(CatalogueText(2), c.text2);
    }
}

TEST_F(ZAMsgTest, SelectLanguageById) {
    SetLanguageResource(testResource());
    struct Case {
        int id;
        int result;
        const char* name;
    };
    const Case cases[] = {
        {7, 0x0407, "DE"},       // bare primary language
        {0x0C07, 0x0407, "DE"},  // same primary language
        {0x040A, 0x040A, "ES"},  // first of two blocks with that id
        {0x0C0A, 0x0C0A, "S1"},  // reachable only by id
        {0x0A, 0x040A, "ES"},    // bare primary: the first Spanish block
        {0x080A, 0x040A, "ES"},  // Mexican Spanish: first of the primary language
        {1033, 1033, "US: default"},
        {0x0809, 1033, "US: default"},  // no English block
        {0x10000, 1033, "US: default"},
        {-1, 1033, "US: default"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        SelectLanguage("SW");
        EXPECT_EQ(SelectLanguageId(c.id), c.result);
        EXPECT_EQ(CurrentLanguageId(), c.result);
        EXPECT_EQ(CurrentLanguageName(), c.name);
    }
}

TEST_F(ZAMsgTest, StarSelectsTheUsersLanguage) {
    const char* saved[3];
    const char* names[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::string values[3];
    for (int i = 0; i < 3; ++i) {
        saved[i] = std::getenv(names[i]);
        values[i] = saved[i] ? saved[i] : "";
        unsetenv(names[i]);
    }
    struct Case {
        const char* var;
        const char* value;
        int userId;
        const char* result;
    };
    const Case cases[] = {
        {"LANG", "de_AT.UTF-8", 0x0C07, "DE"},
        {"LANG", "de", 0x0407, "DE"},
        {"LC_MESSAGES", "de_CH@euro", 0x0807, "DE"},
        {"LC_ALL", "sv_SE.UTF-8", 0x041D, "US"},  // no Swedish block here
        {"LANG", "C", 1033, "US"},
        {"LANG", "xx_YY", 1033, "US"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        setenv(c.var, c.value, 1);
        EXPECT_EQ(UserDefaultLanguageId(), c.userId);
        EXPECT_EQ(SelectLanguage("*"), c.result);
        unsetenv(c.var);
    }
    for (int i = 0; i < 3; ++i) {
        if (saved[i]) {
            setenv(names[i], values[i].c_str(), 1);
        }
    }
}

TEST_F(ZAMsgTest, AvailableLanguagesListsBlocksThatUnpack) {
    auto languages = AvailableLanguages();
    ASSERT_EQ(languages.size(), 1u);
    EXPECT_EQ(languages[0].code, "DE");
    EXPECT_EQ(languages[0].languageId, 0x0407);
    EXPECT_EQ(languages[0].name, "DE: German");

    Bytes broken = makeBlock(0x0410, "IT", "IT: Italian");
    broken[9] ^= 0xFF;  // CRC
    const Bytes resource = concat({testResource(), broken, makeBlock(0x0419, "RU", "RU: Russian")});
    SetLanguageResource(resource);
    languages = AvailableLanguages();
    std::vector<std::string> names;
    for (const auto& l : languages) {
        names.push_back(l.name);
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"CT: Catalan", "DE: German", "ES: Spanish", "S1: Spannish",
                                        "SP: Spanish", "SW: Swedish", "RU: Russian"}));
}

TEST_F(ZAMsgTest, InstallingAResourceDropsTheSelection) {
    ASSERT_EQ(SelectLanguage("DE"), "DE");
    SetLanguageResource({});
    EXPECT_EQ(CurrentLanguageName(), "US: default");
    EXPECT_EQ(SelectLanguage("DE"), "");
    EXPECT_EQ(SelectLanguageId(0x0407), 1033);
    EXPECT_EQ(CatalogueText(2), "User canceled operation");
}

// --- Damaged blocks ---------------------------------------------------------

TEST_F(ZAMsgTest, DamagedBlocksFallBackSilently) {
    const Bytes good = makeBlock(0x0407, "DE", "DE: German");
    ASSERT_TRUE(UnpackBlock(good, 0));
    auto setWord = [](Bytes& b, std::size_t pos, unsigned v) {
        b[pos] = static_cast<std::uint8_t>(v);
        b[pos + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    struct Case {
        const char* label;
        std::function<void(Bytes&)> damage;
    };
    const Case cases[] = {
        {"truncated by one byte", [](Bytes& b) { b.pop_back(); }},
        {"only the header", [](Bytes& b) { b.resize(12); }},
        {"shorter than a header", [](Bytes& b) { b.resize(11); }},
        {"n larger than the data", [&](Bytes& b) { setWord(b, 2, 0xFFFF); }},
        {"n smaller than the CRC", [&](Bytes& b) { setWord(b, 2, 3); }},
        {"n cuts the deflate data", [&](Bytes& b) { setWord(b, 2, b.size() - 8 - 5); }},
        {"CRC differs", [](Bytes& b) { b[8] ^= 0x01; }},
        {"deflate data corrupt",
         [](Bytes& b) {
             b[12] = 0xFF;
             b[13] = 0xFF;
         }},
        {"language id 0", [&](Bytes& b) { setWord(b, 0, 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Bytes bad = good;
        c.damage(bad);
        EXPECT_FALSE(UnpackBlock(bad, 0));
        // The damaged block is found by its code but cannot be selected.
        SetLanguageResource(bad);
        EXPECT_EQ(SelectLanguage("DE"), "");
        EXPECT_EQ(SelectLanguageId(0x0407), 1033);
        EXPECT_EQ(CatalogueText(2), "User canceled operation");
        EXPECT_EQ(CurrentLanguageName(), "US: default");
    }
    EXPECT_FALSE(UnpackBlock(good, good.size()));
    EXPECT_FALSE(UnpackBlock(good, good.size() + 100));
}

TEST_F(ZAMsgTest, UnpackedTableMustStayBelowTheLimit) {
    for (std::size_t size : {kZAMaxTableSize - 1, kZAMaxTableSize, kZAMaxTableSize * 10}) {
        SCOPED_TRACE(size);
        Bytes table(size, 0);
        table[8] = 0xFF;  // directory end marker at once
        table[9] = 0xFF;
        const Bytes block = msgpack::PackBlock(0x0407, "DE", table);
        EXPECT_EQ(UnpackBlock(block, 0).has_value(), size < kZAMaxTableSize);
    }
}

TEST_F(ZAMsgTest, BlockAfterOthersIsUnpackedAtItsOffset) {
    const auto blocks = ListBlocks(testResource());
    ASSERT_EQ(blocks.size(), 6u);
    const auto sp = FindBlockByCode(testResource(), "SP");
    ASSERT_TRUE(sp);
    EXPECT_EQ(sp->offset, blocks[4].offset);
    const auto unpacked = UnpackBlock(testResource(), sp->offset);
    ASSERT_TRUE(unpacked);
    EXPECT_EQ(LookupInTable(unpacked->table, 279), "SP: Spanish");
}

// --- Bounds of table lookups --------------------------------------------------

TEST_F(ZAMsgTest, LookupStaysInsideTheTable) {
    // One range 5-6; slots at bytes 16 and 18; text 5 at 20 ("Hello"), 6 after it.
    const Texts texts{{5, "Hello"}, {6, "a text long enough for the minimum table size"}};
    const Bytes narrow = makeTable(texts, false);
    const Bytes wide = makeTable(texts, true);
    ASSERT_EQ(LookupInTable(narrow, 5), "Hello");
    ASSERT_EQ(LookupInTable(wide, 6), texts.at(6));

    auto patched = [](Bytes t, std::size_t pos, unsigned v) {
        t[pos] = static_cast<std::uint8_t>(v);
        t[pos + 1] = static_cast<std::uint8_t>(v >> 8);
        return t;
    };
    auto cut = [](Bytes t, std::size_t keep) {
        t.resize(keep);
        return t;
    };
    struct Case {
        const char* label;
        Bytes table;
        int n;
        std::optional<std::string> text;
    };
    const Case cases[] = {
        {"below first", narrow, 4, std::nullopt},
        {"after last range", narrow, 7, std::nullopt},
        {"negative number", narrow, -1, std::nullopt},
        {"slot 0", patched(narrow, 16, 0), 5, std::nullopt},
        {"slot beyond the end", patched(narrow, 16, 0xFFF0), 5, std::nullopt},
        {"wide slot beyond the end", patched(wide, 16, 0x8000), 5, std::nullopt},
        {"slot index beyond the end", patched(narrow, 12, 0x7FFF), 5, std::nullopt},
        {"no end marker", patched(patched(narrow, 8, 1), 14, 1), 5, std::nullopt},
        {"text without terminator", cut(narrow, narrow.size() - 1), 6, std::nullopt},
        {"wide text without terminator", cut(wide, wide.size() - 2), 6, std::nullopt},
        {"odd wide table cuts terminator", cut(wide, wide.size() - 1), 6, std::nullopt},
        {"other text unaffected", cut(narrow, narrow.size() - 1), 5, "Hello"},
        {"shorter than 50 bytes", cut(narrow, 49), 5, std::nullopt},
        {"empty text", patched(narrow, 16, static_cast<unsigned>(narrow.size() - 1)), 5,
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(LookupInTable(c.table, c.n), c.text);
    }
    // A table of nothing but directory entries that never reach n.
    EXPECT_FALSE(LookupInTable(Bytes(60, 0x01), 300));
    EXPECT_FALSE(LookupInTable({}, 1));
}

TEST_F(ZAMsgTest, WideTextsBecomeAnsi) {
    const Bytes table = makeTable({{1,
                                    "Gr\xC3\xB6\xC3\x9F"
                                    "e \xE2\x82\xAC 5, \xCE\xB1"},
                                   {2, "a text long enough for the minimum table size"}});
    EXPECT_EQ(LookupInTable(table, 1),
              "Gr\xF6\xDF"
              "e \x80 5, ?");
}

// --- Code keys ------------------------------------------------------------------

TEST_F(ZAMsgTest, FindBlockByCodeKeys) {
    const Bytes resource =
        concat({makeBlock(0x0401, "AB", "AB"), makeBlock(0x0402, "ABC", "ABC"),
                makeBlock(0x0403, "ABCD", "ABCD"), makeBlock(0x0404, "AB1", "AB1")});
    struct Case {
        const char* key;
        const char* found;  // "" = nothing
    };
    const Case cases[] =
        {
            {"AB", "AB"},     {"ab", "AB"},    {"ABC", "ABC"},
            {"ABCD", "ABCD"}, {"ABCE", "ABC"},  // partial: three agree
            {"ABX", "AB"},                      // partial: the first with two
            {"AB1", "AB1"},   {"A1", ""},      {"1A", ""},
            {"A", ""},        {"", ""},        {"XY", ""},
        };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        const auto block = FindBlockByCode(resource, c.key);
        EXPECT_EQ(block ? block->code : std::string(), c.found);
    }
}

// --- Formatting -------------------------------------------------------------------

TEST_F(ZAMsgTest, FormatDirectives) {
    using A = std::vector<TZAFmtArg>;
    const std::string s = "x";
    struct Case {
        const char* format;
        A args;
        std::string out;
    };
    const Case cases[] = {
        {"Copying: %s", {std::string("a.txt")}, "Copying: a.txt"},
        {"Skipped %s %d", {std::string("f"), std::int64_t{5}}, "Skipped f 5"},
        {"%.1d of %.1d", {std::int64_t{3}, std::int64_t{0}}, "3 of 0"},
        {" [$%x] %s", {std::int64_t{255}, std::string("boom")}, " [$FF] boom"},
        {"%x", {std::int64_t{-1}}, "FFFFFFFF"},
        {"%x", {std::int64_t{-0x100000000LL}}, "FFFFFFFF00000000"},
        {"%d", {std::int64_t{INT64_MIN}}, "-9223372036854775808"},
        {"%u", {std::int64_t{-2}}, "4294967294"},
        {"%.3d|%5d|%-5s|%.2s",
         {std::int64_t{7}, std::int64_t{-42}, s, std::string("abc")},
         "007|  -42|x    |ab"},
        {"%1:s %0:s %s", {std::string("a"), std::string("b")}, "b a b"},
        {"100%%", {}, "100%"},
        {"%d and %s", {}, "%d and %s"},
        {"%s and %s", {std::string("a")}, "a and %s"},
        {"%q %s", {s}, "%q x"},
        {"%d", {std::string("text")}, "text"},
        {"%s", {std::int64_t{-12}}, "-12"},
        {"end %", {}, "end %"},
        {"end %5.", {}, "end %5."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        EXPECT_EQ(FormatText(c.format, c.args), c.out);
    }
    const A one{std::int64_t{1}};
    EXPECT_EQ(FormatText("%99999999999d", one).size(), 1024u);
}

TEST_F(ZAMsgTest, MessageTextFmtUsesTheSelectedTable) {
    EXPECT_EQ(MessageTextFmt(67, {std::int64_t{2}, std::int64_t{5}}),
              "Please insert disk volume 2 of 5");
    EXPECT_EQ(MessageTextFmt(6, {std::string("a.txt")}), "Skipped a.txt %d");
    ASSERT_EQ(SelectLanguage("DE"), "DE");
    EXPECT_EQ(MessageTextFmt(67, {std::int64_t{2}, std::int64_t{5}}),
              "Bitte legen Sie Diskette 2 von 5 ein");
    EXPECT_EQ(MessageTextFmt(-8, {std::string("ZAEngine190.so")}), "ZAEngine190.so geladen");
    EXPECT_EQ(MessageTextFmt(400, {std::string("x")}), missing(400));
}

// --- The packer's own checks ------------------------------------------------------

TEST_F(ZAMsgTest, PackerRefusesBadTables) {
    msgpack::TableContent outside;
    outside.ranges = {{1, 2}};
    outside.narrowTexts = {{3, "x"}};
    msgpack::TableContent overlapping;
    overlapping.ranges = {{1, 5}, {5, 6}};
    msgpack::TableContent tooLarge;
    tooLarge.ranges = {{1, 3}};
    tooLarge.narrowTexts = {
        {1, std::string(9000, 'a')}, {2, std::string(9000, 'b')}, {3, std::string(2000, 'c')}};
    for (const auto* content : {&outside, &overlapping, &tooLarge}) {
        EXPECT_THROW(msgpack::BuildTable(*content), msgpack::PackError);
    }
    EXPECT_THROW(msgpack::PackBlock(0x0407, "de", Bytes(60)), msgpack::PackError);
    EXPECT_THROW(msgpack::PackBlock(0x0407, "TOOLONG", Bytes(60)), msgpack::PackError);
}

}  // namespace
