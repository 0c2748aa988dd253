#include "ZEUtil.h"

#include <libdeflate.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace ze {

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
    const size_t page = 4096;
    size_t want = (std::max(n, cap_ + cap_ / 4) + page - 1) & ~(page - 1);
    void* p;
    if (cap_ >= kMapThreshold) {
        p = mremap(data_, cap_, want, MREMAP_MAYMOVE);
    } else {
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
        munmap(data_, cap_);
    else
        free(data_);
    data_ = nullptr;
    size_ = cap_ = 0;
}

}  // namespace ze
