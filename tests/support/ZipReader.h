#pragma once
// A small reader for one-entry ZIP archives with the traditional encryption: a second, independent
// path from the archive bytes back to the file, for tests that run in-process.
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include <zlib.h>

#include "support/ZipArchive.h"

namespace kestrel::test {

struct ZipRead {
    std::string name;
    std::string data;
    std::string error;  // empty when the entry was read and its CRC matched
};

inline ZipRead ReadOneEntryZip(const std::string& zip, const std::string& password) {
    ZipRead r;
    auto u16 = [&](size_t at) -> uint32_t {
        return at + 2 <= zip.size() ? static_cast<uint32_t>(static_cast<uint8_t>(zip[at]) | static_cast<uint8_t>(zip[at + 1]) << 8) : 0;
    };
    auto u32 = [&](size_t at) -> uint32_t { return u16(at) | u16(at + 2) << 16; };
    if (zip.size() < 22 || u32(zip.size() - 22) != 0x06054b50u) return {{}, {}, "no end record"};
    const size_t eocd = zip.size() - 22;
    if (u16(eocd + 10) != 1) return {{}, {}, "not one entry"};
    const size_t cd = u32(eocd + 16);
    if (cd + 46 > zip.size() || u32(cd) != 0x02014b50u) return {{}, {}, "no central header"};
    const uint32_t flags = u16(cd + 8), method = u16(cd + 10), crc = u32(cd + 16), packed = u32(cd + 20), size = u32(cd + 24);
    const size_t lh = u32(cd + 42);
    if (lh + 30 > zip.size() || u32(lh) != 0x04034b50u) return {{}, {}, "no local header"};
    if (u32(lh + 14) != crc || u32(lh + 18) != packed || u32(lh + 22) != size || u16(lh + 6) != flags)
        return {{}, {}, "local and central headers disagree"};
    const size_t nameLen = u16(lh + 26), extraLen = u16(lh + 28);
    const size_t dataAt = lh + 30 + nameLen + extraLen;
    if (dataAt + packed > cd) return {{}, {}, "data runs into the central directory"};
    r.name = zip.substr(lh + 30, nameLen);
    std::string body = zip.substr(dataAt, packed);
    if (flags & 1) {
        if (body.size() < 12) return {r.name, {}, "short encryption header"};
        PkwareCipher c(password);
        for (char& b : body) b = static_cast<char>(c.Decrypt(static_cast<uint8_t>(b)));
        if (static_cast<uint8_t>(body[11]) != (crc >> 24)) return {r.name, {}, "wrong password"};
        body.erase(0, 12);
    }
    if (method != 8) return {r.name, {}, "not deflated"};
    z_stream zs{};
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return {r.name, {}, "inflateInit2"};
    r.data.resize(size);
    zs.next_in = reinterpret_cast<Bytef*>(body.data());
    zs.avail_in = static_cast<uInt>(body.size());
    zs.next_out = reinterpret_cast<Bytef*>(r.data.data());
    zs.avail_out = static_cast<uInt>(r.data.size());
    const int rc = inflate(&zs, Z_FINISH);
    const bool whole = rc == Z_STREAM_END && zs.avail_out == 0;
    inflateEnd(&zs);
    if (!whole) return {r.name, {}, "inflate"};
    if (crc32(0L, reinterpret_cast<const Bytef*>(r.data.data()), static_cast<uInt>(r.data.size())) != crc)
        return {r.name, {}, "crc"};
    return r;
}

}  // namespace kestrel::test
