#pragma once
// Machines with simulated NVMe drives and CSMI controllers, the device object over them, the
// debug log and sim firmware images.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "device/AtaDevice.h"
#include "sim/SimCsmiController.h"
#include "sim/SimImage.h"
#include "sim/SimNvmeDrive.h"
#include "support/SimFixture.h"

namespace kestrel::test {

// A machine file of sim/machines with `edit` applied to its description.
template <typename Edit>
std::unique_ptr<sim::SimMachine> MachineFile(const std::string& name, Edit edit, sim::SimOptions options = {}) {
    std::ifstream in(std::string(KESTREL_SIM_MACHINES) + "/" + name);
    std::stringstream text;
    text << in.rdbuf();
    nlohmann::json desc = sim::SimMachine::ParseDescription(text.str());
    edit(desc);
    return std::make_unique<sim::SimMachine>(desc, std::move(options));
}

// These keys over a KN900 with three slots, slot 1 read-only, slot 2 running KN9R0200.
inline nlohmann::json Kn900Drive(const nlohmann::json& drive = nlohmann::json::object()) {
    nlohmann::json d = {{"kind", "nvme"},         {"model", "KESTREL KN900 1TB"}, {"serial", "KN9A26130000457"},
                        {"revision", "KN9R0200"}, {"slot_count", 3},               {"active_slot", 2},
                        {"slot_revisions", {"KN9R0100", "KN9R0200", ""}}};
    d.merge_patch(drive);
    return d;
}

// The default machine whose NVMe disk (stornvme) has a simulated drive: these keys over the KN900,
// which also carries a PPID.
inline std::unique_ptr<sim::SimMachine> InboxMachine(const nlohmann::json& drive = nlohmann::json::object(),
                                                     sim::SimOptions options = {}) {
    nlohmann::json desc = sim::SimMachine::ParseDescription(sim::DefaultMachineJson());
    nlohmann::json d = Kn900Drive({{"ppid", "CN0KN9A2613000045700A01"}});
    d.merge_patch(drive);
    for (auto& disk : desc["disks"])
        if (disk.value("bus_type", 0) == 17) disk["drive"] = d;
    return std::make_unique<sim::SimMachine>(desc, std::move(options));
}

constexpr const char* kNvmePath = "\\\\?\\scsi#disk&ven_nvme&prod_kestrel_kn900#1&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

// Attaches the KN900 with these keys at kNvmePath of `machine` (into `nvme`) and makes `dev` a
// device object with one record for it (kept in `records`); true when it selects the drive as the
// scan selects an inbox drive.
inline bool AttachInboxDrive(sim::SimMachine& machine, const nlohmann::json& drive, const std::optional<std::filesystem::path>& stateDir,
                             std::shared_ptr<sim::SimNvmeDrive>& nvme, std::vector<REG_DATA>& records, std::unique_ptr<TAtaDevice>& dev) {
    dev.reset();
    nvme = std::make_shared<sim::SimNvmeDrive>(Kn900Drive(drive), machine.clock(), stateDir);
    machine.storage().Attach(kNvmePath, nvme);
    records.assign(1, REG_DATA{});
    std::snprintf(records[0].DevicePath, sizeof records[0].DevicePath, "%s", kNvmePath);
    records[0].BusType = BUS_TYPE_NVME;
    dev = std::make_unique<TAtaDevice>(machine.platform(), records.data(), 1);
    return dev->SelectPort(0, kNvmePath, -1, SELECT_NVME);
}

// One simulated NVMe drive at a disk path and a device object with one record for it, selected
// as the scan selects an inbox drive.
class InboxFixture : public ::testing::Test {
protected:
    void Build(const nlohmann::json& drive = nlohmann::json::object(), sim::SimOptions options = {}) {
        dev.reset();
        const auto stateDir = options.stateDir;
        machine = MakeMachine(nlohmann::json::object(), std::move(options));
        ASSERT_TRUE(AttachInboxDrive(*machine, drive, stateDir, nvme, records, dev));
    }
    std::string Log() { return machine->files().ReadWholeFile(machine->files().GetTempPath() + "KestrelLog.txt").value_or(""); }

    std::unique_ptr<sim::SimMachine> machine;
    std::shared_ptr<sim::SimNvmeDrive> nvme;
    std::vector<REG_DATA> records;
    std::unique_ptr<TAtaDevice> dev;
};

inline std::string DebugLog(sim::SimMachine& m) {
    return m.files().ReadWholeFile(m.files().GetTempPath() + "KestrelLog.txt").value_or("");
}

// Whether the lines appear in the log in this order.
inline ::testing::AssertionResult InOrder(const std::string& log, const std::vector<std::string>& lines) {
    size_t at = 0;
    for (const auto& l : lines) {
        const size_t f = log.find(l, at);
        if (f == std::string::npos) return ::testing::AssertionFailure() << "missing (in order): \"" << l << "\"";
        at = f + l.size();
    }
    return ::testing::AssertionSuccess();
}

inline size_t Count(const std::string& hay, const std::string& needle) {
    size_t n = 0;
    for (size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1)) ++n;
    return n;
}

// A sim image of exactly `size` bytes for the KN900.
inline std::vector<uint8_t> NvmeImage(uint32_t size, const std::string& revision = "KN9R0300") {
    sim::SimImageSpec spec;
    spec.models = {"KESTREL KN900*"};
    spec.revision = revision;
    spec.payloadSize = size - static_cast<uint32_t>(sim::kSimImageHeaderSize);
    std::string why;
    return sim::BuildSimImage(spec, why);
}


inline int32_t DiskIndex(TAtaDevice& dev, uint8_t busType) {
    for (int32_t i = 0; i < dev.GetDriveCount(); ++i)
        if (dev.GetDriveRecord(i)->BusType == busType) return i;
    return -1;
}

// Identify Controller through a fresh storage query: the revision at bytes 64-71.
inline std::string IdentifyRevision(TAtaDevice& dev, int32_t index) {
    if (!dev.DoIdentifyDeviceNVMeStorageQuery(index)) return "<no answer>";
    return std::string(reinterpret_cast<const char*>(dev.GetReadBuffer()) + 64, 8);
}

}  // namespace kestrel::test
