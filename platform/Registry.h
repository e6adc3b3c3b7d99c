#pragma once
// Registry keys under HKEY_LOCAL_MACHINE, shaped after RegCreateKeyExA / RegOpenKeyExA /
// RegQueryValueExA / RegSetValueExA. Paths are used literally (a "WOW6432Node" in a path is part of
// the path, not a redirection).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {

using RegKey = uint64_t;  // 0 is never a valid key
constexpr uint32_t REG_SZ_TYPE = 1;
constexpr uint32_t REG_EXPAND_SZ_TYPE = 2;
constexpr uint32_t REG_BINARY_TYPE = 3;
constexpr uint32_t REG_DWORD_TYPE = 4;
constexpr uint32_t REG_MULTI_SZ_TYPE = 7;

// Access masks as Windows defines them.
constexpr uint32_t KEY_QUERY_VALUE_ACCESS = 0x0001;
constexpr uint32_t KEY_SET_VALUE_ACCESS = 0x0002;
constexpr uint32_t KEY_READ_ACCESS = 0x20019;
constexpr uint32_t KEY_WRITE_ACCESS = 0x20006;
constexpr uint32_t KEY_ALL_ACCESS_MASK = 0xF003F;
constexpr uint32_t KEY_WOW64_64KEY_FLAG = 0x0100;

struct RegValue {
    uint32_t type = 0;
    std::vector<uint8_t> data;  // as stored: REG_SZ data includes its terminating zero when written so
};

class IRegistry {
public:
    virtual ~IRegistry() = default;
    // Windows error code (0 on success) and the key.
    virtual uint32_t CreateKey(const std::string& path, uint32_t access, RegKey& key) = 0;
    virtual uint32_t OpenKey(const std::string& path, uint32_t access, RegKey& key) = 0;
    // capacity: the caller's buffer size; a larger value answers ERROR_MORE_DATA (234) and no data.
    virtual uint32_t QueryValue(RegKey key, const std::string& name, size_t capacity, RegValue& value) = 0;
    virtual uint32_t SetValue(RegKey key, const std::string& name, const RegValue& value) = 0;
    virtual uint32_t DeleteValue(RegKey key, const std::string& name) = 0;
    virtual void CloseKey(RegKey key) = 0;
};

}  // namespace kestrel
