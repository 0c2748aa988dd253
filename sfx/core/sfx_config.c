#include "sfx_config.h"

#include <string.h>

#include "sfx_crc.h"
#include "sfx_inflate.h"
#include "sfx_result.h"

#define PE_MAX_HEADER_OFFSET 0x10000u
#define PE_MAX_SECTIONS 96u
#define PE_SECTION_SIZE 40u

int sfx_image_end(const SfxSource* src, uint64_t* end) {
    unsigned char dos[64], coff[24], section[PE_SECTION_SIZE];
    uint32_t pe, nsections, optsize, i;
    uint64_t table, best = 0;
    if (src->size < sizeof dos || sfx_source_read(src, 0, dos, sizeof dos) != SFX_OK) {
        return SFX_E_NOTPE;
    }
    if (dos[0] != 'M' || dos[1] != 'Z') {
        return SFX_E_NOTPE;
    }
    pe = sfx_get32(dos + 60);
    if (pe > PE_MAX_HEADER_OFFSET || sfx_source_read(src, pe, coff, sizeof coff) != SFX_OK) {
        return SFX_E_NOTPE;
    }
    if (memcmp(coff, "PE\0\0", 4) != 0) {
        return SFX_E_NOTPE;
    }
    nsections = sfx_get16(coff + 6);
    optsize = sfx_get16(coff + 20);
    if (nsections == 0 || nsections > PE_MAX_SECTIONS) {
        return SFX_E_NOTPE;
    }
    table = (uint64_t)pe + sizeof coff + optsize;
    for (i = 0; i < nsections; ++i) {
        uint64_t raw_end;
        if (sfx_source_read(src, table + (uint64_t)i * PE_SECTION_SIZE, section, sizeof section) !=
            SFX_OK) {
            return SFX_E_READ;
        }
        raw_end = (uint64_t)sfx_get32(section + 20) + sfx_get32(section + 16);
        if (sfx_get32(section + 16) != 0 && raw_end > best) {
            best = raw_end;
        }
    }
    if (best == 0 || best > src->size) {
        return SFX_E_NOTPE; /* sections beyond the file: not a complete program */
    }
    *end = best;
    return SFX_OK;
}

/* Takes the plain string table (id, text, NUL ...; 0 ends) into the texts. */
static int take_strings(SfxConfig* c, size_t size) {
    size_t pos = 0;
    for (;;) {
        unsigned id;
        size_t start;
        if (pos >= size) {
            return SFX_E_FORMAT; /* no end mark */
        }
        id = c->table[pos++];
        if (id == 0) {
            return SFX_OK;
        }
        start = pos;
        while (pos < size && c->table[pos] != 0) {
            ++pos;
        }
        if (pos >= size) {
            return SFX_E_FORMAT; /* text without its terminator */
        }
        ++pos;
        if (id < SFX_STR_COUNT) {
            c->text[id] = (const char*)c->table + start;
        } /* unknown ids are skipped: later converters may add texts */
    }
}

int sfx_parse_block(const unsigned char* block, size_t available, SfxConfig* c) {
    size_t block_size, table_size, i;
    for (i = 0; i < SFX_STR_COUNT; ++i) {
        c->text[i] = "";
    }
    if (available < SFX_BLOCK_HEADER_SIZE) {
        return SFX_E_NOBLOCK;
    }
    if (sfx_get32(block + SFX_BLOCK_OFF_SIGNATURE) != SFX_BLOCK_SIGNATURE) {
        return SFX_E_NOBLOCK;
    }
    block_size = sfx_get16(block + SFX_BLOCK_OFF_SIZE);
    if (block_size < SFX_BLOCK_HEADER_SIZE + 1 || block_size > SFX_BLOCK_MAX ||
        block_size > available) {
        return SFX_E_FORMAT;
    }
    c->flags = sfx_get16(block + SFX_BLOCK_OFF_FLAGS);
    c->overwrite = sfx_get16(block + SFX_BLOCK_OFF_OVERWRITE);
    c->msgbox = sfx_get16(block + SFX_BLOCK_OFF_MSGBOX);
    table_size = block_size - SFX_BLOCK_HEADER_SIZE;
    if ((c->flags & SFX_FLAG_TABLE_DEFLATED) != 0) {
        const unsigned char* t = block + SFX_BLOCK_OFF_TABLE;
        size_t deflated, plain, produced = 0;
        if (table_size < SFX_TABLE_DEFLATED_HEADER) {
            return SFX_E_FORMAT;
        }
        deflated = sfx_get16(t + SFX_TABLE_OFF_DEFLATED_SIZE);
        plain = sfx_get16(t + SFX_TABLE_OFF_PLAIN_SIZE);
        if (deflated > table_size - SFX_TABLE_DEFLATED_HEADER || plain == 0 ||
            plain > SFX_TABLE_MAX) {
            return SFX_E_FORMAT;
        }
        if (sfx_inflate_memory(t + SFX_TABLE_DEFLATED_HEADER, deflated, c->table, plain,
                               &produced) != SFX_OK ||
            produced != plain ||
            sfx_crc32(0, c->table, plain) != sfx_get32(t + SFX_TABLE_OFF_CRC)) {
            return SFX_E_FORMAT;
        }
        table_size = plain;
    } else {
        if (table_size > SFX_TABLE_MAX) {
            table_size = SFX_TABLE_MAX; /* the padding beyond the largest table is not needed */
        }
        memcpy(c->table, block + SFX_BLOCK_OFF_TABLE, table_size);
    }
    c->table[table_size] = 0;
    return take_strings(c, table_size);
}

int sfx_read_config(const SfxSource* src, SfxConfig* c) {
    unsigned char block[SFX_BLOCK_MAX];
    uint64_t end;
    size_t available;
    int rc = sfx_image_end(src, &end);
    if (rc != SFX_OK) {
        return rc;
    }
    available = src->size - end < sizeof block ? (size_t)(src->size - end) : sizeof block;
    if (available < SFX_BLOCK_HEADER_SIZE) {
        return SFX_E_NOBLOCK;
    }
    rc = sfx_source_read(src, end, block, available);
    if (rc != SFX_OK) {
        return rc;
    }
    rc = sfx_parse_block(block, available, c);
    if (rc != SFX_OK) {
        return rc;
    }
    c->image_end = end;
    c->archive_start = end + sfx_get16(block + SFX_BLOCK_OFF_SIZE);
    return SFX_OK;
}
