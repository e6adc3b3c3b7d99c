#include "sim/SimMachine.h"

#include "sim/SimDisks.h"
#include "support/Format.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace kestrel::sim {
namespace {

using nlohmann::json;

[[noreturn]] void Bad(const std::string& field, const std::string& why) {
    throw std::runtime_error("machine description: " + field + ": " + why);
}

template <typename T>
T Get(const json& obj, const char* key, const T& fallback, const std::string& where) {
    if (!obj.contains(key)) return fallback;
    try {
        return obj.at(key).get<T>();
    } catch (const json::exception& e) {
        Bad(where + "." + key, e.what());
    }
}

SimVersion ParseVersion(const json& v, const SimVersion& base, const std::string& where) {
    if (!v.is_object()) Bad(where, "must be an object");
    SimVersion r = base;
    r.platform = Get<uint32_t>(v, "platform", r.platform, where);
    r.major = Get<uint32_t>(v, "major", r.major, where);
    r.minor = Get<uint32_t>(v, "minor", r.minor, where);
    r.build = Get<uint32_t>(v, "build", r.build, where);
    r.csd = Get<std::string>(v, "csd", r.csd, where);
    r.spMajor = Get<uint16_t>(v, "sp_major", r.spMajor, where);
    r.spMinor = Get<uint16_t>(v, "sp_minor", r.spMinor, where);
    r.suite = Get<uint16_t>(v, "suite", r.suite, where);
    r.productType = Get<uint8_t>(v, "product_type", r.productType, where);
    return r;
}

LocalTime ParseTime(const std::string& s, const std::string& where) {
    LocalTime t;
    int y, mo, d, h = 0, mi = 0, se = 0;
    if (std::sscanf(s.c_str(), "%d-%d-%dT%d:%d:%d", &y, &mo, &d, &h, &mi, &se) < 3 || mo < 1 || mo > 12 || d < 1 || d > 31 ||
        h > 23 || mi > 59 || se > 59)
        Bad(where, "expected YYYY-MM-DDTHH:MM:SS, got \"" + s + "\"");
    t.year = static_cast<uint16_t>(y);
    t.month = static_cast<uint16_t>(mo);
    t.day = static_cast<uint16_t>(d);
    t.hour = static_cast<uint16_t>(h);
    t.minute = static_cast<uint16_t>(mi);
    t.second = static_cast<uint16_t>(se);
    return AddMilliseconds(t, 0);  // fills the day of the week
}

}  // namespace

json SimMachine::ParseDescription(const std::string& text) {
    json j = json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) throw std::runtime_error("machine description: not a JSON object");
    return j;
}

