// Helpers for the self-extractor tests: building self-extracting programs the
// way the converter does (stub image, configuration block, zip archive),
// writing small zip archives by hand, and running outside tools.
#pragma once

#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "ZATestZip.h"
#include "sfx_crc.h"
#include "sfxblock.h"

namespace sfxtest {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

inline void put16(Bytes& b, unsigned v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void put32(Bytes& b, std::uint32_t v) {
    put16(b, v & 0xFFFFu);
    put16(b, v >> 16);
}
inline void append(Bytes& b, const Bytes& more) {
    b.insert(b.end(), more.begin(), more.end());
}
inline void append(Bytes& b, const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
}

inline Bytes readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}
inline void writeFile(const fs::path& p, const Bytes& b) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

inline Bytes randomBytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) {
        x = static_cast<std::uint8_t>(rng());
    }
    return b;
}

// Raw deflate (no zlib header) with the given level and strategy.
inline Bytes deflateRaw(const Bytes& in, int level = 6, int strategy = Z_DEFAULT_STRATEGY) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy);
    Bytes out(deflateBound(&z, static_cast<uLong>(in.size())) + 16);
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// A minimal PE image: DOS header, PE header, one section whose raw data
// ends at `size` bytes. Stands in for the stub when no cross compiler ran.
inline Bytes syntheticStub(std::uint32_t size = 2048) {
    Bytes b(size, 0);
    b[0] = 'M';
    b[1] = 'Z';
    b[60] = 0x80;  // PE header at 128
    const std::size_t pe = 0x80;
    b[pe] = 'P';
    b[pe + 1] = 'E';
    b[pe + 4] = 0x4C;  // i386
    b[pe + 5] = 0x01;
    b[pe + 6] = 1;     // one section
    b[pe + 20] = 224;  // optional header size
    const std::size_t section = pe + 24 + 224;
    const std::uint32_t raw = 512, rawSize = size - 512;
    for (int i = 0; i < 4; ++i) {
        b[section + 16 + i] = static_cast<std::uint8_t>(rawSize >> (8 * i));
        b[section + 20 + i] = static_cast<std::uint8_t>(raw >> (8 * i));
    }
    return b;
}

// The stub image: the built stub program without its version prefix, or the
// synthetic one.
inline Bytes stubImage() {
    const std::string file = TARVIK_SFX_STUB_FILE;
    if (!file.empty() && fs::exists(file)) {
        Bytes b = readFile(file);
        return Bytes(b.begin() + 4, b.end());
    }
    return syntheticStub();
}

struct BlockSpec {
    std::string caption, commandLine, defaultDir, message, regFailPath;
    unsigned flags = 0;
    unsigned overwrite = SFX_OVR_ALWAYS;
    unsigned msgbox = 0;
    bool allowDeflate = true;
};

// The configuration block as the converter writes it.
inline Bytes configBlock(const BlockSpec& s) {
    Bytes table;
    const std::pair<unsigned, const std::string*> order[] = {
        {SFX_STR_CAPTION, &s.caption},
        {SFX_STR_COMMAND_LINE, &s.commandLine},
        {SFX_STR_DEFAULT_DIR, &s.defaultDir},
        {SFX_STR_MESSAGE, &s.message},
        {SFX_STR_REG_FAIL_PATH, &s.regFailPath}};
    for (const auto& [id, text] : order) {
        if (!text->empty()) {
            table.push_back(static_cast<std::uint8_t>(id));
            append(table, *text);
            table.push_back(0);
        }
    }
    table.push_back(0);
    unsigned flags = s.flags;
    if (s.allowDeflate && table.size() > SFX_TABLE_DEFLATE_MIN) {
        const Bytes packed = deflateRaw(table, 9);
        if (packed.size() + SFX_TABLE_DEFLATED_HEADER < table.size()) {
            Bytes t;
            put16(t, static_cast<unsigned>(packed.size()));
            put16(t, static_cast<unsigned>(table.size()));
            put32(t, sfx_crc32(0, table.data(), table.size()));
            append(t, packed);
            table = t;
            flags |= SFX_FLAG_TABLE_DEFLATED;
        }
    }
    while (table.size() % SFX_BLOCK_ALIGN != 0) {
        table.push_back(0);
    }
    Bytes b;
    put32(b, SFX_BLOCK_SIGNATURE);
    put16(b, static_cast<unsigned>(SFX_BLOCK_HEADER_SIZE + table.size()));
    put16(b, flags);
    put16(b, s.overwrite);
    put16(b, s.msgbox);
    append(b, table);
    return b;
}

