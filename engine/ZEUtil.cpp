#include "ZEUtil.h"

#include <libdeflate.h>

namespace ze {

uint32_t crc32(uint32_t crc, const void* data, size_t n) {
    return libdeflate_crc32(crc, data, n);
}

uint32_t unixToDos(time_t t) {
    struct tm tm {};
    localtime_r(&t, &tm);
    if (tm.tm_year < 80)
        return (1 << 21) | (1 << 16);  // 1980-01-01 00:00
    if (tm.tm_year > 207)
        tm.tm_year = 207;
    uint32_t date = uint32_t(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
    uint32_t tim = uint32_t((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
    return (date << 16) | tim;
}

time_t dosToUnix(uint32_t dos) {
    struct tm tm {};
    tm.tm_year = int((dos >> 25) & 0x7F) + 80;
    tm.tm_mon = int((dos >> 21) & 0x0F) - 1;
    tm.tm_mday = int((dos >> 16) & 0x1F);
    tm.tm_hour = int((dos >> 11) & 0x1F);
    tm.tm_min = int((dos >> 5) & 0x3F);
    tm.tm_sec = int((dos & 0x1F) * 2);
    tm.tm_isdst = -1;
    if (tm.tm_mon < 0)
        tm.tm_mon = 0;
    if (tm.tm_mday < 1)
        tm.tm_mday = 1;
    return mktime(&tm);
}

}  // namespace ze
