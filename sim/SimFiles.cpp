#include "sim/SimFiles.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

namespace kestrel::sim {

std::string NormaliseWindowsPath(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == '/') c = '\\';
        if (c == '\\' && !out.empty() && out.back() == '\\' && out.size() > 1) continue;
        out += c;
    }
    return out;
}

std::string SimFiles::Key(const std::string& path) {
    std::string k = NormaliseWindowsPath(path);
    while (k.size() > 3 && k.back() == '\\') k.pop_back();
    std::transform(k.begin(), k.end(), k.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return k;
}

std::string SimFiles::Parent(const std::string& key) {
    const size_t p = key.rfind('\\');
    if (p == std::string::npos) return {};
    if (p == 2 && key.size() > 1 && key[1] == ':') return key.substr(0, 3);
    return key.substr(0, p);
}

std::string SimFiles::Resolve(const std::string& pathIn) const {
    std::string path = pathIn;
    const bool rooted = !path.empty() && (path[0] == '\\' || path[0] == '/');
    const bool unc = path.size() > 1 && (path[1] == '\\' || path[1] == '/');
    if (rooted && !unc && dirs_.current.size() >= 2 && dirs_.current[1] == ':') path = dirs_.current.substr(0, 2) + path;
    if (dirs_.wow64Process) {
        const std::string system32 = Key(dirs_.windows + "\\System32");
        const std::string k = Key(path);
        if (k == system32 || k.rfind(system32 + "\\", 0) == 0)
            path = NormaliseWindowsPath(dirs_.windows + "\\SysWOW64" + NormaliseWindowsPath(path).substr(system32.size()));
    }
    return path;
}

SimFiles::SimFiles(SimDirectories dirs, std::optional<std::filesystem::path> stateDir)
    : dirs_(std::move(dirs)), state_(std::move(stateDir)) {
    // The machine's standard directories and every folder above them exist.
    std::vector<std::string> standard = {dirs_.temp, dirs_.system, dirs_.windows, Parent(Key(dirs_.module)), dirs_.current};
    if (dirs_.windows64) standard.push_back(dirs_.windows + "\\SysWOW64");
    for (const std::string& d : standard) {
        for (std::string k = Key(d); !k.empty(); k = Parent(k)) {
            dirsSet_.insert(k);
            if (k.size() <= 3) break;
        }
    }
    if (state_) LoadState();
}

bool SimFiles::DirExists(const std::string& key) const { return key.empty() || dirsSet_.count(key) != 0; }

std::optional<std::filesystem::path> SimFiles::HostPath(const std::string& pathIn) const {
    const std::string path = Resolve(pathIn);
    if (!state_) return std::nullopt;
    const std::string p = NormaliseWindowsPath(path);
    if (p.size() < 3 || p[1] != ':') return std::nullopt;
    std::filesystem::path host = *state_ / "files" / std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(p[0]))));
    std::stringstream ss(p.substr(3));
    std::string part;
    while (std::getline(ss, part, '\\'))
        if (!part.empty()) host /= part;
    return host;
}

void SimFiles::Persist(const Entry& e) {
    const auto host = HostPath(e.path);
    if (!host) return;
    std::error_code ec;
    std::filesystem::create_directories(host->parent_path(), ec);
    std::ofstream out(*host, std::ios::binary | std::ios::trunc);
    out.write(e.bytes.data(), static_cast<std::streamsize>(e.bytes.size()));
}

void SimFiles::LoadState() {
    const std::filesystem::path root = *state_ / "files";
    std::error_code ec;
    if (!std::filesystem::is_directory(root, ec)) return;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec); it != std::filesystem::recursive_directory_iterator(); ++it) {
        const auto rel = std::filesystem::relative(it->path(), root, ec);
        std::string win;
        bool first = true;
        for (const auto& part : rel) {
            win += first ? part.string() + ":\\" : part.string() + "\\";
            first = false;
        }
        if (!win.empty() && win.back() == '\\' && win.size() > 3) win.pop_back();
        if (it->is_directory()) {
            dirsSet_.insert(Key(win));
        } else {
            std::ifstream in(it->path(), std::ios::binary);
            std::stringstream buf;
            buf << in.rdbuf();
            files_[Key(win)] = Entry{win, buf.str()};
            for (std::string k = Parent(Key(win)); !k.empty(); k = Parent(k)) {
                dirsSet_.insert(k);
                if (k.size() <= 3) break;
            }
        }
    }
}

bool SimFiles::AppendToFile(const std::string& pathIn, std::string_view bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string path = Resolve(pathIn);
    const std::string k = Key(path);
    if (protected_.count(k) || !DirExists(Parent(k)) || dirsSet_.count(k)) return false;
    auto it = files_.find(k);
    if (it == files_.end()) it = files_.emplace(k, Entry{NormaliseWindowsPath(path), {}}).first;
    it->second.bytes.append(bytes.data(), bytes.size());
    // Only the new bytes go to the host file: rewriting it per line made a long log quadratic.
    if (const auto host = HostPath(it->second.path)) {
        std::error_code ec;
        std::filesystem::create_directories(host->parent_path(), ec);
        std::ofstream out(*host, std::ios::binary | std::ios::app);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    return true;
}

bool SimFiles::WriteWholeFile(const std::string& pathIn, std::string_view bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string path = Resolve(pathIn);
    const std::string k = Key(path);
    if (protected_.count(k) || !DirExists(Parent(k)) || dirsSet_.count(k)) return false;
    Entry& e = files_[k];
    if (e.path.empty()) e.path = NormaliseWindowsPath(path);
    e.bytes.assign(bytes.data(), bytes.size());
    Persist(e);
    return true;
}

std::optional<std::string> SimFiles::ReadWholeFile(const std::string& pathIn) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string path = Resolve(pathIn);
    const auto it = files_.find(Key(path));
    if (it == files_.end()) return std::nullopt;
    return it->second.bytes;
}

bool SimFiles::DeleteFile(const std::string& pathIn) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string path = Resolve(pathIn);
    const auto it = files_.find(Key(path));
    if (it == files_.end() || protected_.count(it->first)) return false;
    if (const auto host = HostPath(it->second.path)) {
        std::error_code ec;
        std::filesystem::remove(*host, ec);
    }
    files_.erase(it);
    return true;
}

bool SimFiles::FileExists(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    return files_.count(Key(Resolve(path))) != 0;
}

bool SimFiles::CreateDirectory(const std::string& pathIn) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string path = Resolve(pathIn);
    const std::string k = Key(path);
    if (dirsSet_.count(k) || files_.count(k) || !DirExists(Parent(k))) return false;
    dirsSet_.insert(k);
    if (const auto host = HostPath(path)) {
        std::error_code ec;
        std::filesystem::create_directories(*host, ec);
    }
    return true;
}

std::map<std::string, std::string> SimFiles::Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::map<std::string, std::string> out;
    for (const auto& [k, e] : files_) out[e.path] = e.bytes;
    return out;
}

}  // namespace kestrel::sim
