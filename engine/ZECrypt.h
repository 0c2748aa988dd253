// Entry encryption: the traditional zip cipher (both directions) and WinZip AES
// (AE-1/AE-2, decryption with authentication).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

// Decrypts a WinZip AES entry's data in place (salt, verifier, data, 10-byte MAC).
// Returns 0 and sets plainStart/plainLen, 1 for a wrong password, 2 for a failed
// authentication code, 3 for malformed data.
int aesDecrypt(const std::string& password, int strength, uint8_t* data, size_t len,
               size_t& plainStart, size_t& plainLen);

// True when the password passes the AES verifier (cheap check before the whole entry).
bool aesCheckPassword(const std::string& password, int strength, const uint8_t* data, size_t len);

}  // namespace ze
