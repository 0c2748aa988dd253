#include "sfx_extract.h"

#include <stdlib.h>
#include <string.h>

#include "sfx_crc.h"
#include "sfx_crypt.h"
#include "sfx_inflate.h"
#include "sfx_result.h"
#include "sfxblock.h"

#define CHUNK 16384u
#define PROGRESS_STEP (1024u * 1024u)
#define PASSWORD_ATTEMPTS 3

int sfx_safe_path(const char* name, char* out, size_t capacity, int* is_dir) {
    size_t n = 0, len = strlen(name), i = 0;
    *is_dir = len > 0 && (name[len - 1] == '/' || name[len - 1] == '\\');
    if (capacity == 0) {
        return SFX_E_NAME;
    }
    if (len == 0 || name[0] == '/' || name[0] == '\\') {
        return SFX_E_NAME; /* absolute, UNC or nameless */
    }
    for (i = 0; i < len; ++i) {
        const unsigned char c = (unsigned char)name[i];
        if (c < 0x20u || c == 0x7Fu || c == ':') {
            return SFX_E_NAME; /* drive letter, stream name or control character */
        }
    }
    i = 0;
    while (i < len) {
        size_t start = i, k;
        int only_dots = 1;
        while (i < len && name[i] != '/' && name[i] != '\\') {
            ++i;
        }
        if (i == start || (i - start == 1 && name[start] == '.')) {
            ++i;
            continue;
        }
        for (k = start; k < i; ++k) {
            only_dots &= name[k] == '.';
        }
        if (only_dots) {
            return SFX_E_NAME; /* "..", and "..." which some systems take as a parent too */
        }
        if (n + (n > 0) + (i - start) + 1 > capacity) {
            return SFX_E_NAME;
        }
        if (n > 0) {
            out[n++] = '/';
        }
        memcpy(out + n, name + start, i - start);
        n += i - start;
        ++i;
    }
    out[n] = 0;
    return n > 0 ? SFX_OK : SFX_E_NAME;
}

typedef struct Reader {
    const SfxSource* src;
    uint64_t pos, left;
    SfxCrypt* crypt;
} Reader;

static long reader_read(void* ctx, unsigned char* buf, size_t size) {
    Reader* r = (Reader*)ctx;
    int rc;
    if (size > r->left) {
        size = (size_t)r->left;
    }
    if (size == 0) {
        return 0;
    }
    rc = sfx_source_read(r->src, r->pos, buf, size);
    if (rc != SFX_OK) {
        return rc;
    }
    if (r->crypt != NULL) {
        sfx_crypt_decrypt(r->crypt, buf, size);
    }
    r->pos += size;
    r->left -= size;
    return (long)size;
}

typedef struct Writer {
    const SfxHost* host;
    void* file;
    const char* path;
    uint64_t index, count;
    uint32_t crc;
    uint64_t written, next_progress;
} Writer;

static int writer_write(void* ctx, const unsigned char* buf, size_t size) {
    Writer* w = (Writer*)ctx;
    w->crc = sfx_crc32(w->crc, buf, size);
    w->written += size;
    if (w->host->write_file(w->host->ctx, w->file, buf, size) != SFX_OK) {
        return SFX_E_WRITE;
    }
    if (w->written >= w->next_progress) {
        w->next_progress = w->written + PROGRESS_STEP;
        if (w->host->progress != NULL &&
            w->host->progress(w->host->ctx, w->path, w->index, w->count) != 0) {
            return SFX_E_CANCEL;
        }
    }
    return SFX_OK;
}

