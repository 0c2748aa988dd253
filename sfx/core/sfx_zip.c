#include "sfx_zip.h"

#include <stdlib.h>
#include <string.h>

#include "EntryName.h"
#include "ZipLayout.h"
#include "sfx_crc.h"
#include "sfx_result.h"

/* The whole directory is read into memory; larger ones are refused. */
#define MAX_CD_SIZE (256u * 1024u * 1024u)

size_t sfx_name_to_utf8(const unsigned char* raw, size_t size, uint16_t flags, uint16_t made_by,
                        char* out) {
    size_t n;
    unsigned encoding = entry_name_encoding(flags, made_by, raw, size);
    if (encoding == ENTRY_NAME_UTF8 && !entry_name_valid_utf8(raw, size)) {
        encoding = ENTRY_NAME_ANSI;
    }
    if (encoding == ENTRY_NAME_UTF8) {
        memcpy(out, raw, size);
        n = size;
    } else {
        n = entry_name_8bit_to_utf8(raw, size, encoding, out);
    }
    out[n] = 0;
    return n;
}

/* Finds the end record in the last 64 KiB + 22 bytes after `start`: the
   last one whose comment ends exactly at the end of the file, else the last
   one whose comment fits into the file. */
static int find_end(const SfxSource* src, uint64_t start, uint64_t* pos,
                    unsigned char rec[ZIP_END_SIZE]) {
    uint64_t from, found = 0;
    size_t len, i;
    int have = 0, rc;
    unsigned char* buf;
    if (src->size < start || src->size - start < ZIP_END_SIZE) {
        return SFX_E_NOARCHIVE;
    }
    from = src->size - start > ZIP_END_SIZE + ZIP_END_MAX_COMMENT
               ? src->size - (ZIP_END_SIZE + ZIP_END_MAX_COMMENT)
               : start;
    len = (size_t)(src->size - from);
    buf = (unsigned char*)malloc(len);
    if (buf == NULL) {
        return SFX_E_MEMORY;
    }
    rc = sfx_source_read(src, from, buf, len);
    if (rc != SFX_OK) {
        free(buf);
        return rc;
    }
    for (i = len - ZIP_END_SIZE + 1; i-- > 0;) {
        if (sfx_get32(buf + i) == ZIP_SIG_END) {
            const size_t end = i + ZIP_END_SIZE + sfx_get16(buf + i + ZIP_END_COMMENT_LENGTH);
            if (end == len) {
                found = from + i;
                have = 2;
                break;
            }
            if (end < len && !have) {
                found = from + i;
                have = 1;
            }
        }
    }
    if (have) {
        memcpy(rec, buf + (size_t)(found - from), ZIP_END_SIZE);
        *pos = found;
    }
    free(buf);
    return have ? SFX_OK : SFX_E_NOARCHIVE;
}

/* Reads the Zip64 end record that belongs to the locator before the end
   record; it normally sits right before the locator. `disks` receives the
   locator's count of parts, `disk` the part it puts the record on. */
static int read_end64(const SfxSource* src, uint64_t start, uint64_t end_pos, uint64_t* pos,
                      unsigned char rec[ZIP_END64_SIZE], uint32_t* disk, uint32_t* disks) {
    unsigned char loc[ZIP_LOCATOR64_SIZE];
    uint64_t candidates[3];
    int i;
    if (end_pos < start + ZIP_LOCATOR64_SIZE ||
        sfx_source_read(src, end_pos - ZIP_LOCATOR64_SIZE, loc, sizeof loc) != SFX_OK ||
        sfx_get32(loc) != ZIP_SIG_LOCATOR64) {
        return 0; /* no Zip64 end */
    }
    *disk = sfx_get32(loc + ZIP_LOCATOR64_DISK);
    *disks = sfx_get32(loc + ZIP_LOCATOR64_TOTAL_DISKS);
    candidates[0] = end_pos - ZIP_LOCATOR64_SIZE >= ZIP_END64_SIZE
                        ? end_pos - ZIP_LOCATOR64_SIZE - ZIP_END64_SIZE
                        : UINT64_MAX;
    candidates[1] = sfx_get64(loc + ZIP_LOCATOR64_OFFSET);
    candidates[2] = sfx_get64(loc + ZIP_LOCATOR64_OFFSET) + start;
    for (i = 0; i < 3; ++i) {
        if (candidates[i] >= start && candidates[i] < end_pos &&
            sfx_source_read(src, candidates[i], rec, ZIP_END64_SIZE) == SFX_OK &&
            sfx_get32(rec) == ZIP_SIG_END64) {
            *pos = candidates[i];
            return 1;
        }
    }
    return SFX_E_FORMAT;
}

