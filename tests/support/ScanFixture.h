#pragma once
// A main window over one of the machine files of sim/machines/, with its log on and a device object
// created, ready to scan; and a compact description of a drive-table element for tables of cases.
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "app/KestrelMain.h"
#include "sim/SimMachine.h"

namespace kestrel::test {

inline nlohmann::json MachineFile(const std::string& name) {
    // The fixtures folder is tests/fixtures of the source tree; the machines are in sim/machines.
    std::string root = KESTREL_TEST_FIXTURES;
    root = root.substr(0, root.rfind("/tests/fixtures"));
    const std::string path = root + "/sim/machines/" + name;
    std::ifstream in(path);
    if (!in) throw std::runtime_error("no machine file " + path);
    std::stringstream s;
    s << in.rdbuf();
    return sim::SimMachine::ParseDescription(s.str());
}

struct ScanBench {
    std::unique_ptr<sim::SimMachine> machine;
    std::unique_ptr<TKestrelMain> main;

    explicit ScanBench(const nlohmann::json& description, bool createDevice = true) {
        machine = std::make_unique<sim::SimMachine>(description, sim::SimOptions{});
        main = std::make_unique<TKestrelMain>(machine->platform(), PackageView(), std::vector<std::string>{});
        main->bLogEnabled = true;
        main->sLogFile = machine->files().GetTempPath() + "KestrelLog.txt";
        if (createDevice) NewDevice();
    }
    explicit ScanBench(const std::string& file, bool createDevice = true) : ScanBench(MachineFile(file), createDevice) {}

    void NewDevice() {
        main->pAtaDevice = std::make_unique<TAtaDevice>(machine->platform());
        main->pAtaDevice->iVisualStyle = main->iVisualStyle;
    }
    std::string Log() { return machine->files().ReadWholeFile(main->sLogFile).value_or(""); }
    void ClearLog() { machine->files().DeleteFile(main->sLogFile); }
};

// A text field up to its first zero, without the blanks drives pad their texts with.
inline std::string FieldText(const char* p, size_t width) {
    std::string s(p, strnlen(p, width));
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}
#define KESTREL_FIELD(e, f) ::kestrel::test::FieldText((e).f, sizeof((e).f))

// Route, address, flags and texts of one element.
inline std::string Describe(const DEV_INFO& e) {
    std::string route = e.bIsNvme ? (e.bIsNvmeIrstDriver ? "nvme-rst" : e.bIsNvmeIrstDriver_below_14_8 ? "nvme-rst-old" : "nvme-inbox")
                                  : "ata";
    std::ostringstream s;
    s << route << " order=" << e.order << " scsi=" << e.HA << "-" << e.PathId << "-" << e.Target << "-" << e.Lun
      << " bus=" << int(e.BusType) << " flags=" << int(e.bIsNvme) << int(e.bIsNvmeInboxDriver) << int(e.bIsNvmeIrstDriver)
      << int(e.bIsNvmeIrstDriver_below_14_8) << " sys=" << int(e.bIsSystemDrive) << " existed=" << int(e.bExisted)
      << " | " << KESTREL_FIELD(e, szModel) << " | " << KESTREL_FIELD(e, szFwRev) << " | " << KESTREL_FIELD(e, szSerial) << " | "
      << KESTREL_FIELD(e, szDefRev) << " | " << KESTREL_FIELD(e, szPPID) << " | " << KESTREL_FIELD(e, szCheckModel);
    if (e.CsmiPort || e.SasAddress || e.ScsiIndex)
        s << " csmi=" << e.ScsiIndex << "/" << e.CsmiPort << "/" << std::hex << e.SasAddress;
    return s.str();
}

inline bool AllZero(const DEV_INFO& e) {
    const auto* p = reinterpret_cast<const unsigned char*>(&e);
    for (size_t i = 0; i < sizeof e; ++i)
        if (p[i] != 0) return false;
    return true;
}

}  // namespace kestrel::test
