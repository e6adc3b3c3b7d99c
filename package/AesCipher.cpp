#include "package/AesCipher.h"

#include <cstring>

namespace kestrel {
namespace {

uint8_t XTime(uint8_t x) { return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1B : 0x00)); }
uint32_t Rotl8(uint32_t x) { return (x << 8) | (x >> 24); }

uint32_t Load32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
void Store32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// The program's key, assembled only when it is needed: two constant halves combined byte by byte,
// so the key itself never stands as a whole in the file. The packaging tool uses the same function.
void BuildKey(uint8_t key[kAesKeySize]) {
    static const uint8_t kA[kAesKeySize] = {0x3B, 0x91, 0x5E, 0xC7, 0x24, 0xA8, 0x6F, 0x13,
                                            0xD2, 0x4C, 0x87, 0x39, 0xEB, 0x70, 0x1A, 0x95};
    static const uint8_t kB[kAesKeySize] = {0x7E, 0x05, 0xB3, 0x2A, 0x98, 0x61, 0xC4, 0x5D,
                                            0x0F, 0xE6, 0x33, 0xAB, 0x52, 0x8D, 0xF1, 0x46};
    for (size_t i = 0; i < kAesKeySize; ++i) key[i] = static_cast<uint8_t>(kA[i] ^ static_cast<uint8_t>(kB[(i * 7) % kAesKeySize] + i * 29));
}

void Wipe(void* p, size_t n) {
    volatile uint8_t* v = static_cast<volatile uint8_t*>(p);
    while (n--) *v++ = 0;
}

}  // namespace

void ImageCipherPrepare(ImageCipherContext& ctx) {
    // Powers and logarithms of the generator 3 in GF(2^8) with the polynomial 0x11B.
    uint8_t pow[256], log[256] = {};
    uint8_t x = 1;
    for (int i = 0; i < 256; ++i) {
        pow[i] = x;
        log[x] = static_cast<uint8_t>(i);
        x = static_cast<uint8_t>(x ^ XTime(x));
    }
    const auto mul = [&](uint8_t a, uint8_t b) -> uint8_t { return (a && b) ? pow[(log[a] + log[b]) % 255] : 0; };

    x = 1;
    for (int i = 0; i < 10; ++i) {
        ctx.RCON[i] = x;
        x = XTime(x);
    }

    // S-box: multiplicative inverse followed by the affine transformation with constant 0x63.
    ctx.FSb[0] = 0x63;
    ctx.RSb[0x63] = 0;
    for (int i = 1; i < 256; ++i) {
        uint8_t inv = pow[255 - log[i]];
        uint8_t s = inv;
        for (int r = 0; r < 4; ++r) {
            inv = static_cast<uint8_t>((inv << 1) | (inv >> 7));
            s ^= inv;
        }
        s ^= 0x63;
        ctx.FSb[i] = s;
        ctx.RSb[s] = static_cast<uint8_t>(i);
    }

    for (int i = 0; i < 256; ++i) {
        const uint8_t s = ctx.FSb[i];
        const uint32_t f = static_cast<uint32_t>(XTime(s)) | (static_cast<uint32_t>(s) << 8) |
                           (static_cast<uint32_t>(s) << 16) | (static_cast<uint32_t>(XTime(s) ^ s) << 24);
        ctx.FT0[i] = f;
        ctx.FT1[i] = Rotl8(f);
        ctx.FT2[i] = Rotl8(ctx.FT1[i]);
        ctx.FT3[i] = Rotl8(ctx.FT2[i]);

        const uint8_t r = ctx.RSb[i];
        const uint32_t v = static_cast<uint32_t>(mul(0x0E, r)) | (static_cast<uint32_t>(mul(0x09, r)) << 8) |
                           (static_cast<uint32_t>(mul(0x0D, r)) << 16) | (static_cast<uint32_t>(mul(0x0B, r)) << 24);
        ctx.RT0[i] = v;
        ctx.RT1[i] = Rotl8(v);
        ctx.RT2[i] = Rotl8(ctx.RT1[i]);
        ctx.RT3[i] = Rotl8(ctx.RT2[i]);
    }
    ctx.nr = 10;
    ctx.prepared = true;
}

