// The language resource and its blocks: finding a block by code or language
// id, unpacking it, and looking a number up in an unpacked table.
// The bytes are untrusted: every read is bounds-checked, and a damaged
// block or table yields "nothing", never a fault.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// A block found in a language resource.
struct TZABlockInfo {
    std::size_t offset = 0;  // start of the block header in the resource
    std::string code;        // up to four characters (up to the first 0 byte)
    int languageId = 0;
};

// Every block header in the resource, in order (the blocks' data is not checked).
std::vector<TZABlockInfo> ListBlocks(std::span<const std::uint8_t> resource);

// The block whose code matches the first four characters of `code` (the
// first two must be letters, the rest letters or digits); without a full
// match the block agreeing in the most leading characters.
std::optional<TZABlockInfo> FindBlockByCode(std::span<const std::uint8_t> resource,
                                            std::string_view code);
// The block with language id `id` (or, for a bare primary language below
// 0x400, any block of it); otherwise the first block of the same primary
// language.
std::optional<TZABlockInfo> FindBlockById(std::span<const std::uint8_t> resource, int id);

// Unpacks the block at `offset`: the table and its language id, or nothing
// when the block is short, damaged, oversized or has language id 0.
struct TZAUnpackedBlock {
    std::vector<std::uint8_t> table;
    int languageId = 0;
};
std::optional<TZAUnpackedBlock> UnpackBlock(std::span<const std::uint8_t> stream,
                                            std::size_t offset);

// Tables of this size or more are refused.
inline constexpr std::size_t kZAMaxTableSize = 20000;

// Looks number n up in an unpacked table; nothing when it has no (or an
// empty) text. UTF-16 texts are converted to the ANSI code page.
std::optional<std::string> LookupInTable(std::span<const std::uint8_t> table, int n);
