// Deflate64 ("enhanced deflate", method 9): deflate with a 64 KiB window, length code 285
// meaning 3 plus 16 extra bits and distance codes 30 and 31 (14 extra bits each).
#pragma once

#include <cstddef>
#include <cstdint>

#include "ZEDecode.h"

namespace ze {

DecodeResult inflate64(InSource& in, uint64_t usize, OutSink& sink);

}  // namespace ze
