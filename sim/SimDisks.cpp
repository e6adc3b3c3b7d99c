#include "sim/SimDisks.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "sim/SimCsmiController.h"
#include "sim/SimDriveModel.h"
#include "sim/SimMachine.h"

namespace kestrel::sim {
namespace {

using nlohmann::json;

constexpr uint32_t kIoctlScsiGetAddress = 0x00041018;
constexpr uint32_t kIoctlStorageGetDeviceNumber = 0x002D1080;
constexpr uint32_t kIoctlStorageQueryProperty = 0x002D1400;
constexpr uint32_t kErrorInvalidFunction = 1;
constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kFileDeviceDisk = 7;
constexpr uint32_t kMaxPlacedOffset = 4096;

[[noreturn]] void Bad(const std::string& field, const std::string& why) {
    throw std::runtime_error("machine description: " + field + ": " + why);
}

template <typename T>
T Get(const json& obj, const char* key, const T& fallback, const std::string& where) {
    if (!obj.is_object()) Bad(where, "must be an object");
    if (!obj.contains(key) || obj.at(key).is_null()) return fallback;
    try {
        return obj.at(key).get<T>();
    } catch (const json::exception& e) {
        Bad(where + "." + key, e.what());
    }
}

// A value that may be null (the request is refused) or absent (the default).
template <typename T>
std::optional<T> GetOptional(const json& obj, const char* key, std::optional<T> fallback, const std::string& where) {
    if (!obj.contains(key)) return fallback;
    if (obj.at(key).is_null()) return std::nullopt;
    return Get<T>(obj, key, T{}, where);
}

void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

struct SimDiskConfig {
    uint32_t openError = 0;
    std::optional<std::array<uint8_t, 4>> address;  // port, path, target, lun
    uint32_t addressBytes = 8;
    uint32_t busType = 0;
    bool propertyQueryFails = false;
    std::string vendor, product, revision, serial;
    std::optional<uint32_t> revisionOffset, serialOffset;
    std::optional<uint32_t> deviceNumber;
    bool passThroughRaises = false;
};

// A disk as its class driver answers the path queries; everything else goes to the drive.
class SimDisk : public SimStorageDevice {
public:
    SimDisk(SimDiskConfig cfg, std::shared_ptr<SimStorageDevice> drive) : cfg_(std::move(cfg)), drive_(std::move(drive)) {}
    // A drive that is restarting takes its disk away with it.
    uint32_t OpenError() override {
        if (cfg_.openError) return cfg_.openError;
        return drive_ ? drive_->OpenError() : 0;
    }

