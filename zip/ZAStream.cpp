#include "zip/ZAStream.h"

#include <algorithm>
#include <cstring>

bool TZAStream::ReadExact(std::span<std::uint8_t> out) {
    const auto want = static_cast<std::int64_t>(out.size());
    return Read(out.data(), want) == want;
}

bool TZAStream::WriteAll(std::span<const std::uint8_t> in) {
    const auto want = static_cast<std::int64_t>(in.size());
    return Write(in.data(), want) == want;
}

std::int64_t TZAMemoryStream::Read(void* buffer, std::int64_t count) {
    if (count <= 0 || pos_ >= Size())
        return 0;
    const std::int64_t n = std::min(count, Size() - pos_);
    std::memcpy(buffer, data_.data() + pos_, static_cast<std::size_t>(n));
    pos_ += n;
    return n;
}

std::int64_t TZAMemoryStream::Write(const void* buffer, std::int64_t count) {
    if (count <= 0)
        return 0;
    const std::int64_t end = pos_ + count;
    if (end > Size())
        data_.resize(static_cast<std::size_t>(end));
    std::memcpy(data_.data() + pos_, buffer, static_cast<std::size_t>(count));
    pos_ = end;
    return count;
}

std::int64_t TZAMemoryStream::Seek(std::int64_t offset, TZASeekOrigin origin) {
    std::int64_t base = 0;
    switch (origin) {
        case soBeginning:
            base = 0;
            break;
        case soCurrent:
            base = pos_;
            break;
        case soEnd:
            base = Size();
            break;
    }
    const std::int64_t target = base + offset;
    if (target < 0)
        return -1;
    pos_ = target;  // past the end is allowed; a write there fills the gap with zeros
    return pos_;
}

bool TZAMemoryStream::SetSize(std::int64_t size) {
    if (size < 0)
        return false;
    data_.resize(static_cast<std::size_t>(size));
    if (pos_ > size)
        pos_ = size;
    return true;
}
