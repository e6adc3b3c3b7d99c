#include "sim/SimNvmeDrive.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "sim/SimDriveSupport.h"
#include "sim/SimImage.h"

// Layouts are read from the published definitions by byte offset, independent of the program's
// own structures: a wrong layout in the program then fails against this drive.
namespace kestrel::sim {
namespace {

using nlohmann::json;

constexpr uint32_t ERROR_INVALID_FUNCTION_ = 1;
constexpr uint32_t ERROR_DEV_NOT_EXIST_ = 55;
constexpr uint32_t ERROR_INVALID_PARAMETER_ = 87;
constexpr uint32_t ERROR_INSUFFICIENT_BUFFER_ = 122;

constexpr uint32_t IOCTL_SCSI_MINIPORT_ = 0x0004D008;
constexpr uint32_t IOCTL_STORAGE_QUERY_PROPERTY_ = 0x002D1400;
constexpr uint32_t MINIPORT_FIRMWARE_ = 0x001B0780;

// Firmware request ReturnCodes.
constexpr uint32_t FW_SUCCESS = 0, FW_INVALID_PARAMETER = 3, FW_INVALID_SLOT = 6, FW_INVALID_IMAGE = 7;
constexpr uint32_t kChunk = 4096;
constexpr uint32_t kMaxImage = 16u << 20;

using bytes::Rd16;
using bytes::Rd32;
using bytes::Rd64;
using bytes::Wr16;
using bytes::Wr32;
using drive::Bad;
using drive::Number;

// A blank-padded NVMe text field (not swapped).
void PutText(uint8_t* dst, const std::string& s, size_t width) {
    std::string padded = s.substr(0, width);
    padded.resize(width, ' ');
    std::memcpy(dst, padded.data(), width);
}

}  // namespace

SimNvmeDrive::SimNvmeDrive(const json& c, SimClock& clock, std::optional<std::filesystem::path> stateDir)
    : clock_(clock), stateDir_(std::move(stateDir)) {
    if (!c.is_object()) Bad("", "must be an object");
    auto str = [&](const char* k, const std::string& d) {
        if (!c.contains(k)) return d;
        if (!c[k].is_string()) Bad(k, "must be a text");
        return c[k].get<std::string>();
    };
    auto flag = [&](const char* k, bool d) {
        if (!c.contains(k)) return d;
        if (!c[k].is_boolean()) Bad(k, "must be true or false");
        return c[k].get<bool>();
    };
    model_ = str("model", "KESTREL NVME SSD 1TB");
    serial_ = str("serial", "KN00000001");
    revision_ = str("revision", "KN1.00A");
    ppid_ = str("ppid", "");
    if (model_.size() > 40 || revision_.size() > 8 || serial_.size() > 20 || ppid_.size() > 32)
        Bad("model", "model, revision, serial and ppid are at most 40, 8, 20 and 32 characters");
    if (c.contains("slot_count")) slotCount_ = Number(c["slot_count"], "slot_count");
    if (slotCount_ < 1 || slotCount_ > 7) Bad("slot_count", "is 1 to 7");
    if (c.contains("active_slot")) activeSlot_ = Number(c["active_slot"], "active_slot");
    if (activeSlot_ < 1 || activeSlot_ > slotCount_) Bad("active_slot", "is a slot from 1 to slot_count");
    if (c.contains("reported_slot_count")) reportedSlotCount_ = Number(c["reported_slot_count"], "reported_slot_count") & 0xFF;
    slot1ReadOnly_ = flag("slot1_read_only", true);
    upgradeSupport_ = flag("upgrade_support", true);
    rejectImages_ = flag("reject_images", false);
    if (c.contains("activate_return_code")) activateReturnCode_ = static_cast<uint32_t>(Number(c["activate_return_code"], "activate_return_code"));
    if (c.contains("activate_ms")) activateMs_ = Number(c["activate_ms"], "activate_ms");
    if (c.contains("identify_data_offset")) identifyDataOffset_ = static_cast<uint32_t>(Number(c["identify_data_offset"], "identify_data_offset"));
    if (c.contains("vendor_id")) vendorId_ = static_cast<uint16_t>(Number(c["vendor_id"], "vendor_id"));
    if (c.contains("rst")) intelRequests_ = c["rst"].is_object() ? c["rst"].value("intel_requests", true) : true;
    if (c.contains("completion_status")) {
        if (!c["completion_status"].is_object()) Bad("completion_status", "must be an object: opcode -> status code");
        for (const auto& [op, sc] : c["completion_status"].items())
            completionStatus_[Number(json(op), "completion_status")] = Number(sc, "completion_status." + op);
    }
    slotRevisions_.assign(static_cast<size_t>(slotCount_) + 1, "");
    slotRevisions_[static_cast<size_t>(activeSlot_)] = revision_;
    if (c.contains("slot_revisions")) {
        if (!c["slot_revisions"].is_array()) Bad("slot_revisions", "must be a list of texts, slot 1 first");
        size_t i = 1;
        for (const auto& r : c["slot_revisions"]) {
            if (!r.is_string() || i > static_cast<size_t>(slotCount_)) Bad("slot_revisions", "one text per slot, at most slot_count");
            if (i != static_cast<size_t>(activeSlot_)) slotRevisions_[i] = r.get<std::string>().substr(0, 8);
            ++i;
        }
    }
    if (c.contains("faults")) {
        if (!c["faults"].is_array()) Bad("faults", "must be a list");
        for (const auto& f : c["faults"]) {
            Fault x;
            x.request = f.value("request", "");
            if (x.request != "identify" && x.request != "info" && x.request != "download" && x.request != "activate" &&
                x.request != "admin")
                Bad("faults.request", "is one of identify, info, download, activate, admin");
            if (f.contains("opcode")) x.opcode = Number(f["opcode"], "faults.opcode");
            x.failFirst = f.value("fail_first", 0);
            x.winError = f.value("win_error", 0u);
            if (f.contains("return_code")) x.returnCode = Number(f["return_code"], "faults.return_code");
            if (x.winError == 0 && x.returnCode < 0) Bad("faults", "each needs win_error or return_code");
            faults_.push_back(x);
        }
    }
    if (stateDir_) {
        const json d = drive::LoadState(*stateDir_, serial_);
        if (!d.empty()) {
            if (d.contains("revision") && d["revision"].is_string()) revision_ = d["revision"].get<std::string>().substr(0, 8);
            if (d.contains("slot") && d["slot"].is_number_integer()) {
                const int slot = d["slot"].get<int>();
                if (slot >= 1 && slot <= slotCount_) activeSlot_ = slot;
            }
            // A pending image runs after the power cycle between two runs.
            const bool pending = d.contains("pending") && d["pending"].is_string() && !d["pending"].get<std::string>().empty();
            if (pending) revision_ = d["pending"].get<std::string>().substr(0, 8);
            slotRevisions_[static_cast<size_t>(activeSlot_)] = revision_;
            if (pending) Persist();
        }
    }
}

void SimNvmeDrive::Persist() {
    if (stateDir_) drive::SaveState(*stateDir_, serial_, {{"revision", revision_}, {"pending", pending_}, {"slot", activeSlot_}});
}

SimNvmeDrive::Fault* SimNvmeDrive::Hit(const std::string& request, int opcode) {
    for (auto& f : faults_) {
        if (f.request != request || (f.opcode >= 0 && f.opcode != opcode)) continue;
        if (f.failFirst > 0 && f.hits >= f.failFirst) continue;
        ++f.hits;
        return &f;
    }
    return nullptr;
}

std::string SimNvmeDrive::SlotRevision(int slot) const {
    if (slot < 1 || slot > slotCount_) return "";
    return slotRevisions_[static_cast<size_t>(slot)];
}

std::vector<uint8_t> SimNvmeDrive::IdentifyData() const {
    std::vector<uint8_t> d(4096, 0);
    Wr16(&d[0], vendorId_);
    Wr16(&d[2], vendorId_);
    PutText(&d[4], serial_, 20);
    PutText(&d[24], model_, 40);
    PutText(&d[64], revision_, 8);
    Wr16(&d[78], 0x0001);  // controller ID
    d[260] = static_cast<uint8_t>((slot1ReadOnly_ ? 1 : 0) | (slotCount_ << 1));
    if (!ppid_.empty()) PutText(&d[3072], ppid_, 32);
    return d;
}

std::vector<uint8_t> SimNvmeDrive::SlotLog() const {
    std::vector<uint8_t> d(512, 0);
    int next = 0;
    if (!pending_.empty())
        for (int s = 1; s <= slotCount_; ++s)
            if (SlotRevision(s) == pending_) next = s;
    d[0] = static_cast<uint8_t>((activeSlot_ & 7) | ((next & 7) << 4));
    for (int s = 1; s <= slotCount_; ++s) {
        const std::string r = SlotRevision(s);
        if (!r.empty()) PutText(&d[8 + 8 * (s - 1)], r, 8);
    }
    return d;
}

uint32_t SimNvmeDrive::Ioctl(uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize, uint32_t& returned) {
    returned = 0;
    if (code == IOCTL_STORAGE_QUERY_PROPERTY_) return StorageQuery(in, inSize, out, outSize, returned);
    if (code == IOCTL_SCSI_MINIPORT_ && in == out && in != nullptr) return MiniportFirmware(out, inSize, outSize, returned);
    return ERROR_INVALID_FUNCTION_;
}

uint32_t SimNvmeDrive::StorageQuery(const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize, uint32_t& returned) {
    // STORAGE_PROPERTY_QUERY, then STORAGE_PROTOCOL_SPECIFIC_DATA in its additional parameters.
    if (in == nullptr || inSize < 8 + 40) return ERROR_INVALID_PARAMETER_;
    const uint32_t property = Rd32(in), query = Rd32(in + 4);
    const uint8_t* ps = in + 8;
    if (property != 49 || query != 0) return ERROR_INVALID_FUNCTION_;  // only the adapter protocol query goes this far
    if (Rd32(ps) != 3 || Rd32(ps + 4) != 1 || Rd32(ps + 8) != 1 || Rd32(ps + 12) != 0) return ERROR_INVALID_PARAMETER_;
    const uint32_t dataOffset = Rd32(ps + 16), dataLength = Rd32(ps + 20);
    if (dataOffset != 40 || dataLength < 4096) return ERROR_INVALID_PARAMETER_;
    requests_.push_back("identify");
    if (Fault* f = Hit("identify")) {
        if (f->winError) return f->winError;
    }
    if (out == nullptr || outSize < 48 + 4096) return ERROR_INSUFFICIENT_BUFFER_;
    // STORAGE_PROTOCOL_DATA_DESCRIPTOR: version and size of itself, the protocol record, the data.
    std::vector<uint8_t> r(48 + 4096, 0);
    Wr32(&r[0], 48);
    Wr32(&r[4], 48);
    std::memcpy(&r[8], ps, 40);
    Wr32(&r[8 + 16], identifyDataOffset_);
    Wr32(&r[8 + 20], 4096);
    const auto id = IdentifyData();
    std::memcpy(&r[48], id.data(), id.size());
    std::memcpy(out, r.data(), r.size());
    returned = static_cast<uint32_t>(r.size());
    return 0;
}

uint32_t SimNvmeDrive::MiniportFirmware(uint8_t* buf, uint32_t inSize, uint32_t outSize, uint32_t& returned) {
    // SRB_IO_CONTROL (28), FIRMWARE_REQUEST_BLOCK (24) at 28.
    if (inSize < 52 || outSize < inSize) return ERROR_INVALID_PARAMETER_;
    if (Rd32(buf) != 28 || std::memcmp(buf + 4, "FIRMWARE", 8) != 0 || Rd32(buf + 16) != MINIPORT_FIRMWARE_)
        return ERROR_INVALID_FUNCTION_;
    if (Rd32(buf + 24) != inSize - 28) return ERROR_INVALID_PARAMETER_;
    const uint8_t* frb = buf + 28;
    const uint32_t version = Rd32(frb), size = Rd32(frb + 4), function = Rd32(frb + 8), offset = Rd32(frb + 16), length = Rd32(frb + 20);
    returned = inSize;
    if (version != 1 || size != 24 || offset < 52 || offset > inSize || length > inSize - offset) {
        Wr32(buf + 20, FW_INVALID_PARAMETER);
        return 0;
    }
    uint32_t rc = 0;
    const uint32_t err = Firmware(function, buf + offset, length, false, rc);
    if (err) {
        returned = 0;
        return err;
    }
    Wr32(buf + 20, rc);
    return 0;
}

uint32_t SimNvmeDrive::Firmware(uint32_t function, uint8_t* data, uint32_t length, bool v2, uint32_t& rc) {
    rc = FW_SUCCESS;
    const uint32_t head = v2 ? 24 : 16, record = v2 ? 24 : 16;
    if (function == 1) {
        requests_.push_back("info");
        if (Fault* f = Hit("info")) {
            if (f->winError) return f->winError;
            rc = static_cast<uint32_t>(f->returnCode);
            return 0;
        }
        if (length < head) {
            rc = FW_INVALID_PARAMETER;
            return 0;
        }
        std::memset(data, 0, length);
        const uint32_t fits = (length - head) / record;
        const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(slotCount_), fits);
        Wr32(data, v2 ? 2 : 1);
        Wr32(data + 4, head + n * record);
        data[8] = upgradeSupport_ ? 1 : 0;
        data[9] = static_cast<uint8_t>(reportedSlotCount_ >= 0 ? reportedSlotCount_ : slotCount_);
        data[10] = static_cast<uint8_t>(activeSlot_);
        int pendingSlot = 0xFF;
        if (!pending_.empty())
            for (int s = 1; s <= slotCount_; ++s)
                if (SlotRevision(s) == pending_) pendingSlot = s;
        data[11] = static_cast<uint8_t>(pendingSlot);
        if (v2) {
            Wr32(data + 16, kChunk);    // image payload alignment
            Wr32(data + 20, kMaxImage);  // image payload maximum size
        }
        for (uint32_t i = 0; i < n; ++i) {
            uint8_t* r = data + head + i * record;
            const int slot = static_cast<int>(i) + 1;
            r[0] = static_cast<uint8_t>(slot);
            r[1] = (slot == 1 && slot1ReadOnly_) ? 1 : 0;
            const std::string rev = SlotRevision(slot);
            std::memcpy(r + 8, rev.data(), std::min<size_t>(rev.size(), 8));
        }
        return 0;
    }
    if (function == 2) {
        // Version 1: Version, Size 24, Offset, BufferSize, data at 24. Version 2: Size 32, then
        // Slot, 3 reserved, ImageSize, data at 32.
        const uint32_t dataAt = v2 ? 32 : 24;
        if (length < dataAt) {
            rc = FW_INVALID_PARAMETER;
            return 0;
        }
        const uint32_t version = Rd32(data), size = Rd32(data + 4);
        const uint64_t offset = Rd64(data + 8), bytes = Rd64(data + 16);
        requests_.push_back("download " + std::to_string(offset) + " " + std::to_string(bytes) +
                            (v2 ? " slot " + std::to_string(data[24]) : std::string()));
        if (Fault* f = Hit("download")) {
            if (f->winError) return f->winError;
            rc = static_cast<uint32_t>(f->returnCode);
            return 0;
        }
        const bool ok = version == (v2 ? 2u : 1u) && size == dataAt && bytes == kChunk && bytes <= length - dataAt &&
                        offset == nextOffset_ && offset + bytes <= kMaxImage;
        if (!ok) {
            // Out of sequence or a wrong chunk: the download is dropped.
            dl_.clear();
            nextOffset_ = 0;
            rc = FW_INVALID_PARAMETER;
            return 0;
        }
        if (offset == 0) dl_.clear();
        dl_.insert(dl_.end(), data + dataAt, data + dataAt + bytes);
        nextOffset_ = offset + bytes;
        return 0;
    }
    if (function == 3) {
        if (length < 12 || Rd32(data + 4) != 12) {
            rc = FW_INVALID_PARAMETER;
            return 0;
        }
        const uint8_t slot = data[8];
        requests_.push_back("activate " + std::to_string(slot) + " version " + std::to_string(Rd32(data)));
        if (Fault* f = Hit("activate")) {
            if (f->winError) return f->winError;
            rc = static_cast<uint32_t>(f->returnCode);
            return 0;
        }
        return Activate(slot, rc);
    }
    rc = FW_INVALID_PARAMETER;
    return 0;
}

