#include "sim/SimAtaDrive.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "sim/SimDriveSupport.h"
#include "sim/SimImage.h"

// Layouts here are read from the published definitions by byte offset, on purpose independent of
// the program's own structures: a wrong layout in the program then fails against this drive.
namespace kestrel::sim {
namespace {

using nlohmann::json;

constexpr bool k64 = sizeof(void*) == 8;
// ATA_PASS_THROUGH_EX / _DIRECT
constexpr uint32_t kAptSize = k64 ? 48 : 40;
constexpr uint32_t kAptBufferField = k64 ? 24 : 20;
constexpr uint32_t kAptCurrentTf = k64 ? 40 : 32;
// SCSI_PASS_THROUGH / _DIRECT
constexpr uint32_t kSptSize = k64 ? 56 : 44;
constexpr uint32_t kSptBufferField = k64 ? 24 : 20;
constexpr uint32_t kSptSenseOffset = k64 ? 32 : 24;
constexpr uint32_t kSptCdb = k64 ? 36 : 28;

constexpr uint32_t ERROR_INVALID_FUNCTION_ = 1;
constexpr uint32_t ERROR_FILE_NOT_FOUND_ = 2;
constexpr uint32_t ERROR_INVALID_PARAMETER_ = 87;
constexpr uint32_t ERROR_SEM_TIMEOUT_ = 121;
constexpr uint32_t ERROR_DEVICE_NOT_CONNECTED_ = 1167;

constexpr uint32_t kMaxImage = 4u << 20;

using bytes::Rd16;
using bytes::Rd32;
using bytes::Wr32;
using drive::Bad;
using drive::Number;

uint64_t RdPtr(const uint8_t* p) {
    uint64_t v = 0;
    for (size_t i = 0; i < sizeof(void*); ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
    return v;
}
std::string Str(const json& c, const char* key, const std::string& fallback) {
    if (!c.contains(key)) return fallback;
    if (!c[key].is_string()) Bad(key, "must be a text");
    return c[key].get<std::string>();
}

// An ATA string field: blank-padded, two characters per word swapped.
void PutAtaString(uint8_t* dst, const std::string& s, size_t width) {
    std::string padded = s.substr(0, width);
    padded.resize(width, ' ');
    for (size_t i = 0; i + 1 < width; i += 2) {
        dst[i] = static_cast<uint8_t>(padded[i + 1]);
        dst[i + 1] = static_cast<uint8_t>(padded[i]);
    }
}

}  // namespace

SimAtaDrive::SimAtaDrive(const json& c, SimClock& clock, std::optional<std::filesystem::path> stateDir)
    : clock_(clock), stateDir_(std::move(stateDir)) {
    if (!c.is_object()) Bad("", "must be an object");
    model_ = Str(c, "model", "KESTREL SATA SSD 512GB");
    revision_ = Str(c, "revision", "KS1.00A");
    serial_ = Str(c, "serial", "KS00000001");
    def_ = Str(c, "def", "");
    ppid_ = Str(c, "ppid", "");
    if (model_.size() > 40 || revision_.size() > 8 || serial_.size() > 20 || def_.size() > 8 || ppid_.size() > 32)
        Bad("model", "model, revision, serial, def and ppid are at most 40, 8, 20, 8 and 32 characters");
    if (c.contains("specific_configuration")) specificConfig_ = static_cast<uint16_t>(Number(c["specific_configuration"], "specific_configuration"));
    if (c.contains("security")) security_ = static_cast<uint16_t>(Number(c["security"], "security"));
    if (c.contains("enterprise_flags")) enterpriseFlags_ = static_cast<uint8_t>(Number(c["enterprise_flags"], "enterprise_flags"));
    auto flag = [&](const char* k, bool d) {
        if (!c.contains(k)) return d;
        if (!c[k].is_boolean()) Bad(k, "must be true or false");
        return c[k].get<bool>();
    };
    auto ms = [&](const char* k, int64_t d) {
        if (!c.contains(k)) return d;
        if (!c[k].is_number_integer() || c[k].get<int64_t>() < 0) Bad(k, "must be a non-negative whole number");
        return c[k].get<int64_t>();
    };
    vendorFf_ = flag("vendor_commands", true);
    newErase_ = flag("new_erase", true);
    satRegisters_ = flag("sat_registers", false);
    activateAfterDownload_ = flag("activate_after_download", false);
    rejectImages_ = flag("reject_images", false);
    eraseMs_ = ms("erase_ms", 45000);
    activateMs_ = ms("activate_ms", 2000);
    restartMs_ = ms("restart_ms", 8000);
    latencyUs_ = ms("latency_us", 0);
    if (c.contains("transports")) {
        if (!c["transports"].is_array()) Bad("transports", "must be a list");
        for (const auto& t : c["transports"]) {
            const std::string s = t.is_string() ? t.get<std::string>() : "";
            if (s != "ata" && s != "scsi_cc" && s != "sat" && s != "csmi") Bad("transports", "each is one of ata, scsi_cc, sat, csmi");
            transports_.push_back(s);
        }
    } else {
        transports_ = {"ata"};
    }
    refuse_ = c.value("refuse", json::object());
    if (!refuse_.is_object()) Bad("refuse", "must be an object");
    vendorBuffer_.assign(512, 0);
    if (c.contains("vendor_buffer")) {
        const std::string hex = Str(c, "vendor_buffer", "");
        if (hex.size() % 2 || hex.size() > 1024) Bad("vendor_buffer", "hex text of at most 512 bytes");
        for (size_t i = 0; i < hex.size(); i += 2) vendorBuffer_[i / 2] = static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16));
    } else {
        for (size_t i = 0; i < 512; ++i) vendorBuffer_[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    if (c.contains("faults")) {
        if (!c["faults"].is_array()) Bad("faults", "must be a list");
        for (const auto& f : c["faults"]) {
            Fault x;
            if (f.contains("command")) x.command = Number(f["command"], "faults.command");
            if (f.contains("features")) x.features = Number(f["features"], "faults.features");
            x.transport = f.value("transport", "");
            x.failFirst = f.value("fail_first", 0);
            if (f.contains("status")) x.status = Number(f["status"], "faults.status");
            if (f.contains("error")) x.error = Number(f["error"], "faults.error");
            x.winError = f.value("win_error", 0u);
            x.lateMs = f.value("late_ms", int64_t{0});
            x.withData = f.value("with_data", false);
            x.executed = f.value("executed", false);
            faults_.push_back(x);
        }
    }
    if (stateDir_) {
        const json d = drive::LoadState(*stateDir_, serial_);
        if (d.contains("revision") && d["revision"].is_string()) revision_ = d["revision"].get<std::string>().substr(0, 8);
        if (d.contains("def") && d["def"].is_string()) def_ = d["def"].get<std::string>().substr(0, 8);
    }
}

void SimAtaDrive::Persist() {
    if (stateDir_) drive::SaveState(*stateDir_, serial_, {{"revision", revision_}, {"def", def_}});
}

bool SimAtaDrive::Absent() { return absentUntilNs_ != 0 && clock_.NowNs() < absentUntilNs_; }

uint32_t SimAtaDrive::OpenError() { return Absent() ? ERROR_FILE_NOT_FOUND_ : 0; }

bool SimAtaDrive::Takes(const std::string& t) const { return std::find(transports_.begin(), transports_.end(), t) != transports_.end(); }

uint32_t SimAtaDrive::Refusal(const std::string& t) const {
    if (refuse_.contains(t)) {
        const json& v = refuse_[t];
        if (v.is_string() && v.get<std::string>() == "check_condition") return 0;
        if (v.is_number_integer() && v.get<int64_t>() > 0) return v.get<uint32_t>();
    }
    // Defaults: the ATA port and CSMI drivers do not know the request; SCSI stacks reject the block.
    return (t == "scsi_cc" || t == "sat") ? 0 : ERROR_INVALID_FUNCTION_;
}

// ---------------------------------------------------------------- the drive

std::vector<uint8_t> SimAtaDrive::IdentifyData() const {
    std::vector<uint8_t> d(512, 0);
    d[0] = 0x40;  // fixed device
    d[4] = static_cast<uint8_t>(specificConfig_);
    d[5] = static_cast<uint8_t>(specificConfig_ >> 8);
    PutAtaString(&d[20], serial_, 20);
    PutAtaString(&d[46], revision_, 8);
    PutAtaString(&d[54], model_, 40);
    d[256] = static_cast<uint8_t>(security_);
    d[257] = static_cast<uint8_t>(security_ >> 8);
    d[318] = enterpriseFlags_;
    return d;
}

SimAtaDrive::Result SimAtaDrive::Abort(uint8_t error) {
    Result r;
    r.status = 0x51;
    r.error = error;
    return r;
}

SimAtaDrive::Result SimAtaDrive::Execute(const std::string& transport, const uint8_t regs[7], const uint8_t* dataOut, uint32_t outLen,
                                         uint32_t inLen, uint32_t timeoutS) {
    Result r;
    int64_t durationMs = 0;
    bool faulted = false;
    for (auto& f : faults_) {
        if (f.command >= 0 && f.command != regs[6]) continue;
        if (f.features >= 0 && f.features != regs[0]) continue;
        if (!f.transport.empty() && f.transport != transport) continue;
        ++f.hits;
        if (f.failFirst > 0 && f.hits > f.failFirst) continue;
        if (f.winError) {
            // A timeout takes the whole request time before the driver gives up.
            if (f.winError == ERROR_SEM_TIMEOUT_) clock_.SleepUntilNs(clock_.NowNs() + int64_t{timeoutS} * 1'000'000'000);
            r.winError = f.winError;
            return r;
        }
        if (f.lateMs) clock_.SleepUntilNs(clock_.NowNs() + f.lateMs * 1'000'000);
        if (f.status >= 0 && f.executed) {
            // The drive carries the command out and still answers with the error.
            Run(regs, dataOut, outLen, durationMs);
            r = Abort(static_cast<uint8_t>(f.error));
            r.status = static_cast<uint8_t>(f.status);
            faulted = true;
            break;
        }
        if (f.status >= 0) {
            r = f.withData && regs[6] == 0xEC ? Result{} : Abort(static_cast<uint8_t>(f.error));
            if (f.withData && regs[6] == 0xEC) {
                r.data = IdentifyData();
                r.status = static_cast<uint8_t>(f.status);
                r.error = static_cast<uint8_t>(f.error);
                r.dataWithError = true;
            } else {
                r.status = static_cast<uint8_t>(f.status);
            }
            faulted = true;
            break;
        }
    }
    if (!faulted) r = Run(regs, dataOut, outLen, durationMs);
    durationMs += latencyUs_ / 1000;
    if (timeoutS != 0 && durationMs > int64_t{timeoutS} * 1000) {
        clock_.SleepUntilNs(clock_.NowNs() + int64_t{timeoutS} * 1'000'000'000);
        Result t;
        t.winError = ERROR_SEM_TIMEOUT_;
        return t;
    }
    if (latencyUs_ % 1000 || durationMs) clock_.SleepUntilNs(clock_.NowNs() + durationMs * 1'000'000 + (latencyUs_ % 1000) * 1000);
    if (r.data.size() > inLen) r.data.resize(inLen);
    return r;
}

SimAtaDrive::Result SimAtaDrive::Run(const uint8_t regs[7], const uint8_t* out, uint32_t outLen, int64_t& durationMs) {
    const uint8_t fr = regs[0], sc = regs[1], lo = regs[2], mid = regs[3], hi = regs[4], cmd = regs[6];
    Result r;
    switch (cmd) {
        case 0xEC:
            r.data = IdentifyData();
            return r;
        case 0x2F: {
            if (lo != 0x9A || sc == 0 || mid != 0) return Abort();
            std::vector<uint8_t> page(512u * sc, 0);
            std::string text = ppid_;
            text.resize(32, ' ');
            std::memcpy(page.data(), text.data(), 32);
            for (size_t i = 0; i < 24; i += 2) std::swap(page[i], page[i + 1]);
            r.data = page;
            return r;
        }
        case 0xFF:
            if (!vendorFf_) return Abort();
            if (fr == 0xFC && sc == 1) {
                if (outLen < 512 || out == nullptr) return Abort();
                if (out[0] == 0x0A && out[1] == 0x07) armedFf_ = 1;
                else if (out[0] == 0x07 && out[1] == 0xBE) armedFf_ = 2;
                else return Abort();
                return r;
            }
            if (fr == 0xFD && sc == 1 && armedFf_ == 1) {
                armedFf_ = 0;
                r.data.assign(512, 0);
                if (!def_.empty()) std::memcpy(r.data.data(), def_.data(), def_.size());
                return r;
            }
            if (fr == 0xFD && sc == 0 && armedFf_ == 2) {
                armedFf_ = 0;
                ++erases_;
                durationMs += eraseMs_;
                return r;
            }
            armedFf_ = 0;
            return Abort();
        case 0xE8: {
            if (lo != 0x4B || mid != 0x51 || hi != 0x44 || outLen < 512 || out == nullptr) return Abort();
            if (!(out[28] == 0x9A && out[29] == 0x3C && out[30] == 0x71 && out[31] == 0xE5)) return Abort();
            if (out[0] == 0x51) {
                eraseQueried_ = true;
                return r;
            }
            if (out[0] == 0x07 && out[1] == 0xBE && newErase_) {
                ++erases_;
                durationMs += eraseMs_;
                return r;
            }
            return Abort();
        }
        case 0xE4: {
            r.data.assign(512, 0);
            if (lo == 0x4B && mid == 0x51 && hi == 0x44) {
                if (!eraseQueried_) return Abort();
                if (fr == 0x80) {
                    Wr32(r.data.data(), newErase_ ? 1u : 0u);
                    return r;
                }
                if (fr == 0x00) {
                    eraseQueried_ = false;
                    if (newErase_) {
                        const char sig[] = "AEP NEWSupport";
                        for (size_t i = 0; i < 14; ++i) r.data[i * 4] = static_cast<uint8_t>(sig[i]);
                    }
                    return r;
                }
                return Abort();
            }
            if (lo == 0x51 && mid == 0x5A && hi == 0x56) {
                r.data = vendorBuffer_;
                return r;
            }
            return Abort();
        }
        case 0x92: return Download(regs, out, outLen, durationMs);
        default: return Abort();
    }
}

bool SimAtaDrive::Validate(std::string& revision, std::string& why) {
    const auto info = ParseSimImage(dl_, why);
    if (!info) return false;
    if (!SimImageFits(*info, model_)) {
        why = "image is not for this model";
        return false;
    }
    if (rejectImages_) {
        why = "the drive rejects images";
        return false;
    }
    revision = info->revision;
    validatedExt_ = info->extRevision;
    return true;
}

void SimAtaDrive::Activate(const std::string& revision, bool restart, int64_t& durationMs) {
    revision_ = revision;
    // The extended revision (DEF) comes with the firmware when the image names one.
    if (!validatedExt_.empty()) def_ = validatedExt_.substr(0, 8);
    pending_.clear();
    durationMs += activateMs_;
    if (restart && restartMs_ > 0) absentUntilNs_ = clock_.NowNs() + (durationMs + restartMs_) * 1'000'000;
    dl_.clear();
    nextBlock_ = 0;
    dlMode_ = 0;
    Persist();
}

SimAtaDrive::Result SimAtaDrive::Download(const uint8_t regs[7], const uint8_t* out, uint32_t outLen, int64_t& durationMs) {
    const uint8_t sub = regs[0];
    const uint32_t blocks = regs[1] | (static_cast<uint32_t>(regs[2]) << 8);
    const uint32_t offset = regs[3] | (static_cast<uint32_t>(regs[4]) << 8);
    auto reset = [&] {
        dl_.clear();
        nextBlock_ = 0;
        dlMode_ = 0;
    };
    Result r;
    if ((sub == 0x03 || sub == 0x0E) && blocks > 0) {
        if (offset == 0) {
            reset();
            dlMode_ = sub;
        } else if (dlMode_ != sub || offset != nextBlock_) {
            reset();
            return Abort();
        }
        if (out == nullptr || outLen != blocks * 512 || (offset + blocks) * 512 > kMaxImage) {
            reset();
            return Abort();
        }
        dl_.insert(dl_.end(), out, out + outLen);
        nextBlock_ += blocks;
        if (sub == 0x03 && activateAfterDownload_ && dl_.size() >= 128) {
            const uint32_t total = kSimImageHeaderSize + Rd32(&dl_[12]);
            if (dl_.size() >= total) {
                std::string rev, why;
                if (!Validate(rev, why)) {
                    reset();
                    return Abort();
                }
                Activate(rev, true, durationMs);
            }
        }
        return r;
    }
    if (sub == 0x0E && blocks == 0 && offset == 0x414C) {
        bootMarker_ = true;
        return r;
    }
    if ((sub == 0x07 && blocks == 0 && dlMode_ == 0x03) || (sub == 0x0F && blocks == 0 && dlMode_ == 0x0E)) {
        std::string rev, why;
        if (!Validate(rev, why)) {
            reset();
            return Abort();
        }
        if (sub == 0x07 && offset == 1) {
            // Saved for the next power cycle: the running revision stays until then.
            pending_ = rev;
            reset();
            return r;
        }
        if (sub == 0x07 && offset != 0 && offset != 0x414C) {
            reset();
            return Abort();
        }
        bootUpdated_ = (sub == 0x07 && offset == 0x414C) || (sub == 0x0F && bootMarker_);
        bootMarker_ = false;
        Activate(rev, true, durationMs);
        return r;
    }
    reset();
    return Abort();
}

// ---------------------------------------------------------------- transports

uint32_t SimAtaDrive::Ioctl(uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize, uint32_t& returned) {
    returned = 0;
    if (Absent()) return ERROR_DEVICE_NOT_CONNECTED_;
    switch (code) {
        case 0x0004D02C: return AtaPassThrough(false, in, inSize, out, outSize, returned);
        case 0x0004D030: return AtaPassThrough(true, in, inSize, out, outSize, returned);
        case 0x0004D004: return ScsiPassThrough(false, in, inSize, out, outSize, returned);
        case 0x0004D014: return ScsiPassThrough(true, in, inSize, out, outSize, returned);
        case 0x0004D008:
            if (in != out) return ERROR_INVALID_PARAMETER_;
            return CsmiRequest(out, inSize, outSize, returned);
        default: return ERROR_INVALID_FUNCTION_;
    }
}

uint32_t SimAtaDrive::AtaPassThrough(bool direct, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize,
                                     uint32_t& returned) {
    if (!Takes("ata")) return Refusal("ata");
    if (in == nullptr || out == nullptr || inSize < kAptSize || outSize < kAptSize || Rd16(in) != kAptSize) return ERROR_INVALID_PARAMETER_;
    const uint16_t flags = Rd16(in + 2);
    const uint32_t len = Rd32(in + 8);
    const uint32_t timeout = Rd32(in + 12);
    const bool dataIn = flags & 0x02, dataOut = flags & 0x04;
    if (dataIn && dataOut) return ERROR_INVALID_PARAMETER_;
    if ((dataIn || dataOut) && len == 0) return ERROR_INVALID_PARAMETER_;
    uint8_t* data = nullptr;
    if (len) {
        if (!dataIn && !dataOut) return ERROR_INVALID_PARAMETER_;
        if (direct) {
            data = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(RdPtr(in + kAptBufferField)));
            if (data == nullptr) return ERROR_INVALID_PARAMETER_;
        } else {
            const uint64_t off = RdPtr(in + kAptBufferField);
            if (off < kAptSize || off + len > inSize || off + len > outSize) return ERROR_INVALID_PARAMETER_;
            data = out + off;
        }
    }
    uint8_t regs[7];
    std::memcpy(regs, in + kAptCurrentTf, 7);
    std::vector<uint8_t> outCopy;
    if (dataOut) outCopy.assign(data, data + len);
    const Result res = Execute(direct ? "ata-direct" : "ata", regs, dataOut ? outCopy.data() : nullptr, dataOut ? len : 0,
                               dataIn ? len : 0, timeout);
    if (record_) commands_.push_back({direct ? "ata-direct" : "ata", regs[0], regs[1], regs[2], regs[3], regs[4], regs[5], regs[6], len, res.status});
    if (res.winError) return res.winError;
    if (in != out) std::memcpy(out, in, kAptSize);
    uint8_t* tf = out + kAptCurrentTf;
    tf[0] = res.error;
    tf[1] = res.count;
    tf[2] = res.lbaLow;
    tf[3] = res.lbaMid;
    tf[4] = res.lbaHigh;
    tf[5] = res.device;
    tf[6] = res.status;
    uint32_t moved = dataOut ? len : 0;
    if (dataIn && !(res.status & 0x01)) {
        moved = static_cast<uint32_t>(std::min<size_t>(res.data.size(), len));
        if (moved) std::memcpy(data, res.data.data(), moved);
    } else if (dataIn) {
        moved = 0;
    }
    Wr32(out + 8, moved);
    returned = direct ? kAptSize : (dataIn ? static_cast<uint32_t>(RdPtr(in + kAptBufferField)) + moved : kAptSize);
    if (returned > outSize) returned = outSize;
    return 0;
}

uint32_t SimAtaDrive::ScsiPassThrough(bool direct, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize,
                                      uint32_t& returned) {
    if (in == nullptr || out == nullptr || inSize < kSptSize || outSize < kSptSize || Rd16(in) != kSptSize) return ERROR_INVALID_PARAMETER_;
    const uint8_t cdbLen = in[6], senseLen = in[7], dir = in[8];
    const uint32_t len = Rd32(in + 12);
    const uint32_t timeout = Rd32(in + 16);
    const uint32_t senseOff = Rd32(in + kSptSenseOffset);
    if (cdbLen == 0 || cdbLen > 16 || dir > 2) return ERROR_INVALID_PARAMETER_;
    if (senseLen && (senseOff < kSptSize || uint64_t{senseOff} + senseLen > inSize || uint64_t{senseOff} + senseLen > outSize))
        return ERROR_INVALID_PARAMETER_;
    uint8_t* data = nullptr;
    if (len) {
        if (direct) {
            data = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(RdPtr(in + kSptBufferField)));
            if (data == nullptr) return ERROR_INVALID_PARAMETER_;
        } else {
            const uint64_t off = RdPtr(in + kSptBufferField);
            if (off < kSptSize || off + len > inSize || off + len > outSize) return ERROR_INVALID_PARAMETER_;
            data = out + off;
        }
    }
    uint8_t cdb[16] = {};
    std::memcpy(cdb, in + kSptCdb, cdbLen);
    if (in != out) std::memcpy(out, in, kSptSize);
    uint8_t* sense = out + senseOff;
    if (senseLen) std::memset(sense, 0, senseLen);
    auto setSense = [&](const uint8_t* bytes, size_t n) {
        std::memcpy(sense, bytes, std::min<size_t>(n, senseLen));
        out[7] = static_cast<uint8_t>(std::min<size_t>(n, senseLen));
    };
    auto checkCondition = [&](uint8_t key, uint8_t asc, uint8_t ascq) {
        const uint8_t fixed[18] = {0x70, 0, key, 0, 0, 0, 0, 10, 0, 0, 0, 0, asc, ascq, 0, 0, 0, 0};
        out[2] = 0x02;
        setSense(fixed, sizeof fixed);
        Wr32(out + 12, 0);
        returned = std::min(outSize, direct ? kSptSize : inSize);
        return 0u;
    };
    const bool isCc = cdb[0] == 0xCC, isSat = cdb[0] == 0xA1;
    const std::string transport = isCc ? "scsi_cc" : isSat ? "sat" : "";
    if (transport.empty()) return checkCondition(0x05, 0x20, 0x00);  // invalid command operation code
    if (!Takes(transport)) {
        const uint32_t e = Refusal(transport);
        if (e) return e;
        return checkCondition(0x05, 0x20, 0x00);
    }
    uint8_t regs[7];
    bool wantIn = dir == 1, wantOut = dir == 0 && len > 0;
    if (isCc) {
        if (cdbLen < 10) return checkCondition(0x05, 0x24, 0x00);
        std::memcpy(regs, cdb + 2, 7);
    } else {
        if (cdbLen != 12) return checkCondition(0x05, 0x24, 0x00);
        const uint8_t protocol = (cdb[1] >> 1) & 0x0F;
        const uint8_t flags = cdb[2];
        const bool tDirIn = flags & 0x08;
        const uint8_t tLength = flags & 0x03;
        std::memcpy(regs, cdb + 3, 7);
        if (protocol == 3) {
            if (len != 0 || tLength != 0) return checkCondition(0x05, 0x24, 0x00);
            wantIn = wantOut = false;
        } else if (protocol == 4 || protocol == 5) {
            const bool pioIn = protocol == 4;
            if (pioIn != tDirIn || pioIn != (dir == 1) || (!pioIn && dir != 0) || tLength != 2 || !(flags & 0x04))
                return checkCondition(0x05, 0x24, 0x00);
            // Transfers whose length the ATA command carries in its count must match it.
            if ((regs[6] == 0x92 || regs[6] == 0x2F) && len != uint32_t{regs[1]} * 512) return checkCondition(0x05, 0x24, 0x00);
        } else {
            return checkCondition(0x05, 0x24, 0x00);
        }
    }
    std::vector<uint8_t> outCopy;
    if (wantOut) outCopy.assign(data, data + len);
    const Result res = Execute(transport, regs, wantOut ? outCopy.data() : nullptr, wantOut ? len : 0, wantIn ? len : 0, timeout);
    if (record_) commands_.push_back({transport, regs[0], regs[1], regs[2], regs[3], regs[4], regs[5], regs[6], len, res.status});
    if (res.winError) return res.winError;
    uint32_t moved = wantOut ? len : 0;
    if (wantIn && (!(res.status & 0x01) || res.dataWithError)) {
        moved = static_cast<uint32_t>(std::min<size_t>(res.data.size(), len));
        if (moved) std::memcpy(data, res.data.data(), moved);
    } else if (wantIn) {
        moved = 0;
    }
    Wr32(out + 12, moved);
    out[2] = 0;
    returned = std::min(outSize, direct ? kSptSize : inSize);
    const bool error = res.status & 0x01;
    if (isCc) {
        if (error) {
            checkCondition(0x0B, 0x00, 0x00);  // aborted command
            Wr32(out + 12, moved);
        }
        return 0;
    }
    if (error || satRegisters_) {
        // Descriptor sense with the ATA status return descriptor.
        uint8_t d[22] = {0x72, static_cast<uint8_t>(error ? 0x0B : 0x00), 0x00, static_cast<uint8_t>(error ? 0x00 : 0x1D), 0, 0, 0, 14,
                         0x09, 0x0C, 0x00, res.error, 0, res.count, 0, res.lbaLow, 0, res.lbaMid, 0, res.lbaHigh, res.device, res.status};
        out[2] = 0x02;
        setSense(d, sizeof d);
    }
    return 0;
}

uint32_t SimAtaDrive::CsmiRequest(uint8_t* buf, uint32_t inSize, uint32_t outSize, uint32_t& returned) {
    returned = 0;
    if (Absent()) return ERROR_DEVICE_NOT_CONNECTED_;
    if (!Takes("csmi")) return Refusal("csmi");
    constexpr uint32_t kHdr = 28, kData = 164;
    if (buf == nullptr || inSize < kData || outSize < kData) return ERROR_INVALID_PARAMETER_;
    if (Rd32(buf) != kHdr || std::memcmp(buf + 4, "CSMISAS", 7) != 0) return ERROR_INVALID_PARAMETER_;
    const uint32_t control = Rd32(buf + 16);
    const uint32_t length = Rd32(buf + 24);
    returned = outSize;
    if (control != 25) {
        Wr32(buf + 20, 1);  // CSMI_SAS_STATUS_FAILED
        return 0;
    }
    const uint32_t timeout = Rd32(buf + 12);
    const uint8_t* fis = buf + 44;
    const uint32_t uFlags = Rd32(buf + 64);
    const uint32_t dataLen = Rd32(buf + 68);
    if (uint64_t{length} + kHdr > inSize || dataLen > inSize - kData || length < 140 || dataLen > length - 140 || fis[0] != 0x27 ||
        !(fis[1] & 0x80)) {
        Wr32(buf + 20, 3);  // CSMI_SAS_STATUS_INVALID_PARAMETER
        return 0;
    }
    const bool rd = uFlags & 0x01, wr = uFlags & 0x02;
    const uint8_t regs[7] = {fis[3], fis[12], fis[4], fis[5], fis[6], fis[7], fis[2]};
    std::vector<uint8_t> outCopy;
    if (wr) outCopy.assign(buf + kData, buf + kData + dataLen);
    const Result res = Execute("csmi", regs, wr ? outCopy.data() : nullptr, wr ? dataLen : 0, rd ? dataLen : 0, timeout);
    if (record_) commands_.push_back({"csmi", regs[0], regs[1], regs[2], regs[3], regs[4], regs[5], regs[6], dataLen, res.status});
    if (res.winError) {
        returned = 0;
        return res.winError;
    }
    Wr32(buf + 20, 0);
    uint8_t* st = buf + 76;
    std::memset(st, 0, 20);
    st[0] = 0x34;
    st[2] = res.status;
    st[3] = res.error;
    st[4] = res.lbaLow;
    st[5] = res.lbaMid;
    st[6] = res.lbaHigh;
    st[7] = res.device;
    st[12] = res.count;
    uint32_t moved = wr ? dataLen : 0;
    if (rd) {
        moved = (res.status & 0x01) ? 0 : static_cast<uint32_t>(std::min<size_t>(res.data.size(), dataLen));
        if (moved) std::memcpy(buf + kData, res.data.data(), moved);
    }
    Wr32(buf + 160, moved);
    return 0;
}

uint32_t SimCsmiPort::Ioctl(uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize, uint32_t& returned) {
    returned = 0;
    if (code != 0x0004D008 || in != out) return ERROR_INVALID_FUNCTION_;
    if (inSize >= 29 && out[28] != phy_) {
        // No device on that phy.
        Wr32(out + 20, 1);
        returned = outSize;
        return 0;
    }
    return drive_->CsmiRequest(out, inSize, outSize, returned);
}

}  // namespace kestrel::sim
