#include "zip/messages/ZAMsgStr.h"

#include <zlib.h>

#include <array>

#include "platform/CodePage.h"

namespace {

// Block header: language id (2), n (2), code (4), CRC-32 (4); the deflated
// table follows. n counts the bytes after the first 8.
constexpr std::size_t kBlockHeaderSize = 8;
constexpr std::size_t kBlockCrcSize = 4;
constexpr std::size_t kCodeSize = 4;

// Unpacked table.
constexpr std::size_t kTableEncodingPos = 6;
constexpr std::size_t kTableDirectoryPos = 8;
constexpr std::size_t kTableMinSize = 50;
constexpr std::uint16_t kDirectoryEnd = 0xFFFF;

std::uint16_t word(std::span<const std::uint8_t> bytes, std::size_t pos) {
    return static_cast<std::uint16_t>(bytes[pos] | (bytes[pos + 1] << 8));
}

std::uint32_t dword(std::span<const std::uint8_t> bytes, std::size_t pos) {
    return word(bytes, pos) | (static_cast<std::uint32_t>(word(bytes, pos + 2)) << 16);
}

struct BlockHeader {
    std::uint16_t languageId = 0;
    std::uint16_t n = 0;
    std::array<char, kCodeSize> code{};
};

BlockHeader readHeader(std::span<const std::uint8_t> resource, std::size_t offset) {
    BlockHeader h;
    h.languageId = word(resource, offset);
    h.n = word(resource, offset + 2);
    for (std::size_t i = 0; i < kCodeSize; ++i) {
        h.code[i] = static_cast<char>(resource[offset + 4 + i]);
    }
    return h;
}

std::string codeText(const BlockHeader& h) {
    std::string code;
    for (char c : h.code) {
        if (c == 0) {
            break;
        }
        code += c;
    }
    return code;
}

TZABlockInfo infoOf(const BlockHeader& h, std::size_t offset) {
    return TZABlockInfo{offset, codeText(h), h.languageId};
}

// Calls visit(offset, header) for each block while more than a header's worth
// of bytes remain; visit returns false to stop.
template <typename Visit>
void walkBlocks(std::span<const std::uint8_t> resource, Visit visit) {
    std::size_t offset = 0;
    while (resource.size() - offset > kBlockHeaderSize) {
        const BlockHeader h = readHeader(resource, offset);
        if (!visit(offset, h)) {
            return;
        }
        offset += kBlockHeaderSize + h.n;
        if (offset >= resource.size()) {
            return;
        }
    }
}

bool isUpperLetter(char c) {
    return c >= 'A' && c <= 'Z';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

std::vector<TZABlockInfo> ListBlocks(std::span<const std::uint8_t> resource) {
    std::vector<TZABlockInfo> blocks;
    walkBlocks(resource, [&](std::size_t offset, const BlockHeader& h) {
        blocks.push_back(infoOf(h, offset));
        return true;
    });
    return blocks;
}

std::optional<TZABlockInfo> FindBlockByCode(std::span<const std::uint8_t> resource,
                                            std::string_view code) {
    // The key: positions 1 and 2 count only for letters, 3 and 4 for letters
    // and digits; a character that does not count is kept as 0.
    std::array<char, kCodeSize> key{};
    int counted = 0;
    for (std::size_t i = 0; i < kCodeSize && i < code.size(); ++i) {
        const char c = upper(code[i]);
        if (isUpperLetter(c) || (i >= 2 && isDigit(c))) {
            key[i] = c;
            ++counted;
        }
    }
    if (counted < 2) {
        return std::nullopt;
    }

    std::optional<TZABlockInfo> full;
    std::optional<TZABlockInfo> partial;
    int partialAgreement = 0;
    walkBlocks(resource, [&](std::size_t offset, const BlockHeader& h) {
        if (h.code[0] != key[0] || h.code[1] != key[1]) {
            return true;
        }
        int agreement = 2;
        if (counted >= 3 && h.code[2] == key[2]) {
            agreement = 3;
        }
        if (counted >= 4 && agreement == 3 && h.code[3] == key[3]) {
            agreement = 4;
        }
        if (agreement >= counted) {
            full = infoOf(h, offset);
            return false;
        }
        if (agreement > partialAgreement) {
            partial = infoOf(h, offset);
            partialAgreement = agreement;
        }
        return true;
    });
    return full ? full : partial;
}

std::optional<TZABlockInfo> FindBlockById(std::span<const std::uint8_t> resource, int id) {
    std::optional<TZABlockInfo> match;
    std::optional<TZABlockInfo> samePrimary;
    walkBlocks(resource, [&](std::size_t offset, const BlockHeader& h) {
        if (h.languageId == id || (id < 0x400 && (h.languageId & 0x3FF) == id)) {
            match = infoOf(h, offset);
            return false;
        }
        if (!samePrimary && (h.languageId & 0x3FF) == (id & 0x3FF)) {
            samePrimary = infoOf(h, offset);
        }
        return true;
    });
    return match ? match : samePrimary;
}

std::optional<TZAUnpackedBlock> UnpackBlock(std::span<const std::uint8_t> stream,
                                            std::size_t offset) {
    if (offset > stream.size() || stream.size() - offset < kBlockHeaderSize + kBlockCrcSize) {
        return std::nullopt;
    }
    const BlockHeader h = readHeader(stream, offset);
    const std::size_t n = h.n;
    // The whole block must lie inside the stream: a header claiming more
    // bytes than there are must not send the decoder past the end.
    if (stream.size() < n + 6 || n < kBlockCrcSize ||
        stream.size() - offset - kBlockHeaderSize < n) {
        return std::nullopt;
    }
    const std::uint32_t storedCrc = dword(stream, offset + kBlockHeaderSize);
    const std::uint8_t* packed = stream.data() + offset + kBlockHeaderSize + kBlockCrcSize;
    const std::size_t packedSize = n - kBlockCrcSize;

    // The output buffer has the size limit, not a size taken from the block,
    // so a lying header cannot make us allocate much; a table that does not
    // fit is refused anyway.
    std::vector<std::uint8_t> table(kZAMaxTableSize);
    z_stream zs{};
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) {
        return std::nullopt;
    }
    zs.next_in = const_cast<Bytef*>(packed);
    zs.avail_in = static_cast<uInt>(packedSize);
    zs.next_out = table.data();
    zs.avail_out = static_cast<uInt>(table.size());
    const int rc = inflate(&zs, Z_FINISH);
    const std::size_t produced = zs.total_out;
    inflateEnd(&zs);
    if (rc != Z_STREAM_END || produced >= kZAMaxTableSize) {
        return std::nullopt;
    }
    table.resize(produced);
    table.shrink_to_fit();
    if (crc32(0L, table.data(), static_cast<uInt>(table.size())) != storedCrc) {
        return std::nullopt;
    }
    if (h.languageId == 0) {
        return std::nullopt;
    }
    return TZAUnpackedBlock{std::move(table), h.languageId};
}

std::optional<std::string> LookupInTable(std::span<const std::uint8_t> table, int n) {
    if (table.size() < kTableMinSize || n < 0 || n >= kDirectoryEnd) {
        return std::nullopt;
    }
    // The directory: (last, first, slot index) per range, ended by 0xFFFF.
    std::size_t pos = kTableDirectoryPos;
    while (true) {
        if (pos + 2 > table.size()) {
            return std::nullopt;
        }
        const std::uint16_t last = word(table, pos);
        if (last >= n) {
            if (last == kDirectoryEnd || pos + 6 > table.size()) {
                return std::nullopt;
            }
            break;
        }
        pos += 6;
    }
    const std::uint16_t first = word(table, pos + 2);
    const std::uint16_t slotIndex = word(table, pos + 4);
    if (n < first) {
        return std::nullopt;
    }
    const std::size_t slotPos = (static_cast<std::size_t>(slotIndex) + (n - first)) * 2;
    if (slotPos + 2 > table.size()) {
        return std::nullopt;
    }
    const std::size_t slot = word(table, slotPos);
    if (slot == 0) {
        return std::nullopt;
    }

    if (word(table, kTableEncodingPos) != 0) {
        std::u16string text;
        for (std::size_t p = slot * 2;; p += 2) {
            if (p + 2 > table.size()) {
                return std::nullopt;  // no terminator inside the table
            }
            const char16_t unit = word(table, p);
            if (unit == 0) {
                break;
            }
            text += unit;
        }
        if (text.empty()) {
            return std::nullopt;
        }
        return platform::Utf16ToAnsi(text);
    }
    std::string text;
    for (std::size_t p = slot;; ++p) {
        if (p >= table.size()) {
            return std::nullopt;
        }
        if (table[p] == 0) {
            break;
        }
        text += static_cast<char>(table[p]);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    return text;
}
