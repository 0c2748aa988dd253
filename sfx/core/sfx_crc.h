/* CRC-32 as used by zip headers and the configuration block. */
#ifndef TARVIK_SFX_CRC_H
#define TARVIK_SFX_CRC_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Continues `crc` (0 to start) over `size` bytes; returns the finished value. */
uint32_t sfx_crc32(uint32_t crc, const void* data, size_t size);
/* One raw table step without pre/post inversion (the traditional cipher's use). */
uint32_t sfx_crc32_byte(uint32_t crc, unsigned char b);

#ifdef __cplusplus
}
#endif

#endif
