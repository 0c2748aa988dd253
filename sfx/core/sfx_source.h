/* Random-access input (the self-extracting program's own file) and little-endian helpers. */
#ifndef TARVIK_SFX_SOURCE_H
#define TARVIK_SFX_SOURCE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct SfxSource {
    void* ctx;
    /* Reads exactly `size` bytes at `offset`; SFX_OK or a negative result code. */
    int (*read_at)(void* ctx, uint64_t offset, void* buf, size_t size);
    uint64_t size;
} SfxSource;

/* Bounds-checked read: refuses ranges outside the source. */
int sfx_source_read(const SfxSource* src, uint64_t offset, void* buf, size_t size);

/* A source over bytes in memory (tests, fuzzing, the stub's own table). */
typedef struct SfxMemorySource {
    const unsigned char* data;
    size_t size;
} SfxMemorySource;
void sfx_source_memory(SfxSource* src, SfxMemorySource* mem, const void* data, size_t size);

static inline uint16_t sfx_get16(const unsigned char* p) {
    return (uint16_t)(p[0] | (p[1] << 8));
}
static inline uint32_t sfx_get32(const unsigned char* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
static inline uint64_t sfx_get64(const unsigned char* p) {
    return (uint64_t)sfx_get32(p) | ((uint64_t)sfx_get32(p + 4) << 32);
}

#ifdef __cplusplus
}
#endif

#endif