/* ---- parts ---- */

int sfx_part_name(const char* program, uint32_t number, char* out, size_t capacity) {
    size_t len = strlen(program), stem = len, i;
    for (i = len; i-- > 0 && program[i] != '/' && program[i] != '\\';) {
        if (program[i] == '.') {
            stem = i;
            break;
        }
    }
    if (number >= SFX_PARTS_MAX || capacity < stem + 8) {
        return 0;
    }
    memcpy(out, program, stem);
    ++number;
    out[stem] = (char)('0' + number / 100u);
    out[stem + 1] = (char)('0' + number / 10u % 10u);
    out[stem + 2] = (char)('0' + number % 10u);
    memcpy(out + stem + 3, ".zip", 5);
    return 1;
}

static int memory_part_open(void* ctx, uint32_t number, uint32_t count, SfxSource* part) {
    SfxMemoryParts* mem = (SfxMemoryParts*)ctx;
    (void)count;
    if (number >= mem->count) {
        return SFX_E_NOPART;
    }
    sfx_source_memory(part, &mem->current, mem->data[number], mem->sizes[number]);
    return SFX_OK;
}

void sfx_parts_memory(SfxParts* parts, SfxMemoryParts* mem, const unsigned char* const* data,
                      const size_t* sizes, uint32_t count) {
    mem->data = data;
    mem->sizes = sizes;
    mem->count = count;
    parts->ctx = mem;
    parts->open = memory_part_open;
    parts->close = NULL;
}

static uint32_t last_disk(const SfxArchive* a) {
    return a->disks - 1;
}

static int part_missing(SfxArchive* a, uint32_t disk) {
    if (a->bad_first == SFX_PART_NONE) {
        a->bad_first = a->bad_last = disk;
    }
    return SFX_E_NOPART;
}

/* One of the parts `first` to `last` ends before the data that should be
   on it, or is not the set's part at all. */
static int part_damaged(SfxArchive* a, uint32_t first, uint32_t last) {
    if (a->bad_first == SFX_PART_NONE) {
        a->bad_first = first;
        a->bad_last = last;
    }
    return SFX_E_PART;
}

static void close_part(SfxArchive* a) {
    if (a->part_open != SFX_PART_NONE && a->parts.close != NULL) {
        a->parts.close(a->parts.ctx, &a->part);
    }
    a->part_open = SFX_PART_NONE;
}

/* The source of part `disk`: the program's own for the last, else the part,
   opened when it is not the one open already. */
static int disk_source(SfxArchive* a, uint32_t disk, const SfxSource** src) {
    int rc;
    if (disk == last_disk(a)) {
        *src = &a->src;
        return SFX_OK;
    }
    if (a->part_open != disk) {
        close_part(a);
        rc = a->parts.open(a->parts.ctx, disk, last_disk(a), &a->part);
        if (rc != SFX_OK) {
            return rc == SFX_E_MEMORY ? rc : part_missing(a, disk);
        }
        a->part_open = disk;
        if (a->part.size != a->part_size[disk]) {
            close_part(a);
            return part_damaged(a, disk, disk); /* replaced since the set was opened */
        }
    }
    *src = &a->part;
    return SFX_OK;
}

/* Where the entries' area of part `disk` ends: the part's end, or the
   directory on the program's own part. */
static uint64_t disk_end(const SfxArchive* a, uint32_t disk) {
    return disk == last_disk(a)        ? a->cd_pos
           : disk + 1u == last_disk(a) ? a->last_end
                                       : a->part_size[disk];
}

