#include "platform/CodePage.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include "platform/EntryName.h"

#include <string>
#include <thread>
#include <vector>

using namespace platform;

namespace {

struct ByteCase {
    const char* label;
    std::string utf8;
    std::string ansi;  // Windows-1252
    std::string oem;   // CP850
};

// "ä ö ü ß Ä Ö Ü €" and friends in the three encodings; '?' where the code
// page has no such character.
const ByteCase kByteCases[] = {
    {"empty", "", "", ""},
    {"ascii", "Hello/World.txt", "Hello/World.txt", "Hello/World.txt"},
    {"umlauts", "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F", "\xE4\xF6\xFC\xDF", "\x84\x94\x81\xE1"},
    {"capital umlauts", "\xC3\x84\xC3\x96\xC3\x9C", "\xC4\xD6\xDC", "\x8E\x99\x9A"},
    {"euro (not in CP850)", "\xE2\x82\xAC", "\x80", "?"},
    {"mixed name", "Bericht M\xC3\xA4rz.doc", "Bericht M\xE4rz.doc", "Bericht M\x84rz.doc"},
    {"box drawing (only CP850)", "\xE2\x95\x94", "?", "\xC9"},
    {"greek alpha (neither)", "\xCE\xB1x", "?x", "?x"},
    {"emoji (neither)", "a\xF0\x9F\x98\x80z", "a?z", "a?z"},
};

TEST(PlatformCodePage, EightBitToUtf8AndBack) {
    for (const auto& c : kByteCases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(Utf8ToAnsi(c.utf8), c.ansi);
        EXPECT_EQ(Utf8ToOem(c.utf8), c.oem);
        EXPECT_EQ(ConvertCodePage(c.utf8, kCodePageUtf8, 0), c.ansi);
        EXPECT_EQ(ConvertCodePage(c.utf8, kCodePageUtf8, kCodePageOem), c.oem);
        // Decoding is only a round trip where nothing became '?'.
        if (c.ansi.find('?') == std::string::npos) {
            EXPECT_EQ(AnsiToUtf8(c.ansi), c.utf8);
            EXPECT_EQ(ConvertCodePage(c.ansi, kCodePageAnsi, kCodePageUtf8), c.utf8);
            EXPECT_EQ(Utf16ToUtf8(AnsiToUtf16(c.ansi)), c.utf8);
        }
        if (c.oem.find('?') == std::string::npos) {
            EXPECT_EQ(OemToUtf8(c.oem), c.utf8);
            EXPECT_EQ(ConvertCodePage(c.oem, kCodePageOem, kCodePageUtf8), c.utf8);
        }
        if (c.ansi.find('?') == std::string::npos && c.oem.find('?') == std::string::npos) {
            EXPECT_EQ(ConvertCodePage(c.ansi, 0, kCodePageOem), c.oem);
            EXPECT_EQ(ConvertCodePage(c.oem, kCodePageOem, kCodePageAnsi), c.ansi);
        }
    }
}

TEST(PlatformCodePage, AnsiUndefinedBytesRoundTripLikeWindows) {
    // 0x81, 0x8D, 0x8F, 0x90, 0x9D have no character in Windows-1252; they
    // must come back as the same bytes rather than turn into '?'.
    const std::string holes = "\x81\x8D\x8F\x90\x9D";
    const std::string utf8 = AnsiToUtf8(holes);
    EXPECT_EQ(utf8, "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
    EXPECT_EQ(Utf8ToAnsi(utf8), holes);
}

TEST(PlatformCodePage, EveryAnsiAndOemByteRoundTrips) {
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(one)), one) << "ANSI byte " << b;
        EXPECT_EQ(Utf8ToOem(OemToUtf8(one)), one) << "OEM byte " << b;
    }
}

TEST(PlatformCodePage, OtherSingleByteCodePagesRoundTrip) {
    for (unsigned cp : {437u, 737u, 852u, 866u, 874u, 1250u, 1251u, 1253u, 1254u, 1257u, 1258u}) {
        ASSERT_TRUE(IsKnownCodePage(cp)) << cp;
        int mapped = 0;
        for (int b = 0; b < 256; ++b) {
            const std::string one(1, static_cast<char>(b));
            const std::string utf8 = ConvertCodePage(one, cp, kCodePageUtf8);
            if (utf8 == "\xEF\xBF\xBD") {
                continue;  // a byte the code page leaves undefined
            }
            ++mapped;
            EXPECT_EQ(ConvertCodePage(utf8, kCodePageUtf8, cp), one) << cp << " byte " << b;
        }
        EXPECT_GT(mapped, 200) << cp;  // Thai (874) leaves the most holes
    }
}

