// Entry encryption: the traditional zip cipher (both directions) and WinZip AES
// (AE-1/AE-2, decryption with authentication).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ZEDecode.h"

namespace ze {

class ZipCrypto {
public:
    explicit ZipCrypto(const std::string& password);
    void encrypt(uint8_t* p, size_t n);
    void decrypt(uint8_t* p, size_t n);
    // The 12-byte header for encryption: 11 random bytes and the check byte.
    static void makeHeader(uint8_t header[12], uint8_t check);

private:
    void update(uint8_t c);
    uint8_t streamByte() const {
        uint32_t t = (k2_ | 2) & 0xFFFF;
        return uint8_t((t * (t ^ 1)) >> 8);
    }
    uint32_t k0_ = 0x12345678, k1_ = 0x23456789, k2_ = 0x34567890;
};

// An encrypted entry's data (traditional cipher: 12-byte header, data; WinZip AES: salt,
// verifier, data, 10-byte authentication code), decrypted for the decoder a bounded chunk
// at a time, so that memory stays small whatever the entry's size. The decoder sees the
// data alone. The password was checked against the header or verifier already.
class DecryptSource : public InSource {
public:
    // aesStrength 0: the traditional cipher; 1, 2, 3: AES-128, -192, -256.
    DecryptSource(const std::string& password, int aesStrength, const uint8_t* data, size_t len);
    ~DecryptSource() override;
    DecryptSource(const DecryptSource&) = delete;
    DecryptSource& operator=(const DecryptSource&) = delete;

    // False when the data is too short for its header or the keys could not be made.
    bool ok() const { return ok_; }
    bool next(const uint8_t*& p, size_t& n) override;
    const uint8_t* whole(size_t& n) override;
    uint64_t size() const override { return bodyLen_; }
    // AES: true when the authentication code matches the whole cipher text (the part the
    // decoder did not read is taken in here); always true for the traditional cipher,
    // whose check is the CRC.
    bool authentic();
    // Hears how many bytes of the cipher text are done with (pages behind may go).
    std::function<void(size_t)> consumed;

    static constexpr size_t kChunk = 256u << 10;  // a multiple of the AES block

private:
    void decryptInto(uint8_t* out, size_t n);  // the next n bytes of the data
    int aes_;
    const uint8_t* body_ = nullptr;
    size_t head_ = 0, bodyLen_ = 0, pos_ = 0;  // head_: bytes in front of the data
    const uint8_t* mac_ = nullptr;
    bool ok_ = false;
    std::unique_ptr<ZipCrypto> zc_;
    struct Aes;
    std::unique_ptr<Aes> a_;
    ByteBuffer buf_;
};

// True when the password passes the AES verifier (cheap check before the whole entry).
bool aesCheckPassword(const std::string& password, int strength, const uint8_t* data, size_t len);

}  // namespace ze
