// DOS date-time, the time stamp of zip headers: one unsigned 32-bit value,
// low half the DOS time, high half the DOS date, in local time with
// two-second resolution.
//
//   date: bits 9-15 year - 1980, bits 5-8 month 1-12, bits 0-4 day 1-31
//   time: bits 11-15 hour 0-23, bits 5-10 minute 0-59, bits 0-4 second / 2
//
// Archives carry values no calendar has (month 0, 31 April, hour 25, a zero
// stamp from tools that write none). Decoding such a value gives
// std::nullopt rather than a guessed date: the caller shows nothing or
// refuses the value, and a wrong but plausible date is never presented as
// the entry's time. Encoding never fails: it clamps to the DOS range.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace platform {

using DosDateTime = std::uint32_t;

// A calendar date and wall-clock time (local time), all fields 1-based
// where the calendar is (month 1-12, day 1-31).
struct DateTimeParts {
    int year = 1980;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;

    friend bool operator==(const DateTimeParts&, const DateTimeParts&) = default;
};

// 1980-01-01 00:00:00 and 2107-12-31 23:59:58, the ends of the DOS range.
inline constexpr DosDateTime kDosDateTimeMin = 0x00210000;
inline constexpr DosDateTime kDosDateTimeMax = 0xFF9FBF7D;

// The fields of a DOS date-time, or nullopt when they name no real moment
// (month 0 or above 12, day 0 or past the month's end, hour 24+, minute
// 60+, seconds field 30+).
std::optional<DateTimeParts> DecodeDosDateTime(DosDateTime dos);
bool IsValidDosDateTime(DosDateTime dos);

// Packs a date and time. Fields out of range carry over as in a calendar
// (day 32 of January is 1 February, second 60 the next minute); an odd
// second rounds down; moments before 1980 give kDosDateTimeMin and moments
// after 2107 give kDosDateTimeMax.
DosDateTime EncodeDosDateTime(const DateTimeParts& parts);

// Local time conversions. DosToTime gives nullopt for an invalid value; a
// wall time that does not exist or exists twice around a daylight-saving
// change is resolved the way mktime resolves it.
std::optional<std::time_t> DosToTime(DosDateTime dos);
DosDateTime TimeToDos(std::time_t t);
DateTimeParts LocalParts(std::time_t t);

// The current local date-time in DOS form.
DosDateTime CurrentDosDateTime();

// Date-time as a floating-point day count from 1899-12-30 with the time of
// day as the fraction (the form of the component's `AddFrom` option).
std::optional<double> DosToDayNumber(DosDateTime dos);
DosDateTime DayNumberToDos(double days);

// "dd.mm.yyyy  hh:mm" (two blanks), the list view's date column.
std::string FormatDosDateTimeGerman(DosDateTime dos);
// "YYYY-MM-DD HH:MM:SS", for listings and messages.
std::string FormatDosDateTimeIso(DosDateTime dos);
// Both give "" for an invalid value.

}  // namespace platform
