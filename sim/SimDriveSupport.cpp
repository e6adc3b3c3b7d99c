#include "sim/SimDriveSupport.h"

#include <fstream>
#include <stdexcept>

namespace kestrel::sim::drive {

using nlohmann::json;

void Bad(const std::string& field, const std::string& why) {
    throw std::runtime_error("machine description: drive." + field + ": " + why);
}

int Number(const json& v, const std::string& field) {
    if (v.is_number_integer()) return v.get<int>();
    if (v.is_string()) {
        const std::string s = v.get<std::string>();
        try {
            if (!s.empty() && (s.back() == 'h' || s.back() == 'H')) return static_cast<int>(std::stoul(s.substr(0, s.size() - 1), nullptr, 16));
            return static_cast<int>(std::stoul(s, nullptr, 0));
        } catch (const std::exception&) {
        }
    }
    Bad(field, "expected a number (or a text like \"92h\" or \"0x92\")");
}

namespace {

json LoadAll(const std::filesystem::path& stateDir) {
    std::ifstream in(stateDir / "drives.json");
    if (!in) return json::object();
    json s = json::parse(in, nullptr, false);
    return s.is_object() ? s : json::object();
}

}  // namespace

json LoadState(const std::filesystem::path& stateDir, const std::string& serial) {
    const json all = LoadAll(stateDir);
    const auto it = all.find(serial);
    return it != all.end() && it->is_object() ? *it : json::object();
}

void SaveState(const std::filesystem::path& stateDir, const std::string& serial, const json& state) {
    std::error_code ec;
    std::filesystem::create_directories(stateDir, ec);
    json all = LoadAll(stateDir);
    all[serial] = state;
    // Written beside and renamed over, so a run stopped half-way never leaves a torn state file.
    const std::filesystem::path tmp = stateDir / "drives.json.tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << all.dump(2) << "\n";
        if (!out) throw std::runtime_error("cannot write " + tmp.string());
    }
    std::filesystem::rename(tmp, stateDir / "drives.json");
}

}  // namespace kestrel::sim::drive