// One entry of a hand-written archive (stored or deflated, never encrypted).
struct ZipEntry {
    std::string name;
    Bytes data;
    bool deflate = false;
};

inline void put64(Bytes& b, std::uint64_t v) {
    put32(b, static_cast<std::uint32_t>(v));
    put32(b, static_cast<std::uint32_t>(v >> 32));
}

// A zip archive with offsets counted from `base` (0: from the archive's
// start). With `zip64`, sizes and offsets live in Zip64 extra blocks and the
// archive ends with the Zip64 end records.
inline Bytes makeZip(const std::vector<ZipEntry>& entries, std::uint32_t base = 0,
                     bool zip64 = false) {
    Bytes out, central;
    for (const auto& e : entries) {
        const Bytes stored = e.deflate ? deflateRaw(e.data) : e.data;
        const std::uint32_t crc = sfx_crc32(0, e.data.data(), e.data.size());
        const std::uint64_t offset = out.size() + base;
        const std::uint32_t mark = 0xFFFFFFFFu;
        put32(out, 0x04034B50u);
        put16(out, zip64 ? 45 : 20);
        put16(out, 0);
        put16(out, e.deflate ? 8 : 0);
        put32(out, 0x5A210000u);  // 2025-01-01 00:00
        put32(out, crc);
        put32(out, zip64 ? mark : static_cast<std::uint32_t>(stored.size()));
        put32(out, zip64 ? mark : static_cast<std::uint32_t>(e.data.size()));
        put16(out, static_cast<unsigned>(e.name.size()));
        put16(out, zip64 ? 20 : 0);
        append(out, e.name);
        if (zip64) {
            put16(out, 1);
            put16(out, 16);
            put64(out, e.data.size());
            put64(out, stored.size());
        }
        append(out, stored);
        put32(central, 0x02014B50u);
        put16(central, zip64 ? 45 : 20);
        put16(central, zip64 ? 45 : 20);
        put16(central, 0);
        put16(central, e.deflate ? 8 : 0);
        put32(central, 0x5A210000u);
        put32(central, crc);
        put32(central, zip64 ? mark : static_cast<std::uint32_t>(stored.size()));
        put32(central, zip64 ? mark : static_cast<std::uint32_t>(e.data.size()));
        put16(central, static_cast<unsigned>(e.name.size()));
        put16(central, zip64 ? 28 : 0);
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put32(central, 0);
        put32(central, zip64 ? mark : static_cast<std::uint32_t>(offset));
        append(central, e.name);
        if (zip64) {
            put16(central, 1);
            put16(central, 24);
            put64(central, e.data.size());
            put64(central, stored.size());
            put64(central, offset);
        }
    }
    const std::uint64_t cdOffset = out.size() + base;
    append(out, central);
    if (zip64) {
        const std::uint64_t end64 = out.size() + base;
        put32(out, 0x06064B50u);
        put64(out, 44);
        put16(out, 45);
        put16(out, 45);
        put32(out, 0);
        put32(out, 0);
        put64(out, entries.size());
        put64(out, entries.size());
        put64(out, central.size());
        put64(out, cdOffset);
        put32(out, 0x07064B50u);
        put32(out, 0);
        put64(out, end64);
        put32(out, 1);
    }
    put32(out, 0x06054B50u);
    put32(out, 0);
    put16(out, zip64 ? 0xFFFF : static_cast<unsigned>(entries.size()));
    put16(out, zip64 ? 0xFFFF : static_cast<unsigned>(entries.size()));
    put32(out, zip64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(central.size()));
    put32(out, zip64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(cdOffset));
    put16(out, 0);
    return out;
}

inline bool haveTool(const std::string& name) {
    return static_cast<bool>(ztest::Shell("command -v " + name));
}

// Runs a shell command; returns its exit status (-1 when it did not exit).
inline int run(const std::string& command) {
    return ztest::Shell(command).status;
}

inline std::string quote(const fs::path& p) {
    std::string q = "'";
    for (char c : p.string()) {
        if (c == '\'') {
            q += "'\\''";
        } else {
            q += c;
        }
    }
    return q + "'";
}