/* The part before the program is the end of the set as it was written: it
   holds the set's own directory and end record behind the entries, and the
   entries end where that directory begins. */
static void find_last_end(SfxArchive* a) {
    const uint32_t disk = last_disk(a) - 1u;
    unsigned char end[ZIP_END_SIZE];
    uint64_t end_pos;
    const SfxSource* src;
    a->last_end = a->part_size[disk];
    if (disk_source(a, disk, &src) == SFX_OK && find_end(src, 0, &end_pos, end) == SFX_OK &&
        sfx_get16(end + ZIP_END_THIS_DISK) == disk &&
        sfx_get16(end + ZIP_END_CENTRAL_START_DISK) == disk &&
        (uint64_t)sfx_get32(end + ZIP_END_CENTRAL_OFFSET) + sfx_get32(end + ZIP_END_CENTRAL_SIZE) ==
            end_pos) {
        a->last_end = sfx_get32(end + ZIP_END_CENTRAL_OFFSET);
    }
    close_part(a);
}

/* The position in part `disk`'s source of the recorded `offset`: parts are
   plain, the program's own part has the stub in front. SFX_E_FORMAT when it
   lies outside the part's entries' area. */
static int disk_pos(const SfxArchive* a, uint32_t disk, uint64_t offset, uint64_t* pos) {
    uint64_t p = offset;
    if (disk == last_disk(a)) {
        if (a->shift < 0 ? offset < (uint64_t)(-(a->shift + 1)) + 1u
                         : offset > UINT64_MAX - (uint64_t)a->shift) {
            return SFX_E_FORMAT;
        }
        p = offset + (uint64_t)a->shift;
        if (p < a->start) {
            return SFX_E_FORMAT; /* inside the stub */
        }
    }
    if (p > disk_end(a, disk)) {
        return SFX_E_FORMAT;
    }
    *pos = p;
    return SFX_OK;
}

/* Learns the size of every part before the program and the lowest entry
   offset recorded for each part. */
static int open_parts(SfxArchive* a, const SfxParts* parts) {
    const uint32_t n = last_disk(a);
    uint32_t i;
    SfxEntry e;
    a->part_size = (uint64_t*)calloc(n, sizeof(uint64_t));
    a->first_start = (uint64_t*)malloc(a->disks * sizeof(uint64_t));
    if (a->part_size == NULL || a->first_start == NULL) {
        return SFX_E_MEMORY;
    }
    for (i = 0; i < a->disks; ++i) {
        a->first_start[i] = UINT64_MAX;
    }
    if (parts == NULL || parts->open == NULL) {
        return part_missing(a, 0);
    }
    a->parts = *parts;
    for (i = 0; i < n; ++i) {
        const int rc = parts->open(parts->ctx, i, n, &a->part);
        if (rc != SFX_OK) {
            return rc == SFX_E_MEMORY ? rc : part_missing(a, i);
        }
        a->part_open = i;
        a->part_size[i] = a->part.size;
        close_part(a);
    }
    find_last_end(a);
    /* a damaged record here is reported when the walk over the entries gets there */
    sfx_archive_rewind(a);
    while (sfx_archive_next(a, &e) > 0) {
        if (e.disk < a->disks && e.local_offset < a->first_start[e.disk]) {
            a->first_start[e.disk] = e.local_offset;
        }
    }
    sfx_archive_rewind(a);
    return SFX_OK;
}