TEST(PlatformCodePage, InvalidUtf8IsReplacedAndConversionContinues) {
    struct Case {
        const char* label;
        std::string input;
        std::string ansi;  // each bad sequence one '?'
        std::u16string utf16;
    };
    const Case cases[] = {
        {"stray continuation", "a\x80z", "a?z", u"a\uFFFDz"},
        {"truncated sequence", "a\xE2\x82z", "a?z", u"a\uFFFDz"},
        {"truncated at end", "ab\xC3", "ab?", u"ab\uFFFD"},
        {"overlong slash", "a\xC0\xAFz", "a??z", u"a\uFFFD\uFFFDz"},
        {"encoded surrogate", "a\xED\xA0\x80z",
         "a??"
         "?z",
         u"a\uFFFD\uFFFD\uFFFDz"},
        {"above U+10FFFF", "\xF4\x90\x80\x80!",
         "????"
         "!",
         u"\uFFFD\uFFFD\uFFFD\uFFFD!"},
        {"latin-1 byte then umlaut", "\xE4\xC3\xA4", "?\xE4", u"\uFFFD\u00E4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_FALSE(IsValidUtf8(c.input));
        EXPECT_EQ(Utf8ToAnsi(c.input), c.ansi);
        EXPECT_EQ(Utf8ToUtf16(c.input), c.utf16);
        const std::string repaired = Utf16ToUtf8(Utf8ToUtf16(c.input));
        EXPECT_TRUE(IsValidUtf8(repaired));
    }
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_TRUE(IsValidUtf8("plain"));
    EXPECT_TRUE(IsValidUtf8("\xEF\xBF\xBD \xF0\x9F\x98\x80 \xC3\xA4"));
}

TEST(PlatformCodePage, Utf16SurrogatePairs) {
    const std::u16string smiley = u"x\U0001F600y";
    ASSERT_EQ(smiley.size(), 4u);
    EXPECT_EQ(Utf16ToUtf8(smiley), "x\xF0\x9F\x98\x80y");
    EXPECT_EQ(Utf8ToUtf16("x\xF0\x9F\x98\x80y"), smiley);
    EXPECT_EQ(Utf16ToAnsi(smiley), "x?y");
    // Lone halves are broken text: replaced, the rest kept.
    EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', char16_t(0xD83D), u'b'}),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{char16_t(0xDE00), u'b'}),
              "\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', char16_t(0xD83D)}), "a\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToAnsi(u"\u00E4\u20AC"), "\xE4\x80");
    EXPECT_EQ(Utf16ToUtf8(u""), "");
    EXPECT_EQ(Utf8ToUtf16(""), u"");
}

TEST(PlatformCodePage, CodePageNumbers) {
    // 0 and unknown numbers mean Windows-1252.
    EXPECT_EQ(ConvertCodePage("\xE4", 0, kCodePageUtf8), "\xC3\xA4");
    EXPECT_EQ(ConvertCodePage("\xE4", 4711, kCodePageUtf8), "\xC3\xA4");
    EXPECT_TRUE(IsKnownCodePage(0));
    EXPECT_TRUE(IsKnownCodePage(850));
    EXPECT_TRUE(IsKnownCodePage(65001));
    EXPECT_FALSE(IsKnownCodePage(4711));
    // Other single-byte code pages iconv knows: 1251 Cyrillic, 437 US OEM.
    EXPECT_EQ(ConvertCodePage("\xC0", 1251, kCodePageUtf8), "\xD0\x90");  // А
    EXPECT_EQ(ConvertCodePage("\xD0\x90", kCodePageUtf8, 1251), "\xC0");
    EXPECT_EQ(ConvertCodePage("\x84", 437, kCodePageAnsi), "\xE4");
    EXPECT_EQ(ConvertCodePage("\xE4", 28591, kCodePageUtf8), "\xC3\xA4");  // ISO-8859-1
    // Vietnamese: iconv holds letters back for combining marks.
    EXPECT_EQ(ConvertCodePage("abc\xE2", 1258, kCodePageUtf8), "abc\xC3\xA2");
    // Multi-byte: Shift-JIS (932), with an invalid byte in the middle.
    if (IsKnownCodePage(932)) {
        EXPECT_EQ(ConvertCodePage("\x82\xA0", 932, kCodePageUtf8), "\xE3\x81\x82");  // あ
        EXPECT_EQ(ConvertCodePage("\xE3\x81\x82", kCodePageUtf8, 932), "\x82\xA0");
        EXPECT_EQ(ConvertCodePage("a\xFF"
                                  "b",
                                  932, kCodePageUtf8),
                  "a\xEF\xBF\xBD"
                  "b");
        EXPECT_EQ(ConvertCodePage("\xC3\xA4\xE3\x81\x82", kCodePageUtf8, 932), "?\x82\xA0");
        EXPECT_EQ(ConvertCodePage("x\x82", 932, kCodePageUtf8), "x\xEF\xBF\xBD");
    }
    // Same code page on both sides: unchanged, even for bytes UTF-8 rejects.
    EXPECT_EQ(ConvertCodePage("\xE4", kCodePageAnsi, 0), "\xE4");
}