SimMachine::SimMachine(const json& description, SimOptions options) : desc_(description), opts_(std::move(options)) {
    const json win = desc_.value("windows", json::object());
    if (!win.is_object()) Bad("windows", "must be an object");

    SimSystemConfig sc;
    SimVersion real = win.contains("version") ? ParseVersion(win["version"], SimVersion{}, "windows.version") : SimVersion{};
    sc.reported = win.contains("reported_version") ? ParseVersion(win["reported_version"], real, "windows.reported_version") : real;
    if (win.contains("rtl_get_version") && win["rtl_get_version"].is_null())
        sc.rtl = std::nullopt;
    else if (win.contains("rtl_get_version"))
        sc.rtl = ParseVersion(win["rtl_get_version"], real, "windows.rtl_get_version");
    else
        sc.rtl = real;
    sc.rtlFails = Get<bool>(win, "rtl_get_version_fails", false, "windows");
    sc.verifyVersionFails = Get<bool>(win, "verify_version_fails", false, "windows");
    sc.getVersionFails = Get<bool>(win, "get_version_fails", false, "windows");
    sc.serverR2 = Get<int32_t>(win, "server_r2", 0, "windows");
    if (win.contains("wow64") && win["wow64"].is_null())
        sc.wow64 = std::nullopt;
    else
        sc.wow64 = Get<bool>(win, "wow64", false, "windows");
    sc.process64 = Get<bool>(win, "process_64bit", true, "windows");
    sc.administrator = Get<bool>(win, "administrator", true, "windows");
    sc.throwIn = Get<std::vector<std::string>>(win, "throw_in", {}, "windows");
    for (const std::string& call : sc.throwIn)
        if (call != "GetVersionExA" && call != "VerifyVersionInfoA" && call != "IsAdministratorMember" && call != "LoadLibraryA")
            Bad("windows.throw_in", "unknown call '" + call + "'");
    sc.shutdownPrivilege = Get<bool>(win, "shutdown_privilege", true, "windows");
    sc.privilegeLastError = Get<uint32_t>(win, "privilege_last_error", 0, "windows");
    sc.exitWindowsAccepted = Get<bool>(win, "exit_windows_accepted", true, "windows");
    if (win.contains("file_version") && win["file_version"].is_null())
        sc.fileVersion = std::nullopt;
    else
        sc.fileVersion = Get<std::string>(win, "file_version", KESTREL_FILE_VERSION, "windows");
    if (win.contains("error_texts"))
        for (const auto& [code, text] : win["error_texts"].items()) sc.errorTexts[static_cast<uint32_t>(std::stoul(code))] = text.get<std::string>();

    SimDirectories dirs;
    if (win.contains("directories")) {
        const json& d = win["directories"];
        dirs.temp = Get<std::string>(d, "temp", dirs.temp, "windows.directories");
        dirs.system = Get<std::string>(d, "system", dirs.system, "windows.directories");
        dirs.windows = Get<std::string>(d, "windows", dirs.windows, "windows.directories");
        dirs.module = Get<std::string>(d, "module", dirs.module, "windows.directories");
        dirs.current = Get<std::string>(d, "current", dirs.current, "windows.directories");
    }

    const json locale = win.value("locale", json::object());
    const std::string shortDate = Get<std::string>(locale, "short_date", "M/d/yyyy", "windows.locale");
    const std::string longTime = Get<std::string>(locale, "long_time", "h:mm:ss tt", "windows.locale");
    LocalTime start = ParseTime(Get<std::string>(win, "start_time", "2026-12-10T09:30:00", "windows"), "windows.start_time");
    // A later run on the same state starts where the last one ended.
    if (opts_.stateDir) {
        std::ifstream in(*opts_.stateDir / "clock.json");
        if (in) {
            json c = json::parse(in, nullptr, false);
            if (c.is_object() && c.contains("now")) start = ParseTime(c["now"].get<std::string>(), "state clock.json");
        }
    }
    clock_ = std::make_unique<SimClock>(opts_.virtualClock, start, shortDate, longTime, Get<bool>(win, "performance_counter", true, "windows"));

    dirs.windows64 = sc.process64 || sc.wow64.value_or(false);
    dirs.wow64Process = !sc.process64 && sc.wow64.value_or(false);
    files_ = std::make_unique<SimFiles>(dirs, opts_.stateDir);
    registry_ = std::make_unique<SimRegistry>(opts_.stateDir ? std::optional(*opts_.stateDir / "registry.json") : std::nullopt);
    if (win.contains("registry")) {
        // The description seeds keys that an earlier run has not already left in the state.
        if (!opts_.stateDir || !std::filesystem::exists(*opts_.stateDir / "registry.json")) registry_->Load(win["registry"]);
    }
    if (win.contains("registry_faults")) {
        const json& faults = win["registry_faults"];
        if (!faults.is_object()) Bad("windows.registry_faults", "must be an object");
        for (const auto& [path, f] : faults.items())
            registry_->SetFault(path, Get<uint32_t>(f, "open_error", 0, "windows.registry_faults"),
                                Get<uint32_t>(f, "set_error", 0, "windows.registry_faults"));
    }
    system_ = std::make_unique<SimSystem>(sc);
    ui_ = std::make_unique<SimUi>(*clock_, opts_.answers, opts_.interactive, opts_.echo);
    ui_->SetShowWindow(opts_.show);
    ui_->SetUserActions(opts_.userActions);
    if (win.contains("mutexes_held_elsewhere"))
        for (const auto& m : win["mutexes_held_elsewhere"]) ui_->HoldMutexElsewhere(m.get<std::string>());

    storage_ = std::make_unique<SimStorage>();
    deviceTree_ = std::make_unique<SimDeviceTree>();
    if (std::find(sc.throwIn.begin(), sc.throwIn.end(), "LoadLibraryA") != sc.throwIn.end()) deviceTree_->ThrowInLoadLibrary();
    services_ = std::make_unique<SimServices>();
    LoadStorageDevices(desc_, *this);

    platform_.files = files_.get();
    platform_.clock = clock_.get();
    platform_.system = system_.get();
    platform_.ui = ui_.get();
    platform_.registry = registry_.get();
    platform_.storage = storage_.get();
    platform_.deviceTree = deviceTree_.get();
    platform_.services = services_.get();
}

