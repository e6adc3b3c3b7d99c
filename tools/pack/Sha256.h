#pragma once
// SHA-256 (FIPS 180-4), for the image digests that `kestrel-pack show` reports.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kestrel::pack {

class Sha256 {
public:
    Sha256();
    void Update(std::span<const uint8_t> data);
    std::array<uint8_t, 32> Final();

private:
    void Block(const uint8_t* p);
    uint32_t h_[8];
    uint8_t buf_[64];
    size_t used_ = 0;
    uint64_t total_ = 0;
};

// The digest of data as 64 lower-case hexadecimal digits.
std::string Sha256Hex(std::span<const uint8_t> data);

}  // namespace kestrel::pack