TEST(PlatformCodePage, IsAsciiChecksEveryByte) {
    EXPECT_TRUE(IsAscii(""));
    EXPECT_TRUE(IsAscii("abcdefghijklmnopqrstuvwxyz0123456789"));
    for (size_t at : {0u, 7u, 8u, 15u, 20u}) {
        std::string s(21, 'a');
        s[at] = '\xE4';
        EXPECT_FALSE(IsAscii(s)) << "high byte at " << at;
    }
}

TEST(PlatformCodePage, ConvertsFromSeveralThreads) {
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        // Cyrillic A is 0xC0 in code page 1251 and 0x80 in code page 866.
        const unsigned cp = t % 2 ? 866 : 1251;
        const std::string a = t % 2 ? "\x80" : "\xC0";
        threads.emplace_back([t, cp, a, &failures] {
            for (int i = 0; i < 500; ++i) {
                if (ConvertCodePage("M\xE4rz", 0, kCodePageOem) != "M\x84rz" ||
                    ConvertCodePage(a, cp, kCodePageUtf8) != "\xD0\x90") {
                    ++failures[t];
                }
            }
        });
    }
    for (auto& th : threads)
        th.join();
    for (int f : failures)
        EXPECT_EQ(f, 0);
}

}  // namespace

// The CP850 and Windows-1252 tables that the self-extractor shares are the
// system's code pages: every byte decodes as glibc's iconv decodes it (the
// five bytes Windows-1252 leaves undefined as the C1 control of that value).
TEST(PlatformCodePage, SharedTablesAgreeWithIconv) {
    for (const auto& [cp, name] : {std::pair{kCodePageOem, "CP850"}, {kCodePageAnsi, "CP1252"}}) {
        iconv_t cd = iconv_open("UTF-32LE", name);
        ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1)) << name;
        for (unsigned b = 0x80; b < 0x100; ++b) {
            char in = static_cast<char>(b);
            char* inPtr = &in;
            size_t inLeft = 1;
            unsigned char out[4] = {};
            char* outPtr = reinterpret_cast<char*>(out);
            size_t outLeft = sizeof out;
            const bool ok =
                iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1);
            const char32_t expected =
                ok ? out[0] | (out[1] << 8) | (out[2] << 16) | (char32_t(out[3]) << 24) : b;
            EXPECT_EQ(entry_name_byte(cp, static_cast<unsigned char>(b)), expected)
                << name << " byte " << b;
        }
        iconv_close(cd);
    }
}

// The rule for stored names without flag and Unicode record, by made-by host.
TEST(PlatformCodePage, EntryTextCodePageFollowsTheHost) {
    struct Case {
        std::uint16_t flags, madeBy;
        std::string stored;
        unsigned expected;
    };
    const Case cases[] = {
        {0, 0x0014, "K\x84se", kCodePageOem},   // FAT
        {0, 0x0614, "K\x84se", kCodePageOem},   // HPFS
        {0, 0x0B32, "K\x84se", kCodePageOem},   // NTFS, 5.0
        {0, 0x0B1E, "caf\xE9", kCodePageAnsi},  // NTFS
        {0, 0x0E14, "caf\xE9", kCodePageAnsi},  // VFAT
        {0, 0x031E,
         "gr\xC3\xBC\xC3\x9F"
         "e",
         kCodePageUtf8},                        // Unix, valid UTF-8
        {0, 0x031E, "caf\xE9", kCodePageAnsi},  // Unix, not UTF-8
        {0, 0x1314,
         "\xC3\x9C"
         "ber",
         kCodePageUtf8},  // macOS
        {0, 0x0A14,
         "\xC3\x9C"
         "ber",
         kCodePageUtf8},                             // host 10, not one of 0, 6, 11, 14
        {0, 0x031E, "\xC0\x80", kCodePageAnsi},      // overlong: not UTF-8
        {0x0800, 0x0014, "caf\xE9", kCodePageUtf8},  // flag bit 11
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        EXPECT_EQ(EntryTextCodePage(c.flags, c.madeBy, c.stored, 0), c.expected);
    }
    // The caller's ANSI code page stands for ANSI.
    EXPECT_EQ(EntryTextCodePage(0, 0x0B1E, "caf\xE9", 1250), 1250u);
}