SimMachine::~SimMachine() = default;

void SimMachine::SaveState() {
    if (!opts_.stateDir) return;
    std::error_code ec;
    std::filesystem::create_directories(*opts_.stateDir, ec);
    const LocalTime t = clock_->GetLocalTime();
    const std::string buf = Fmt("%04u-%02u-%02uT%02u:%02u:%02u", t.year, t.month, t.day, t.hour, t.minute, t.second);
    std::ofstream(*opts_.stateDir / "clock.json") << json{{"now", buf}}.dump() << "\n";
    if (!system_->ExitRequests().empty() || !system_->ExecutionStateCalls().empty() || !ui_->ShutdownBlockCalls().empty() ||
        !system_->ShellStarts().empty()) {
        json events = json::array();
        std::ifstream in(*opts_.stateDir / "events.json");
        if (in) {
            json old = json::parse(in, nullptr, false);
            if (old.is_array()) events = old;
        }
        for (uint32_t flags : system_->ExitRequests()) events.push_back({{"ExitWindowsEx", flags}, {"at", buf}});
        for (uint32_t flags : system_->ExecutionStateCalls()) events.push_back({{"SetThreadExecutionState", flags}, {"at", buf}});
        for (const std::string& call : ui_->ShutdownBlockCalls()) {
            if (call == "-")
                events.push_back({{"ShutdownBlockReasonDestroy", true}, {"at", buf}});
            else
                events.push_back({{"ShutdownBlockReasonCreate", call.substr(1)}, {"at", buf}});
        }
        for (const ShellStart& st : system_->ShellStarts())
            events.push_back({{"ShellExecute", {{"operation", st.operation}, {"file", st.file}, {"parameters", st.parameters},
                                                 {"directory", st.directory}, {"show", st.showCommand}}},
                              {"at", buf}});
        std::ofstream(*opts_.stateDir / "events.json") << events.dump(2) << "\n";
    }
}

std::unique_ptr<SimMachine> SimMachine::FromEnvironment(bool echo) {
    SimOptions o;
    o.echo = echo;
    std::string text = DefaultMachineJson();
    if (const char* m = std::getenv("KESTREL_SIM_MACHINE"); m && *m) {
        std::ifstream in(m);
        if (!in) throw std::runtime_error(std::string("KESTREL_SIM_MACHINE: cannot read ") + m);
        std::stringstream ss;
        ss << in.rdbuf();
        text = ss.str();
    }
    if (const char* s = std::getenv("KESTREL_SIM_STATE"); s && *s) o.stateDir = std::filesystem::path(s);
    if (const char* c = std::getenv("KESTREL_SIM_CLOCK"); c && *c) {
        const std::string v = c;
        if (v == "real") o.virtualClock = false;
        else if (v != "virtual") throw std::runtime_error("KESTREL_SIM_CLOCK: expected virtual or real, got \"" + v + "\"");
    }
    if (const char* a = std::getenv("KESTREL_SIM_ANSWERS"); a) {
        std::stringstream ss(a);
        std::string item;
        while (std::getline(ss, item, ','))
            if (!item.empty()) o.answers.push_back(item);
    }
    o.interactive = isatty(0) != 0 && std::getenv("KESTREL_SIM_ANSWERS") == nullptr;
    if (const char* u = std::getenv("KESTREL_SIM_USER"); u) {
        std::stringstream ss(u);
        std::string item;
        while (std::getline(ss, item, ','))
            if (!item.empty()) o.userActions.push_back(item);
    }
    if (const char* v = std::getenv("KESTREL_SIM_SHOW"); v && *v)
        o.show = std::string(v) == "1";
    else
        o.show = isatty(1) != 0;
    return std::make_unique<SimMachine>(ParseDescription(text), std::move(o));
}

}  // namespace kestrel::sim