void AesSetKey(ImageCipherContext& ctx, std::span<const uint8_t, kAesKeySize> key) {
    if (!ctx.prepared) ImageCipherPrepare(ctx);
    uint32_t* rk = ctx.erk;
    for (int i = 0; i < 4; ++i) rk[i] = Load32(key.data() + 4 * i);
    for (int i = 0; i < 10; ++i, rk += 4) {
        const uint32_t t = rk[3];
        rk[4] = rk[0] ^ ctx.RCON[i] ^ static_cast<uint32_t>(ctx.FSb[(t >> 8) & 0xFF]) ^
                (static_cast<uint32_t>(ctx.FSb[(t >> 16) & 0xFF]) << 8) ^
                (static_cast<uint32_t>(ctx.FSb[(t >> 24) & 0xFF]) << 16) ^ (static_cast<uint32_t>(ctx.FSb[t & 0xFF]) << 24);
        rk[5] = rk[1] ^ rk[4];
        rk[6] = rk[2] ^ rk[5];
        rk[7] = rk[3] ^ rk[6];
    }
    // Equivalent inverse cipher: round keys in reverse order, InvMixColumns on rounds 1 to 9.
    for (int j = 0; j < 4; ++j) {
        ctx.drk[j] = ctx.erk[40 + j];
        ctx.drk[40 + j] = ctx.erk[j];
    }
    for (int round = 1; round < 10; ++round) {
        for (int j = 0; j < 4; ++j) {
            const uint32_t w = ctx.erk[4 * (10 - round) + j];
            ctx.drk[4 * round + j] = ctx.RT0[ctx.FSb[w & 0xFF]] ^ ctx.RT1[ctx.FSb[(w >> 8) & 0xFF]] ^
                                     ctx.RT2[ctx.FSb[(w >> 16) & 0xFF]] ^ ctx.RT3[ctx.FSb[(w >> 24) & 0xFF]];
        }
    }
}

void AesEncryptBlocks(const ImageCipherContext& c, uint8_t* buffer, size_t length) {
    for (size_t off = 0; off + kAesBlockSize <= length; off += kAesBlockSize) {
        uint8_t* b = buffer + off;
        const uint32_t* rk = c.erk;
        uint32_t y0 = Load32(b) ^ rk[0], y1 = Load32(b + 4) ^ rk[1], y2 = Load32(b + 8) ^ rk[2], y3 = Load32(b + 12) ^ rk[3];
        for (int r = 1; r < c.nr; ++r) {
            rk += 4;
            const uint32_t x0 = rk[0] ^ c.FT0[y0 & 0xFF] ^ c.FT1[(y1 >> 8) & 0xFF] ^ c.FT2[(y2 >> 16) & 0xFF] ^ c.FT3[y3 >> 24];
            const uint32_t x1 = rk[1] ^ c.FT0[y1 & 0xFF] ^ c.FT1[(y2 >> 8) & 0xFF] ^ c.FT2[(y3 >> 16) & 0xFF] ^ c.FT3[y0 >> 24];
            const uint32_t x2 = rk[2] ^ c.FT0[y2 & 0xFF] ^ c.FT1[(y3 >> 8) & 0xFF] ^ c.FT2[(y0 >> 16) & 0xFF] ^ c.FT3[y1 >> 24];
            const uint32_t x3 = rk[3] ^ c.FT0[y3 & 0xFF] ^ c.FT1[(y0 >> 8) & 0xFF] ^ c.FT2[(y1 >> 16) & 0xFF] ^ c.FT3[y2 >> 24];
            y0 = x0, y1 = x1, y2 = x2, y3 = x3;
        }
        rk += 4;
        const auto last = [&](uint32_t a, uint32_t bb, uint32_t cc, uint32_t d, uint32_t k) {
            return k ^ static_cast<uint32_t>(c.FSb[a & 0xFF]) ^ (static_cast<uint32_t>(c.FSb[(bb >> 8) & 0xFF]) << 8) ^
                   (static_cast<uint32_t>(c.FSb[(cc >> 16) & 0xFF]) << 16) ^ (static_cast<uint32_t>(c.FSb[d >> 24]) << 24);
        };
        Store32(b, last(y0, y1, y2, y3, rk[0]));
        Store32(b + 4, last(y1, y2, y3, y0, rk[1]));
        Store32(b + 8, last(y2, y3, y0, y1, rk[2]));
        Store32(b + 12, last(y3, y0, y1, y2, rk[3]));
    }
}

