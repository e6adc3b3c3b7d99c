#include "sim/SimCsmiController.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "sim/SimAtaDrive.h"
#include "sim/SimDriveSupport.h"
#include "sim/SimMachine.h"

namespace kestrel::sim {
namespace {

using nlohmann::json;

constexpr uint32_t ERROR_INVALID_FUNCTION_ = 1;
constexpr uint32_t ERROR_INVALID_PARAMETER_ = 87;
constexpr uint32_t IOCTL_SCSI_MINIPORT_ = 0x0004D008;
// CSMI ReturnCodes.
constexpr uint32_t CSMI_FAILED = 1, CSMI_INVALID_PARAMETER = 3;

using bytes::Rd32;
using bytes::Wr16;
using bytes::Wr32;

[[noreturn]] void Bad(const std::string& field, const std::string& why) {
    throw std::runtime_error("machine description: csmi_controllers." + field + ": " + why);
}

// "5000c500a1b2c3d4": the eight bytes in that order.
void SasAddress(const json& v, uint8_t out[8], const std::string& field) {
    if (!v.is_string() || v.get<std::string>().size() != 16) Bad(field, "is 16 hex digits");
    const std::string s = v.get<std::string>();
    for (int i = 0; i < 8; ++i) {
        try {
            out[i] = static_cast<uint8_t>(std::stoul(s.substr(static_cast<size_t>(2 * i), 2), nullptr, 16));
        } catch (const std::exception&) {
            Bad(field, "is 16 hex digits");
        }
    }
}

}  // namespace

SimCsmiController::SimCsmiController(const json& c, SimMachine& machine) : clock_(machine.clock()) {
    if (!c.is_object() || !c.contains("port") || !c["port"].is_number_integer() || c["port"].get<int>() < 0)
        Bad("port", "needs the controller's SCSI port number");
    port_ = c["port"].get<int>();
    name_ = c.value("name", "simraid");
    description_ = c.value("description", "Simulated SAS/SATA RAID Controller");
    if (name_.size() > 80 || description_.size() > 80) Bad("name", "name and description are at most 80 characters");
    if (c.contains("revision")) {
        const auto& r = c["revision"];
        if (!r.is_array() || r.size() < 2 || r.size() > 4) Bad("revision", "is [major, minor, build, release]");
        major_ = r[0].get<uint16_t>();
        minor_ = r[1].get<uint16_t>();
        if (r.size() > 2) build_ = r[2].get<uint16_t>();
        if (r.size() > 3) release_ = r[3].get<uint16_t>();
    }
    openError_ = c.value("open_error", 0u);
    if (c.contains("number_of_phys")) numberOfPhys_ = c["number_of_phys"].get<int>() & 0xFF;
    const json phys = c.value("phys", json::array());
    if (!phys.is_array() || phys.size() > 32) Bad("phys", "is a list of at most 32 phys");
    uint8_t index = 0;
    for (const auto& p : phys) {
        Phy x;
        x.attached = p.value("attached", "sata");
        if (x.attached != "sata" && x.attached != "stp" && x.attached != "ssp" && x.attached != "none" && x.attached != "empty")
            Bad("phys.attached", "is one of sata, stp, ssp, none, empty");
        x.phyId = static_cast<uint8_t>(p.value("phy", static_cast<int>(index)));
        x.portId = static_cast<uint8_t>(p.value("port", static_cast<int>(index)));
        const uint8_t own[8] = {0x50, 0x0A, 0x0B, 0x0C, 0x00, 0x00, 0x00, index};
        std::memcpy(x.sasAddress, own, 8);
        if (p.contains("sas_address")) SasAddress(p["sas_address"], x.sasAddress, "phys.sas_address");
        if (p.contains("attached_sas_address")) SasAddress(p["attached_sas_address"], x.attachedSasAddress, "phys.attached_sas_address");
        if (p.contains("drive")) {
            if (x.attached != "sata" && x.attached != "stp") Bad("phys.drive", "only a SATA or STP phy carries a drive");
            json d = p["drive"];
            if (!d.contains("transports")) d["transports"] = json::array({"csmi"});
            x.drive = std::make_shared<SimAtaDrive>(d, machine.clock(), machine.options().stateDir);
        }
        phys_.push_back(std::move(x));
        ++index;
    }
    for (const auto& f : c.value("faults", json::array())) {
        Fault x;
        x.controlCode = f.value("control_code", 0u);
        x.failFirst = f.value("fail_first", 0);
        x.winError = f.value("win_error", 0u);
        x.returnCode = f.value("return_code", -1);
        if (x.winError == 0 && x.returnCode < 0) Bad("faults", "each needs win_error or return_code");
        faults_.push_back(x);
    }
}

std::shared_ptr<SimAtaDrive> SimCsmiController::DriveAtAddress(const uint8_t* address) const {
    for (const auto& p : phys_)
        if (p.attached != "empty" && std::memcmp(p.attachedSasAddress, address, 8) == 0) return p.drive;
    return nullptr;
}

std::shared_ptr<SimAtaDrive> SimCsmiController::DriveOnPhy(uint8_t phy) const {
    for (const auto& p : phys_)
        if (p.phyId == phy && p.attached != "empty") return p.drive;
    return nullptr;
}

uint32_t SimCsmiController::Ioctl(uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize,
                                  uint32_t& returned) {
    returned = 0;
    if (code != IOCTL_SCSI_MINIPORT_ || in != out || in == nullptr || inSize < 28 || outSize < inSize) return ERROR_INVALID_FUNCTION_;
    uint8_t* buf = out;
    if (Rd32(buf) != 28) return ERROR_INVALID_PARAMETER_;
    const uint32_t control = Rd32(buf + 16);
    for (auto& f : faults_) {
        if (f.controlCode != control || (f.failFirst > 0 && f.hits >= f.failFirst)) continue;
        ++f.hits;
        if (f.winError) return f.winError;
        Wr32(buf + 20, static_cast<uint32_t>(f.returnCode));
        returned = inSize;
        return 0;
    }
    const bool all = std::memcmp(buf + 4, "CSMIALL\0", 8) == 0, sas = std::memcmp(buf + 4, "CSMISAS\0", 8) == 0;
    returned = inSize;
    // Length: the bytes after the header that the request claims; never more than were sent.
    const uint32_t length = Rd32(buf + 24);
    if (length > inSize - 28) {
        Wr32(buf + 20, CSMI_INVALID_PARAMETER);
        return 0;
    }
    if (control == 1 && all) {
        // CSMI_SAS_DRIVER_INFO: name 81, description 81, major, minor, build, release, CSMI major, minor.
        if (length < 174) {
            Wr32(buf + 20, CSMI_INVALID_PARAMETER);
            return 0;
        }
        uint8_t* d = buf + 28;
        std::memset(d, 0, 174);
        std::memcpy(d, name_.data(), name_.size());
        std::memcpy(d + 81, description_.data(), description_.size());
        Wr16(d + 162, major_);
        Wr16(d + 164, minor_);
        Wr16(d + 166, build_);
        Wr16(d + 168, release_);
        Wr16(d + 170, 0);
        Wr16(d + 172, 82);
        Wr32(buf + 20, 0);
        return 0;
    }
    if (control == 20 && sas) {
        if (length < 2052) {
            Wr32(buf + 20, CSMI_INVALID_PARAMETER);
            return 0;
        }
        uint8_t* t = buf + 28;
        std::memset(t, 0, 2052);
        int present = 0;
        for (size_t i = 0; i < phys_.size(); ++i) {
            const Phy& p = phys_[i];
            if (p.attached == "empty") continue;
            ++present;
            uint8_t* e = t + 4 + 64 * i;
            // The controller's own phy: an initiator for SATA, STP and SSP.
            e[0] = 0x10;
            e[2] = 0x01 | 0x04 | 0x08;
            std::memcpy(e + 12, p.sasAddress, 8);
            e[20] = p.phyId;
            e[28] = p.portId;
            e[29] = 0x09;  // negotiated 3.0 Gbit/s
            uint8_t* a = e + 36;
            if (p.attached == "none") continue;
            a[0] = 0x10;
            a[3] = p.attached == "sata" ? 0x01 : p.attached == "stp" ? 0x04 : 0x08;
            std::memcpy(a + 12, p.attachedSasAddress, 8);
            a[20] = 0;
        }
        t[0] = static_cast<uint8_t>(numberOfPhys_ >= 0 ? numberOfPhys_ : present);
        Wr32(buf + 20, 0);
        return 0;
    }
    if (control == 25 && sas) {
        // Parameters after the 28-byte header: phy 28, port 29, rate 30, destination SAS address 32..39.
        if (inSize < 40) {
            Wr32(buf + 20, CSMI_INVALID_PARAMETER);
            return 0;
        }
        // The driver connects to the destination address when one is given (a deployment names its
        // drive by address, with phy and port 0); without one, the named phy's device answers.
        static const uint8_t kNoAddress[8]{};
        const bool addressed = std::memcmp(buf + 32, kNoAddress, 8) != 0;
        const auto drive = addressed ? DriveAtAddress(buf + 32) : DriveOnPhy(buf[28]);
        if (!drive) {
            Wr32(buf + 20, CSMI_FAILED);
            return 0;
        }
        // A drive that restarts after new firmware drops its link; the controller holds a request for
        // it until the drive is back, or fails it once the request's own timeout (header offset 12,
        // seconds) has passed.
        if (drive->Absent()) {
            const int64_t deadline = clock_.NowNs() + int64_t{Rd32(buf + 12)} * 1'000'000'000;
            clock_.SleepUntilNs(std::min(deadline, drive->AbsentUntilNs()));
            if (drive->Absent()) {
                Wr32(buf + 20, CSMI_FAILED);
                return 0;
            }
        }
        return drive->CsmiRequest(buf, inSize, outSize, returned);
    }
    Wr32(buf + 20, CSMI_INVALID_PARAMETER);
    return 0;
}

void LoadCsmiControllers(const json& description, SimMachine& machine) {
    if (!description.contains("csmi_controllers")) return;
    const json& list = description["csmi_controllers"];
    if (!list.is_array()) Bad("", "must be a list");
    for (const auto& c : list) {
        auto ctl = std::make_shared<SimCsmiController>(c, machine);
        machine.storage().Attach("\\\\.\\SCSI" + std::to_string(ctl->Port()) + ":", ctl);
    }
}

}  // namespace kestrel::sim
