// The self-extractor's own inflate, CRC-32 and traditional decryption,
// checked against zlib and against known values.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>

#include "SfxTestSupport.h"
#include "sfx_crc.h"
#include "sfx_crypt.h"
#include "sfx_inflate.h"
#include "sfx_result.h"

using sfxtest::Bytes;

namespace {

struct Sink {
    Bytes data;
    std::size_t calls = 0;
    std::size_t largestWrite = 0;
};

struct Source {
    const Bytes* data;
    std::size_t pos = 0;
    std::size_t step;  // bytes handed out per read, to exercise refills
};

long readSome(void* ctx, unsigned char* buf, std::size_t size) {
    auto* s = static_cast<Source*>(ctx);
    std::size_t n = std::min({size, s->step, s->data->size() - s->pos});
    if (n > 0) {
        std::memcpy(buf, s->data->data() + s->pos, n);
    }
    s->pos += n;
    return static_cast<long>(n);
}

int writeAll(void* ctx, const unsigned char* buf, std::size_t size) {
    auto* s = static_cast<Sink*>(ctx);
    s->data.insert(s->data.end(), buf, buf + size);
    s->calls++;
    s->largestWrite = std::max(s->largestWrite, size);
    return SFX_OK;
}

int inflateWith(const Bytes& packed, std::uint64_t limit, Sink& out, std::size_t step = 4096) {
    Source src{&packed, 0, step};
    std::uint64_t produced = 0;
    const int rc = sfx_inflate(readSome, &src, writeAll, &out, limit, &produced);
    EXPECT_EQ(produced, out.data.size());
    return rc;
}

Bytes textLike(std::size_t n, std::uint32_t seed) {
    static const char* words[] = {"Archiv ", "entpacken ", "Datei ",         "Ordner ",    "zip ",
                                  "\n",      "Kennwort ",  "überschreiben ", "0123456789 "};
    std::mt19937 rng(seed);
    Bytes b;
    while (b.size() < n) {
        sfxtest::append(b, std::string(words[rng() % 9]));
    }
    b.resize(n);
    return b;
}

Bytes periodic(std::size_t n, std::size_t period) {
    Bytes unit = sfxtest::randomBytes(period, 7);
    Bytes b;
    while (b.size() < n) {
        sfxtest::append(b, unit);
    }
    b.resize(n);
    return b;
}

struct InflateCase {
    const char* name;
    Bytes data;
    int level;
    int strategy;
};

}  // namespace

// Every kind of block zlib writes, and data that stresses the window:
// matches at the largest distance and output far beyond 32 KiB.
TEST(SfxInflate, MatchesZlibOnTableOfInputs) {
    const InflateCase cases[] = {
        {"empty", {}, 6, Z_DEFAULT_STRATEGY},
        {"one byte", {0x41}, 6, Z_DEFAULT_STRATEGY},
        {"stored blocks", sfxtest::randomBytes(200000, 1), 0, Z_DEFAULT_STRATEGY},
        {"incompressible", sfxtest::randomBytes(100000, 2), 9, Z_DEFAULT_STRATEGY},
        {"fixed codes", textLike(50000, 3), 6, Z_FIXED},
        {"dynamic codes", textLike(300000, 4), 9, Z_DEFAULT_STRATEGY},
        {"fast level", textLike(120000, 5), 1, Z_DEFAULT_STRATEGY},
        {"huffman only", textLike(40000, 6), 6, Z_HUFFMAN_ONLY},
        {"run length", Bytes(100000, 0x55), 6, Z_RLE},
        {"long runs", Bytes(1 << 20, 0), 9, Z_DEFAULT_STRATEGY},
        {"largest distance", periodic(200000, 32768), 9, Z_DEFAULT_STRATEGY},
        {"distance beyond window", periodic(200000, 32769), 9, Z_DEFAULT_STRATEGY},
        {"short period", periodic(70000, 3), 9, Z_DEFAULT_STRATEGY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes packed = sfxtest::deflateRaw(c.data, c.level, c.strategy);
        for (std::size_t step : {std::size_t{1}, std::size_t{4096}}) {
            if (step == 1 && packed.size() > 100000) {
                continue;
            }
            Sink out;
            ASSERT_EQ(inflateWith(packed, c.data.size(), out, step), SFX_OK);
            EXPECT_TRUE(out.data == c.data);
            EXPECT_LE(out.largestWrite, 32768u);
        }
    }
}

// The declared size is a hard limit: one byte less fails, and nothing beyond
// the limit ever reaches the output.
TEST(SfxInflate, NeverWritesBeyondTheLimit) {
    const Bytes data = textLike(100000, 9);
    const Bytes packed = sfxtest::deflateRaw(data);
    for (std::uint64_t limit : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{32768},
                                std::uint64_t{data.size() - 1}}) {
        Sink out;
        EXPECT_EQ(inflateWith(packed, limit, out), SFX_E_TOOBIG);
        EXPECT_LE(out.data.size(), limit);
    }
    Sink exact;
    EXPECT_EQ(inflateWith(packed, data.size(), exact), SFX_OK);
}

