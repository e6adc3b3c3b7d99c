#pragma once
// A simulated SATA SSD behind the storage port. It decodes the requests its driver stack accepts
// (ATA pass-through, the vendor CCh block and SAT ATA PASS-THROUGH through SCSI pass-through, CSMI
// STP through a controller port) from the published layouts, byte by byte, and answers as the
// drive would: IDENTIFY, the PPID log, the vendor FFh exchange, READ/WRITE BUFFER vendor pages,
// erase-all, and DOWNLOAD MICROCODE as a state machine that really installs a sim image.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/SimClock.h"
#include "sim/SimStorage.h"

namespace kestrel::sim {

class SimMachine;

class SimAtaDrive : public SimStorageDevice {
public:
    // cfg: the disk's "drive" object (docs/sim-machine.md, "SATA drive"). Throws std::runtime_error
    // naming the field when it is invalid.
    SimAtaDrive(const nlohmann::json& cfg, SimClock& clock, std::optional<std::filesystem::path> stateDir);

    uint32_t OpenError() override;
    uint32_t Ioctl(uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize, uint32_t& returned) override;
    // The CSMI STP pass-through as the controller port hands it down (with the port's phy checked).
    uint32_t CsmiRequest(uint8_t* buf, uint32_t inSize, uint32_t outSize, uint32_t& returned);

    // What the drive saw, for tests and the trace.
    struct Command {
        std::string transport;  // "ata", "ata-direct", "scsi_cc", "sat", "csmi"
        uint8_t features, count, lbaLow, lbaMid, lbaHigh, device, command;
        uint32_t dataLength;
        uint8_t status;
    };
    const std::vector<Command>& Commands() const { return commands_; }
    void ClearCommands() { commands_.clear(); }
    void SetRecording(bool on) { record_ = on; }
    const std::string& Revision() const { return revision_; }
    const std::string& PendingRevision() const { return pending_; }
    const std::string& Model() const { return model_; }
    const std::string& Serial() const { return serial_; }
    bool Absent();
    // Run time (ns) at which a restarting drive answers again; 0 when it never went away.
    int64_t AbsentUntilNs() const { return absentUntilNs_; }
    int EraseCount() const { return erases_; }
    bool BootCodeUpdated() const { return bootUpdated_; }

private:
    struct Fault {
        int command = -1, features = -1;
        std::string transport;
        int failFirst = 0;  // 0: every time
        int hits = 0;
        int status = -1, error = 0x04;
        uint32_t winError = 0;
        int64_t lateMs = 0;
        bool withData = false;
        bool executed = false;  // the command is carried out before the error answer
    };
    struct Result {
        uint8_t status = 0x50, error = 0;
        uint8_t count = 0, lbaLow = 0, lbaMid = 0, lbaHigh = 0, device = 0;
        std::vector<uint8_t> data;  // data in
        uint32_t winError = 0;
        bool dataWithError = false;
    };
    Result Execute(const std::string& transport, const uint8_t regs[7], const uint8_t* dataOut, uint32_t outLen, uint32_t inLen,
                   uint32_t timeoutS);
    Result Abort(uint8_t error = 0x04);
    Result Run(const uint8_t regs[7], const uint8_t* dataOut, uint32_t outLen, int64_t& durationMs);
    Result Download(const uint8_t regs[7], const uint8_t* dataOut, uint32_t outLen, int64_t& durationMs);
    bool Validate(std::string& revision, std::string& why);
    void Activate(const std::string& revision, bool restart, int64_t& durationMs);
    std::vector<uint8_t> IdentifyData() const;
    bool Takes(const std::string& transport) const;
    void Persist();

    uint32_t AtaPassThrough(bool direct, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize, uint32_t& returned);
    uint32_t ScsiPassThrough(bool direct, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize, uint32_t& returned);
    uint32_t Refusal(const std::string& transport) const;  // 0: a check condition

    SimClock& clock_;
    std::optional<std::filesystem::path> stateDir_;
    std::string model_, revision_, serial_, def_, ppid_, pending_;
    std::string validatedExt_;  // the extended revision of the image last validated
    uint16_t specificConfig_ = 0xC837, security_ = 0;
    uint8_t enterpriseFlags_ = 0;
    bool vendorFf_ = true, newErase_ = true, satRegisters_ = false, activateAfterDownload_ = false, rejectImages_ = false;
    int64_t eraseMs_ = 45000, activateMs_ = 2000, restartMs_ = 8000, latencyUs_ = 0;
    std::vector<std::string> transports_;
    nlohmann::json refuse_;
    std::vector<uint8_t> vendorBuffer_;
    std::vector<Fault> faults_;
    // vendor exchange state
    int armedFf_ = 0;        // 1: DEF read, 2: legacy erase
    bool eraseQueried_ = false;
    // download state
    std::vector<uint8_t> dl_;
    uint32_t nextBlock_ = 0;
    uint8_t dlMode_ = 0;
    bool bootMarker_ = false, bootUpdated_ = false;
    int64_t absentUntilNs_ = 0;
    int erases_ = 0;
    std::vector<Command> commands_;
    bool record_ = true;
    std::string transportNow_;
};

// The drive as a CSMI controller port "\\.\SCSI<n>:" shows it: only the STP pass-through for its phy.
class SimCsmiPort : public SimStorageDevice {
public:
    SimCsmiPort(std::shared_ptr<SimAtaDrive> drive, uint8_t phy) : drive_(std::move(drive)), phy_(phy) {}
    uint32_t Ioctl(uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize, uint32_t& returned) override;

private:
    std::shared_ptr<SimAtaDrive> drive_;
    uint8_t phy_;
};

}  // namespace kestrel::sim
