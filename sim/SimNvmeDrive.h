#pragma once
// A simulated NVMe SSD, reachable two ways: behind its disk on the Windows inbox driver (the
// storage protocol query for Identify, the miniport "FIRMWARE" request), and behind an Intel RST
// controller port (SimRstController: the "IntelNvm" pass-through and the "IntelFw " request).
// Requests are decoded from the published layouts at raw byte offsets, never with the program's
// structures. A download that activates really installs a sim image (sim/SimImage.h).
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/SimClock.h"
#include "sim/SimStorage.h"

namespace kestrel::sim {

class SimNvmeDrive : public SimStorageDevice {
public:
    // cfg: the disk's "drive" object with "kind": "nvme" (docs/sim-machine.md, "NVMe drive").
    SimNvmeDrive(const nlohmann::json& cfg, SimClock& clock, std::optional<std::filesystem::path> stateDir);

    // Through its disk (the inbox driver).
    uint32_t Ioctl(uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize, uint32_t& returned) override;

    // A firmware request: function 1, 2 or 3 with its data area (data, length) in the version-1
    // (inbox) or version-2 (RST) layout. Returns the Windows error (0: DeviceIoControl succeeds)
    // and sets the request's ReturnCode.
    uint32_t Firmware(uint32_t function, uint8_t* data, uint32_t length, bool v2, uint32_t& returnCode);
    // One admin command of the RST pass-through: the 64-byte submission entry, the data area. Fills
    // the 16-byte completion entry. Returns the Windows error.
    uint32_t Admin(const uint8_t* command, uint8_t* data, uint32_t length, uint8_t* completion);
    // Whether the drive's RST driver knows the Intel requests (drivers before 14.8 do not).
    bool IntelRequests() const { return intelRequests_; }

    const std::string& Revision() const { return revision_; }
    const std::string& PendingRevision() const { return pending_; }
    const std::string& Serial() const { return serial_; }
    const std::string& Model() const { return model_; }
    // What the drive saw: one line per request ("info", "download 0 4096", "activate 2", "identify",
    // "admin 06").
    const std::vector<std::string>& Requests() const { return requests_; }
    // Every byte the last activated download carried, zero fill included.
    const std::vector<uint8_t>& LastImage() const { return lastImage_; }

private:
    struct Fault {
        std::string request;  // identify, info, download, activate, admin
        int opcode = -1;
        int failFirst = 0;    // 0: every time
        int hits = 0;
        uint32_t winError = 0;
        int returnCode = -1;
    };
    // The fault that applies to this request now, if any.
    Fault* Hit(const std::string& request, int opcode = -1);
    std::vector<uint8_t> IdentifyData() const;
    std::vector<uint8_t> SlotLog() const;
    uint32_t StorageQuery(const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize, uint32_t& returned);
    uint32_t MiniportFirmware(uint8_t* buf, uint32_t inSize, uint32_t outSize, uint32_t& returned);
    uint32_t Activate(uint8_t slot, uint32_t& returnCode);
    std::string SlotRevision(int slot) const;
    void Persist();

    SimClock& clock_;
    std::optional<std::filesystem::path> stateDir_;
    std::string model_, serial_, revision_, ppid_, pending_;
    std::vector<std::string> slotRevisions_;  // by slot, from 1
    int slotCount_ = 2, activeSlot_ = 1;
    int reportedSlotCount_ = -1;  // a count the information reply states instead of the real one
    bool slot1ReadOnly_ = true, upgradeSupport_ = true, intelRequests_ = true, rejectImages_ = false;
    uint32_t activateReturnCode_ = 0;
    int64_t activateMs_ = 1000;
    uint16_t vendorId_ = 0x1F2A;
    uint32_t identifyDataOffset_ = 40;  // what the query reply states; the data stays at 40
    std::map<int, int> completionStatus_;  // opcode -> status code
    std::vector<Fault> faults_;
    std::vector<uint8_t> dl_, lastImage_;
    uint64_t nextOffset_ = 0;
    std::vector<std::string> requests_;
};

// An Intel RST controller at "\\.\Scsi<n>:": NVMe drives by path, target and LUN.
class SimRstController : public SimStorageDevice {
public:
    void Add(uint8_t path, uint8_t target, uint8_t lun, std::shared_ptr<SimNvmeDrive> drive);
    std::shared_ptr<SimNvmeDrive> DriveAt(uint8_t path, uint8_t target, uint8_t lun) const {
        const auto it = drives_.find({path, target, lun});
        return it == drives_.end() ? nullptr : it->second;
    }
    uint32_t Ioctl(uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize, uint32_t& returned) override;

private:
    SimNvmeDrive* Find(uint8_t path, uint8_t target, uint8_t lun);
    uint32_t PassThrough(uint8_t* buf, uint32_t size, uint32_t& returned);
    uint32_t FirmwareRequest(uint8_t* buf, uint32_t size, uint32_t& returned);
    std::map<std::tuple<uint8_t, uint8_t, uint8_t>, std::shared_ptr<SimNvmeDrive>> drives_;
};

}  // namespace kestrel::sim
