#pragma once
// Firmware images for the simulated drives. A simulated drive checks the header of what it was
// sent: which models the image fits, the revision and extended revision it installs, and a CRC-32
// over the whole image. Layout (little-endian, 128-byte header, then the payload):
//   0  magic "KSIMFW1\0"        8  header size (128)       12 payload size
//  16  revision, 8 bytes, blank-padded                      24 extended revision, 8 bytes
//  32  models, 64 bytes: names separated by '|', NUL-padded; a name ending in '*' matches by prefix
//  96  flags (0)              100  CRC-32 of header (this field zero) and payload   104..127 zero
// The image sent to a drive is padded with zero bytes to a multiple of 512; the drive ignores the
// padding after header size + payload size.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kestrel::sim {

constexpr size_t kSimImageHeaderSize = 128;

struct SimImageSpec {
    std::vector<std::string> models;
    std::string revision;     // at most 8 characters
    std::string extRevision;  // at most 8 characters
    uint32_t payloadSize = 4096;
    uint32_t seed = 1;  // the payload is a deterministic pseudo-random sequence
};

struct SimImageInfo {
    std::vector<std::string> models;
    std::string revision;
    std::string extRevision;
    uint32_t payloadSize = 0;
    uint32_t totalSize = 0;  // header + payload
};

// Empty with why set when the spec cannot be encoded (a field too long).
std::vector<uint8_t> BuildSimImage(const SimImageSpec& spec, std::string& why);
// nullopt with why set when the bytes are not a whole, intact image.
std::optional<SimImageInfo> ParseSimImage(std::span<const uint8_t> bytes, std::string& why);
// Whether a drive of this model (trimmed) may take the image.
bool SimImageFits(const SimImageInfo& info, const std::string& model);

}  // namespace kestrel::sim