uint32_t SimNvmeDrive::Activate(uint8_t slot, uint32_t& rc) {
    auto drop = [&] {
        dl_.clear();
        nextOffset_ = 0;
    };
    if (slot == 0) {
        // Slot 0: the controller chooses, the first writable slot that is not running.
        auto writable = [&](int s) { return !(s == 1 && slot1ReadOnly_); };
        for (int s = 1; s <= slotCount_ && slot == 0; ++s)
            if (writable(s) && s != activeSlot_) slot = static_cast<uint8_t>(s);
        if (slot == 0 && writable(activeSlot_)) slot = static_cast<uint8_t>(activeSlot_);
    }
    if (slot < 1 || slot > slotCount_ || (slot == 1 && slot1ReadOnly_)) {
        rc = FW_INVALID_SLOT;
        return 0;
    }
    // The sim image header tells the image's true length; the zero fill after it is ignored.
    std::string why;
    std::optional<SimImageInfo> info;
    if (dl_.size() >= 16) {
        const uint64_t total = kSimImageHeaderSize + Rd32(&dl_[12]);
        if (total <= dl_.size()) info = ParseSimImage(std::span<const uint8_t>(dl_.data(), total), why);
    }
    lastImage_ = dl_;
    if (!info || !SimImageFits(*info, model_) || rejectImages_) {
        drop();
        rc = FW_INVALID_IMAGE;
        return 0;
    }
    if (activateReturnCode_ != FW_SUCCESS && activateReturnCode_ != 0x20) {
        drop();
        rc = activateReturnCode_;
        return 0;
    }
    clock_.SleepUntilNs(clock_.NowNs() + activateMs_ * 1'000'000);
    slotRevisions_[slot] = info->revision.substr(0, 8);
    if (activateReturnCode_ == 0x20) {
        // Runs after the next power cycle: a later run with the state folder.
        pending_ = info->revision.substr(0, 8);
        rc = 0x20;
        if (stateDir_) {
            // The slot becomes active then; record it with the pending revision.
            const int running = activeSlot_;
            activeSlot_ = slot;
            Persist();
            activeSlot_ = running;
        }
    } else {
        revision_ = info->revision.substr(0, 8);
        activeSlot_ = slot;
        pending_.clear();
        Persist();
    }
    drop();
    return 0;
}

