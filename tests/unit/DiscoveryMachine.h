#pragma once
// Small simulated machines for the device discovery tests: a device tree with a SATA (storahci)
// and an NVMe (stornvme) controller, and disks added below them.
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "discovery/RegData.h"
#include "sim/SimMachine.h"

namespace kestrel::testing {

constexpr const char* kHdcClass = "{4D36E96A-E325-11CE-BFC1-08002BE10318}";
constexpr const char* kScsiClass = "{4D36E97B-E325-11CE-BFC1-08002BE10318}";
constexpr const char* kSystemClass = "{4D36E97D-E325-11CE-BFC1-08002BE10318}";
constexpr const char* kDiskClass = "{4D36E967-E325-11CE-BFC1-08002BE10318}";
constexpr const char* kAhci = "PCI\\VEN_8086&DEV_A352&SUBSYS_86941043&REV_10\\3&11583659&0&B8";
constexpr const char* kNvmeController = "PCI\\VEN_1F2A&DEV_5012&SUBSYS_50121F2A&REV_01\\4&2C2A6EAB&0&00E0";

inline nlohmann::json Node(const std::string& id, const std::string& parent, const std::string& cls, const std::string& service,
                           int instance = 0) {
    nlohmann::json n = {{"id", id}, {"parent", parent}};
    if (!cls.empty()) {
        n["class_guid"] = cls;
        n["driver"] = cls + "\\" + std::string(4 - std::to_string(instance).size(), '0') + std::to_string(instance);
    }
    if (!service.empty()) n["service"] = service;
    return n;
}

// Root, PCI root complex, an AHCI and an NVMe controller; no disks.
inline nlohmann::json BaseMachine() {
    nlohmann::json m = nlohmann::json::object();
    m["device_tree"]["nodes"] = nlohmann::json::array({
        Node("HTREE\\ROOT\\0", "", "", ""),
        Node("ACPI\\PNP0A08\\0", "HTREE\\ROOT\\0", kSystemClass, "pci", 1),
        Node(kAhci, "ACPI\\PNP0A08\\0", kHdcClass, "storahci", 0),
        Node(kNvmeController, "ACPI\\PNP0A08\\0", kScsiClass, "stornvme", 0),
    });
    m["disks"] = nlohmann::json::array();
    return m;
}

// Adds a disk node below `parent` and its interface; `extra` overrides the disk's answers.
inline nlohmann::json& AddDisk(nlohmann::json& m, const std::string& name, const nlohmann::json& extra = nlohmann::json::object(),
                               const std::string& parent = kAhci) {
    const size_t i = m["disks"].size();
    const std::string id = "SCSI\\Disk&Ven_&Prod_" + name + "\\4&2F6A1B33&0&" + std::to_string(100000 + i);
    nlohmann::json node = Node(id, parent, kDiskClass, "disk", static_cast<int>(i));
    node["friendly_name"] = name;
    node["location"] = "Bus Number 0, Target Id " + std::to_string(i) + ", LUN 0";
    m["device_tree"]["nodes"].push_back(node);
    nlohmann::json d = {{"node", id},
                        {"path", "\\\\?\\scsi#disk&ven_&prod_" + name + "#" + std::to_string(i) +
                                     "#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"},
                        {"scsi_address", {{"port", 0}, {"path", 0}, {"target", i}, {"lun", 0}}},
                        {"bus_type", 11},
                        {"product_id", name},
                        {"product_revision", "REV" + std::to_string(1000 + i).substr(0, 5)},
                        {"serial_number", "SER" + std::to_string(100000000 + i)}};
    for (const auto& [k, v] : extra.items()) d[k] = v;
    m["disks"].push_back(d);
    return m["disks"].back();
}

inline std::unique_ptr<sim::SimMachine> MakeMachine(const nlohmann::json& m) {
    return std::make_unique<sim::SimMachine>(m, sim::SimOptions{});
}

// The names (friendly names) of the records in list order.
inline std::string Names(const REG_DATA* list, int32_t n) {
    std::string s;
    for (int32_t i = 0; i < n; ++i) s += (i ? "," : "") + std::string(list[i].friendlyName);
    return s;
}

}  // namespace kestrel::testing
