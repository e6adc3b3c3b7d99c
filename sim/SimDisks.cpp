#include "sim/SimDisks.h"

#include "sim/SimMachine.h"

namespace kestrel::sim {

// Placeholder until the device discovery is built: no disks.
void LoadStorageDevices(const nlohmann::json&, SimMachine&) {}

}  // namespace kestrel::sim
