#pragma once
// What the simulated drives and controllers share: little-endian reads and writes at raw offsets
// (never the program's structures), the drive description's number fields, and the drive state
// that outlives a run (drives.json in the state folder, one object per serial number).
#include <cstdint>
#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

namespace kestrel::sim::bytes {

inline uint16_t Rd16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Rd32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
inline uint64_t Rd64(const uint8_t* p) { return Rd32(p) | (static_cast<uint64_t>(Rd32(p + 4)) << 32); }
inline void Wr16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Wr32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace kestrel::sim::bytes

namespace kestrel::sim::drive {

// A wrong field of a "drive" description.
[[noreturn]] void Bad(const std::string& field, const std::string& why);
// A number field: an integer, or a text such as "92h" or "0x92".
int Number(const nlohmann::json& v, const std::string& field);
// The drive's saved object in the state folder's drives.json; an empty object when there is none.
nlohmann::json LoadState(const std::filesystem::path& stateDir, const std::string& serial);
// Replaces the drive's object, keeping every other drive's.
void SaveState(const std::filesystem::path& stateDir, const std::string& serial, const nlohmann::json& state);

}  // namespace kestrel::sim::drive
