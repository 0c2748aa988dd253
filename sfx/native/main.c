/*
 * tarvik-sfx-extract: the self-extractor's core on the command line, for
 * tests and for unpacking self-extracting programs without Windows.
 *
 *   tarvik-sfx-extract PROGRAM TARGETDIR [--password P]
 *                      [--overwrite always|never|confirm] [--show-config]
 *
 * Without --overwrite the program's own overwrite mode applies. Questions
 * (confirm, a missing password) are read as lines from standard input.
 * The parts of a self-extracting set are read from beside the program
 * (PROGRAM's name without extension, 001.zip, 002.zip, ...).
 * Exit status: 0 all extracted or deliberately skipped, 1 some entries
 * failed, 2 unusable input or arguments, 3 cancelled.
 */
#define _XOPEN_SOURCE 700
#define _DEFAULT_SOURCE

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include "sfx_config.h"
#include "sfx_extract.h"
#include "sfx_result.h"
#include "sfx_zip.h"

typedef struct Target {
    const char* root;
    char* full; /* scratch for root + "/" + relative path */
    size_t full_cap;
    int out; /* the file being written */
    const char* program;
    const SfxArchive* archive; /* to name a damaged part */
} Target;

/* The parts of a set, opened one at a time beside the program. */
typedef struct PartFiles {
    const char* program;
    int fd;
} PartFiles;

static int file_read_at(void* ctx, uint64_t offset, void* buf, size_t size) {
    const int fd = *(const int*)ctx;
    unsigned char* p = (unsigned char*)buf;
    while (size > 0) {
        const ssize_t got = pread(fd, p, size, (off_t)offset);
        if (got <= 0) {
            if (got < 0 && errno == EINTR) {
                continue;
            }
            return SFX_E_READ;
        }
        p += got;
        size -= (size_t)got;
        offset += (uint64_t)got;
    }
    return SFX_OK;
}

