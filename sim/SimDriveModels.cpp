#include "sim/SimDriveModel.h"

#include <stdexcept>

#include "sim/SimAtaDrive.h"
#include "sim/SimMachine.h"

namespace kestrel::sim {

std::shared_ptr<SimStorageDevice> MakeDriveModel(const nlohmann::json& drive, SimMachine& machine) {
    if (drive.is_null()) return nullptr;
    if (!drive.is_object()) throw std::runtime_error("machine description: drive: must be an object");
    const std::string kind = drive.value("kind", "sata");
    if (kind != "sata") return nullptr;  // other drive models answer elsewhere
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
