/*
 * Reading the zip archive behind the stub: the end records (also Zip64),
 * the central directory and the local headers. Offsets in the directory may
 * count from the start of the archive (a zip simply appended to the stub) or
 * from the start of the file (adjusted by the converter or `zip -A`): the
 * difference between where the directory is and where it claims to be is
 * applied to every offset.
 *
 * A self-extracting set spans several parts: the program is the set's last
 * part ("disk") and holds the directory and the end records; the entries
 * live in the parts before it (name001.zip, name002.zip, ...), each offset
 * counted from the start of the part its entry's number names, and an
 * entry's data may go on from the end of one part into the next. The front
 * end opens the parts (it knows where they are); the core asks for them by
 * number.
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
/* Parts before the program: three-digit numbers, as the writer names them. */
#define SFX_PARTS_MAX 999u
#define SFX_PART_NONE 0xFFFFFFFFu

/* The front end's access to the parts of a set. */
typedef struct SfxParts {
    void* ctx;
    /* Opens part `number` (0: the first, name001.zip) of the `count` parts
       before the program as a source; SFX_OK, or SFX_E_NOPART when it is
       not there or cannot be read. */
    int (*open)(void* ctx, uint32_t number, uint32_t count, SfxSource* part);
    /* Closes a part opened before. May be NULL. */
    void (*close)(void* ctx, SfxSource* part);
} SfxParts;

/* Parts held in memory (tests, fuzzing); parts from `count` on are missing. */
typedef struct SfxMemoryParts {
    const unsigned char* const* data;
    const size_t* sizes;
    uint32_t count;
    SfxMemorySource current;
} SfxMemoryParts;
void sfx_parts_memory(SfxParts* parts, SfxMemoryParts* mem, const unsigned char* const* data,
                      const size_t* sizes, uint32_t count);

typedef struct SfxArchive {
    SfxSource src;
    uint64_t start;  /* where the archive may begin (after the block) */
    uint64_t cd_pos; /* where the central directory actually is */
    uint64_t cd_size;
    uint64_t count;    /* entries */
    int64_t shift;     /* added to every offset recorded for the program's own part */
    unsigned char* cd; /* the central directory, read whole */
    size_t cursor;     /* next record in `cd` */
    uint64_t index;    /* number of the next record */
    char* name;        /* UTF-8 name of the current entry (SFX_NAME_MAX bytes) */
    /* multi-part sets; `disks` is 1 for a plain archive */
    uint32_t disks;        /* parts including the program, which is the last */
    SfxParts parts;        /* how to open the others */
    uint64_t* part_size;   /* size of each part before the program */
    uint64_t last_end;     /* where the entries end on the last of them */
    uint64_t* first_start; /* lowest entry offset recorded for each part (UINT64_MAX: none) */
    SfxSource part;        /* the part open at the moment */
    uint32_t part_open;    /* its number, SFX_PART_NONE when none is open */
    /* The parts that hold the first missing or damaged part (SFX_PART_NONE
       when none): a missing one, or the range in which one is too short. */
    uint32_t bad_first, bad_last;
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
    uint32_t disk;         /* the part the entry starts on */
    uint32_t external_attrs;
    const char* name; /* UTF-8, owned by the archive, valid until the next call */
    size_t name_length;
} SfxEntry;

/*
 * Opens the archive held in `src` at or after `start`. SFX_E_NOARCHIVE when
 * there is no end record; SFX_E_FORMAT for a damaged one; SFX_E_MEMORY.
 * When the end records say the directory is on a later part than the first,
 * `src` is the set's last part and every part before it is opened through
 * `parts` once to learn its size: SFX_E_NOPART (with `bad_first`) when one
 * is missing, or when `parts` is NULL.
 */
int sfx_archive_open_set(SfxArchive* a, const SfxSource* src, uint64_t start,
                         const SfxParts* parts);
/* A plain archive (multi-part ones give SFX_E_NOPART). */
int sfx_archive_open(SfxArchive* a, const SfxSource* src, uint64_t start);
void sfx_archive_close(SfxArchive* a);
/* Starts the walk over the entries again. */
void sfx_archive_rewind(SfxArchive* a);
/* The next entry: 1 and the entry, 0 after the last, or a negative code. */
int sfx_archive_next(SfxArchive* a, SfxEntry* e);

/* Reading an entry's data (with any encryption header), across parts. */
typedef struct SfxData {
    uint32_t disk; /* the part of the next byte */
    uint64_t pos;  /* its position in that part's source */
    uint64_t left; /* bytes still to come */
} SfxData;

/*
 * Finds the entry's data and checks that all of it is there: SFX_E_FORMAT
 * when the records do not fit together, SFX_E_PART (with `bad_first`,
 * `bad_last`) when a part ends before its data does or holds no local
 * header where the directory says, SFX_E_NOPART when a part went missing.
 */
int sfx_archive_data(SfxArchive* a, const SfxEntry* e, SfxData* d);
/* The next `size` (at most `d->left`) bytes, going on into the next part at
   the end of one. SFX_OK or a negative code. */
int sfx_archive_read(SfxArchive* a, SfxData* d, void* buf, size_t size);
/* Where the entry's data starts in the source of the part that holds its
   first byte (the program's own source for a plain archive). */
int sfx_archive_data_pos(SfxArchive* a, const SfxEntry* e, uint64_t* pos);

/* The file name of part `number` (0: the first) of the set whose program
   is `program`: the program's name without its extension, the part's
   number from 1 in three digits, ".zip" (dir/a.exe: dir/a001.zip). Both
   '/' and backslash separate folders. 0 when `out` (`capacity` bytes) is too small. */
int sfx_part_name(const char* program, uint32_t number, char* out, size_t capacity);

/* Converts a stored name to UTF-8 by the shared name rule (EntryName.h) from
   the entry's flags and made-by value; a UTF-8 name that is not valid UTF-8
   is read as Windows-1252. `out` holds at least 3 * size + 1 bytes. */
size_t sfx_name_to_utf8(const unsigned char* raw, size_t size, uint16_t flags, uint16_t made_by,
                        char* out);

#ifdef __cplusplus
}
#endif

#endif
