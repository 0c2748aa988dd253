/* The one rule for reading the stored name or comment of a zip entry, shared
   by the component, the engine and the self-extractor. Plain C99 without
   iconv, so that the Windows stub builds it too.

   Order of the rule:
   1. Flag bit 11: the bytes are UTF-8.
   2. A valid Unicode path record (0x7075; 0x6375 for comments): its text.
   3. Names from DOS and Windows hosts (made-by high byte 0 FAT, 6 HPFS,
      11 NTFS, 14 VFAT) are OEM (CP850) when the made-by value lies in
      0x0000-0x00FF or 0x0600-0x06FF or is exactly 0x0B32, else ANSI.
   4. Names from every other host (Unix 3, macOS 19, ...) are UTF-8 when the
      bytes are valid UTF-8, else ANSI: those tools store the bytes of the
      system's names, and the system code page of a Unix desktop is UTF-8.
   ANSI is Windows-1252 unless the caller has chosen another code page. */
#ifndef TARVIK_PLATFORM_ENTRYNAME_H
#define TARVIK_PLATFORM_ENTRYNAME_H

#include <stddef.h>
#include <stdint.h>

#include "ZipLayout.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Encodings of stored text, as code page numbers. */
#define ENTRY_NAME_OEM 850u
#define ENTRY_NAME_ANSI 1252u
#define ENTRY_NAME_UTF8 65001u

#define ENTRY_NAME_FLAG_UTF8 ZIP_FLAG_UTF8
#define ENTRY_NAME_TAG_UNICODE_PATH ZIP_TAG_UNICODE_PATH
#define ENTRY_NAME_TAG_UNICODE_COMMENT 0x6375u

/* Steps 1, 3 and 4 of the rule: the encoding of the stored bytes `text` of
   an entry with general-purpose flags `flags` and made-by value
   `version_made_by` (ENTRY_NAME_OEM, _ANSI or _UTF8). */
unsigned entry_name_encoding(uint16_t flags, uint16_t version_made_by, const unsigned char* text,
                             size_t size);

/* Step 2: the text of a Unicode record whose data (after the tag and size)
   is `data`. The record counts when its version byte is 1, its CRC-32 equals
   `stored_crc` (the CRC-32 of the stored bytes it stands for) and its text is
   not empty and valid UTF-8. Returns 1 and points `text`/`length` at the
   text, else 0. */
int entry_name_unicode_text(const unsigned char* data, size_t size, uint32_t stored_crc,
                            const unsigned char** text, size_t* length);

/* 1 when the bytes are well-formed UTF-8: no overlong forms, no surrogates,
   nothing above U+10FFFF. */
int entry_name_valid_utf8(const unsigned char* text, size_t size);

/* The character of byte `b` (0x80-0xFF) in CP850 (ENTRY_NAME_OEM) or
   Windows-1252 (any other value). The five bytes Windows-1252 leaves
   undefined stand for the C1 controls of the same value, as on Windows. */
uint16_t entry_name_byte(unsigned code_page, unsigned char b);

/* Converts CP850 or Windows-1252 text to UTF-8 (no terminating zero).
   `out` must hold 3 * size bytes; returns the bytes written. */
size_t entry_name_8bit_to_utf8(const unsigned char* text, size_t size, unsigned code_page,
                               char* out);

#ifdef __cplusplus
}
#endif

#endif
