#pragma once
// Builds the machine's disks, controllers and the devices behind them from the description.
#include <nlohmann/json.hpp>

namespace kestrel::sim {

class SimMachine;

// Reads the description's device sections and attaches what they describe to the machine.
void LoadStorageDevices(const nlohmann::json& description, SimMachine& machine);

}  // namespace kestrel::sim
