#include "ZECrypt.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <sys/random.h>

#include <cstring>

#include <zlib.h>

#include "ZEUtil.h"

namespace ze {

namespace {
// The cipher's key update steps one byte of CRC-32 at a time: a step of zlib's table, not a
// call per byte.
const z_crc_t* const kCrcTable = get_crc_table();

inline uint32_t crcByte(uint32_t crc, uint8_t b) {
    return kCrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
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

struct DecryptSource::Aes {
    EVP_CIPHER_CTX* ecb = nullptr;
    EVP_MAC* mac = nullptr;
    EVP_MAC_CTX* hmac = nullptr;
    uint64_t counter = 1;
    std::vector<uint8_t> ctr, ks;
    int verdict = -1;  // authentic(): not yet known, 0 or 1
    ~Aes() {
        EVP_MAC_CTX_free(hmac);
        EVP_MAC_free(mac);
        EVP_CIPHER_CTX_free(ecb);
    }
};

DecryptSource::DecryptSource(const std::string& password, int aesStrength, const uint8_t* data,
                             size_t len)
    : aes_(aesStrength) {
    if (!aes_) {
        if (len < 12)
            return;
        zc_ = std::make_unique<ZipCrypto>(password);
        uint8_t head[12];
        memcpy(head, data, 12);
        zc_->decrypt(head, 12);  // only to advance the keys
        head_ = 12;
        body_ = data + 12;
        bodyLen_ = len - 12;
        ok_ = true;
        return;
    }
    size_t keyLen = size_t(8 * (aes_ + 1)), saltLen = keyLen / 2;
    if (len < saltLen + 2 + 10)
        return;
    std::vector<uint8_t> keys;
    if (!deriveKeys(password, aes_, data, keys))
        return;
    a_ = std::make_unique<Aes>();
    a_->ecb = EVP_CIPHER_CTX_new();
    a_->mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    a_->hmac = a_->mac ? EVP_MAC_CTX_new(a_->mac) : nullptr;
    char digest[] = "SHA1";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                           OSSL_PARAM_construct_end()};
    if (!a_->ecb || !a_->hmac ||
        EVP_EncryptInit_ex(a_->ecb, ecbFor(aes_), nullptr, keys.data(), nullptr) != 1 ||
        EVP_MAC_init(a_->hmac, keys.data() + keyLen, keyLen, params) != 1)
        return;
    EVP_CIPHER_CTX_set_padding(a_->ecb, 0);
    head_ = saltLen + 2;
    body_ = data + head_;
    bodyLen_ = len - saltLen - 2 - 10;
    mac_ = body_ + bodyLen_;
    ok_ = true;
}

DecryptSource::~DecryptSource() = default;

// Counter mode with a little-endian block counter starting at 1, built on single-block AES
// in ECB mode over a batch of counter blocks; the authentication code is computed over the
// cipher text as it goes by.
void DecryptSource::decryptInto(uint8_t* out, size_t n) {
    const uint8_t* in = body_ + pos_;
    pos_ += n;
    if (!aes_) {
        memcpy(out, in, n);
        zc_->decrypt(out, n);
        return;
    }
    Aes& a = *a_;
    if (EVP_MAC_update(a.hmac, in, n) != 1)
        a.verdict = 0;
    a.ctr.resize(kChunk);
    a.ks.resize(kChunk);
    for (size_t off = 0; off < n; off += kChunk) {
        size_t k = std::min(n - off, kChunk);
        size_t blocks = (k + 15) / 16;
        memset(a.ctr.data(), 0, blocks * 16);
        for (size_t b = 0; b < blocks; ++b, ++a.counter)
            for (int i = 0; i < 8; ++i)
                a.ctr[b * 16 + size_t(i)] = uint8_t(a.counter >> (8 * i));
        int outl = 0;
        if (EVP_EncryptUpdate(a.ecb, a.ks.data(), &outl, a.ctr.data(), int(blocks * 16)) != 1) {
            // Without a key stream the output is garbage: never let it pass as good.
            a.verdict = 0;
            memset(a.ks.data(), 0, blocks * 16);
        }
        for (size_t i = 0; i < k; ++i)
            out[off + i] = in[off + i] ^ a.ks[i];
    }
}

bool DecryptSource::next(const uint8_t*& p, size_t& n) {
    if (!ok_ || pos_ >= bodyLen_)
        return false;
    n = std::min(kChunk, bodyLen_ - pos_);
    buf_.resize(kChunk);
    decryptInto(buf_.data(), n);
    p = buf_.data();
    if (consumed)
        consumed(head_ + pos_);
    return true;
}

const uint8_t* DecryptSource::whole(size_t& n) {
    if (!ok_ || pos_ > 0 || bodyLen_ > kWholeBufferMax)
        return nullptr;
    buf_.resize(bodyLen_);
    while (pos_ < bodyLen_)
        decryptInto(buf_.data() + pos_, std::min(kChunk, bodyLen_ - pos_));
    n = bodyLen_;
    return buf_.data();
}

bool DecryptSource::authentic() {
    if (!ok_)
        return false;
    if (!aes_)
        return true;
    Aes& a = *a_;
    if (a.verdict >= 0)
        return a.verdict == 1;
    // The cipher text the decoder left unread (it stopped early) counts as well.
    if (pos_ < bodyLen_ && EVP_MAC_update(a.hmac, body_ + pos_, bodyLen_ - pos_) != 1) {
        a.verdict = 0;
        return false;
    }
    pos_ = bodyLen_;
    uint8_t mac[EVP_MAX_MD_SIZE];
    size_t macLen = 0;
    a.verdict = EVP_MAC_final(a.hmac, mac, &macLen, sizeof mac) == 1 && macLen >= 10 &&
                memcmp(mac, mac_, 10) == 0;
    return a.verdict == 1;
}

}  // namespace ze