    uint32_t Ioctl(uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize, uint32_t& returned) override {
        returned = 0;
        if (code == kIoctlScsiGetAddress) {
            if (!cfg_.address) return kErrorInvalidFunction;
            if (outSize < 8) return kErrorInsufficientBuffer;
            std::vector<uint8_t> a(8, 0);
            PutU32(a, 0, 8);
            for (int i = 0; i < 4; ++i) a[4 + static_cast<size_t>(i)] = (*cfg_.address)[static_cast<size_t>(i)];
            std::memcpy(out, a.data(), 8);
            returned = std::min(cfg_.addressBytes, outSize);
            return 0;
        }
        if (code == kIoctlStorageGetDeviceNumber) {
            if (!cfg_.deviceNumber) return kErrorInvalidFunction;
            if (outSize < 12) return kErrorInsufficientBuffer;
            std::vector<uint8_t> n(12, 0);
            PutU32(n, 0, kFileDeviceDisk);
            PutU32(n, 4, *cfg_.deviceNumber);
            std::memcpy(out, n.data(), 12);
            returned = 12;
            return 0;
        }
        if (code == kIoctlStorageQueryProperty && in != nullptr && inSize >= 8) {
            uint32_t propertyId, queryType;
            std::memcpy(&propertyId, in, 4);
            std::memcpy(&queryType, in + 4, 4);
            if (propertyId == 0 && queryType == 0) return DeviceDescriptor(out, outSize, returned);
        }
        // A driver that faults inside the call: the caller sees an exception, not an error code.
        if (cfg_.passThroughRaises) throw std::runtime_error("simulated fault inside DeviceIoControl");
        if (drive_) return drive_->Ioctl(code, in, inSize, out, outSize, returned);
        return kErrorInvalidFunction;
    }

private:
    uint32_t DeviceDescriptor(uint8_t* out, uint32_t outSize, uint32_t& returned) {
        if (cfg_.propertyQueryFails) return kErrorInvalidFunction;
        if (out == nullptr || outSize < 8) return kErrorInvalidParameter;
        // The fixed 40-byte head, then the texts it points to, each with its zero.
        std::vector<uint8_t> d(40, 0);
        auto text = [&](const std::string& s) -> uint32_t {
            if (s.empty()) return 0;
            const uint32_t at = static_cast<uint32_t>(d.size());
            d.insert(d.end(), s.begin(), s.end());
            d.push_back(0);
            return at;
        };
        const uint32_t vendor = text(cfg_.vendor), product = text(cfg_.product), revision = text(cfg_.revision),
                       serial = text(cfg_.serial);
        PutU32(d, 0, 40);
        d[10] = 0;  // not removable
        d[11] = 1;  // command queueing
        PutU32(d, 12, vendor);
        PutU32(d, 16, product);
        // An overridden offset past the head carries its text there (the descriptor grows to it);
        // any other one only points.
        auto place = [&](std::optional<uint32_t> at, const std::string& s, uint32_t natural) {
            if (!at) return natural;
            if (*at >= 40 && *at < kMaxPlacedOffset && !s.empty()) {
                if (d.size() < *at + s.size() + 1) d.resize(*at + s.size() + 1, 0);
                std::memcpy(d.data() + *at, s.data(), s.size());
            }
            return *at;
        };
        const uint32_t revisionAt = place(cfg_.revisionOffset, cfg_.revision, revision);
        const uint32_t serialAt = place(cfg_.serialOffset, cfg_.serial, serial);
        PutU32(d, 4, static_cast<uint32_t>(d.size()));
        PutU32(d, 20, revisionAt);
        PutU32(d, 24, serialAt);
        PutU32(d, 28, cfg_.busType);
        PutU32(d, 32, 0);
        // A short buffer gets the head of the descriptor, as Windows gives it.
        returned = std::min<uint32_t>(outSize, static_cast<uint32_t>(d.size()));
        std::memcpy(out, d.data(), returned);
        return 0;
    }