/* Copies or inflates the entry's data into the open file and checks it. */
static int unpack(const SfxEntry* e, Reader* r, Writer* w) {
    int rc = SFX_OK;
    if (e->method == 0) {
        unsigned char* buf;
        if (r->left != e->size) {
            return SFX_E_FORMAT;
        }
        buf = (unsigned char*)malloc(CHUNK);
        if (buf == NULL) {
            return SFX_E_MEMORY;
        }
        while (rc == SFX_OK && r->left > 0) {
            const long got = reader_read(r, buf, CHUNK);
            rc = got < 0 ? (int)got : writer_write(w, buf, (size_t)got);
        }
        free(buf);
    } else {
        rc = sfx_inflate(reader_read, r, writer_write, w, e->size, NULL);
    }
    if (rc == SFX_OK && (w->written != e->size || w->crc != e->crc)) {
        rc = SFX_E_CRC;
    }
    return rc;
}

/* Creates the folders of a relative path: all of them, or all but the last. */
static int make_dirs(const SfxHost* host, char* path, int include_last) {
    char* p;
    for (p = path; *p != 0; ++p) {
        if (*p == '/') {
            int rc;
            *p = 0;
            rc = host->make_dir(host->ctx, path);
            *p = '/';
            if (rc != SFX_OK) {
                return SFX_E_WRITE;
            }
        }
    }
    return include_last && host->make_dir(host->ctx, path) != SFX_OK ? SFX_E_WRITE : SFX_OK;
}

/* Finds a password whose check byte fits: the one in use, then the user's. */
static int find_password(const SfxHost* host, SfxRun* run, const SfxEntry* e, const char* path,
                         const unsigned char header[SFX_CRYPT_HEADER], SfxCrypt* crypt) {
    int attempt;
    if (run->password[0] != 0 && sfx_crypt_check(crypt, run->password, strlen(run->password),
                                                 header, e->flags, e->crc, e->dos_datetime)) {
        return SFX_OK;
    }
    for (attempt = 1; attempt <= PASSWORD_ATTEMPTS && host->ask_password != NULL; ++attempt) {
        char given[SFX_PASSWORD_MAX];
        given[0] = 0;
        if (!host->ask_password(host->ctx, path, attempt, given, sizeof given)) {
            return SFX_E_PASSWORD;
        }
        given[sizeof given - 1] = 0;
        if (sfx_crypt_check(crypt, given, strlen(given), header, e->flags, e->crc,
                            e->dos_datetime)) {
            memcpy(run->password, given, sizeof given);
            return SFX_OK;
        }
    }
    return SFX_E_PASSWORD;
}

/* Decides about an existing target; SFX_OK to write, SFX_E_EXISTS to skip. */
static int may_overwrite(const SfxHost* host, SfxRun* run, const char* path) {
    if (run->overwrite == SFX_OVR_ALWAYS) {
        return SFX_OK;
    }
    if (run->overwrite == SFX_OVR_NEVER || host->ask_overwrite == NULL) {
        return SFX_E_EXISTS;
    }
    switch (host->ask_overwrite(host->ctx, path)) {
        case SFX_ASK_YES:
            return SFX_OK;
        case SFX_ASK_YES_ALL:
            run->overwrite = SFX_OVR_ALWAYS;
            return SFX_OK;
        case SFX_ASK_NO_ALL:
            run->overwrite = SFX_OVR_NEVER;
            return SFX_E_EXISTS;
        case SFX_ASK_CANCEL:
            return SFX_E_CANCEL;
        default:
            return SFX_E_EXISTS;
    }
}

/* A folder entry made of "." components only ("./", "././"), as tools write
   for the folder they were given: it names the target folder itself. */
static int names_target(const char* name) {
    const char* p;
    if (name[0] == '/' || name[0] == '\\') {
        return 0;
    }
    for (p = name; *p != 0; ++p) {
        if ((*p != '.' && *p != '/' && *p != '\\') || (*p == '.' && p[1] == '.')) {
            return 0;
        }
    }
    return 1;
}

