#include "platform/CentralSearch.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/ZipRecords.h"

namespace zrec {

std::optional<std::uint64_t> FindCentralStart(const TZAReadAt& read, std::uint64_t end) {
    constexpr std::uint64_t kChunk = 65536;
    // Every chunk reaches a whole header's length beyond the positions it
    // examines, so that a header starting near its end is read in one piece.
    constexpr std::uint64_t kOverlap = central::kSize - 1;
    if (end < central::kSize) {
        return std::nullopt;
    }
    std::vector<std::uint64_t> chain;  // the headers found, descending
    std::vector<std::uint8_t> buf;
    // Positions [chunkStart, chunkEnd) are examined; the last one a whole
    // header fits at before `end` comes first.
    std::uint64_t chunkEnd = end - central::kSize + 1;
    while (chunkEnd > 0) {
        const std::uint64_t chunkStart = chunkEnd > kChunk ? chunkEnd - kChunk : 0;
        buf.resize(static_cast<std::size_t>(chunkEnd + kOverlap - chunkStart));
        if (!read(chunkStart, buf)) {
            break;
        }
        for (std::uint64_t i = chunkEnd - chunkStart; i-- > 0;) {
            const std::uint8_t* p = buf.data() + i;
            if (p[0] != 'P' || GetU32(p) != kCentralHeaderSig) {
                continue;
            }
            const auto h = TZACentralHeader::Decode(p);
            const std::uint64_t at = chunkStart + i;
            const std::uint64_t next =
                at + central::kSize + h.nameLength + h.extraLength + h.commentLength;
            if (next == end || std::binary_search(chain.rbegin(), chain.rend(), next)) {
                chain.push_back(at);
            }
        }
        chunkEnd = chunkStart;
    }
    if (chain.empty()) {
        return std::nullopt;
    }
    return chain.back();
}

std::optional<std::uint64_t> FindCentralStart(std::span<const std::uint8_t> bytes,
                                              std::uint64_t end) {
    end = std::min<std::uint64_t>(end, bytes.size());
    return FindCentralStart(
        [&](std::uint64_t offset, std::span<std::uint8_t> out) {
            if (offset > bytes.size() || bytes.size() - offset < out.size()) {
                return false;
            }
            std::memcpy(out.data(), bytes.data() + offset, out.size());
            return true;
        },
        end);
}

}  // namespace zrec