int sfx_archive_open_set(SfxArchive* a, const SfxSource* src, uint64_t start,
                         const SfxParts* parts) {
    unsigned char end[ZIP_END_SIZE], end64[ZIP_END64_SIZE];
    uint64_t end_pos, end64_pos = 0, recorded, dir_end, on_disk;
    uint32_t disk, cd_disk, loc_disk = 0, loc_disks = 0;
    int rc, z64;
    memset(a, 0, sizeof *a);
    a->src = *src;
    a->start = start;
    a->disks = 1;
    a->part_open = SFX_PART_NONE;
    a->bad_first = a->bad_last = SFX_PART_NONE;
    rc = find_end(src, start, &end_pos, end);
    if (rc != SFX_OK) {
        return rc;
    }
    z64 = read_end64(src, start, end_pos, &end64_pos, end64, &loc_disk, &loc_disks);
    if (z64 < 0) {
        return z64;
    }
    if (z64) {
        disk = sfx_get32(end64 + ZIP_END64_THIS_DISK);
        cd_disk = sfx_get32(end64 + ZIP_END64_CENTRAL_START_DISK);
        on_disk = sfx_get64(end64 + ZIP_END64_ENTRIES_ON_DISK);
        a->count = sfx_get64(end64 + ZIP_END64_TOTAL_ENTRIES);
        a->cd_size = sfx_get64(end64 + ZIP_END64_CENTRAL_SIZE);
        recorded = sfx_get64(end64 + ZIP_END64_CENTRAL_OFFSET);
        dir_end = end64_pos;
        if (loc_disk != disk || (loc_disks != disk + 1u && !(disk == 0 && loc_disks == 0))) {
            return SFX_E_FORMAT;
        }
    } else {
        disk = sfx_get16(end + ZIP_END_THIS_DISK);
        cd_disk = sfx_get16(end + ZIP_END_CENTRAL_START_DISK);
        on_disk = sfx_get16(end + ZIP_END_ENTRIES_ON_DISK);
        a->count = sfx_get16(end + ZIP_END_TOTAL_ENTRIES);
        a->cd_size = sfx_get32(end + ZIP_END_CENTRAL_SIZE);
        recorded = sfx_get32(end + ZIP_END_CENTRAL_OFFSET);
        dir_end = end_pos;
    }
    /* only sets whose directory lies whole on the program's part */
    if (cd_disk != disk || on_disk != a->count || disk > SFX_PARTS_MAX) {
        return SFX_E_FORMAT;
    }
    if (a->cd_size > dir_end - start || a->cd_size > MAX_CD_SIZE ||
        a->count > a->cd_size / ZIP_CENTRAL_SIZE) {
        return SFX_E_FORMAT;
    }
    a->cd_pos = dir_end - a->cd_size;
    a->shift = (int64_t)(a->cd_pos - recorded);
    a->cd = (unsigned char*)malloc((size_t)a->cd_size + 1);
    a->name = (char*)malloc(SFX_NAME_MAX);
    if (a->cd == NULL || a->name == NULL) {
        sfx_archive_close(a);
        return SFX_E_MEMORY;
    }
    rc = sfx_source_read(src, a->cd_pos, a->cd, (size_t)a->cd_size);
    if (rc == SFX_OK && disk > 0) {
        a->disks = disk + 1u;
        rc = open_parts(a, parts);
    }
    if (rc != SFX_OK) {
        const uint32_t first = a->bad_first, last = a->bad_last;
        sfx_archive_close(a);
        a->bad_first = first;
        a->bad_last = last;
        return rc;
    }
    return SFX_OK;
}

int sfx_archive_open(SfxArchive* a, const SfxSource* src, uint64_t start) {
    return sfx_archive_open_set(a, src, start, NULL);
}

void sfx_archive_close(SfxArchive* a) {
    close_part(a);
    free(a->cd);
    free(a->name);
    free(a->part_size);
    free(a->first_start);
    a->cd = NULL;
    a->name = NULL;
    a->part_size = NULL;
    a->first_start = NULL;
}
void sfx_archive_rewind(SfxArchive* a) {
    a->cursor = 0;
    a->index = 0;
}

/* Takes the Zip64 sizes and offset, and an Info-ZIP Unicode path whose
   checksum still matches the stored name (unless flag bit 11 says that the
   stored name is UTF-8 already). */
