/*
 * A small streaming inflate (raw deflate, RFC 1951): stored, fixed and
 * dynamic Huffman blocks. Input is pulled through a callback, output is
 * pushed through another in pieces of at most 32 KiB. Every table and every
 * back reference is bounds-checked; the output never exceeds the limit the
 * caller declares (the entry's uncompressed size).
 */
#ifndef TARVIK_SFX_INFLATE_H
#define TARVIK_SFX_INFLATE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Returns the number of bytes placed in `buf` (0 at the end of input) or a
   negative result code. */
typedef long (*SfxReadFn)(void* ctx, unsigned char* buf, size_t size);
/* Returns SFX_OK or a negative result code (passed on unchanged). */
typedef int (*SfxWriteFn)(void* ctx, const unsigned char* buf, size_t size);

/*
 * Inflates one deflate stream. `limit` is the most output allowed; more
 * gives SFX_E_TOOBIG. Bytes after the final block are not read on purpose
 * beyond the look-ahead buffer. `produced` (may be NULL) receives the number of bytes
 * handed to the output (after a failure, the decoded rest is dropped). Result: SFX_OK, SFX_E_DATA
 * for damaged data or input that ends too early, SFX_E_MEMORY, or a code passed on from the
 * callbacks.
 */
int sfx_inflate(SfxReadFn read, void* read_ctx, SfxWriteFn write, void* write_ctx, uint64_t limit,
                uint64_t* produced);

/* Inflates a deflate stream held in memory into `out` (at most `capacity`
   bytes); `produced` receives the output size. */
int sfx_inflate_memory(const unsigned char* in, size_t in_size, unsigned char* out, size_t capacity,
                       size_t* produced);

#ifdef __cplusplus
}
#endif

#endif