TEST(SfxInflate, RefusesDamagedStreams) {
    const Bytes good = sfxtest::deflateRaw(textLike(5000, 11));
    struct Case {
        const char* name;
        Bytes stream;
    };
    const Case cases[] = {
        {"no input", {}},
        {"cut in half", Bytes(good.begin(), good.begin() + good.size() / 2)},
        {"cut before the end code", Bytes(good.begin(), good.end() - 1)},
        {"block type 3", {0x07}},
        {"stored length check", {0x01, 0x05, 0x00, 0x00, 0x00}},
        {"stored data missing", {0x01, 0x05, 0x00, 0xFA, 0xFF, 'a'}},
        // fixed block: literal 'a', then a match of length 3 at distance 2
        // although only one byte exists
        {"distance before the start", {0x4B, 0x04, 0x42, 0x00}},
        // dynamic block announcing 287 literal/length codes
        {"too many length codes", {0xF5, 0x00, 0x00}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sink out;
        EXPECT_EQ(inflateWith(c.stream, 1 << 20, out), SFX_E_DATA);
    }
}

// Random streams: whatever either side accepts must come out the same.
TEST(SfxInflate, AgreesWithZlibOnRandomStreams) {
    int bothAccepted = 0;
    for (std::uint32_t seed = 0; seed < 3000; ++seed) {
        Bytes in = sfxtest::randomBytes(1 + seed % 300, seed);
        if (seed % 3 == 0) {
            in[0] = static_cast<std::uint8_t>((in[0] & ~6u) | 2u);  // fixed codes
        } else if (seed % 3 == 1) {
            in[0] = static_cast<std::uint8_t>((in[0] & ~6u) | 4u);  // dynamic codes
        }
        Sink ours;
        const int rc = inflateWith(in, 1 << 16, ours);
        Bytes theirs(1 << 16);
        z_stream z{};
        inflateInit2(&z, -15);
        z.next_in = in.data();
        z.avail_in = static_cast<uInt>(in.size());
        z.next_out = theirs.data();
        z.avail_out = static_cast<uInt>(theirs.size());
        const int zrc = inflate(&z, Z_FINISH);
        theirs.resize(z.total_out);
        inflateEnd(&z);
        if (rc == SFX_OK && zrc == Z_STREAM_END) {
            ++bothAccepted;
            EXPECT_TRUE(ours.data == theirs) << "seed " << seed;
        }
    }
    EXPECT_GT(bothAccepted, 0);
}

TEST(SfxInflate, MemoryHelperReportsTheSize) {
    const Bytes data = textLike(3000, 12);
    const Bytes packed = sfxtest::deflateRaw(data);
    Bytes out(data.size());
    std::size_t produced = 0;
    EXPECT_EQ(sfx_inflate_memory(packed.data(), packed.size(), out.data(), out.size(), &produced),
              SFX_OK);
    EXPECT_EQ(produced, data.size());
    EXPECT_TRUE(out == data);
    EXPECT_EQ(sfx_inflate_memory(packed.data(), packed.size(), out.data(), 100, &produced),
              SFX_E_TOOBIG);
    EXPECT_LE(produced, 100u);
}

TEST(SfxCrc, MatchesZlib) {
    const Bytes data = sfxtest::randomBytes(10000, 13);
    EXPECT_EQ(sfx_crc32(0, "123456789", 9), 0xCBF43926u);
    EXPECT_EQ(sfx_crc32(0, data.data(), data.size()), crc32(0, data.data(), data.size()));
    // continued over pieces like zlib's
    const std::uint32_t part = sfx_crc32(0, data.data(), 4000);
    EXPECT_EQ(sfx_crc32(part, data.data() + 4000, 6000), crc32(0, data.data(), data.size()));
}

// The header check byte: the CRC's high byte, or with a data descriptor also
// the time's high byte; a wrong password fails either.
TEST(SfxCrypt, CheckByteFromCrcOrTime) {
    // Encrypt a header the way writers do, with the same cipher run forwards.
    auto encryptHeader = [](const std::string& pw, std::uint8_t check) {
        SfxCrypt c;
        sfx_crypt_init(&c, pw.data(), pw.size());
        Bytes h(12, 0x5A);
        h[11] = check;
        Bytes enc(12);
        for (int i = 0; i < 12; ++i) {
            const std::uint32_t t = (c.key[2] & 0xFFFFu) | 2u;
            enc[i] = static_cast<std::uint8_t>(h[i] ^ ((t * (t ^ 1u)) >> 8));
            unsigned char one = enc[i];
            sfx_crypt_decrypt(&c, &one, 1);  // advances the keys with the plain byte
            EXPECT_EQ(one, h[i]);
        }
        return enc;
    };
    const std::uint32_t crc = 0xAB123456u, time = 0x5A21C300u;
    const Bytes byCrc = encryptHeader("geheim", 0xAB);
    const Bytes byTime = encryptHeader("geheim", 0xC3);
    SfxCrypt c;
    EXPECT_TRUE(sfx_crypt_check(&c, "geheim", 6, byCrc.data(), 0, crc, time));
    EXPECT_FALSE(sfx_crypt_check(&c, "geheim", 6, byTime.data(), 0, crc, time));
    EXPECT_TRUE(sfx_crypt_check(&c, "geheim", 6, byTime.data(), 0x0008, crc, time));
    EXPECT_TRUE(sfx_crypt_check(&c, "geheim", 6, byCrc.data(), 0x0008, crc, time));
    int wrongAccepted = 0;
    for (int i = 0; i < 200; ++i) {
        const std::string pw = "falsch" + std::to_string(i);
        wrongAccepted += sfx_crypt_check(&c, pw.data(), pw.size(), byCrc.data(), 0, crc, time);
    }
    EXPECT_LT(wrongAccepted, 5);  // about 1 in 256 passes the check byte by chance
}
