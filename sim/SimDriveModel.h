#pragma once
// The drive behind a simulated disk: it answers the pass-through requests (ATA, SCSI, CSMI, NVMe)
// that the disk's driver stack passes down. The disk itself answers the path queries (address,
// bus type, descriptor, device number) and forwards every other request to its drive.
#include <memory>

#include <nlohmann/json.hpp>

#include "sim/SimStorage.h"

namespace kestrel::sim {

class SimMachine;

// The drive a disk's "drive" object describes; null when the description has none.
std::shared_ptr<SimStorageDevice> MakeDriveModel(const nlohmann::json& drive, SimMachine& machine);

}  // namespace kestrel::sim
