#include "ZECrypt.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/random.h>

#include <cstring>

#include "ZEUtil.h"

namespace ze {

namespace {
uint32_t crcByte(uint32_t crc, uint8_t b) {
    return ~crc32(~crc, &b, 1);
}
}  // namespace

ZipCrypto::ZipCrypto(const std::string& password) {
    for (char c : password)
        update(uint8_t(c));
}

void ZipCrypto::update(uint8_t c) {
    k0_ = crcByte(k0_, c);
    k1_ = (k1_ + (k0_ & 0xFF)) * 134775813u + 1;
    k2_ = crcByte(k2_, uint8_t(k1_ >> 24));
}

void ZipCrypto::encrypt(uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        uint8_t c = p[i];
        p[i] = c ^ streamByte();
        update(c);
    }
}

void ZipCrypto::decrypt(uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        uint8_t c = p[i] ^ streamByte();
        p[i] = c;
        update(c);
    }
}

void ZipCrypto::makeHeader(uint8_t header[12], uint8_t check) {
    if (getrandom(header, 11, 0) != 11) {
        for (int i = 0; i < 11; ++i)
            header[i] = uint8_t(rand());
    }
    header[11] = check;
}

namespace {
const EVP_CIPHER* ecbFor(int strength) {
    return strength == 1   ? EVP_aes_128_ecb()
           : strength == 2 ? EVP_aes_192_ecb()
                           : EVP_aes_256_ecb();
}

bool deriveKeys(const std::string& password, int strength, const uint8_t* salt,
                std::vector<uint8_t>& keys) {
    size_t keyLen = size_t(8 * (strength + 1));
    size_t saltLen = keyLen / 2;
    keys.assign(2 * keyLen + 2, 0);
    return PKCS5_PBKDF2_HMAC_SHA1(password.data(), int(password.size()), salt, int(saltLen), 1000,
                                  int(keys.size()), keys.data()) == 1;
}
}  // namespace

bool aesCheckPassword(const std::string& password, int strength, const uint8_t* data, size_t len) {
    size_t keyLen = size_t(8 * (strength + 1)), saltLen = keyLen / 2;
    if (len < saltLen + 2 + 10)
        return false;
    std::vector<uint8_t> keys;
    if (!deriveKeys(password, strength, data, keys))
        return false;
    return memcmp(keys.data() + 2 * keyLen, data + saltLen, 2) == 0;
}

int aesDecrypt(const std::string& password, int strength, uint8_t* data, size_t len,
               size_t& plainStart, size_t& plainLen) {
    size_t keyLen = size_t(8 * (strength + 1)), saltLen = keyLen / 2;
    if (len < saltLen + 2 + 10)
        return 3;
    std::vector<uint8_t> keys;
    if (!deriveKeys(password, strength, data, keys))
        return 3;
    if (memcmp(keys.data() + 2 * keyLen, data + saltLen, 2) != 0)
        return 1;
    uint8_t* body = data + saltLen + 2;
    size_t bodyLen = len - saltLen - 2 - 10;
    // Authenticate the cipher text first.
    uint8_t mac[EVP_MAX_MD_SIZE];
    unsigned macLen = 0;
    if (!HMAC(EVP_sha1(), keys.data() + keyLen, int(keyLen), body, bodyLen, mac, &macLen) ||
        memcmp(mac, body + bodyLen, 10) != 0)
        return 2;
    // Counter mode with a little-endian block counter starting at 1, built on single-block
    // AES in ECB mode over a batch of counter blocks.
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (!ctx)
        return 3;
    int rc = 0;
    if (EVP_EncryptInit_ex(ctx, ecbFor(strength), nullptr, keys.data(), nullptr) != 1)
        rc = 3;
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    constexpr size_t kBatch = 1024;
    std::vector<uint8_t> ctr(kBatch * 16), ks(kBatch * 16);
    uint64_t counter = 1;
    for (size_t off = 0; rc == 0 && off < bodyLen; off += kBatch * 16) {
        size_t n = std::min(bodyLen - off, kBatch * 16);
        size_t blocks = (n + 15) / 16;
        memset(ctr.data(), 0, blocks * 16);
        for (size_t b = 0; b < blocks; ++b, ++counter)
            for (int k = 0; k < 8; ++k)
                ctr[b * 16 + size_t(k)] = uint8_t(counter >> (8 * k));
        int outl = 0;
        if (EVP_EncryptUpdate(ctx, ks.data(), &outl, ctr.data(), int(blocks * 16)) != 1) {
            rc = 3;
            break;
        }
        for (size_t i = 0; i < n; ++i)
            body[off + i] ^= ks[i];
    }
    EVP_CIPHER_CTX_free(ctx);
    plainStart = saltLen + 2;
    plainLen = bodyLen;
    return rc;
}

}  // namespace ze
