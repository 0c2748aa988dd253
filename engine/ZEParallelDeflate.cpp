#include "ZEParallelDeflate.h"

#include <libdeflate.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "ZEJob.h"

namespace ze {

bool continueDeflate(std::vector<uint8_t>& d) {
    if (d.empty())
        return false;
    z_stream s{};
    if (inflateInit2(&s, -15) != Z_OK)
        return false;
    thread_local std::vector<uint8_t> junk(1 << 16);
    s.next_in = d.data();
    s.avail_in = uInt(d.size());
    // Where the header of the block being decoded starts: its first bit is the final flag.
    size_t headerByte = 0;
    uint8_t headerMask = 1;
    int r = Z_OK, unused = -1;
    for (;;) {
        s.next_out = junk.data();
        s.avail_out = uInt(junk.size());
        r = inflate(&s, Z_BLOCK);
        if (r == Z_STREAM_END || (r != Z_OK))
            break;
        if ((s.data_type & 128) && (s.data_type & 64)) {
            // The final block ended: its padding bits are counted here (the next call
            // drops them).
            unused = s.data_type & 7;
        } else if (s.data_type & 128) {
            // At the end of a block: the next header begins right after the used bits.
            const int unused = s.data_type & 7;
            const size_t used = size_t(s.next_in - d.data());
            if (unused) {
                headerByte = used - 1;
                headerMask = uint8_t(0x100 >> unused);
            } else {
                headerByte = used;
                headerMask = 1;
            }
        }
    }
    const bool whole = r == Z_STREAM_END && s.avail_in == 0 && unused >= 0;
    inflateEnd(&s);
    if (!whole || headerByte >= d.size() || !(d[headerByte] & headerMask))
        return false;
    d[headerByte] &= uint8_t(~headerMask);
    // The bits after the end-of-block code are padding; an empty stored block (three zero
    // header bits, padding to the byte, LEN 0, NLEN 0xFFFF) follows in them when they are
    // enough, otherwise in one more byte.
    d.back() &= uint8_t(0xFF >> unused);
    if (unused < 3)
        d.push_back(0);
    for (uint8_t b : {0x00, 0x00, 0xFF, 0xFF})
        d.push_back(b);
    return true;
}

namespace {

struct Piece {
    std::vector<uint8_t> data;
    uint32_t crc = 0;
    size_t raw = 0;
    int error = 0;
};

bool readAt(int fd, uint8_t* p, size_t n, uint64_t at, size_t& got) {
    got = 0;
    while (got < n) {
        ssize_t r = pread(fd, p + got, n - got, off_t(at + got));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return false;
        if (r == 0)
            break;
        got += size_t(r);
    }
    return true;
}

}  // namespace

int deflateParallel(int fd, int level, const std::function<bool(uint8_t*, size_t, size_t)>& emit,
                    const std::atomic<bool>& stop, uint32_t& crc, uint64_t& total, size_t chunk) {
    const unsigned n = std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
    const size_t ahead = 2 * size_t(n);  // chunks claimed but not yet written
    std::mutex m;
    std::condition_variable cv;
    std::map<size_t, Piece> ready;
    size_t next = 0, written = 0, end = SIZE_MAX;
    unsigned gone = 0;
    bool quit = false;

    auto work = [&] {
        std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)> c(
            libdeflate_alloc_compressor(level), libdeflate_free_compressor);
        std::vector<uint8_t> in(chunk), out;
        for (;;) {
            size_t k;
            {
                std::unique_lock<std::mutex> g(m);
                cv.wait(g, [&] {
                    return quit || stop.load() || next >= end || next < written + ahead;
                });
                if (quit || stop.load() || next >= end) {
                    ++gone;
                    cv.notify_all();
                    return;
                }
                k = next++;
            }
            Piece p;
            size_t got = 0;
            if (!c)
                p.error = ZE_ERR_LOGIC;
            else if (!readAt(fd, in.data(), chunk, uint64_t(k) * chunk, got))
                p.error = ZE_ERR_READ;
            if (!p.error && got > 0) {
                p.raw = got;
                p.crc = uint32_t(libdeflate_crc32(0, in.data(), got));
                // Compressed into the worker's own buffer (room for the stored block that
                // continueDeflate appends); the piece held for the writer is exact.
                out.resize(libdeflate_deflate_compress_bound(c.get(), got) + 8);
                size_t len = libdeflate_deflate_compress(c.get(), in.data(), got, out.data(),
                                                         out.size() - 8);
                out.resize(len);
                if (len == 0 || !continueDeflate(out))
                    p.error = ZE_ERR_LOGIC;
                else
                    p.data.assign(out.begin(), out.end());
            }
            std::lock_guard<std::mutex> g(m);
            if (!p.error && got < chunk)
                end = std::min(end, got ? k + 1 : k);
            ready.emplace(k, std::move(p));
            cv.notify_all();
        }
    };
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < n; ++i)
        threads.emplace_back(work);

    int rc = 0;
    crc = 0;
    total = 0;
    for (size_t k = 0; rc == 0; ++k) {
        Piece p;
        {
            std::unique_lock<std::mutex> g(m);
            cv.wait(g, [&] { return ready.count(k) || k >= end || gone == n; });
            if (!ready.count(k)) {
                if (k < end)
                    rc = -1;  // the workers stopped
                break;
            }
            p = std::move(ready[k]);
            ready.erase(k);
            written = k + 1;
        }
        cv.notify_all();
        if (p.error) {
            rc = p.error;
            break;
        }
        crc = uint32_t(crc32_combine(crc, p.crc, z_off_t(p.raw)));
        total += p.raw;
        if (!emit(p.data.data(), p.data.size(), p.raw))
            rc = -1;
        if (stop.load())
            rc = -1;
    }
    {
        std::lock_guard<std::mutex> g(m);
        quit = true;
    }
    cv.notify_all();
    for (auto& t : threads)
        t.join();
    if (rc == 0) {
        // An empty block with fixed codes and the final flag closes the stream.
        uint8_t last[2] = {0x03, 0x00};
        if (!emit(last, 2, 0))
            rc = -1;
    }
    return rc;
}

}  // namespace ze
