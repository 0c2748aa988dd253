// Builds message tables and language-resource blocks in the layout the
// catalogue reads (zip/messages/ZAMsgStr). Used by the build-time packer and
// by the tests, which make their own resources from small tables.
//
// Unpacked table, little-endian 16-bit words:
//   0  reserved (0)     2  DOS time     4  DOS date
//   6  encoding: 0 = 8-bit ANSI texts, 1 = UTF-16LE texts
//   8  range directory: per range last number, first number, slot index
//      (in words from the table start), then the end marker 0xFFFF
//      then one slot per number of each range: the text's position from the
//      table start (words for UTF-16 tables, bytes for 8-bit ones), 0 = none
//      then the 0-terminated texts.
// Block: language id (2), n (2), code (4, 0-padded), CRC-32 of the unpacked
// table (4), the table as raw deflate data (n - 4 bytes).
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace msgpack {

struct Range {
    int first = 0;
    int last = 0;
};

// The texts of one table, already in the table's encoding.
struct TableContent {
    bool wide = false;          // UTF-16LE texts (wideTexts) or 8-bit (narrowTexts)
    std::uint16_t dosTime = 0;  // when the table was made; not used by lookups
    std::uint16_t dosDate = 0;
    std::vector<Range> ranges;  // ascending, not overlapping
    std::map<int, std::string> narrowTexts;
    std::map<int, std::u16string> wideTexts;
};

// A fixed making time, so that packed catalogues are the same on every build:
// 1 June 2026, 12:00:00.
inline constexpr std::uint16_t kFixedDosTime = (12 << 11);
inline constexpr std::uint16_t kFixedDosDate = ((2026 - 1980) << 9) | (6 << 5) | 1;

// The catalogue refuses tables of this size or more.
inline constexpr std::size_t kMaxTableSize = 20000;

struct PackError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Lays out the unpacked table; throws PackError for ranges out of order, a
// text outside every range, an empty or 0-containing text, or a table that
// is too large for 16-bit slots or for the catalogue.
std::vector<std::uint8_t> BuildTable(const TableContent& content);

// Compresses `table` into one block; throws PackError when the code is not
// one to four capital letters or digits or the block would not fit n.
std::vector<std::uint8_t> PackBlock(std::uint16_t languageId, std::string_view code,
                                    std::span<const std::uint8_t> table);

}  // namespace msgpack
