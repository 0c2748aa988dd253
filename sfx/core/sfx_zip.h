/*
 * Reading the zip archive behind the stub: the end records (also Zip64),
 * the central directory and the local headers. Offsets in the directory may
 * count from the start of the archive (a zip simply appended to the stub) or
 * from the start of the file (adjusted by the converter or `zip -A`): the
 * difference between where the directory is and where it claims to be is
 * applied to every offset.
 */
#ifndef TARVIK_SFX_ZIP_H
#define TARVIK_SFX_ZIP_H

#include <stddef.h>
#include <stdint.h>

#include "sfx_source.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SFX_NAME_MAX (3u * 65535u + 1u) /* a CP437 name of 65535 bytes in UTF-8 */

typedef struct SfxArchive {
    SfxSource src;
    uint64_t start;  /* where the archive may begin (after the block) */
    uint64_t cd_pos; /* where the central directory actually is */
    uint64_t cd_size;
    uint64_t count;    /* entries */
    int64_t shift;     /* added to every recorded offset */
    unsigned char* cd; /* the central directory, read whole */
    size_t cursor;     /* next record in `cd` */
    uint64_t index;    /* number of the next record */
    char* name;        /* UTF-8 name of the current entry (SFX_NAME_MAX bytes) */
} SfxArchive;

typedef struct SfxEntry {
    uint16_t version_made;
    uint16_t flags;
    uint16_t method;
    uint32_t dos_datetime; /* time in the low half, date in the high half */
    uint32_t crc;
    uint64_t compressed;
    uint64_t size;
    uint64_t local_offset; /* as recorded */
    uint32_t external_attrs;
    const char* name; /* UTF-8, owned by the archive, valid until the next call */
    size_t name_length;
} SfxEntry;

/*
 * Opens the archive held in `src` at or after `start`. SFX_E_NOARCHIVE when
 * there is no end record; SFX_E_FORMAT for damaged or multi-part archives;
 * SFX_E_MEMORY.
 */
int sfx_archive_open(SfxArchive* a, const SfxSource* src, uint64_t start);
void sfx_archive_close(SfxArchive* a);
/* Starts the walk over the entries again. */
void sfx_archive_rewind(SfxArchive* a);
/* The next entry: 1 and the entry, 0 after the last, or a negative code. */
int sfx_archive_next(SfxArchive* a, SfxEntry* e);
/* Where the entry's data (with any encryption header) starts in the source. */
int sfx_archive_data_pos(const SfxArchive* a, const SfxEntry* e, uint64_t* pos);

/* Converts a stored name to UTF-8: as it is when flagged UTF-8 and valid,
   otherwise from code page 437. `out` holds at least 3 * size + 1 bytes. */
size_t sfx_name_to_utf8(const unsigned char* raw, size_t size, int utf8_flag, char* out);

#ifdef __cplusplus
}
#endif

#endif
