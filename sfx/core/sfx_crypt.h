/* The traditional zip decryption (PKWARE's original stream cipher). */
#ifndef TARVIK_SFX_CRYPT_H
#define TARVIK_SFX_CRYPT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SFX_CRYPT_HEADER 12

typedef struct SfxCrypt {
    uint32_t key[3];
} SfxCrypt;

/* Initialises the keys from a password (bytes as stored, no terminator needed). */
void sfx_crypt_init(SfxCrypt* c, const char* password, size_t length);
/* Decrypts `size` bytes in place. */
void sfx_crypt_decrypt(SfxCrypt* c, unsigned char* data, size_t size);
/*
 * Initialises from the password and decrypts the 12-byte encryption header;
 * returns 1 when its last byte matches the check byte: the high byte of the
 * CRC, or, for entries with a data descriptor (general flag bit 3), the high
 * byte of the DOS time, which writers that stream use instead. Both are
 * accepted there: the CRC of the extracted data decides in the end.
 */
int sfx_crypt_check(SfxCrypt* c, const char* password, size_t length,
                    const unsigned char header[SFX_CRYPT_HEADER], uint16_t general_flags,
                    uint32_t crc, uint32_t dos_datetime);

#ifdef __cplusplus
}
#endif

#endif