uint32_t SimNvmeDrive::Admin(const uint8_t* cmd, uint8_t* data, uint32_t length, uint8_t* completion) {
    const uint8_t opcode = cmd[0];
    char name[16];
    std::snprintf(name, sizeof name, "admin %02x", opcode);
    requests_.push_back(name);
    std::memset(completion, 0, 16);
    uint8_t sc = 0;
    if (Fault* f = Hit("admin", opcode)) {
        if (f->winError) return f->winError;
        sc = static_cast<uint8_t>(f->returnCode);
    }
    std::vector<uint8_t> reply;
    if (opcode == 0x06 && cmd[40] == 1) {
        reply = IdentifyData();
    } else if (opcode == 0x02 && cmd[40] == 0x03) {
        const uint32_t dwords = ((Rd32(cmd + 40) >> 16) & 0x0FFF) + 1;
        reply = SlotLog();
        reply.resize(std::min<size_t>(reply.size(), size_t{dwords} * 4));
    } else {
        sc = 0x01;  // invalid command opcode
    }
    const auto it = completionStatus_.find(opcode);
    if (it != completionStatus_.end()) sc = static_cast<uint8_t>(it->second);
    if (sc == 0 && data) std::memcpy(data, reply.data(), std::min<size_t>(reply.size(), length));
    Wr16(completion + 8, 0x0011);                   // SQ head pointer
    Wr16(completion + 10, 0);                       // admin queue
    Wr16(completion + 12, Rd16(cmd + 2));           // command identifier
    Wr16(completion + 14, static_cast<uint16_t>(1 | (sc << 1)));  // phase tag 1
    return 0;
}

