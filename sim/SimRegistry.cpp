#include "sim/SimRegistry.h"

#include <algorithm>
#include <fstream>

#include <nlohmann/json.hpp>

namespace kestrel::sim {
namespace {

constexpr uint32_t ERROR_FILE_NOT_FOUND_CODE = 2;
constexpr uint32_t ERROR_INVALID_HANDLE_CODE = 6;
constexpr uint32_t ERROR_ACCESS_DENIED_CODE = 5;
constexpr uint32_t ERROR_MORE_DATA_CODE = 234;

std::string Hex(const std::vector<uint8_t>& d) {
    static const char* h = "0123456789abcdef";
    std::string s;
    for (uint8_t b : d) {
        s += h[b >> 4];
        s += h[b & 15];
    }
    return s;
}

std::vector<uint8_t> Unhex(const std::string& s) {
    std::vector<uint8_t> d;
    for (size_t i = 0; i + 1 < s.size(); i += 2) d.push_back(static_cast<uint8_t>(std::stoi(s.substr(i, 2), nullptr, 16)));
    return d;
}

uint32_t TypeFromName(const std::string& n) {
    if (n == "REG_SZ") return REG_SZ_TYPE;
    if (n == "REG_EXPAND_SZ") return REG_EXPAND_SZ_TYPE;
    if (n == "REG_BINARY") return REG_BINARY_TYPE;
    if (n == "REG_DWORD") return REG_DWORD_TYPE;
    if (n == "REG_MULTI_SZ") return REG_MULTI_SZ_TYPE;
    return 0;
}

std::string StripRoot(std::string p) {
    for (const char* root : {"HKEY_LOCAL_MACHINE\\", "HKLM\\"})
        if (p.rfind(root, 0) == 0) p = p.substr(std::char_traits<char>::length(root));
    while (!p.empty() && p.back() == '\\') p.pop_back();
    return p;
}

}  // namespace

SimRegistry::SimRegistry(std::optional<std::filesystem::path> stateFile) : stateFile_(std::move(stateFile)) {
    if (stateFile_) LoadState();
}

std::string SimRegistry::Lower(const std::string& s) {
    std::string r = s;
    std::transform(r.begin(), r.end(), r.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return r;
}

void SimRegistry::Load(const nlohmann::json& keys) {
    for (const auto& [path, values] : keys.items()) {
        Key& k = keys_[Lower(StripRoot(path))];
        k.path = StripRoot(path);
        for (const auto& [name, v] : values.items()) {
            RegValue rv;
            if (v.is_string()) {
                rv.type = REG_SZ_TYPE;
                const std::string s = v.get<std::string>();
                rv.data.assign(s.begin(), s.end());
                rv.data.push_back(0);
            } else if (v.is_array()) {
                // A list of strings is REG_MULTI_SZ: each string with its zero, and the closing zero.
                rv.type = REG_MULTI_SZ_TYPE;
                for (const auto& item : v) {
                    const std::string s = item.get<std::string>();
                    rv.data.insert(rv.data.end(), s.begin(), s.end());
                    rv.data.push_back(0);
                }
                rv.data.push_back(0);
            } else if (v.is_number_integer()) {
                rv.type = REG_DWORD_TYPE;
                const uint32_t d = v.get<uint32_t>();
                for (int i = 0; i < 4; ++i) rv.data.push_back(static_cast<uint8_t>(d >> (8 * i)));
            } else {
                rv.type = TypeFromName(v.value("type", "REG_BINARY"));
                if (v.contains("hex")) rv.data = Unhex(v["hex"].get<std::string>());
                if (v.contains("text")) {
                    const std::string s = v["text"].get<std::string>();
                    rv.data.assign(s.begin(), s.end());
                    rv.data.push_back(0);
                }
            }
            k.values[Lower(name)] = {name, rv};
        }
    }
}

void SimRegistry::LoadState() {
    std::ifstream in(*stateFile_);
    if (!in) return;
    nlohmann::json j = nlohmann::json::parse(in, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return;
    for (const auto& [path, values] : j.items()) {
        Key& k = keys_[Lower(path)];
        k.path = path;
        for (const auto& [name, v] : values.items()) {
            RegValue rv;
            rv.type = v.value("type", 0u);
            rv.data = Unhex(v.value("hex", std::string()));
            k.values[Lower(name)] = {name, rv};
        }
    }
}

void SimRegistry::Save() const {
    if (!stateFile_) return;
    nlohmann::json j = nlohmann::json::object();
    for (const auto& [lk, k] : keys_) {
        nlohmann::json vals = nlohmann::json::object();
        for (const auto& [ln, nv] : k.values) vals[nv.first] = {{"type", nv.second.type}, {"hex", Hex(nv.second.data)}};
        j[k.path] = vals;
    }
    std::error_code ec;
    std::filesystem::create_directories(stateFile_->parent_path(), ec);
    std::ofstream(*stateFile_) << j.dump(2) << "\n";
}

uint32_t SimRegistry::CreateKey(const std::string& path, uint32_t access, RegKey& key) {
    requests_.emplace_back(path, access);
    const std::string p = StripRoot(path);
    // Every key on the way is created too, as RegCreateKeyEx does.
    std::string sofar;
    size_t pos = 0;
    while (pos <= p.size()) {
        size_t next = p.find('\\', pos);
        if (next == std::string::npos) next = p.size();
        sofar = p.substr(0, next);
        Key& k = keys_[Lower(sofar)];
        if (k.path.empty()) k.path = sofar;
        pos = next + 1;
    }
    key = next_++;
    handles_[key] = Lower(p);
    Save();
    return 0;
}

void SimRegistry::SetFault(const std::string& path, uint32_t openError, uint32_t setError) {
    faults_[Lower(StripRoot(path))] = {openError, setError};
}

uint32_t SimRegistry::OpenKey(const std::string& path, uint32_t access, RegKey& key) {
    requests_.emplace_back(path, access);
    const std::string lp = Lower(StripRoot(path));
    if (!keys_.count(lp)) return ERROR_FILE_NOT_FOUND_CODE;
    // KEY_SET_VALUE, KEY_CREATE_SUB_KEY, KEY_CREATE_LINK, DELETE, WRITE_DAC, WRITE_OWNER.
    constexpr uint32_t kWriteBits = 0x0002 | 0x0004 | 0x0020 | 0x10000 | 0x40000 | 0x80000;
    if (const auto f = faults_.find(lp); f != faults_.end() && f->second.first != 0 && (access & kWriteBits) != 0)
        return f->second.first;
    key = next_++;
    handles_[key] = lp;
    return 0;
}

uint32_t SimRegistry::QueryValue(RegKey key, const std::string& name, size_t capacity, RegValue& value) {
    const auto h = handles_.find(key);
    if (h == handles_.end()) return ERROR_INVALID_HANDLE_CODE;
    const Key& k = keys_[h->second];
    const auto v = k.values.find(Lower(name));
    if (v == k.values.end()) return ERROR_FILE_NOT_FOUND_CODE;
    if (v->second.second.data.size() > capacity) return ERROR_MORE_DATA_CODE;
    value = v->second.second;
    return 0;
}

uint32_t SimRegistry::SetValue(RegKey key, const std::string& name, const RegValue& value) {
    const auto h = handles_.find(key);
    if (h == handles_.end()) return ERROR_INVALID_HANDLE_CODE;
    if (value.type == 0) return ERROR_ACCESS_DENIED_CODE;
    if (const auto f = faults_.find(h->second); f != faults_.end() && f->second.second != 0) return f->second.second;
    keys_[h->second].values[Lower(name)] = {name, value};
    Save();
    return 0;
}

uint32_t SimRegistry::DeleteValue(RegKey key, const std::string& name) {
    const auto h = handles_.find(key);
    if (h == handles_.end()) return ERROR_INVALID_HANDLE_CODE;
    if (keys_[h->second].values.erase(Lower(name)) == 0) return ERROR_FILE_NOT_FOUND_CODE;
    Save();
    return 0;
}

void SimRegistry::CloseKey(RegKey key) { handles_.erase(key); }

bool SimRegistry::KeyExists(const std::string& path) const { return keys_.count(Lower(StripRoot(path))) != 0; }

std::optional<RegValue> SimRegistry::Get(const std::string& path, const std::string& name) const {
    const auto k = keys_.find(Lower(StripRoot(path)));
    if (k == keys_.end()) return std::nullopt;
    const auto v = k->second.values.find(Lower(name));
    if (v == k->second.values.end()) return std::nullopt;
    return v->second.second;
}

void SimRegistry::Put(const std::string& path, const std::string& name, const RegValue& value) {
    RegKey h = 0;
    CreateKey(path, KEY_ALL_ACCESS_MASK, h);
    SetValue(h, name, value);
    CloseKey(h);
}

}  // namespace kestrel::sim
