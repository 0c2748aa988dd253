// The texts of an archive listing as the main window shows them: sizes with
// German thousands separators, the packing rate and the status-bar totals.
// Shared by the command-line listing and the window.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class TZADirEntry;

// "1.234.567": the integer with "." every three digits.
std::string FormatGroupedInteger(std::uint64_t n);
// A list cell for a size: "#,## Byte" ("1.000 Byte"); "" for 0 or less.
std::string FormatByteSize(std::int64_t size);
// The packed size as a percentage of the unpacked one, rounded to a whole
// number; "" unless both sizes are above 0. A value that rounds to 0 has
// no digits.
std::string FormatPercent(std::int64_t packed, std::int64_t unpacked);
// The list cell: FormatPercent + " %  "; "" unless both sizes are above 0.
std::string FormatPackRate(std::int64_t packed, std::int64_t unpacked);
// The status-bar rate: FormatPercent + " %"; "" unless both are above 0.
std::string FormatRatioText(std::int64_t packed, std::int64_t unpacked);
// "0 Byte" for 0 or less, "n Byte" below 1024, "#,##.# KB" below 1 MiB,
// "#,##.## MB" above (decimal comma, "." between thousands).
std::string FormatSizeText(std::int64_t n);

// Control characters (and DEL) as \t, \n, \r or \xNN, and "\" as "\\", so
// that a name stays on one line with its fields apart.
std::string EscapeControls(const std::string& text);
// The same, appended to `out`.
void AppendEscaped(std::string& out, std::string_view text);
// The stored fields of a DOS date-time as "YYYY-MM-DD HH:MM:SS", also when
// they name no real day (as other tools print them).
std::string RawDosDateTime(std::uint32_t dos);
// One entry as tab-separated fields: escaped name, compressed size,
// uncompressed size, CRC-32 (8 hex digits), method, date-time, 1/0 encrypted.
std::string FormatTsvLine(TZADirEntry& e);
// The same line and a line break, appended to `out` (a listing of millions
// of entries makes no text per field).
void AppendTsvLine(std::string& out, TZADirEntry& e);
