#include "sim/SimDriveModel.h"

#include <stdexcept>

#include "sim/SimAtaDrive.h"
#include "sim/SimMachine.h"
#include "sim/SimNvmeDrive.h"

namespace kestrel::sim {

namespace {

// An NVMe drive behind its disk; with "rst" also at that address of an Intel RST controller port.
std::shared_ptr<SimStorageDevice> MakeNvmeDrive(const nlohmann::json& drive, SimMachine& machine) {
    auto d = std::make_shared<SimNvmeDrive>(drive, machine.clock(), machine.options().stateDir);
    if (drive.contains("rst")) {
        const auto& r = drive["rst"];
        if (!r.is_object() || !r.contains("port") || !r["port"].is_number_integer() || r["port"].get<int>() < 0)
            throw std::runtime_error("machine description: drive.rst: needs \"port\", the controller's SCSI port number");
        const std::string port = "\\\\.\\Scsi" + std::to_string(r["port"].get<int>()) + ":";
        auto ctl = std::dynamic_pointer_cast<SimRstController>(machine.storage().Find(port));
        if (!ctl) {
            ctl = std::make_shared<SimRstController>();
            machine.storage().Attach(port, ctl);
        }
        ctl->Add(static_cast<uint8_t>(r.value("path", 0)), static_cast<uint8_t>(r.value("target", 0)),
                 static_cast<uint8_t>(r.value("lun", 0)), d);
    }
    return d;
}

}  // namespace

std::shared_ptr<SimStorageDevice> MakeDriveModel(const nlohmann::json& drive, SimMachine& machine) {
    if (drive.is_null()) return nullptr;
    if (!drive.is_object()) throw std::runtime_error("machine description: drive: must be an object");
    const std::string kind = drive.value("kind", "sata");
    if (kind == "nvme") return MakeNvmeDrive(drive, machine);
    if (kind != "sata") throw std::runtime_error("machine description: drive.kind: is sata or nvme");
    auto d = std::make_shared<SimAtaDrive>(drive, machine.clock(), machine.options().stateDir);
    if (drive.contains("csmi")) {
        const auto& c = drive["csmi"];
        if (!c.is_object() || !c.contains("port") || !c["port"].is_number_integer() || c["port"].get<int>() < 0)
            throw std::runtime_error("machine description: drive.csmi: needs \"port\", the controller's SCSI port number");
        const uint8_t phy = static_cast<uint8_t>(c.value("phy", 0));
        machine.storage().Attach("\\\\.\\SCSI" + std::to_string(c["port"].get<int>()) + ":", std::make_shared<SimCsmiPort>(d, phy));
    }
    return d;
}

}  // namespace kestrel::sim
