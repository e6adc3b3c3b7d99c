#pragma once
// A one-entry ZIP archive with the traditional PKWARE password encryption ("ZipCrypto"), raw
// deflate from zlib. Built in memory: local header, encrypted data, central directory, end record.
// No ZIP64: an entry that does not fit the 32-bit fields is refused. The traditional encryption is
// the one every common reader opens (Explorer, 7-Zip, Info-ZIP unzip, Python's zipfile).
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Clock.h"

namespace kestrel {

// The three-key stream cipher of the traditional encryption.
class PkwareCipher {
public:
    explicit PkwareCipher(std::string_view password);
    uint8_t Encrypt(uint8_t plain);
    uint8_t Decrypt(uint8_t cipher);

private:
    uint8_t KeyStreamByte() const;
    void UpdateKeys(uint8_t plain);
    uint32_t key0_ = 0x12345678u, key1_ = 0x23456789u, key2_ = 0x34567890u;
};

// MS-DOS date and time of a local time; years before 1980 become 1 January 1980, 00:00.
struct DosStamp {
    uint16_t time = 0;
    uint16_t date = 0;
};
DosStamp ToDosStamp(const LocalTime& t);

struct ZipEntrySpec {
    std::string_view name;      // stored unchanged
    std::string_view data;      // the file's bytes
    std::string_view password;  // empty: stored without encryption
    DosStamp stamp;
    // The first eleven bytes of the encryption header; the twelfth is the check byte.
    std::array<uint8_t, 11> headerRandom{};
};

// Deflate level used: zlib's fastest.
constexpr int kZipDeflateLevel = 1;

// The whole archive, or nullopt when the entry does not fit without ZIP64 or zlib fails.
std::optional<std::string> BuildZipArchive(const ZipEntrySpec& entry);

}  // namespace kestrel
