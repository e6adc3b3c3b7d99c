#include "sim/SimImage.h"

#include <cstring>

#include <zlib.h>

namespace kestrel::sim {
namespace {

constexpr char kMagic[8] = {'K', 'S', 'I', 'M', 'F', 'W', '1', '\0'};

void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }

std::string Trim(std::string s) {
    while (!s.empty() && (static_cast<unsigned char>(s.back()) <= 0x20)) s.pop_back();
    size_t a = 0;
    while (a < s.size() && static_cast<unsigned char>(s[a]) <= 0x20) ++a;
    return s.substr(a);
}

uint32_t Crc(std::span<const uint8_t> bytes) {
    uLong c = crc32(0L, Z_NULL, 0);
    size_t off = 0;
    while (off < bytes.size()) {
        const uInt n = static_cast<uInt>(std::min<size_t>(bytes.size() - off, 1u << 30));
        c = crc32(c, bytes.data() + off, n);
        off += n;
    }
    return static_cast<uint32_t>(c);
}

}  // namespace

std::vector<uint8_t> BuildSimImage(const SimImageSpec& spec, std::string& why) {
    std::string models;
    for (const auto& m : spec.models) {
        if (m.empty() || m.find('|') != std::string::npos) {
            why = "model names must be non-empty and must not contain '|'";
            return {};
        }
        models += (models.empty() ? "" : "|") + m;
    }
    if (models.size() > 64) {
        why = "the model list is longer than 64 bytes";
        return {};
    }
    if (spec.revision.empty() || spec.revision.size() > 8 || spec.extRevision.size() > 8) {
        why = "revision must be 1 to 8 characters and the extended revision at most 8";
        return {};
    }
    std::vector<uint8_t> img(kSimImageHeaderSize + spec.payloadSize, 0);
    std::memcpy(img.data(), kMagic, 8);
    Put32(&img[8], kSimImageHeaderSize);
    Put32(&img[12], spec.payloadSize);
    std::memset(&img[16], ' ', 16);
    std::memcpy(&img[16], spec.revision.data(), spec.revision.size());
    std::memcpy(&img[24], spec.extRevision.data(), spec.extRevision.size());
    std::memcpy(&img[32], models.data(), models.size());
    uint32_t x = spec.seed * 2654435761u + 1;
    for (size_t i = kSimImageHeaderSize; i < img.size(); ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        img[i] = static_cast<uint8_t>(x);
    }
    Put32(&img[100], Crc(img));
    return img;
}

std::optional<SimImageInfo> ParseSimImage(std::span<const uint8_t> bytes, std::string& why) {
    if (bytes.size() < kSimImageHeaderSize || std::memcmp(bytes.data(), kMagic, 8) != 0) {
        why = "no image header";
        return std::nullopt;
    }
    const uint32_t hdr = Get32(&bytes[8]);
    const uint32_t payload = Get32(&bytes[12]);
    if (hdr != kSimImageHeaderSize || payload > bytes.size() - kSimImageHeaderSize) {
        why = "image is truncated";
        return std::nullopt;
    }
    std::vector<uint8_t> copy(bytes.begin(), bytes.begin() + kSimImageHeaderSize + payload);
    const uint32_t stored = Get32(&copy[100]);
    Put32(&copy[100], 0);
    if (Crc(copy) != stored) {
        why = "checksum mismatch";
        return std::nullopt;
    }
    SimImageInfo info;
    info.payloadSize = payload;
    info.totalSize = kSimImageHeaderSize + payload;
    info.revision = Trim(std::string(reinterpret_cast<const char*>(&bytes[16]), 8));
    info.extRevision = Trim(std::string(reinterpret_cast<const char*>(&bytes[24]), 8));
    const std::string models(reinterpret_cast<const char*>(&bytes[32]), strnlen(reinterpret_cast<const char*>(&bytes[32]), 64));
    size_t pos = 0;
    while (pos <= models.size() && !models.empty()) {
        const size_t bar = models.find('|', pos);
        info.models.push_back(models.substr(pos, bar == std::string::npos ? std::string::npos : bar - pos));
        if (bar == std::string::npos) break;
        pos = bar + 1;
    }
    return info;
}

bool SimImageFits(const SimImageInfo& info, const std::string& model) {
    const std::string m = Trim(model);
    for (const auto& name : info.models) {
        if (!name.empty() && name.back() == '*') {
            if (m.compare(0, name.size() - 1, name, 0, name.size() - 1) == 0) return true;
        } else if (m == name) {
            return true;
        }
    }
    return false;
}

}  // namespace kestrel::sim
