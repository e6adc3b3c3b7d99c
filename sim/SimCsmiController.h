#pragma once
// A simulated CSMI RAID controller at "\\.\SCSI<n>:": its driver information, its phy table and
// the STP pass-through to the SATA drives on its phys. Requests are decoded from the published
// CSMI layout at raw byte offsets.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/SimStorage.h"

namespace kestrel::sim {

class SimAtaDrive;
class SimClock;
class SimMachine;

class SimCsmiController : public SimStorageDevice {
public:
    // cfg: one entry of "csmi_controllers" (docs/sim-machine.md, "CSMI RAID controller").
    SimCsmiController(const nlohmann::json& cfg, SimMachine& machine);
    uint32_t OpenError() override { return openError_; }
    uint32_t Ioctl(uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize, uint32_t& returned) override;
    int Port() const { return port_; }
    // The SATA drive on a phy, null when it has none.
    std::shared_ptr<SimAtaDrive> DriveOnPhy(uint8_t phy) const;
    std::shared_ptr<SimAtaDrive> DriveAtAddress(const uint8_t* address) const;

private:
    struct Phy {
        std::string attached;  // sata, stp, ssp, none (nothing attached), empty (no phy)
        uint8_t phyId = 0, portId = 0;
        uint8_t sasAddress[8]{}, attachedSasAddress[8]{};
        std::shared_ptr<SimAtaDrive> drive;
    };
    struct Fault {
        uint32_t controlCode = 0;
        int failFirst = 0, hits = 0;
        uint32_t winError = 0;
        int returnCode = -1;
    };
    SimClock& clock_;
    int port_ = 0;
    uint32_t openError_ = 0;
    std::string name_, description_;
    uint16_t major_ = 1, minor_ = 0, build_ = 0, release_ = 0;
    int numberOfPhys_ = -1;  // the count the table states instead of the real one
    std::vector<Phy> phys_;
    std::vector<Fault> faults_;
};

// Reads "csmi_controllers" and attaches each controller at its port.
void LoadCsmiControllers(const nlohmann::json& description, SimMachine& machine);

}  // namespace kestrel::sim
