#include "ZEUtil.h"

#include <libdeflate.h>

namespace ze {

uint32_t crc32(uint32_t crc, const void* data, size_t n) {
    return libdeflate_crc32(crc, data, n);
}

}  // namespace ze
