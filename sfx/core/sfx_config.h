/*
 * Finds the end of the stub's program image and reads the configuration
 * block placed there (layout in sfxblock.h).
 */
#ifndef TARVIK_SFX_CONFIG_H
#define TARVIK_SFX_CONFIG_H

#include <stdint.h>

#include "sfx_source.h"
#include "sfxblock.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct SfxConfig {
    uint64_t image_end;     /* where the block starts */
    uint64_t archive_start; /* where the archive behind the block starts */
    unsigned flags;         /* SFX_OPT_* */
    unsigned overwrite;     /* SFX_OVR_*, other values mean confirm */
    unsigned msgbox;        /* SFX_MSGBOX_* or 0 */
    /* UTF-8 texts by id (SFX_STR_*), "" when absent; they point into `table`. */
    const char* text[SFX_STR_COUNT];
    unsigned char table[SFX_TABLE_MAX + 1];
} SfxConfig;

/*
 * The end of the PE image: the largest raw end of its sections. SFX_E_NOTPE
 * when the source is no PE program, SFX_E_READ when it is cut short.
 */
int sfx_image_end(const SfxSource* src, uint64_t* end);

/*
 * Reads the block at the end of the image. SFX_E_NOTPE, SFX_E_NOBLOCK (no
 * block signature there), SFX_E_FORMAT (a block that is damaged: sizes out
 * of range, a table without its end, a deflated table that does not inflate
 * to its size and CRC).
 */
int sfx_read_config(const SfxSource* src, SfxConfig* config);

/* Parses a block held in memory that starts at `block` (`available` bytes). */
int sfx_parse_block(const unsigned char* block, size_t available, SfxConfig* config);

#ifdef __cplusplus
}
#endif

#endif
