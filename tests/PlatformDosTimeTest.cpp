#include "platform/DosTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

#include "PlatformTestSupport.h"

using namespace platform;

namespace {

constexpr DosDateTime dos(int y, int mo, int d, int h, int mi, int s2) {
    return static_cast<DosDateTime>((((y - 1980) << 9) | (mo << 5) | d) << 16 |
                                    ((h << 11) | (mi << 5) | s2));
}

// Switches the process's time zone for one scope. Members are destroyed in
// reverse order: TZ is restored first, then re-read.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz) : env_("TZ", tz) { tzset(); }

private:
    struct Reread {
        ~Reread() { tzset(); }
    } reread_;
    platform_test::ScopedEnv env_;
};

TEST(PlatformDosTime, DecodeValidAndInvalidValues) {
    struct Case {
        const char* label;
        DosDateTime value;
        std::optional<DateTimeParts> expected;
    };
    const Case cases[] = {
        {"smallest", kDosDateTimeMin, DateTimeParts{1980, 1, 1, 0, 0, 0}},
        {"largest", kDosDateTimeMax, DateTimeParts{2107, 12, 31, 23, 59, 58}},
        {"leap day", 0x585D6DAF, DateTimeParts{2024, 2, 29, 13, 45, 30}},
        {"leap day 2000", dos(2000, 2, 29, 0, 0, 0), DateTimeParts{2000, 2, 29, 0, 0, 0}},
        {"seconds field 29", dos(1999, 12, 31, 23, 59, 29),
         DateTimeParts{1999, 12, 31, 23, 59, 58}},
        {"zero stamp", 0, std::nullopt},
        {"month 0", dos(2001, 0, 5, 1, 1, 1), std::nullopt},
        {"month 13", dos(2001, 13, 5, 1, 1, 1), std::nullopt},
        {"month 15", dos(2001, 15, 5, 1, 1, 1), std::nullopt},
        {"day 0", dos(2001, 5, 0, 1, 1, 1), std::nullopt},
        {"31 April", dos(2001, 4, 31, 1, 1, 1), std::nullopt},
        {"29 Feb in 2100", dos(2100, 2, 29, 1, 1, 1), std::nullopt},
        {"29 Feb in 2023", dos(2023, 2, 29, 1, 1, 1), std::nullopt},
        {"hour 24", dos(2001, 5, 5, 24, 0, 0), std::nullopt},
        {"hour 31", dos(2001, 5, 5, 31, 0, 0), std::nullopt},
        {"minute 60", dos(2001, 5, 5, 12, 60, 0), std::nullopt},
        {"seconds field 30", dos(2001, 5, 5, 12, 0, 30), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(DecodeDosDateTime(c.value), c.expected);
        EXPECT_EQ(IsValidDosDateTime(c.value), c.expected.has_value());
        if (!c.expected) {
            EXPECT_EQ(DosToTime(c.value), std::nullopt);
            EXPECT_EQ(DosToDayNumber(c.value), std::nullopt);
            EXPECT_EQ(FormatDosDateTimeGerman(c.value), "");
        }
    }
}

TEST(PlatformDosTime, EncodeClampsRoundsAndCarries) {
    struct Case {
        const char* label;
        DateTimeParts parts;
        DosDateTime expected;
    };
    const Case cases[] = {
        {"ordinary", {2024, 2, 29, 13, 45, 30}, 0x585D6DAF},
        {"odd second rounds down", {2024, 2, 29, 13, 45, 31}, 0x585D6DAF},
        {"second 59", {2010, 6, 15, 8, 30, 59}, dos(2010, 6, 15, 8, 30, 29)},
        {"1980 start", {1980, 1, 1, 0, 0, 0}, kDosDateTimeMin},
        {"1979 clamps", {1979, 12, 31, 23, 59, 59}, kDosDateTimeMin},
        {"1970 clamps", {1970, 1, 1, 0, 0, 0}, kDosDateTimeMin},
        {"2107 end", {2107, 12, 31, 23, 59, 59}, kDosDateTimeMax},
        {"2108 clamps", {2108, 1, 1, 0, 0, 0}, kDosDateTimeMax},
        {"year 9999 clamps", {9999, 6, 1, 0, 0, 0}, kDosDateTimeMax},
        {"day 32 carries", {2001, 1, 32, 0, 0, 0}, dos(2001, 2, 1, 0, 0, 0)},
        {"month 13 carries", {2001, 13, 1, 0, 0, 0}, dos(2002, 1, 1, 0, 0, 0)},
        {"second 60 carries", {2001, 3, 31, 23, 59, 60}, dos(2001, 4, 1, 0, 0, 0)},
        {"month 0 borrows", {2001, 0, 15, 0, 0, 0}, dos(2000, 12, 15, 0, 0, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(EncodeDosDateTime(c.parts), c.expected);
    }
}

TEST(PlatformDosTime, EveryValidDayRoundTrips) {
    int checked = 0;
    for (int y = 1980; y <= 2107; ++y) {
        for (int m = 1; m <= 12; ++m) {
            for (int d = 1; d <= 31; ++d) {
                const DosDateTime v = dos(y, m, d, (d * 7) % 24, (d * 11) % 60, d % 30);
                const auto parts = DecodeDosDateTime(v);
                if (!parts) {
                    continue;
                }
                ++checked;
                ASSERT_EQ(EncodeDosDateTime(*parts), v) << FormatDosDateTimeIso(v);
                ASSERT_EQ(DayNumberToDos(*DosToDayNumber(v)), v) << FormatDosDateTimeIso(v);
            }
        }
    }
    EXPECT_EQ(checked, 46751);  // days from 1980-01-01 to 2107-12-31
}

TEST(PlatformDosTime, LocalTimeConversions) {
    {
        ScopedTimeZone utc("UTC0");
        EXPECT_EQ(DosToTime(kDosDateTimeMin), 315532800);
        EXPECT_EQ(DosToTime(kDosDateTimeMax), 4354819198);
        EXPECT_EQ(TimeToDos(315532799), kDosDateTimeMin);  // 1979 clamps
        EXPECT_EQ(TimeToDos(4354819199 + 86400), kDosDateTimeMax);
        EXPECT_EQ(TimeToDos(315532801), kDosDateTimeMin);  // odd second
    }
    {
        // Central European time without a zoneinfo file: +1, summer +2.
        ScopedTimeZone berlin("CET-1CEST,M3.5.0,M10.5.0/3");
        EXPECT_EQ(DosToTime(dos(2024, 7, 1, 12, 0, 0)), 1719828000);
        EXPECT_EQ(DosToTime(dos(2024, 1, 15, 12, 0, 0)), 1705316400);
        EXPECT_EQ(TimeToDos(1719828000), dos(2024, 7, 1, 12, 0, 0));
        EXPECT_EQ(LocalParts(1705316400), (DateTimeParts{2024, 1, 15, 12, 0, 0}));
        for (DosDateTime v : {dos(2024, 3, 31, 1, 59, 29), dos(2024, 3, 31, 3, 0, 0),
                              dos(2024, 10, 27, 3, 30, 0), dos(1995, 5, 5, 5, 5, 5)}) {
            EXPECT_EQ(TimeToDos(*DosToTime(v)), v) << FormatDosDateTimeIso(v);
        }
        // 02:30 on the spring-forward night does not exist; it still gives a
        // time, one hour apart from its neighbours at most.
        const auto gap = DosToTime(dos(2024, 3, 31, 2, 30, 0));
        ASSERT_TRUE(gap.has_value());
        EXPECT_LE(*gap - *DosToTime(dos(2024, 3, 31, 1, 30, 0)), 3600);
    }
}

TEST(PlatformDosTime, CurrentIsNow) {
    const std::time_t before = std::time(nullptr);
    const DosDateTime now = CurrentDosDateTime();
    const std::time_t after = std::time(nullptr);
    EXPECT_TRUE(IsValidDosDateTime(now));
    EXPECT_GE(now, TimeToDos(before));
    EXPECT_LE(now, TimeToDos(after));
}

TEST(PlatformDosTime, DayNumbers) {
    EXPECT_EQ(DosToDayNumber(kDosDateTimeMin), 29221.0);
    EXPECT_EQ(DosToDayNumber(dos(2024, 2, 29, 12, 0, 0)), 45351.5);
    EXPECT_EQ(DayNumberToDos(45351.5), dos(2024, 2, 29, 12, 0, 0));
    EXPECT_EQ(DayNumberToDos(45351.0 + 59.0 / 86400), dos(2024, 2, 29, 0, 0, 29));
    EXPECT_EQ(DayNumberToDos(0), kDosDateTimeMin);
    EXPECT_EQ(DayNumberToDos(-5), kDosDateTimeMin);
    EXPECT_EQ(DayNumberToDos(1e12), kDosDateTimeMax);
    EXPECT_EQ(DayNumberToDos(std::nan("")), kDosDateTimeMin);
}

TEST(PlatformDosTime, Formats) {
    struct Case {
        DosDateTime value;
        const char* german;
        const char* iso;
    };
    const Case cases[] = {
        {0x585D6DAF, "29.02.2024  13:45", "2024-02-29 13:45:30"},
        {kDosDateTimeMin, "01.01.1980  00:00", "1980-01-01 00:00:00"},
        {kDosDateTimeMax, "31.12.2107  23:59", "2107-12-31 23:59:58"},
        {0, "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatDosDateTimeGerman(c.value), c.german);
        EXPECT_EQ(FormatDosDateTimeIso(c.value), c.iso);
    }
}

}  // namespace