// ---------------------------------------------------------------- the RST controller port

void SimRstController::Add(uint8_t path, uint8_t target, uint8_t lun, std::shared_ptr<SimNvmeDrive> drive) {
    drives_[{path, target, lun}] = std::move(drive);
}

SimNvmeDrive* SimRstController::Find(uint8_t path, uint8_t target, uint8_t lun) {
    const auto it = drives_.find({path, target, lun});
    return it == drives_.end() ? nullptr : it->second.get();
}

uint32_t SimRstController::Ioctl(uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize, uint32_t& returned) {
    returned = 0;
    if (code != IOCTL_SCSI_MINIPORT_ || in != out || in == nullptr || inSize < 28 || outSize < inSize) return ERROR_INVALID_FUNCTION_;
    if (Rd32(out) != 28 || Rd32(out + 24) != inSize - 28) return ERROR_INVALID_PARAMETER_;
    const bool knows = !drives_.empty() && drives_.begin()->second->IntelRequests();
    if (std::memcmp(out + 4, "IntelNvm", 8) == 0 && Rd32(out + 16) == 0xF0002808) {
        if (!knows) return ERROR_INVALID_FUNCTION_;
        return PassThrough(out, inSize, returned);
    }
    if (std::memcmp(out + 4, "IntelFw ", 8) == 0 && Rd32(out + 16) == 0xF0000040) {
        if (!knows) return ERROR_INVALID_FUNCTION_;
        return FirmwareRequest(out, inSize, returned);
    }
    if (std::memcmp(out + 4, "FIRMWARE", 8) == 0 && !drives_.empty()) {
        // The Windows miniport request on the port reaches the first drive.
        return drives_.begin()->second->Ioctl(code, in, inSize, out, outSize, returned);
    }
    return ERROR_INVALID_FUNCTION_;
}

