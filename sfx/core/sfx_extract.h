/*
 * Extracting every entry of the archive behind the stub into one target
 * folder. The front end (Windows dialog or the native command-line driver)
 * supplies the file system and the questions to the user as callbacks; this
 * part decides what is written where, and never outside the target folder.
 */
#ifndef TARVIK_SFX_EXTRACT_H
#define TARVIK_SFX_EXTRACT_H

#include <stddef.h>
#include <stdint.h>

#include "sfx_zip.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Answers to the overwrite question. */
enum {
    SFX_ASK_YES = 1,
    SFX_ASK_NO = 2,
    SFX_ASK_YES_ALL = 3,
    SFX_ASK_NO_ALL = 4,
    SFX_ASK_CANCEL = 5
};

/* What exists at a path. */
enum { SFX_PATH_NONE = 0, SFX_PATH_FILE = 1, SFX_PATH_DIR = 2, SFX_PATH_OTHER = 3 };

#define SFX_PASSWORD_MAX 256

typedef struct SfxHost {
    void* ctx;
    /* File system; `path` is relative to the target folder, '/'-separated UTF-8
       made of safe components only. */
    int (*exists)(void* ctx, const char* path);   /* SFX_PATH_* */
    int (*make_dir)(void* ctx, const char* path); /* SFX_OK also when it is there already */
    /* One file is open at a time: created, written, then closed with the same
       `path`, so a front end needs no record of its own beyond the handle. */
    void* (*create_file)(void* ctx, const char* path); /* NULL on failure; replaces a file */
    int (*write_file)(void* ctx, void* file, const unsigned char* buf, size_t size);
    /* Closes; keeps the file with its time and attributes, or removes it when `keep` is 0. */
    int (*close_file)(void* ctx, void* file, const char* path, int keep, uint32_t dos_datetime,
                      uint32_t attrs, uint16_t version_made);
    /* Questions; NULL callbacks mean "no" / no password. */
    int (*ask_overwrite)(void* ctx, const char* path); /* SFX_ASK_* */
    /* Fills `buf` (NUL-terminated) and returns 1, or 0 when the user gives none. */
    int (*ask_password)(void* ctx, const char* path, int attempt, char* buf, size_t capacity);
    /* Before each entry; non-zero cancels the run. May be NULL. */
    int (*progress)(void* ctx, const char* path, uint64_t index, uint64_t count);
    /* An entry that was skipped or failed, with its result code. May be NULL. */
    void (*report)(void* ctx, const char* path, int code);
} SfxHost;

typedef struct SfxRun {
    unsigned overwrite;              /* SFX_OVR_* (other values: confirm) */
    int create_empty_dirs;           /* also create folders that are entries of their own */
    char password[SFX_PASSWORD_MAX]; /* the password in use; may be preset */
    /* results */
    uint64_t extracted;
    uint64_t skipped; /* existing files kept, entries passed over at the user's word */
    uint64_t failed;  /* damaged, unsafe, unsupported or unwritable entries */
    int cancelled;
} SfxRun;

/*
 * Makes an entry name safe to use below the target folder: '\' counts as
 * '/', empty and "." components are dropped; names that are absolute, hold a
 * drive or stream colon, a ".." component or control characters are
 * refused (SFX_E_NAME). `is_dir` tells whether the name ends with a slash.
 * `out` receives at most `capacity` bytes including the terminator.
 */
int sfx_safe_path(const char* name, char* out, size_t capacity, int* is_dir);

/* Extracts every entry; the counts land in `run`. Result: SFX_OK when no entry
   failed, SFX_E_CANCEL when cancelled, else the code of the last failure. */
int sfx_extract_all(SfxArchive* archive, const SfxHost* host, SfxRun* run);

#ifdef __cplusplus
}
#endif

#endif