// A fresh folder below the system temporary folder, removed at the end of the scope.
class TempDir {
public:
    TempDir() {
        static int counter = 0;
        path_ = fs::temp_directory_path() /
                ("tarvik-sfx-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

}  // namespace sfxtest

namespace sfxtest {

inline std::uint32_t get16(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8);
}
inline std::uint32_t get32(const Bytes& b, std::size_t at) {
    return get16(b, at) | (get16(b, at + 2) << 16);
}
inline void set32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

// A self-extracting set's parts and the archive behind the program's block.
struct SpannedSet {
    std::vector<Bytes> parts;
    Bytes program;
};

// `zip` (from makeZip, classic records, no comment) written the way the
// component writes a self-extracting set: parts of at most `partSize` bytes,
// the first starting with the spanning marker; a local header moves whole
// to the next part when it does not fit, data is split anywhere; the last
// part ends with the set's own directory and end record. The program's
// archive holds the directory (part numbers and offsets within the parts)
// and the end record on the part after the last, at offset 0; with `zip64`
// also the Zip64 end record and locator, the end record only marking them.
inline SpannedSet spanZip(const Bytes& zip, std::size_t partSize, bool zip64 = false) {
    const std::size_t end = zip.size() - 22;
    const std::uint32_t cdOffset = get32(zip, end + 16), cdSize = get32(zip, end + 12);
    const std::uint32_t count = get16(zip, end + 10);
    SpannedSet set;
    set.parts.emplace_back();
    auto room = [&] { return partSize - set.parts.back().size(); };
    // Appends n bytes; a record goes whole to the next part unless it is the
    // first on its part. Returns (part, offset) of the first byte.
    auto put = [&](const std::uint8_t* p, std::size_t n, bool record) {
        if ((record && n > room() && !set.parts.back().empty()) || room() == 0) {
            set.parts.emplace_back();
        }
        const std::pair<std::uint32_t, std::uint32_t> at{
            static_cast<std::uint32_t>(set.parts.size() - 1),
            static_cast<std::uint32_t>(set.parts.back().size())};
        while (n > 0) {
            if (room() == 0) {
                set.parts.emplace_back();
            }
            const std::size_t k = std::min(n, room());
            set.parts.back().insert(set.parts.back().end(), p, p + k);
            p += k;
            n -= k;
        }
        return at;
    };
    const std::uint8_t marker[4] = {0x50, 0x4B, 0x07, 0x08};
    put(marker, 4, true);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> where;
    for (std::size_t pos = 0; pos < cdOffset;) {
        const std::size_t header = 30 + get16(zip, pos + 26) + get16(zip, pos + 28);
        const std::size_t data = get32(zip, pos + 18);
        where.push_back(put(zip.data() + pos, header, true));
        put(zip.data() + pos + header, data, false);
        pos += header + data;
    }
    Bytes central(zip.begin() + cdOffset, zip.begin() + cdOffset + cdSize);
    std::size_t at = 0;
    for (const auto& [part, offset] : where) {
        central[at + 34] = static_cast<std::uint8_t>(part);
        central[at + 35] = static_cast<std::uint8_t>(part >> 8);
        set32(central, at + 42, offset);
        at += 46 + get16(central, at + 28) + get16(central, at + 30) + get16(central, at + 32);
    }
    auto endRecord = [&](std::uint32_t disk, std::uint32_t offset) {
        Bytes e;
        put32(e, 0x06054B50u);
        put16(e, disk);
        put16(e, disk);
        put16(e, count);
        put16(e, count);
        put32(e, cdSize);
        put32(e, offset);
        put16(e, 0);
        return e;
    };
    Bytes& last = set.parts.back();
    const auto lastDisk = static_cast<std::uint32_t>(set.parts.size() - 1);
    const auto ownOffset = static_cast<std::uint32_t>(last.size());
    append(last, central);
    append(last, endRecord(lastDisk, ownOffset));
    set.program = central;
    if (zip64) {
        const std::uint32_t disk = lastDisk + 1;
        put32(set.program, 0x06064B50u);
        put64(set.program, 44);
        put16(set.program, 45);
        put16(set.program, 45);
        put32(set.program, disk);
        put32(set.program, disk);
        put64(set.program, count);
        put64(set.program, count);
        put64(set.program, cdSize);
        put64(set.program, 0);
        put32(set.program, 0x07064B50u);
        put32(set.program, disk);
        put64(set.program, cdSize);
        put32(set.program, disk + 1);
        Bytes end = endRecord(0xFFFF, 0xFFFFFFFFu);
        end[8] = end[9] = end[10] = end[11] = 0xFF;
        append(set.program, end);
    } else {
        append(set.program, endRecord(lastDisk + 1, 0));
    }
    return set;
}

}  // namespace sfxtest