uint32_t SimRstController::PassThrough(uint8_t* buf, uint32_t size, uint32_t& returned) {
    // 28 version, 29 path, 30 target, 31 LUN, 32 command (64), 96 I/O flag, 100 completion (16),
    // 116 data offset, 120 data length, data from 168.
    if (size < 168 || buf[28] != 1) return ERROR_INVALID_PARAMETER_;
    const uint32_t dataOffset = Rd32(buf + 116), dataLength = Rd32(buf + 120);
    if (dataOffset != 168 || dataLength > size - 168) return ERROR_INVALID_PARAMETER_;
    SimNvmeDrive* d = Find(buf[29], buf[30], buf[31]);
    if (d == nullptr) return ERROR_DEV_NOT_EXIST_;
    if (buf[96] != 0) {
        // Only admin commands are simulated; an I/O command completes with "invalid opcode".
        std::memset(buf + 100, 0, 16);
        Wr16(buf + 114, static_cast<uint16_t>(1 | (1 << 1)));
        Wr32(buf + 20, 0);
        returned = size;
        return 0;
    }
    const uint32_t err = d->Admin(buf + 32, buf + 168, dataLength, buf + 100);
    if (err) return err;
    Wr32(buf + 20, 0);
    returned = size;
    return 0;
}

uint32_t SimRstController::FirmwareRequest(uint8_t* buf, uint32_t size, uint32_t& returned) {
    // 28 address block (version, path, target, LUN), 32 FIRMWARE_REQUEST_BLOCK, data from 56.
    if (size < 56 || buf[28] != 1) return ERROR_INVALID_PARAMETER_;
    SimNvmeDrive* d = Find(buf[29], buf[30], buf[31]);
    if (d == nullptr) return ERROR_DEV_NOT_EXIST_;
    const uint8_t* frb = buf + 32;
    const uint32_t function = Rd32(frb + 8), offset = Rd32(frb + 16), length = Rd32(frb + 20);
    returned = size;
    if (Rd32(frb) != 1 || Rd32(frb + 4) != 24 || offset != 56 || length > size - offset) {
        Wr32(buf + 20, FW_INVALID_PARAMETER);
        return 0;
    }
    if (function == 1 && (length < 8 || Rd32(buf + 56) != 2)) {
        // The request names the version of the answer it can read.
        Wr32(buf + 20, FW_INVALID_PARAMETER);
        return 0;
    }
    uint32_t rc = 0;
    const uint32_t err = d->Firmware(function, buf + offset, length, true, rc);
    if (err) {
        returned = 0;
        return err;
    }
    Wr32(buf + 20, rc);
    return 0;
}

}  // namespace kestrel::sim
