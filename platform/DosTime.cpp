#include "platform/DosTime.h"

#include <cmath>
#include <cstdio>

namespace platform {
namespace {

bool isLeapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeapYear(y) ? 29 : kDays[m - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's
// algorithm); month and day may be out of range only through the month.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

// Seconds of a wall-clock moment counted from 1970-01-01 00:00:00 as if the
// clock had no time zone; used only to normalise and compare fields.
std::int64_t wallSeconds(const DateTimeParts& p) {
    // Months out of range carry into the year first.
    const std::int64_t month0 = static_cast<std::int64_t>(p.month) - 1;
    const std::int64_t year = p.year + floorDiv(month0, 12);
    const auto month = static_cast<unsigned>(month0 - floorDiv(month0, 12) * 12 + 1);
    const std::int64_t days =
        daysFromCivil(year, month, 1) + (static_cast<std::int64_t>(p.day) - 1);
    return days * 86400 + static_cast<std::int64_t>(p.hour) * 3600 +
           static_cast<std::int64_t>(p.minute) * 60 + p.second;
}

DateTimeParts partsFromWallSeconds(std::int64_t s) {
    const std::int64_t days = floorDiv(s, 86400);
    const std::int64_t secs = s - days * 86400;
    std::int64_t y;
    unsigned m, d;
    civilFromDays(days, y, m, d);
    return {static_cast<int>(y),
            static_cast<int>(m),
            static_cast<int>(d),
            static_cast<int>(secs / 3600),
            static_cast<int>(secs / 60 % 60),
            static_cast<int>(secs % 60)};
}

// 1899-12-30, day 0 of the floating-point day count, as days since 1970.
constexpr std::int64_t kDayNumberEpoch = -25569;

}  // namespace

std::optional<DateTimeParts> DecodeDosDateTime(DosDateTime dos) {
    const unsigned date = dos >> 16;
    const unsigned time = dos & 0xFFFF;
    DateTimeParts p;
    p.year = 1980 + static_cast<int>(date >> 9);
    p.month = static_cast<int>((date >> 5) & 0x0F);
    p.day = static_cast<int>(date & 0x1F);
    p.hour = static_cast<int>(time >> 11);
    p.minute = static_cast<int>((time >> 5) & 0x3F);
    p.second = static_cast<int>(time & 0x1F) * 2;
    if (p.month < 1 || p.month > 12 || p.day < 1 || p.day > daysInMonth(p.year, p.month) ||
        p.hour > 23 || p.minute > 59 || p.second > 59) {
        return std::nullopt;
    }
    return p;
}

bool IsValidDosDateTime(DosDateTime dos) {
    return DecodeDosDateTime(dos).has_value();
}

DosDateTime EncodeDosDateTime(const DateTimeParts& parts) {
    static const std::int64_t kMin = wallSeconds({1980, 1, 1, 0, 0, 0});
    static const std::int64_t kMax = wallSeconds({2107, 12, 31, 23, 59, 59});
    const std::int64_t s = wallSeconds(parts);
    if (s < kMin) {
        return kDosDateTimeMin;
    }
    if (s > kMax) {
        return kDosDateTimeMax;
    }
    const DateTimeParts p = partsFromWallSeconds(s);
    const auto date = static_cast<unsigned>(((p.year - 1980) << 9) | (p.month << 5) | p.day);
    const auto time = static_cast<unsigned>((p.hour << 11) | (p.minute << 5) | (p.second / 2));
    return (date << 16) | time;
}

std::optional<std::time_t> DosToTime(DosDateTime dos) {
    const auto p = DecodeDosDateTime(dos);
    if (!p) {
        return std::nullopt;
    }
    std::tm tm{};
    tm.tm_year = p->year - 1900;
    tm.tm_mon = p->month - 1;
    tm.tm_mday = p->day;
    tm.tm_hour = p->hour;
    tm.tm_min = p->minute;
    tm.tm_sec = p->second;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1)) {
        return std::nullopt;
    }
    return t;
}

namespace {
bool localParts(std::time_t t, DateTimeParts& out) {
    std::tm tm{};
    if (!localtime_r(&t, &tm)) {
        return false;
    }
    out = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
    return true;
}
}  // namespace

DateTimeParts LocalParts(std::time_t t) {
    DateTimeParts p;
    localParts(t, p);
    return p;
}

DosDateTime TimeToDos(std::time_t t) {
    DateTimeParts p;
    if (!localParts(t, p)) {  // far outside any year localtime can express
        return t < 0 ? kDosDateTimeMin : kDosDateTimeMax;
    }
    return EncodeDosDateTime(p);
}

DosDateTime CurrentDosDateTime() {
    return TimeToDos(std::time(nullptr));
}

std::optional<double> DosToDayNumber(DosDateTime dos) {
    const auto p = DecodeDosDateTime(dos);
    if (!p) {
        return std::nullopt;
    }
    const std::int64_t days = daysFromCivil(p->year, p->month, p->day) - kDayNumberEpoch;
    const int seconds = p->hour * 3600 + p->minute * 60 + p->second;
    return static_cast<double>(days) + seconds / 86400.0;
}

DosDateTime DayNumberToDos(double days) {
    if (std::isnan(days) || days < 0) {
        return kDosDateTimeMin;
    }
    if (days > 1e7) {  // far past 2107; keeps the arithmetic below in range
        return kDosDateTimeMax;
    }
    // Round to the millisecond first so 0.5 / 86400 steps survive the
    // floating-point fraction, then drop the milliseconds.
    const auto ms = static_cast<std::int64_t>(std::llround(days * 86400000.0));
    const std::int64_t wholeDays = ms / 86400000;
    const std::int64_t seconds = (ms % 86400000) / 1000;
    return EncodeDosDateTime(partsFromWallSeconds((wholeDays + kDayNumberEpoch) * 86400 + seconds));
}

std::string FormatDosDateTimeGerman(DosDateTime dos) {
    const auto p = DecodeDosDateTime(dos);
    if (!p) {
        return {};
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d  %02d:%02d", p->day, p->month, p->year, p->hour,
                  p->minute);
    return buf;
}

std::string FormatDosDateTimeIso(DosDateTime dos) {
    const auto p = DecodeDosDateTime(dos);
    if (!p) {
        return {};
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p->year, p->month, p->day,
                  p->hour, p->minute, p->second);
    return buf;
}

}  // namespace platform
