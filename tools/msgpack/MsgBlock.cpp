#include "MsgBlock.h"

#include <zlib.h>

#include <cstring>

namespace msgpack {
namespace {

void putWord(std::vector<std::uint8_t>& out, std::size_t pos, std::uint32_t value) {
    out[pos] = static_cast<std::uint8_t>(value & 0xFF);
    out[pos + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

void appendWord(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void checkRanges(const std::vector<Range>& ranges) {
    int previousLast = -1;
    for (const Range& r : ranges) {
        if (r.first < 0 || r.last < r.first || r.last >= 0xFFFF || r.first <= previousLast) {
            throw PackError("message ranges must be ascending and not overlap (range " +
                            std::to_string(r.first) + "-" + std::to_string(r.last) + ")");
        }
        previousLast = r.last;
    }
}

template <typename Text>
void checkTexts(const std::map<int, Text>& texts, const std::vector<Range>& ranges) {
    for (const auto& [number, text] : texts) {
        bool inside = false;
        for (const Range& r : ranges) {
            inside = inside || (number >= r.first && number <= r.last);
        }
        if (!inside) {
            throw PackError("message " + std::to_string(number) + " lies outside every range");
        }
        if (text.empty() || text.find(typename Text::value_type{0}) != Text::npos) {
            throw PackError("message " + std::to_string(number) + " is empty or holds a 0");
        }
    }
}

}  // namespace

std::vector<std::uint8_t> BuildTable(const TableContent& content) {
    checkRanges(content.ranges);
    if (content.wide) {
        checkTexts(content.wideTexts, content.ranges);
    } else {
        checkTexts(content.narrowTexts, content.ranges);
    }

    std::vector<std::uint8_t> table;
    appendWord(table, 0);
    appendWord(table, content.dosTime);
    appendWord(table, content.dosDate);
    appendWord(table, content.wide ? 1 : 0);

    // Directory first, with the slot indexes already known: the slots follow
    // the end marker, range after range.
    std::size_t slotWord = (8 + 6 * content.ranges.size() + 2) / 2;
    for (const Range& r : content.ranges) {
        appendWord(table, static_cast<std::uint32_t>(r.last));
        appendWord(table, static_cast<std::uint32_t>(r.first));
        if (slotWord > 0xFFFF) {
            throw PackError("too many numbers for 16-bit slot indexes");
        }
        appendWord(table, static_cast<std::uint32_t>(slotWord));
        slotWord += static_cast<std::size_t>(r.last - r.first + 1);
    }
    appendWord(table, 0xFFFF);
    const std::size_t slotsStart = table.size();
    table.resize(slotWord * 2, 0);

    // Texts after the slots, each 0-terminated; the slot gets its position.
    std::size_t slotPos = slotsStart;
    for (const Range& r : content.ranges) {
        for (int number = r.first; number <= r.last; ++number, slotPos += 2) {
            std::size_t position = 0;
            if (content.wide) {
                auto it = content.wideTexts.find(number);
                if (it == content.wideTexts.end()) {
                    continue;
                }
                position = table.size() / 2;
                for (char16_t unit : it->second) {
                    appendWord(table, unit);
                }
                appendWord(table, 0);
            } else {
                auto it = content.narrowTexts.find(number);
                if (it == content.narrowTexts.end()) {
                    continue;
                }
                position = table.size();
                table.insert(table.end(), it->second.begin(), it->second.end());
                table.push_back(0);
            }
            if (position > 0xFFFF) {
                throw PackError("message " + std::to_string(number) +
                                " lies beyond a 16-bit slot position");
            }
            putWord(table, slotPos, static_cast<std::uint32_t>(position));
        }
    }
    if (table.size() >= kMaxTableSize) {
        throw PackError("table of " + std::to_string(table.size()) + " bytes is too large");
    }
    return table;
}

std::vector<std::uint8_t> PackBlock(std::uint16_t languageId, std::string_view code,
                                    std::span<const std::uint8_t> table) {
    if (code.empty() || code.size() > 4) {
        throw PackError("language code must have one to four characters");
    }
    for (char c : code) {
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) {
            throw PackError("language code must be capital letters or digits");
        }
    }

    z_stream zs{};
    if (deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw PackError("deflateInit2 failed");
    }
    std::vector<std::uint8_t> packed(deflateBound(&zs, static_cast<uLong>(table.size())));
    zs.next_in = const_cast<Bytef*>(table.data());
    zs.avail_in = static_cast<uInt>(table.size());
    zs.next_out = packed.data();
    zs.avail_out = static_cast<uInt>(packed.size());
    const int rc = deflate(&zs, Z_FINISH);
    packed.resize(zs.total_out);
    deflateEnd(&zs);
    if (rc != Z_STREAM_END) {
        throw PackError("deflate failed");
    }

    const std::size_t n = packed.size() + 4;
    if (n > 0xFFFF) {
        throw PackError("packed table does not fit a block");
    }
    const auto crc = crc32(0L, table.data(), static_cast<uInt>(table.size()));

    // Sized once: header, then the packed table copied behind it.
    std::vector<std::uint8_t> block(12 + packed.size(), 0);
    putWord(block, 0, languageId);
    putWord(block, 2, static_cast<std::uint32_t>(n));
    std::memcpy(block.data() + 4, code.data(), code.size());
    putWord(block, 8, static_cast<std::uint32_t>(crc & 0xFFFF));
    putWord(block, 10, static_cast<std::uint32_t>(crc >> 16));
    if (!packed.empty()) {
        std::memcpy(block.data() + 12, packed.data(), packed.size());
    }
    return block;
}

}  // namespace msgpack
