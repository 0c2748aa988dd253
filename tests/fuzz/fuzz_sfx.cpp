// Treats the input as a self-extracting program: reads the configuration
// block, opens the archive behind it (or, for inputs without a program
// image, the whole input as an archive), walks the directory and extracts
// every entry into memory with a fixed password and a bounded output.
// The first input byte also chooses a raw-inflate run of the rest, compared
// with zlib where both accept it; a first byte ending in binary 11 makes
// the input a self-extracting set: the next byte's low three bits give the
// number of parts before the program, then come their sizes (16 bits each),
// the parts and the program; a set may ask for more parts than there are.
// Nothing may read or write out of bounds.
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "sfx_config.h"
#include "sfx_extract.h"
#include "sfx_inflate.h"
#include "sfx_result.h"
#include "sfx_zip.h"

namespace {

constexpr std::size_t kOutputCap = 1 << 20;

struct Memory {
    std::size_t total = 0;
    std::size_t openFiles = 0;
};

int exists(void*, const char*) {
    return SFX_PATH_NONE;
}
int makeDir(void*, const char* path) {
    return path[0] == 0 ? SFX_E_NAME : SFX_OK;
}
void* create(void* ctx, const char*) {
    static_cast<Memory*>(ctx)->openFiles++;
    return ctx;
}
int write(void* ctx, void*, const unsigned char*, std::size_t n) {
    auto* m = static_cast<Memory*>(ctx);
    m->total += n;
    return m->total > kOutputCap ? SFX_E_WRITE : SFX_OK;
}
int closeFile(void* ctx, void*, const char*, int, std::uint32_t, std::uint32_t, std::uint16_t) {
    static_cast<Memory*>(ctx)->openFiles--;
    return SFX_OK;
}
int askPassword(void*, const char*, int attempt, char* buf, std::size_t cap) {
    if (attempt > 1) {
        return 0;
    }
    std::snprintf(buf, cap, "%s", "pw");
    return 1;
}

// A missing or damaged part is named among the parts before the program.
void checkBadParts(const SfxArchive& archive) {
    if (archive.bad_first != SFX_PART_NONE &&
        (archive.bad_first > archive.bad_last || archive.bad_last + 1 >= archive.disks)) {
        __builtin_trap();
    }
}

void extractAll(const std::uint8_t* data, std::size_t size, const SfxParts* parts) {
    SfxSource src;
    SfxMemorySource mem;
    sfx_source_memory(&src, &mem, data, size);
    static SfxConfig config;
    std::uint64_t start = 0;
    if (sfx_read_config(&src, &config) == SFX_OK) {
        for (const char* text : config.text) {
            (void)std::strlen(text);
        }
        start = config.archive_start;
    }
    SfxArchive archive;
    if (sfx_archive_open_set(&archive, &src, start, parts) != SFX_OK) {
        checkBadParts(archive);
        return;
    }
    Memory out;
    SfxHost host{};
    host.ctx = &out;
    host.exists = exists;
    host.make_dir = makeDir;
    host.create_file = create;
    host.write_file = write;
    host.close_file = closeFile;
    host.ask_password = askPassword;
    SfxRun run{};
    run.overwrite = SFX_OVR_ALWAYS;
    run.create_empty_dirs = 1;
    sfx_extract_all(&archive, &host, &run);
    checkBadParts(archive);
    sfx_archive_close(&archive);
    if (out.openFiles != 0) {
        __builtin_trap();  // every created file must be closed again
    }
}

void inflateRaw(const std::uint8_t* data, std::size_t size) {
    std::vector<unsigned char> ours(1 << 16), theirs(1 << 16);
    std::size_t produced = 0;
    const int rc = sfx_inflate_memory(data, size, ours.data(), ours.size(), &produced);
    if (produced > ours.size()) {
        __builtin_trap();
    }
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = theirs.data();
    z.avail_out = static_cast<uInt>(theirs.size());
    const int zrc = inflate(&z, Z_FINISH);
    const std::size_t zsize = z.total_out;
    inflateEnd(&z);
    if (rc == SFX_OK && zrc == Z_STREAM_END &&
        (produced != zsize || std::memcmp(ours.data(), theirs.data(), zsize) != 0)) {
        __builtin_trap();  // both accept the stream but disagree on its content
    }
}

// Splits the input into parts and the program, and extracts the set.
void extractSet(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return;
    }
    const std::uint32_t count = data[0] & 7u;
    std::size_t at = 1 + 2 * count;
    if (size < at) {
        return;
    }
    std::vector<const unsigned char*> starts(count);
    std::vector<std::size_t> sizes(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t want = data[1 + 2 * i] | (data[2 + 2 * i] << 8);
        sizes[i] = std::min(want, size - at);
        starts[i] = data + at;
        at += sizes[i];
    }
    SfxParts parts;
    SfxMemoryParts mem;
    sfx_parts_memory(&parts, &mem, starts.data(), sizes.data(), count);
    extractAll(data + at, size - at, &parts);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    if ((data[0] & 3) == 0) {
        inflateRaw(data + 1, size - 1);
    } else if ((data[0] & 3) == 3) {
        extractSet(data + 1, size - 1);
    } else {
        extractAll(data, size, nullptr);
    }
    return 0;
}
