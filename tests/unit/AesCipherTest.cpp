#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "package/AesCipher.h"

using namespace kestrel;

namespace {

std::vector<uint8_t> Hex(const char* h) {
    std::vector<uint8_t> out;
    for (; h[0] && h[1]; h += 2) out.push_back(static_cast<uint8_t>(std::stoi(std::string(h, 2), nullptr, 16)));
    return out;
}

// OpenSSL's AES-128-ECB, no padding: the oracle.
std::vector<uint8_t> OpenSslEcb(const uint8_t key[16], const std::vector<uint8_t>& in, bool encrypt) {
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    EXPECT_EQ(EVP_CipherInit_ex(ctx.get(), EVP_aes_128_ecb(), nullptr, key, nullptr, encrypt ? 1 : 0), 1);
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    std::vector<uint8_t> out(in.size() + 16);
    int n = 0, m = 0;
    EXPECT_EQ(EVP_CipherUpdate(ctx.get(), out.data(), &n, in.data(), static_cast<int>(in.size())), 1);
    EXPECT_EQ(EVP_CipherFinal_ex(ctx.get(), out.data() + n, &m), 1);
    out.resize(static_cast<size_t>(n + m));
    return out;
}

struct Cipher : ::testing::Test {
    std::unique_ptr<ImageCipherContext> ctx = std::make_unique<ImageCipherContext>();
    void Key(const std::vector<uint8_t>& k) { AesSetKey(*ctx, std::span<const uint8_t, 16>(k.data(), 16)); }
};

}  // namespace

TEST_F(Cipher, TablesAreTheStandardOnes) {
    ImageCipherPrepare(*ctx);
    EXPECT_EQ(ctx->FSb[0x00], 0x63);
    EXPECT_EQ(ctx->FSb[0x53], 0xED);
    EXPECT_EQ(ctx->FSb[0xFF], 0x16);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(ctx->RSb[ctx->FSb[i]], i);
    EXPECT_EQ(ctx->RCON[9], 0x36u);
}

TEST_F(Cipher, Fips197AppendixC1BothWays) {
    Key(Hex("000102030405060708090a0b0c0d0e0f"));
    const auto plain = Hex("00112233445566778899aabbccddeeff");
    const auto cipher = Hex("69c4e0d86a7b0430d8cdb78070b4c55a");
    auto buf = plain;
    AesEncryptBlocks(*ctx, buf.data(), buf.size());
    EXPECT_EQ(buf, cipher);
    AesDecryptBlocks(*ctx, buf.data(), buf.size());
    EXPECT_EQ(buf, plain);
}

TEST_F(Cipher, AgreesWithOpenSslOnRandomKeysAndBuffers) {
    std::mt19937 rng(20261210);
    const size_t sizes[] = {16, 32, 512, 4096 + 16 * 7, 65536 + 16, 2097152};
    for (size_t size : sizes) {
        std::vector<uint8_t> key(16), data(size);
        for (auto& b : key) b = static_cast<uint8_t>(rng());
        for (auto& b : data) b = static_cast<uint8_t>(rng());
        Key(key);
        auto ours = data;
        AesEncryptBlocks(*ctx, ours.data(), ours.size());
        ASSERT_EQ(ours, OpenSslEcb(key.data(), data, true)) << size;
        AesDecryptBlocks(*ctx, ours.data(), ours.size());
        ASSERT_EQ(ours, data) << size;
        auto theirs = OpenSslEcb(key.data(), data, false);
        auto dec = data;
        AesDecryptBlocks(*ctx, dec.data(), dec.size());
        ASSERT_EQ(dec, theirs) << size;
    }
}

// The program's own key, pinned: packages already built decipher only under this key. The cipher
// text was computed once with the openssl command-line tool (aes-128-ecb, no padding) from the key
// the program assembles.
TEST_F(Cipher, ProgramKeyKnownAnswer) {
    const auto plain = Hex("4b45535452454c20465720494d414745"    // "KESTREL FW IMAGE"
                           "000102030405060708090a0b0c0d0e0f"
                           "00000000000000000000000000000000");  // an image's zero padding
    const auto cipher = Hex("e68408897379dee72a965d0f961f50c9"
                            "a96da9bdc90d2d2d7b2fe6f9c01ebb75"
                            "03f98a9741a2f551b32d75acfc89c1ca");
    auto buf = plain;
    ImageCipherEncipher(*ctx, buf.data(), buf.size());
    EXPECT_EQ(buf, cipher);
    buf = cipher;
    ImageCipherDecipher(*ctx, buf.data(), buf.size());
    EXPECT_EQ(buf, plain);
}

TEST_F(Cipher, ProgramKeyRoundTripsAndTouchesOnlyWholeBlocks) {
    std::vector<uint8_t> data(2097152);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31 + 7);
    auto buf = data;
    ImageCipherEncipher(*ctx, buf.data(), buf.size());
    EXPECT_NE(buf, data);
    ImageCipherDecipher(*ctx, buf.data(), buf.size());
    EXPECT_EQ(buf, data);

    // A length that is not a multiple of 16: the bytes after the last whole block stay as they are.
    buf = data;
    ImageCipherEncipher(*ctx, buf.data(), 16 * 3 + 5);
    EXPECT_NE(0, std::memcmp(buf.data(), data.data(), 48));
    EXPECT_EQ(0, std::memcmp(buf.data() + 48, data.data() + 48, data.size() - 48));

    // Length 0 leaves the buffer unchanged, in either direction.
    buf = data;
    ImageCipherDecipher(*ctx, buf.data(), 0);
    ImageCipherEncipher(*ctx, buf.data(), 0);
    EXPECT_EQ(buf, data);
}