static int read_extra(SfxArchive* a, SfxEntry* e, const unsigned char* x, size_t size,
                      const unsigned char* raw_name, size_t name_size) {
    size_t pos = 0;
    int need_size = e->size == ZIP_SENTINEL32, need_comp = e->compressed == ZIP_SENTINEL32,
        need_off = e->local_offset == ZIP_SENTINEL32, need_disk = e->disk == ZIP_SENTINEL16;
    long walked;
    /* A cut record or a short tail ends the extra data (tolerated, as peers do). */
    while ((walked = zip_extra_data_size(x, size, pos)) >= 0) {
        const unsigned tag = sfx_get16(x + pos), len = (unsigned)walked;
        const unsigned char* d = x + pos + ZIP_EXTRA_HEAD_SIZE;
        const unsigned char* text;
        size_t text_length;
        if (tag == ZIP_TAG_ZIP64) {
            size_t k = 0;
            if (need_size && len - k >= 8) {
                e->size = sfx_get64(d + k);
                k += 8;
                need_size = 0;
            }
            if (need_comp && len - k >= 8) {
                e->compressed = sfx_get64(d + k);
                k += 8;
                need_comp = 0;
            }
            if (need_off && len - k >= 8) {
                e->local_offset = sfx_get64(d + k);
                k += 8;
                need_off = 0;
            }
            if (need_disk && len - k >= 4) {
                e->disk = sfx_get32(d + k);
                need_disk = 0;
            }
        } else if (tag == ENTRY_NAME_TAG_UNICODE_PATH && (e->flags & ENTRY_NAME_FLAG_UTF8) == 0 &&
                   entry_name_unicode_text(d, len, sfx_crc32(0, raw_name, name_size), &text,
                                           &text_length)) {
            memcpy(a->name, text, text_length);
            a->name[text_length] = 0;
            e->name_length = text_length;
        }
        pos += ZIP_EXTRA_HEAD_SIZE + len;
    }
    return need_size || need_comp || need_off || need_disk ? SFX_E_FORMAT : SFX_OK;
}

int sfx_archive_next(SfxArchive* a, SfxEntry* e) {
    const unsigned char* r;
    size_t nlen, xlen, clen;
    if (a->index >= a->count) {
        return 0;
    }
    if (a->cd_size - a->cursor < ZIP_CENTRAL_SIZE) {
        return SFX_E_FORMAT;
    }
    r = a->cd + a->cursor;
    if (sfx_get32(r) != ZIP_SIG_CENTRAL) {
        return SFX_E_FORMAT;
    }
    nlen = sfx_get16(r + ZIP_CENTRAL_NAME_LENGTH);
    xlen = sfx_get16(r + ZIP_CENTRAL_EXTRA_LENGTH);
    clen = sfx_get16(r + ZIP_CENTRAL_COMMENT_LENGTH);
    if (a->cd_size - a->cursor - ZIP_CENTRAL_SIZE < nlen + xlen + clen) {
        return SFX_E_FORMAT;
    }
    memset(e, 0, sizeof *e);
    e->version_made = sfx_get16(r + ZIP_CENTRAL_VERSION_MADE_BY);
    e->flags = sfx_get16(r + ZIP_CENTRAL_FLAGS);
    e->method = sfx_get16(r + ZIP_CENTRAL_METHOD);
    e->dos_datetime = sfx_get32(r + ZIP_CENTRAL_DATE_TIME);
    e->crc = sfx_get32(r + ZIP_CENTRAL_CRC);
    e->compressed = sfx_get32(r + ZIP_CENTRAL_COMPRESSED_SIZE);
    e->size = sfx_get32(r + ZIP_CENTRAL_UNCOMPRESSED_SIZE);
    e->disk = sfx_get16(r + ZIP_CENTRAL_DISK_START);
    e->external_attrs = sfx_get32(r + ZIP_CENTRAL_EXTERNAL_ATTRIBUTES);
    e->local_offset = sfx_get32(r + ZIP_CENTRAL_LOCAL_HEADER_OFFSET);
    e->name_length =
        sfx_name_to_utf8(r + ZIP_CENTRAL_SIZE, nlen, e->flags, e->version_made, a->name);
    if (read_extra(a, e, r + ZIP_CENTRAL_SIZE + nlen, xlen, r + ZIP_CENTRAL_SIZE, nlen) != SFX_OK) {
        return SFX_E_FORMAT;
    }
    e->name = a->name;
    a->cursor += ZIP_CENTRAL_SIZE + nlen + xlen + clen;
    a->index++;
    return 1;
}