void AesDecryptBlocks(const ImageCipherContext& c, uint8_t* buffer, size_t length) {
    for (size_t off = 0; off + kAesBlockSize <= length; off += kAesBlockSize) {
        uint8_t* b = buffer + off;
        const uint32_t* rk = c.drk;
        uint32_t y0 = Load32(b) ^ rk[0], y1 = Load32(b + 4) ^ rk[1], y2 = Load32(b + 8) ^ rk[2], y3 = Load32(b + 12) ^ rk[3];
        for (int r = 1; r < c.nr; ++r) {
            rk += 4;
            const uint32_t x0 = rk[0] ^ c.RT0[y0 & 0xFF] ^ c.RT1[(y3 >> 8) & 0xFF] ^ c.RT2[(y2 >> 16) & 0xFF] ^ c.RT3[y1 >> 24];
            const uint32_t x1 = rk[1] ^ c.RT0[y1 & 0xFF] ^ c.RT1[(y0 >> 8) & 0xFF] ^ c.RT2[(y3 >> 16) & 0xFF] ^ c.RT3[y2 >> 24];
            const uint32_t x2 = rk[2] ^ c.RT0[y2 & 0xFF] ^ c.RT1[(y1 >> 8) & 0xFF] ^ c.RT2[(y0 >> 16) & 0xFF] ^ c.RT3[y3 >> 24];
            const uint32_t x3 = rk[3] ^ c.RT0[y3 & 0xFF] ^ c.RT1[(y2 >> 8) & 0xFF] ^ c.RT2[(y1 >> 16) & 0xFF] ^ c.RT3[y0 >> 24];
            y0 = x0, y1 = x1, y2 = x2, y3 = x3;
        }
        rk += 4;
        const auto last = [&](uint32_t a, uint32_t bb, uint32_t cc, uint32_t d, uint32_t k) {
            return k ^ static_cast<uint32_t>(c.RSb[a & 0xFF]) ^ (static_cast<uint32_t>(c.RSb[(bb >> 8) & 0xFF]) << 8) ^
                   (static_cast<uint32_t>(c.RSb[(cc >> 16) & 0xFF]) << 16) ^ (static_cast<uint32_t>(c.RSb[d >> 24]) << 24);
        };
        Store32(b, last(y0, y3, y2, y1, rk[0]));
        Store32(b + 4, last(y1, y0, y3, y2, rk[1]));
        Store32(b + 8, last(y2, y1, y0, y3, rk[2]));
        Store32(b + 12, last(y3, y2, y1, y0, rk[3]));
    }
}

void ImageCipherDecipher(ImageCipherContext& ctx, uint8_t* buffer, size_t length) {
    if (!ctx.prepared) ImageCipherPrepare(ctx);
    uint8_t key[kAesKeySize];
    BuildKey(key);
    AesSetKey(ctx, std::span<const uint8_t, kAesKeySize>(key, kAesKeySize));
    Wipe(key, sizeof key);
    AesDecryptBlocks(ctx, buffer, length);
}

void ImageCipherEncipher(ImageCipherContext& ctx, uint8_t* buffer, size_t length) {
    if (!ctx.prepared) ImageCipherPrepare(ctx);
    uint8_t key[kAesKeySize];
    BuildKey(key);
    AesSetKey(ctx, std::span<const uint8_t, kAesKeySize>(key, kAesKeySize));
    Wipe(key, sizeof key);
    AesEncryptBlocks(ctx, buffer, length);
}

}  // namespace kestrel