static int extract_one(SfxArchive* a, const SfxHost* host, SfxRun* run, const SfxEntry* e,
                       char* path, uint64_t index) {
    unsigned char header[SFX_CRYPT_HEADER];
    SfxCrypt crypt;
    Reader r;
    Writer w;
    uint64_t pos;
    int is_dir, rc, kind;
    rc = sfx_safe_path(e->name, path, SFX_NAME_MAX, &is_dir);
    if (rc == SFX_E_NAME && is_dir && names_target(e->name)) {
        return SFX_OK; /* the target folder, which is there already */
    }
    if (rc != SFX_OK) {
        return rc;
    }
    if (is_dir) {
        return run->create_empty_dirs ? make_dirs(host, path, 1) : SFX_OK;
    }
    if ((e->method != 0 && e->method != 8) || (e->flags & 0x0041u) == 0x0041u) {
        return SFX_E_METHOD; /* other methods, strong encryption */
    }
    rc = make_dirs(host, path, 0);
    if (rc != SFX_OK) {
        return rc;
    }
    kind = host->exists(host->ctx, path);
    if (kind == SFX_PATH_DIR || kind == SFX_PATH_OTHER) {
        return SFX_E_WRITE; /* never replace a folder or a link by a file */
    }
    if (kind == SFX_PATH_FILE) {
        rc = may_overwrite(host, run, path);
        if (rc != SFX_OK) {
            return rc;
        }
    }
    rc = sfx_archive_data_pos(a, e, &pos);
    if (rc != SFX_OK) {
        return rc;
    }
    r.src = &a->src;
    r.pos = pos;
    r.left = e->compressed;
    r.crypt = NULL;
    if ((e->flags & 1u) != 0) {
        if (r.left < SFX_CRYPT_HEADER ||
            sfx_source_read(r.src, pos, header, sizeof header) != SFX_OK) {
            return SFX_E_FORMAT;
        }
        rc = find_password(host, run, e, path, header, &crypt);
        if (rc != SFX_OK) {
            return rc;
        }
        r.pos += SFX_CRYPT_HEADER;
        r.left -= SFX_CRYPT_HEADER;
        r.crypt = &crypt;
    }
    memset(&w, 0, sizeof w);
    w.host = host;
    w.path = path;
    w.index = index;
    w.count = a->count;
    w.next_progress = PROGRESS_STEP;
    w.file = host->create_file(host->ctx, path);
    if (w.file == NULL) {
        return SFX_E_WRITE;
    }
    rc = unpack(e, &r, &w);
    if (host->close_file(host->ctx, w.file, path, rc == SFX_OK, e->dos_datetime, e->external_attrs,
                         e->version_made) != SFX_OK &&
        rc == SFX_OK) {
        rc = SFX_E_WRITE;
    }
    return rc;
}

int sfx_extract_all(SfxArchive* a, const SfxHost* host, SfxRun* run) {
    SfxEntry e;
    int rc, last = SFX_OK;
    char* path = (char*)malloc(SFX_NAME_MAX);
    if (path == NULL) {
        return SFX_E_MEMORY;
    }
    sfx_archive_rewind(a);
    while ((rc = sfx_archive_next(a, &e)) > 0) {
        const uint64_t index = a->index - 1;
        if (host->progress != NULL && host->progress(host->ctx, e.name, index, a->count) != 0) {
            rc = SFX_E_CANCEL;
        } else {
            rc = extract_one(a, host, run, &e, path, index);
        }
        if (rc == SFX_E_CANCEL) {
            run->cancelled = 1;
            break;
        }
        if (rc == SFX_OK) {
            const size_t n = strlen(e.name);
            run->extracted += n == 0 || (e.name[n - 1] != '/' && e.name[n - 1] != '\\');
            continue;
        }
        if (host->report != NULL) {
            host->report(host->ctx, e.name, rc);
        }
        if (rc == SFX_E_EXISTS) {
            run->skipped++;
        } else {
            run->failed++;
            last = rc;
        }
    }
    free(path);
    if (run->cancelled) {
        return SFX_E_CANCEL;
    }
    if (rc < 0) {
        run->failed++; /* the directory itself is damaged: the rest cannot be reached */
        return rc;
    }
    return last;
}
