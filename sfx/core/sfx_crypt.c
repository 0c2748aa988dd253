#include "sfx_crypt.h"

#include <string.h>

#include "sfx_crc.h"

static void update_keys(SfxCrypt* c, unsigned char plain) {
    c->key[0] = sfx_crc32_byte(c->key[0], plain);
    c->key[1] = (c->key[1] + (c->key[0] & 0xFFu)) * 134775813u + 1u;
    c->key[2] = sfx_crc32_byte(c->key[2], (unsigned char)(c->key[1] >> 24));
}

static unsigned char stream_byte(const SfxCrypt* c) {
    const uint32_t t = (c->key[2] & 0xFFFFu) | 2u;
    return (unsigned char)(((t * (t ^ 1u)) >> 8) & 0xFFu);
}

void sfx_crypt_init(SfxCrypt* c, const char* password, size_t length) {
    size_t i;
    c->key[0] = 305419896u;
    c->key[1] = 591751049u;
    c->key[2] = 878082192u;
    for (i = 0; i < length; ++i) {
        update_keys(c, (unsigned char)password[i]);
    }
}

void sfx_crypt_decrypt(SfxCrypt* c, unsigned char* data, size_t size) {
    size_t i;
    for (i = 0; i < size; ++i) {
        const unsigned char plain = (unsigned char)(data[i] ^ stream_byte(c));
        update_keys(c, plain);
        data[i] = plain;
    }
}

int sfx_crypt_check(SfxCrypt* c, const char* password, size_t length,
                    const unsigned char header[SFX_CRYPT_HEADER], uint16_t general_flags,
                    uint32_t crc, uint32_t dos_datetime) {
    unsigned char h[SFX_CRYPT_HEADER];
    memcpy(h, header, sizeof h);
    sfx_crypt_init(c, password, length);
    sfx_crypt_decrypt(c, h, sizeof h);
    if (h[11] == (unsigned char)(crc >> 24)) {
        return 1;
    }
    return (general_flags & 0x0008u) != 0 && h[11] == (unsigned char)((dos_datetime >> 8) & 0xFFu);
}
