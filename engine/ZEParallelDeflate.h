// One large file compressed on all cores: the file is cut into chunks that worker threads
// compress independently with libdeflate; each chunk's stream has its final-block bit
// cleared and ends with an empty stored block (so it stops on a byte boundary), the chunks
// are joined in order and an empty final block closes the stream. The result is one valid
// deflate stream, as pigz makes for gzip.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "ZEUtil.h"

namespace ze {

constexpr size_t kDeflateChunk = 4u << 20;

// Turns a complete raw deflate stream into one that continues: clears the final-block bit and
// appends an empty stored block. False when `d` is not exactly one complete stream.
bool continueDeflate(ByteBuffer& d);

// Compresses the regular file `fd` from its start to its end at libdeflate level `level`.
// `emit` gets the compressed pieces in order on the calling thread, with the number of file
// bytes each covers; it returns false to stop (cancel, write failure). Workers also stop when
// `stop` is set. At most two chunks per thread are held at any time. Returns 0 (with the
// file's CRC-32 and size), -1 when stopped, or an engine error number.
int deflateParallel(int fd, int level, const std::function<bool(uint8_t*, size_t, size_t)>& emit,
                    const std::atomic<bool>& stop, uint32_t& crc, uint64_t& total,
                    size_t chunk = kDeflateChunk);

}  // namespace ze