int sfx_archive_data(SfxArchive* a, const SfxEntry* e, SfxData* d) {
    unsigned char h[ZIP_LOCAL_SIZE];
    const SfxSource* src;
    const uint32_t disk = e->disk;
    uint64_t local, pos, left, next;
    uint32_t cur;
    int rc;
    if (disk >= a->disks) {
        return SFX_E_FORMAT;
    }
    if (disk != last_disk(a) && e->local_offset >= a->part_size[disk]) {
        return part_damaged(a, disk, disk);
    }
    if (disk_pos(a, disk, e->local_offset, &local) != SFX_OK || local >= disk_end(a, disk)) {
        return SFX_E_FORMAT;
    }
    rc = disk_source(a, disk, &src);
    if (rc != SFX_OK) {
        return rc;
    }
    if (disk_end(a, disk) - local < ZIP_LOCAL_SIZE ||
        sfx_source_read(src, local, h, sizeof h) != SFX_OK || sfx_get32(h) != ZIP_SIG_LOCAL) {
        /* the writer never splits a header: a part without it is cut short or a stranger */
        return disk == last_disk(a) ? SFX_E_FORMAT : part_damaged(a, disk, disk);
    }
    pos = local + ZIP_LOCAL_SIZE + sfx_get16(h + ZIP_LOCAL_NAME_LENGTH) +
          sfx_get16(h + ZIP_LOCAL_EXTRA_LENGTH);
    if (pos > disk_end(a, disk)) {
        return disk == last_disk(a) ? SFX_E_FORMAT : part_damaged(a, disk, disk);
    }
    d->disk = disk;
    d->pos = pos;
    d->left = e->compressed;
    /* Follows the data to its last part. There it must end before the
       first entry that starts on that part: otherwise a part on the way is
       shorter than it was written. */
    left = e->compressed;
    cur = disk;
    while (left > disk_end(a, cur) - pos) {
        left -= disk_end(a, cur) - pos;
        if (cur == last_disk(a)) {
            /* the data would run into the directory */
            return disk == cur ? SFX_E_FORMAT : part_damaged(a, disk, cur - 1u);
        }
        if (disk_pos(a, cur + 1u, 0, &pos) != SFX_OK) {
            return part_damaged(a, disk, cur); /* runs on into the program's stub */
        }
        ++cur;
        if (disk_end(a, cur) == 0 && cur != last_disk(a)) {
            return part_damaged(a, disk, cur); /* the writer leaves no empty part in data */
        }
    }
    if (cur != disk && a->first_start[cur] != UINT64_MAX &&
        (disk_pos(a, cur, a->first_start[cur], &next) != SFX_OK || pos + left > next)) {
        return part_damaged(a, disk, cur - 1u);
    }
    return SFX_OK;
}

int sfx_archive_read(SfxArchive* a, SfxData* d, void* buf, size_t size) {
    unsigned char* p = (unsigned char*)buf;
    if (size > d->left) {
        return SFX_E_FORMAT;
    }
    while (size > 0) {
        const uint64_t end = disk_end(a, d->disk);
        const SfxSource* src;
        size_t n;
        int rc;
        if (d->pos >= end) {
            if (d->disk == last_disk(a) || disk_pos(a, d->disk + 1u, 0, &d->pos) != SFX_OK) {
                return SFX_E_FORMAT;
            }
            d->disk++;
            continue;
        }
        rc = disk_source(a, d->disk, &src);
        if (rc != SFX_OK) {
            return rc;
        }
        n = end - d->pos < size ? (size_t)(end - d->pos) : size;
        rc = sfx_source_read(src, d->pos, p, n);
        if (rc != SFX_OK) {
            return rc;
        }
        p += n;
        size -= n;
        d->pos += n;
        d->left -= n;
    }
    return SFX_OK;
}

int sfx_archive_data_pos(SfxArchive* a, const SfxEntry* e, uint64_t* pos) {
    SfxData d;
    const int rc = sfx_archive_data(a, e, &d);
    if (rc == SFX_OK) {
        *pos = d.pos;
    }
    return rc;
}
