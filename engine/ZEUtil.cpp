#include "ZEUtil.h"

#include <libdeflate.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace ze {

namespace {

constexpr size_t kPage = 4096;

// Mapped buffers given back, kept for the next large buffer: memory touched once is not
// faulted in page by page again for every file or chunk. Bounded in bytes and count, so
// that the memory kept aside stays small next to the job's queues; emptied when the last
// job that wants it ends.
class MapPool {
public:
    static constexpr size_t kMaxBytes = 8u << 20, kMaxCount = 8;

    // A mapping of exactly `want` bytes (a page multiple) made from a kept one, or null.
    // The best fit is cut to size (its tail goes back to the kernel); failing that, the
    // largest kept one grows, keeping the pages it has.
    void* take(size_t want) {
        std::lock_guard<std::mutex> g(m_);
        if (kept_.empty())
            return nullptr;
        size_t best = kept_.size(), largest = 0;
        for (size_t i = 0; i < kept_.size(); ++i) {
            if (kept_[i].second >= want &&
                (best == kept_.size() || kept_[i].second < kept_[best].second))
                best = i;
            if (kept_[i].second > kept_[largest].second)
                largest = i;
        }
        const size_t i = best < kept_.size() ? best : largest;
        auto [p, cap] = kept_[i];
        kept_.erase(kept_.begin() + long(i));
        bytes_ -= cap;
        void* q = cap == want ? p : mremap(p, cap, want, MREMAP_MAYMOVE);
        if (q == MAP_FAILED) {
            munmap(p, cap);
            return nullptr;
        }
        return q;
    }

    // Keeps the mapping when a job wants them kept and there is room, else unmaps it.
    void give(void* p, size_t cap) {
        {
            std::lock_guard<std::mutex> g(m_);
            if (users_ > 0 && cap <= kMaxBytes - bytes_ && kept_.size() < kMaxCount) {
                kept_.emplace_back(p, cap);
                bytes_ += cap;
                return;
            }
        }
        munmap(p, cap);
    }

    void use() {
        std::lock_guard<std::mutex> g(m_);
        ++users_;
    }

    // The last user gone: the kept mappings leave the process.
    void unuse() {
        std::vector<std::pair<void*, size_t>> all;
        {
            std::lock_guard<std::mutex> g(m_);
            if (--users_ > 0)
                return;
            all.swap(kept_);
            bytes_ = 0;
        }
        for (auto& [p, cap] : all)
            munmap(p, cap);
    }

private:
    std::mutex m_;
    std::vector<std::pair<void*, size_t>> kept_;
    size_t bytes_ = 0;
    int users_ = 0;
};

// Never destroyed: thread-local buffers give their storage back at thread exit.
MapPool& mapPool() {
    static MapPool* pool = new MapPool;
    return *pool;
}

}  // namespace

ByteBuffer::KeepFreed::KeepFreed() {
    mapPool().use();
}

ByteBuffer::KeepFreed::~KeepFreed() {
    mapPool().unuse();
}

uint32_t crc32(uint32_t crc, const void* data, size_t n) {
    return libdeflate_crc32(crc, data, n);
}

void ByteBuffer::reserve(size_t n) {
    if (n <= cap_)
        return;
    if (n < kMapThreshold) {
        // Small: from malloc, growing by half at least so that appends stay cheap.
        size_t want = std::max(n, cap_ + cap_ / 2);
        if (want >= kMapThreshold)
            want = n;
        void* p = realloc(data_, want);
        if (!p)
            throw std::bad_alloc();
        data_ = static_cast<uint8_t*>(p);
        cap_ = want;
        return;
    }
    size_t want = (std::max(n, cap_ + cap_ / 4) + kPage - 1) & ~(kPage - 1);
    void* p;
    if (cap_ >= kMapThreshold) {
        p = mremap(data_, cap_, want, MREMAP_MAYMOVE);
    } else {
        p = mapPool().take(want);
        if (!p)
            p = mmap(nullptr, want, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED && size_ > 0)
            memcpy(p, data_, size_);
        if (p != MAP_FAILED)
            free(data_);
    }
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    data_ = static_cast<uint8_t*>(p);
    cap_ = want;
}

void ByteBuffer::assign(const uint8_t* p, size_t n) {
    size_ = 0;
    append(p, n);
}

void ByteBuffer::append(const uint8_t* p, size_t n) {
    if (n == 0)
        return;
    if (size_ + n > cap_)
        reserve(size_ + n);
    memcpy(data_ + size_, p, n);
    size_ += n;
}

void ByteBuffer::release() {
    if (cap_ >= kMapThreshold)
        mapPool().give(data_, cap_);
    else
        free(data_);
    data_ = nullptr;
    size_ = cap_ = 0;
}

}  // namespace ze
