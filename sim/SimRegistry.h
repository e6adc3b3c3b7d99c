#pragma once
// The simulated registry under HKEY_LOCAL_MACHINE: key paths are case-insensitive and used
// literally. With a state folder every change is written to <state>/registry.json.
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "platform/Registry.h"

namespace kestrel::sim {

class SimRegistry : public IRegistry {
public:
    explicit SimRegistry(std::optional<std::filesystem::path> stateFile);

    // Machine description: {"KEY\\PATH": {"Value": "text" | 123 | ["a", "b"] | {"type": "REG_BINARY", "hex": "00ff"}}}
    void Load(const nlohmann::json& keys);
    // A key that refuses: opens asking for write access fail with openError, value sets with
    // setError (0: no fault), as a guarded key answers.
    void SetFault(const std::string& path, uint32_t openError, uint32_t setError);

    uint32_t CreateKey(const std::string& path, uint32_t access, RegKey& key) override;
    uint32_t OpenKey(const std::string& path, uint32_t access, RegKey& key) override;
    uint32_t QueryValue(RegKey key, const std::string& name, size_t capacity, RegValue& value) override;
    uint32_t SetValue(RegKey key, const std::string& name, const RegValue& value) override;
    uint32_t DeleteValue(RegKey key, const std::string& name) override;
    void CloseKey(RegKey key) override;

    // For tests and the state file.
    bool KeyExists(const std::string& path) const;
    std::optional<RegValue> Get(const std::string& path, const std::string& name) const;
    void Put(const std::string& path, const std::string& name, const RegValue& value);
    // Access masks the program asked for, in order (a test checks them).
    const std::vector<std::pair<std::string, uint32_t>>& Requests() const { return requests_; }
    size_t OpenHandles() const { return handles_.size(); }

private:
    struct Key {
        std::string path;
        std::map<std::string, std::pair<std::string, RegValue>> values;  // lower-case name -> (name, value)
    };
    static std::string Lower(const std::string& s);
    void Save() const;
    void LoadState();

    std::optional<std::filesystem::path> stateFile_;
    std::map<std::string, Key> keys_;
    std::map<RegKey, std::string> handles_;
    RegKey next_ = 0x80000100;
    std::vector<std::pair<std::string, uint32_t>> requests_;
    std::map<std::string, std::pair<uint32_t, uint32_t>> faults_;
};

}  // namespace kestrel::sim