static int part_open(void* ctx, uint32_t number, uint32_t count, SfxSource* part) {
    PartFiles* p = (PartFiles*)ctx;
    const size_t cap = strlen(p->program) + 8;
    char* name = (char*)malloc(cap);
    struct stat st;
    (void)count;
    if (name == NULL) {
        return SFX_E_MEMORY;
    }
    p->fd = sfx_part_name(p->program, number, name, cap) ? open(name, O_RDONLY | O_CLOEXEC) : -1;
    free(name);
    if (p->fd < 0) {
        return SFX_E_NOPART;
    }
    if (fstat(p->fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(p->fd);
        p->fd = -1;
        return SFX_E_NOPART;
    }
    part->ctx = &p->fd;
    part->read_at = file_read_at;
    part->size = (uint64_t)st.st_size;
    return SFX_OK;
}

static void part_close(void* ctx, SfxSource* part) {
    PartFiles* p = (PartFiles*)ctx;
    (void)part;
    if (p->fd >= 0) {
        close(p->fd);
    }
    p->fd = -1;
}

/* Names the part (or the parts) the archive found missing or damaged. */
static void print_bad_parts(const char* program, const SfxArchive* a) {
    const size_t cap = strlen(program) + 8;
    char* first = (char*)malloc(cap);
    char* last = (char*)malloc(cap);
    if (first != NULL && last != NULL && a->bad_first != SFX_PART_NONE &&
        sfx_part_name(program, a->bad_first, first, cap) &&
        sfx_part_name(program, a->bad_last, last, cap)) {
        if (a->bad_first == a->bad_last) {
            fprintf(stderr, " (%s)", first);
        } else {
            fprintf(stderr, " (one of %s ... %s)", first, last);
        }
    }
    free(first);
    free(last);
}

static const char* full_path(Target* t, const char* rel) {
    const size_t need = strlen(t->root) + 1 + strlen(rel) + 1;
    if (need > t->full_cap) {
        char* grown = (char*)realloc(t->full, need);
        if (grown == NULL) {
            return NULL;
        }
        t->full = grown;
        t->full_cap = need;
    }
    snprintf(t->full, t->full_cap, "%s/%s", t->root, rel);
    return t->full;
}

static int host_exists(void* ctx, const char* rel) {
    struct stat st;
    const char* p = full_path((Target*)ctx, rel);
    if (p == NULL || lstat(p, &st) != 0) {
        return SFX_PATH_NONE;
    }
    if (S_ISREG(st.st_mode)) {
        return SFX_PATH_FILE;
    }
    return S_ISDIR(st.st_mode) ? SFX_PATH_DIR : SFX_PATH_OTHER;
}

static int host_make_dir(void* ctx, const char* rel) {
    struct stat st;
    const char* p = full_path((Target*)ctx, rel);
    if (p == NULL) {
        return SFX_E_MEMORY;
    }
    if (mkdir(p, 0755) == 0) {
        return SFX_OK;
    }
    /* only a real folder will do: a link there could lead outside the target */
    return errno == EEXIST && lstat(p, &st) == 0 && S_ISDIR(st.st_mode) ? SFX_OK : SFX_E_WRITE;
}

static void* host_create_file(void* ctx, const char* rel) {
    Target* t = (Target*)ctx;
    const char* p = full_path(t, rel);
    if (p == NULL) {
        return NULL;
    }
    t->out = open(p, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    return t->out < 0 ? NULL : t;
}

static int host_write_file(void* ctx, void* file, const unsigned char* buf, size_t size) {
    const Target* t = (const Target*)file;
    (void)ctx;
    while (size > 0) {
        const ssize_t done = write(t->out, buf, size);
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            return SFX_E_WRITE;
        }
        buf += done;
        size -= (size_t)done;
    }
    return SFX_OK;
}

static time_t dos_to_time(uint32_t dt) {
    struct tm tm;
    memset(&tm, 0, sizeof tm);
    tm.tm_year = (int)((dt >> 25) & 0x7Fu) + 80;
    tm.tm_mon = (int)((dt >> 21) & 0x0Fu) - 1;
    tm.tm_mday = (int)((dt >> 16) & 0x1Fu);
    tm.tm_hour = (int)((dt >> 11) & 0x1Fu);
    tm.tm_min = (int)((dt >> 5) & 0x3Fu);
    tm.tm_sec = (int)((dt & 0x1Fu) * 2u);
    tm.tm_isdst = -1;
    return mktime(&tm);
}

static int host_close_file(void* ctx, void* file, const char* rel, int keep, uint32_t dos_datetime,
                           uint32_t attrs, uint16_t version_made) {
    Target* t = (Target*)file;
    const char* p;
    int rc = SFX_OK;
    (void)ctx;
    if (keep && (version_made >> 8) == 3u && ((attrs >> 16) & 0777u) != 0) {
        fchmod(t->out, (mode_t)((attrs >> 16) & 0777u)); /* permissions only, never set-id bits */
    }
    if (close(t->out) != 0) {
        rc = SFX_E_WRITE;
    }
    t->out = -1;
    p = full_path(t, rel); /* fitted the scratch when the file was made: no allocation */
    if (p == NULL) {
        return SFX_E_WRITE;
    }
    if (keep && rc == SFX_OK) {
        struct timeval tv[2];
        const time_t when = dos_to_time(dos_datetime);
        if (when != (time_t)-1) {
            tv[0].tv_sec = tv[1].tv_sec = when;
            tv[0].tv_usec = tv[1].tv_usec = 0;
            utimes(p, tv);
        }
    } else {
        unlink(p);
    }
    return rc;
}

static int read_answer(char* buf, size_t capacity) {
    size_t n;
    if (fgets(buf, (int)capacity, stdin) == NULL) {
        return 0;
    }
    n = strlen(buf);
    while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == '\r')) {
        buf[--n] = 0;
    }
    return 1;
}

static int host_ask_overwrite(void* ctx, const char* rel) {
    char answer[16];
    (void)ctx;
    fprintf(stderr, "replace %s? [y]es, [n]o, [A]ll, [N]one, [q]uit: ", rel);
    if (!read_answer(answer, sizeof answer)) {
        return SFX_ASK_NO;
    }
    switch (answer[0]) {
        case 'y':
            return SFX_ASK_YES;
        case 'A':
            return SFX_ASK_YES_ALL;
        case 'N':
            return SFX_ASK_NO_ALL;
        case 'q':
            return SFX_ASK_CANCEL;
        default:
            return SFX_ASK_NO;
    }
}

static int host_ask_password(void* ctx, const char* rel, int attempt, char* buf, size_t capacity) {
    (void)ctx;
    fprintf(stderr, "password for %s (attempt %d): ", rel, attempt);
    return read_answer(buf, capacity) && buf[0] != 0;
}

static void host_report(void* ctx, const char* name, int code) {
    const Target* t = (const Target*)ctx;
    fprintf(stderr, "%s: %s", name, sfx_result_text(code));
    if (code == SFX_E_NOPART || code == SFX_E_PART) {
        print_bad_parts(t->program, t->archive);
    }
    fputc('\n', stderr);
}

