#include "sim/SimDriveModel.h"

// Placeholder until the simulated drives are built: a disk without a drive answers no
// pass-through request.
namespace kestrel::sim {

std::shared_ptr<SimStorageDevice> MakeDriveModel(const nlohmann::json&, SimMachine&) { return nullptr; }

}  // namespace kestrel::sim