    SimDiskConfig cfg_;
    std::shared_ptr<SimStorageDevice> drive_;
};

// A volume answers its device number only.
class SimVolume : public SimStorageDevice {
public:
    explicit SimVolume(std::optional<uint32_t> number) : number_(number) {}
    uint32_t Ioctl(uint32_t code, const uint8_t*, uint32_t, uint8_t* out, uint32_t outSize, uint32_t& returned) override {
        returned = 0;
        if (code != kIoctlStorageGetDeviceNumber || !number_) return kErrorInvalidFunction;
        if (outSize < 12) return kErrorInsufficientBuffer;
        std::vector<uint8_t> n(12, 0);
        PutU32(n, 0, kFileDeviceDisk);
        PutU32(n, 4, *number_);
        PutU32(n, 8, 1);
        std::memcpy(out, n.data(), 12);
        returned = 12;
        return 0;
    }

private:
    std::optional<uint32_t> number_;
};

SimDevNode ParseNode(const json& n, const std::string& where) {
    if (!n.is_object()) Bad(where, "must be an object");
    SimDevNode d;
    d.id = Get<std::string>(n, "id", "", where);
    if (d.id.empty()) Bad(where + ".id", "required");
    d.parent = Get<std::string>(n, "parent", "", where);
    d.service = Get<std::string>(n, "service", "", where);
    d.classGuid = Get<std::string>(n, "class_guid", "", where);
    d.driver = Get<std::string>(n, "driver", "", where);
    d.description = Get<std::string>(n, "description", "", where);
    d.driverVersion = Get<std::string>(n, "driver_version", "", where);
    d.location = Get<std::string>(n, "location", "", where);
    d.friendlyName = Get<std::string>(n, "friendly_name", "", where);
    d.present = Get<bool>(n, "present", true, where);
    d.locateFails = Get<bool>(n, "locate_fails", false, where);
    d.reenumerateFails = Get<bool>(n, "reenumerate_fails", false, where);
    d.removeFails = Get<bool>(n, "remove_fails", false, where);
    d.installParamsFail = Get<bool>(n, "install_params_fail", false, where);
    return d;
}

SimServiceBehaviour ParseBehaviour(const std::string& s, const std::string& where) {
    if (s == "running") return SimServiceBehaviour::Running;
    if (s == "stopped") return SimServiceBehaviour::StoppedStartable;
    if (s == "disabled") return SimServiceBehaviour::Disabled;
    if (s == "start_pending") return SimServiceBehaviour::StartPending;
    if (s == "stop_pending") return SimServiceBehaviour::StopPending;
    if (s == "paused") return SimServiceBehaviour::Paused;
    Bad(where, "expected running, stopped, disabled, start_pending, stop_pending or paused, got \"" + s + "\"");
}

}  // namespace

void LoadStorageDevices(const json& description, SimMachine& machine) {
    SimDeviceTree& tree = machine.deviceTree();
    SimServices& services = machine.services();

    const json dt = description.value("device_tree", json::object());
    if (!dt.is_object()) Bad("device_tree", "must be an object");
    if (dt.contains("libraries_failing"))
        for (const auto& l : dt["libraries_failing"]) tree.FailLibrary(l.get<std::string>());
    if (dt.contains("missing_entry_points"))
        for (const auto& e : dt["missing_entry_points"]) tree.MissEntryPoint(e.get<std::string>());
    if (dt.contains("nodes")) {
        if (!dt["nodes"].is_array()) Bad("device_tree.nodes", "must be an array");
        size_t i = 0;
        for (const auto& n : dt["nodes"]) {
            const std::string where = "device_tree.nodes[" + std::to_string(i++) + "]";
            try {
                const SimDevNode node = ParseNode(n, where);
                tree.AddNode(node);
                // The driver key's DriverVersion, unless the registry (or an earlier run) has the key.
                const std::string key = "SYSTEM\\CurrentControlSet\\Control\\Class\\" + node.driver;
                if (!node.driver.empty() && !node.driverVersion.empty() && !machine.registry().KeyExists(key))
                    machine.registry().Load(json{{key, {{"DriverVersion", node.driverVersion}}}});
            } catch (const std::runtime_error& e) {
                if (std::string(e.what()).rfind("machine description", 0) == 0) throw;
                Bad(where, e.what());
            }
        }
    }

    const json disks = description.value("disks", json::array());
    if (!disks.is_array()) Bad("disks", "must be an array");
    size_t i = 0;
    for (const auto& d : disks) {
        const std::string where = "disks[" + std::to_string(i++) + "]";
        if (!d.is_object()) Bad(where, "must be an object");
        const std::string node = Get<std::string>(d, "node", "", where);
        const std::string path = Get<std::string>(d, "path", "", where);
        if (node.empty() || !tree.HasNode(node)) Bad(where + ".node", "must name a node of device_tree.nodes");
        if (path.empty()) Bad(where + ".path", "required");
        SimDiskConfig c;
        c.openError = Get<uint32_t>(d, "open_error", 0, where);
        if (!d.contains("scsi_address") || !d["scsi_address"].is_null()) {
            const json a = d.value("scsi_address", json::object());
            const std::string aw = where + ".scsi_address";
            c.address = std::array<uint8_t, 4>{Get<uint8_t>(a, "port", 0, aw), Get<uint8_t>(a, "path", 0, aw),
                                               Get<uint8_t>(a, "target", 0, aw), Get<uint8_t>(a, "lun", 0, aw)};
        }
        c.addressBytes = Get<uint32_t>(d, "scsi_address_bytes", 8, where);
        c.busType = Get<uint32_t>(d, "bus_type", 0x0B, where);
        c.propertyQueryFails = Get<bool>(d, "property_query_fails", false, where);
        c.vendor = Get<std::string>(d, "vendor_id", "", where);
        c.product = Get<std::string>(d, "product_id", "", where);
        c.revision = Get<std::string>(d, "product_revision", "", where);
        c.serial = Get<std::string>(d, "serial_number", "", where);
        if (d.contains("descriptor")) {
            const json& o = d["descriptor"];
            c.revisionOffset = GetOptional<uint32_t>(o, "product_revision_offset", std::nullopt, where + ".descriptor");
            c.serialOffset = GetOptional<uint32_t>(o, "serial_number_offset", std::nullopt, where + ".descriptor");
        }
        c.passThroughRaises = Get<bool>(d, "pass_through_raises", false, where);
        c.deviceNumber = GetOptional<uint32_t>(d, "device_number", static_cast<uint32_t>(i - 1), where);
        std::shared_ptr<SimStorageDevice> drive;
        if (d.contains("drive") && !d["drive"].is_null()) drive = MakeDriveModel(d["drive"], machine);
        tree.AddInterface(path, node, Get<uint32_t>(d, "hidden_for_first_enumerations", 0, where));
        // Windows also names every disk \\.\PhysicalDrive<n> by its device number.
        const std::optional<uint32_t> number = c.deviceNumber;
        auto disk = std::make_shared<SimDisk>(std::move(c), std::move(drive));
        machine.storage().Attach(path, disk);
        if (number && !machine.storage().Find("\\\\.\\PhysicalDrive" + std::to_string(*number)))
            machine.storage().Attach("\\\\.\\PhysicalDrive" + std::to_string(*number), disk);
    }

    LoadCsmiControllers(description, machine);

    const json volumes = description.value("volumes", json::array());
    if (!volumes.is_array()) Bad("volumes", "must be an array");
    i = 0;
    for (const auto& v : volumes) {
        const std::string where = "volumes[" + std::to_string(i++) + "]";
        const std::string path = Get<std::string>(v, "path", "", where);
        if (path.empty()) Bad(where + ".path", "required");
        machine.storage().Attach(path, std::make_shared<SimVolume>(GetOptional<uint32_t>(v, "device_number", std::nullopt, where)));
    }

    // The WMI service runs unless the description says otherwise.
    const json svcs = description.value("services", json::object());
    if (!svcs.is_object()) Bad("services", "must be an object");
    if (!svcs.contains("Winmgmt")) services.AddService("Winmgmt", SimServiceConfig{});
    for (const auto& [name, s] : svcs.items()) {
        const std::string where = "services." + name;
        SimServiceConfig sc;
        sc.behaviour = ParseBehaviour(Get<std::string>(s, "state", "running", where), where + ".state");
        sc.startPolls = Get<uint32_t>(s, "start_polls", 2, where);
        sc.openFails = Get<bool>(s, "open_fails", false, where);
        services.AddService(name, sc);
    }
    const json wmi = description.value("wmi", json::object());
    services.SetWmi(Get<bool>(wmi, "usable", true, "wmi"), GetOptional<uint32_t>(wmi, "disk_count", std::nullopt, "wmi"));
    services.SetDiskCounter([&tree] { return static_cast<uint32_t>(tree.PresentInterfaceCount()); });
}

}  // namespace kestrel::sim
