#include "support/ZipArchive.h"

#include <zlib.h>

namespace kestrel {
namespace {

constexpr uint32_t kLocalHeaderSignature = 0x04034b50u;
constexpr uint32_t kCentralHeaderSignature = 0x02014b50u;
constexpr uint32_t kEndRecordSignature = 0x06054b50u;
constexpr uint16_t kVersionNeeded = 20;      // deflate and traditional encryption: 2.0
constexpr uint16_t kVersionMadeBy = 20;      // host 0 (MS-DOS / FAT attributes), 2.0
constexpr uint16_t kMethodDeflate = 8;
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagFastDeflate = 0x0004;  // bits 2..1 = 10: the fast deflate option
constexpr uint32_t kAttributeArchive = 0x20;
constexpr size_t kEncryptionHeaderSize = 12;
// 0xFFFFFFFF in a size or offset field means "see the ZIP64 record", which we never write.
constexpr uint64_t kMax32 = 0xFFFFFFFEu;
constexpr uint64_t kMaxName = 0xFFFFu;

void Put16(std::string& out, uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

void Put32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

uint32_t Crc32Of(std::string_view data) {
    uLong crc = crc32(0L, Z_NULL, 0);
    const auto* p = reinterpret_cast<const Bytef*>(data.data());
    size_t left = data.size();
    while (left > 0) {
        const uInt chunk = left > 0x40000000u ? 0x40000000u : static_cast<uInt>(left);
        crc = crc32(crc, p, chunk);
        p += chunk;
        left -= chunk;
    }
    return static_cast<uint32_t>(crc);
}

// Raw deflate (no zlib or gzip wrapper), as the ZIP format stores it.
std::optional<std::string> RawDeflate(std::string_view data) {
    z_stream zs{};
    if (deflateInit2(&zs, kZipDeflateLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return std::nullopt;
    std::string out;
    out.resize(deflateBound(&zs, static_cast<uLong>(data.size() > 0xFFFFFFFFu ? 0xFFFFFFFFu : data.size())) + 64);
    const auto* in = reinterpret_cast<const Bytef*>(data.data());
    size_t inLeft = data.size();
    size_t produced = 0;
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        const uInt feed = inLeft > 0x40000000u ? 0x40000000u : static_cast<uInt>(inLeft);
        zs.next_in = const_cast<Bytef*>(in);
        zs.avail_in = feed;
        if (out.size() - produced < 65536) out.resize(out.size() + 65536 + out.size() / 4);
        const size_t room = out.size() - produced;
        zs.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
        zs.avail_out = room > 0x40000000u ? 0x40000000u : static_cast<uInt>(room);
        const uInt outBefore = zs.avail_out;
        rc = deflate(&zs, inLeft == feed ? Z_FINISH : Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
            deflateEnd(&zs);
            return std::nullopt;
        }
        const size_t consumed = feed - zs.avail_in;
        in += consumed;
        inLeft -= consumed;
        produced += outBefore - zs.avail_out;
    }
    deflateEnd(&zs);
    out.resize(produced);
    return out;
}

}  // namespace

PkwareCipher::PkwareCipher(std::string_view password) {
    for (char c : password) UpdateKeys(static_cast<uint8_t>(c));
}

void PkwareCipher::UpdateKeys(uint8_t plain) {
    const z_crc_t* table = get_crc_table();
    key0_ = static_cast<uint32_t>(table[(key0_ ^ plain) & 0xFF]) ^ (key0_ >> 8);
    key1_ = (key1_ + (key0_ & 0xFF)) * 134775813u + 1u;
    key2_ = static_cast<uint32_t>(table[(key2_ ^ (key1_ >> 24)) & 0xFF]) ^ (key2_ >> 8);
}

uint8_t PkwareCipher::KeyStreamByte() const {
    const uint32_t t = (key2_ & 0xFFFFu) | 2u;
    return static_cast<uint8_t>(((t * (t ^ 1u)) >> 8) & 0xFF);
}

uint8_t PkwareCipher::Encrypt(uint8_t plain) {
    const uint8_t c = static_cast<uint8_t>(plain ^ KeyStreamByte());
    UpdateKeys(plain);
    return c;
}

uint8_t PkwareCipher::Decrypt(uint8_t cipher) {
    const uint8_t p = static_cast<uint8_t>(cipher ^ KeyStreamByte());
    UpdateKeys(p);
    return p;
}

DosStamp ToDosStamp(const LocalTime& t) {
    if (t.year < 1980 || t.year > 2107 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31)
        return DosStamp{0, static_cast<uint16_t>((1 << 5) | 1)};
    DosStamp s;
    s.time = static_cast<uint16_t>(((t.hour % 24) << 11) | ((t.minute % 60) << 5) | ((t.second % 60) / 2));
    s.date = static_cast<uint16_t>(((t.year - 1980) << 9) | (t.month << 5) | t.day);
    return s;
}

std::optional<std::string> BuildZipArchive(const ZipEntrySpec& entry) {
    if (entry.name.empty() || entry.name.size() > kMaxName || entry.data.size() > kMax32) return std::nullopt;
    const uint32_t crc = Crc32Of(entry.data);
    const bool encrypted = !entry.password.empty();

    // Deflate is kept even when it does not shrink the data: one method for every archive.
    std::optional<std::string> body = RawDeflate(entry.data);
    if (!body) return std::nullopt;
    const uint16_t method = kMethodDeflate;

    if (encrypted) {
        std::string sealed;
        sealed.reserve(kEncryptionHeaderSize + body->size());
        PkwareCipher cipher(entry.password);
        for (uint8_t b : entry.headerRandom) sealed += static_cast<char>(cipher.Encrypt(b));
        // Without a data descriptor the check byte is the high byte of the CRC.
        sealed += static_cast<char>(cipher.Encrypt(static_cast<uint8_t>(crc >> 24)));
        for (char b : *body) sealed += static_cast<char>(cipher.Encrypt(static_cast<uint8_t>(b)));
        body = std::move(sealed);
    }
    if (body->size() > kMax32) return std::nullopt;

    const uint16_t flags = static_cast<uint16_t>((encrypted ? kFlagEncrypted : 0) | kFlagFastDeflate);
    const auto nameLen = static_cast<uint16_t>(entry.name.size());
    const auto packed = static_cast<uint32_t>(body->size());
    const auto plainSize = static_cast<uint32_t>(entry.data.size());

    std::string out;
    out.reserve(30 + entry.name.size() + body->size() + 46 + entry.name.size() + 22);
    Put32(out, kLocalHeaderSignature);
    Put16(out, kVersionNeeded);
    Put16(out, flags);
    Put16(out, method);
    Put16(out, entry.stamp.time);
    Put16(out, entry.stamp.date);
    Put32(out, crc);
    Put32(out, packed);
    Put32(out, plainSize);
    Put16(out, nameLen);
    Put16(out, 0);  // extra field length
    out += entry.name;
    out += *body;

    const uint64_t centralOffset = out.size();
    if (centralOffset > kMax32) return std::nullopt;
    Put32(out, kCentralHeaderSignature);
    Put16(out, kVersionMadeBy);
    Put16(out, kVersionNeeded);
    Put16(out, flags);
    Put16(out, method);
    Put16(out, entry.stamp.time);
    Put16(out, entry.stamp.date);
    Put32(out, crc);
    Put32(out, packed);
    Put32(out, plainSize);
    Put16(out, nameLen);
    Put16(out, 0);  // extra field length
    Put16(out, 0);  // comment length
    Put16(out, 0);  // disk number start
    Put16(out, 0);  // internal attributes
    Put32(out, kAttributeArchive);
    Put32(out, 0);  // the local header's offset
    out += entry.name;
    const uint64_t centralSize = out.size() - centralOffset;

    Put32(out, kEndRecordSignature);
    Put16(out, 0);  // this disk
    Put16(out, 0);  // disk of the central directory
    Put16(out, 1);  // entries on this disk
    Put16(out, 1);  // entries in all
    Put32(out, static_cast<uint32_t>(centralSize));
    Put32(out, static_cast<uint32_t>(centralOffset));
    Put16(out, 0);  // comment length
    return out;
}

}  // namespace kestrel