static void show_config(const SfxConfig* c) {
    printf(
        "image end: %llu\narchive start: %llu\nflags: 0x%04X\noverwrite: %u\nmessage box: 0x%02X\n",
        (unsigned long long)c->image_end, (unsigned long long)c->archive_start, c->flags,
        c->overwrite, c->msgbox);
    printf(
        "caption: %s\ndefault folder: %s\ncommand line: %s\nregistry fallback: %s\nmessage: %s\n",
        c->text[SFX_STR_CAPTION], c->text[SFX_STR_DEFAULT_DIR], c->text[SFX_STR_COMMAND_LINE],
        c->text[SFX_STR_REG_FAIL_PATH], c->text[SFX_STR_MESSAGE]);
}

static int usage(void) {
    fprintf(stderr,
            "usage: tarvik-sfx-extract PROGRAM TARGETDIR [--password P] "
            "[--overwrite always|never|confirm] [--show-config]\n");
    return 2;
}

int main(int argc, char** argv) {
    static SfxConfig config;
    SfxSource src;
    SfxArchive archive;
    SfxHost host;
    SfxRun run;
    Target target;
    PartFiles part_files;
    SfxParts parts;
    struct stat st;
    const char* password = NULL;
    int overwrite = -1, show = 0, fd, rc, i;
    if (argc < 3) {
        return usage();
    }
    for (i = 3; i < argc; ++i) {
        if (strcmp(argv[i], "--password") == 0 && i + 1 < argc) {
            password = argv[++i];
        } else if (strcmp(argv[i], "--overwrite") == 0 && i + 1 < argc) {
            ++i;
            overwrite = strcmp(argv[i], "always") == 0    ? (int)SFX_OVR_ALWAYS
                        : strcmp(argv[i], "never") == 0   ? (int)SFX_OVR_NEVER
                        : strcmp(argv[i], "confirm") == 0 ? (int)SFX_OVR_CONFIRM
                                                          : -2;
            if (overwrite == -2) {
                return usage();
            }
        } else if (strcmp(argv[i], "--show-config") == 0) {
            show = 1;
        } else {
            return usage();
        }
    }
    fd = open(argv[1], O_RDONLY | O_CLOEXEC);
    if (fd < 0 || fstat(fd, &st) != 0) {
        fprintf(stderr, "%s: cannot open\n", argv[1]);
        return 2;
    }
    src.ctx = &fd;
    src.read_at = file_read_at;
    src.size = (uint64_t)st.st_size;
    rc = sfx_read_config(&src, &config);
    if (rc != SFX_OK) {
        fprintf(stderr, "%s: %s\n", argv[1], sfx_result_text(rc));
        return 2;
    }
    if (show) {
        show_config(&config);
    }
    part_files.program = argv[1];
    part_files.fd = -1;
    parts.ctx = &part_files;
    parts.open = part_open;
    parts.close = part_close;
    rc = sfx_archive_open_set(&archive, &src, config.archive_start, &parts);
    if (rc != SFX_OK) {
        fprintf(stderr, "%s: %s", argv[1], sfx_result_text(rc));
        print_bad_parts(argv[1], &archive);
        fputc('\n', stderr);
        return 2;
    }
    if (mkdir(argv[2], 0755) != 0 && errno != EEXIST) {
        fprintf(stderr, "%s: cannot create\n", argv[2]);
        return 2;
    }
    memset(&target, 0, sizeof target);
    target.root = argv[2];
    target.out = -1;
    target.program = argv[1];
    target.archive = &archive;
    memset(&host, 0, sizeof host);
    host.ctx = &target;
    host.exists = host_exists;
    host.make_dir = host_make_dir;
    host.create_file = host_create_file;
    host.write_file = host_write_file;
    host.close_file = host_close_file;
    host.ask_overwrite = host_ask_overwrite;
    host.ask_password = host_ask_password;
    host.report = host_report;
    memset(&run, 0, sizeof run);
    run.overwrite = overwrite >= 0 ? (unsigned)overwrite : config.overwrite;
    run.create_empty_dirs = (config.flags & SFX_OPT_CREATE_EMPTY_DIRS) != 0;
    if (password != NULL) {
        snprintf(run.password, sizeof run.password, "%s", password);
    }
    rc = sfx_extract_all(&archive, &host, &run);
    printf("extracted %llu, skipped %llu, failed %llu\n", (unsigned long long)run.extracted,
           (unsigned long long)run.skipped, (unsigned long long)run.failed);
    sfx_archive_close(&archive);
    free(target.full);
    close(fd);
    if (rc == SFX_E_CANCEL) {
        return 3;
    }
    return run.failed > 0 ? 1 : 0;
}
