#pragma once
// The image cipher: AES-128 in ECB mode. Packages flashed at the next boot carry their images
// enciphered with the program's own key; the packaging tool enciphers, the program deciphers in
// place after loading. The tables are computed from GF(2^8) arithmetic, not stored.
#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrel {

constexpr size_t kAesBlockSize = 16;
constexpr size_t kAesKeySize = 16;

struct ImageCipherContext {
    uint8_t FSb[256];  // substitution box
    uint8_t RSb[256];  // its inverse
    uint32_t RCON[10];
    uint32_t FT0[256], FT1[256], FT2[256], FT3[256];
    uint32_t RT0[256], RT1[256], RT2[256], RT3[256];
    int nr = 10;
    uint32_t erk[44];  // encryption key schedule
    uint32_t drk[44];  // decryption key schedule (equivalent inverse cipher)
    bool prepared = false;
};

// Computes the tables into ctx. Called once before any image is deciphered.
void ImageCipherPrepare(ImageCipherContext& ctx);

// Deciphers / enciphers length bytes of buffer in place with the program's key. Only whole 16-byte
// blocks inside length are touched; bytes after the last whole block stay as they are. A context
// that has not been prepared is prepared first.
void ImageCipherDecipher(ImageCipherContext& ctx, uint8_t* buffer, size_t length);
void ImageCipherEncipher(ImageCipherContext& ctx, uint8_t* buffer, size_t length);

// The same with a caller's key (tests and tools that check the cipher itself).
void AesSetKey(ImageCipherContext& ctx, std::span<const uint8_t, kAesKeySize> key);
void AesEncryptBlocks(const ImageCipherContext& ctx, uint8_t* buffer, size_t length);
void AesDecryptBlocks(const ImageCipherContext& ctx, uint8_t* buffer, size_t length);

}  // namespace kestrel
