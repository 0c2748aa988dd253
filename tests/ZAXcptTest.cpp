#include "zip/ZAXcpt.h"

#include <gtest/gtest.h>

#include <string>

#include "zip/messages/ZAMsg.h"

namespace {

// Restores the process-wide UTF-8 switch after a test.
struct Utf8Mode {
    explicit Utf8Mode(bool on) : old(GetUseUTF8()) { SetUseUTF8(on); }
    ~Utf8Mode() { SetUseUTF8(old); }
    bool old;
};

TEST(ZAXcptTest, PackedCodeFieldsRoundTrip) {
    struct Case {
        int unit, line, id;
    };
    const Case cases[] = {{1, 1, 0},     {2, 123, 199},   {255, 16383, 511},
                          {100, 800, 1}, {22, 4096, 237}, {0, 0, 17}};
    for (const auto& c : cases) {
        const std::int32_t code = ZAPackCode(c.unit, c.line, c.id);
        EXPECT_GE(code, 0) << c.unit;
        for (const std::int32_t v : {code, -code}) {
            EXPECT_EQ(ZAUnitOf(v), c.unit);
            EXPECT_EQ(ZALineOf(v), c.line);
            EXPECT_EQ(ZAMessageIdOf(v), c.id);
        }
    }
    // Fields are cut to their widths rather than spilling into their neighbours.
    EXPECT_EQ(ZAMessageIdOf(ZAPackCode(3, 7, 512 + 5)), 5);
    EXPECT_EQ(ZAUnitOf(ZAPackCode(3, 16384 + 7, 5)), 3);
    EXPECT_EQ(ZALineOf(ZAPackCode(3, 16384 + 7, 5)), 7);
}

TEST(ZAXcptTest, EachRaisingSiteHasItsOwnCode) {
    const std::int32_t a = ZA_CODE(199);
    const int lineA = __LINE__ - 1;
    const std::int32_t b = ZA_CODE(199);
    EXPECT_NE(a, b);
    EXPECT_EQ(ZAMessageIdOf(a), 199);
    EXPECT_EQ(ZALineOf(a), lineA);
    EXPECT_EQ(ZALineOf(b), lineA + 2);
    EXPECT_EQ(ZAUnitOf(a), 100);  // this file's registered unit number
}

TEST(ZAXcptTest, EngineErrorNumbersMapToMessageIds) {
    const std::pair<int, int> cases[] = {{0, 0},    {1, 232},  {2, 233}, {35, 266},
                                         {36, 237}, {99, 237}, {-1, 237}};
    for (const auto& [engine, id] : cases)
        EXPECT_EQ(EngineErrorToMessageId(engine), id) << engine;
}

TEST(ZAXcptTest, ConstructorsSetFieldsAndMessage) {
    Utf8Mode off(false);
    const std::int32_t code = ZAPackCode(22, 40, 199);

    const EZAException fmt(code, {std::int64_t{10}, std::int64_t{9}});
    EXPECT_EQ(fmt.Message, "Index (10) outside range 0..9");
    EXPECT_STREQ(fmt.what(), "Index (10) outside range 0..9");
    EXPECT_TRUE(fmt.Display);
    EXPECT_EQ(fmt.ArgKind, 0);
    EXPECT_EQ(fmt.FullCode, code);
    EXPECT_EQ(fmt.MessageId, 199);

    const EZAException raw(-code, false);
    EXPECT_EQ(raw.Message, "Index (%d) outside range 0..%d");
    EXPECT_FALSE(raw.Display);
    EXPECT_EQ(raw.FullCode, code);

    const EZipArchiver one(ZAPackCode(4, 2, 200), 42);
    EXPECT_EQ(one.Message, " Unknown error 42");
    EXPECT_EQ(one.ArgKind, 0);

    const EZipArchiver str(ZAPackCode(4, 2, 5), "a.txt");
    EXPECT_EQ(str.Message, "Copying: a.txt");
    EXPECT_EQ(str.ArgKind, 1);
    EXPECT_EQ(str.Arg1, "a.txt");
    EXPECT_TRUE(str.Display);

    const EZipArchiver two(ZAPackCode(4, 2, 6), std::string("x"), std::string("y"));
    EXPECT_EQ(two.ArgKind, 2);
    EXPECT_EQ(two.Arg1, "x");
    EXPECT_EQ(two.Arg2, "y");

    // Unknown ids still give a text.
    const EZAException missing(ZAPackCode(4, 2, 509), true);
    EXPECT_FALSE(missing.Message.empty());
}

TEST(ZAXcptTest, DisplayTextKeepsUtf8ArgumentsIntact) {
    const std::string name =
        "Gr\xC3\xB6\xC3\x9F"
        "e.txt";  // UTF-8 "Größe.txt"
    const std::int32_t copying = ZAPackCode(4, 2, 5);
    {
        Utf8Mode on(true);
        EXPECT_EQ(EZipArchiver(copying, name).DisplayText(), "Copying: " + name);
        EXPECT_EQ(EZAException(copying, {name}).DisplayText(), "Copying: " + name);
        EXPECT_EQ(EZAException(ZAPackCode(4, 2, 2), true).DisplayText(), "User canceled operation");
    }
    Utf8Mode off(false);
    EXPECT_EQ(EZipArchiver(copying, std::string("abc")).DisplayText(), "Copying: abc");
}

}  // namespace
