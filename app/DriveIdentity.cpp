// The identify operations of the main window: ATA identity with the DEF field, the PPID over ATA
// and NVMe, the NVMe identity and slot log through Intel RST, the slot list through the inbox driver.
// Each fills m_CurIdentity, from which the scan copies into the drive table.
#include <cstddef>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "app/KestrelMain.h"
#include "app/TextFields.h"
#include "device/NvmeDecode.h"
#include "support/Format.h"

namespace kestrel {
namespace {
constexpr size_t kNvmePpidOffset = 3072;  // the PPID in the vendor-specific area of Identify Controller
constexpr uint32_t kNvmeAdminTimeout = 30;
}  // namespace

uint8_t TKestrelMain::ReadAtaIdentity() {
    DRIVE_IDENTITY& id = m_CurIdentity;
    // A failed identify leaves no identity of an earlier drive behind.
    std::memset(id.szFwRev, 0, sizeof id.szFwRev);
    std::memset(id.szModel, 0, sizeof id.szModel);
    std::memset(id.szSerial, 0, sizeof id.szSerial);
    std::memset(id.szDefRev, 0, sizeof id.szDefRev);
    TAtaDevice* dev = pAtaDevice.get();
    if (dev == nullptr) return ATACMD_FAIL;

    dev->SetTimeout(3.0f);
    const uint8_t r = dev->IdentifyDevice();
    dev->SetTimeout(20.0f);
    if (r != ATACMD_OK) return r;

    const uint8_t* rb = dev->GetReadBuffer();
    SwapAtaWords(id.szModel, rb + 27 * 2, sizeof id.szModel);
    SwapAtaWords(id.szFwRev, rb + 23 * 2, sizeof id.szFwRev);
    SwapAtaWords(id.szSerial, rb + 10 * 2, sizeof id.szSerial);
    WriteLog(Fmt("IDENTIFY(frmKestrel): %.40s %.8s, %.20s\n", id.szModel, id.szFwRev, id.szSerial));

    // The DEF field is never left empty after a successful identify: the revision stands in.
    const auto useRevision = [&id] { std::memcpy(id.szDefRev, id.szFwRev, sizeof id.szDefRev); };
    try {
        if (iVisualStyle == 20) {
            useRevision();
            WriteLog(Fmt("Ignore VU to get DEF%c(frmKestrel): %.7s\n", LogChar(id.szDefRev[7]), id.szDefRev));
        } else if (dev->ReadDefRevision() != ATACMD_OK) {
            useRevision();
            WriteLog(Fmt("Cannot get DEF%c(frmKestrel): %.7s\n", LogChar(id.szDefRev[7]), id.szDefRev));
        } else {
            std::memcpy(id.szDefRev, dev->GetReadBuffer(), sizeof id.szDefRev);
            if (IsBlankField(id.szDefRev, sizeof id.szDefRev)) {
                WriteLog("DEF[Idx] (frmKestrel) is Empty, copy FW \n");
                useRevision();
            }
            WriteLog(Fmt("DEF%c(frmKestrel): %.7s\n", LogChar(id.szDefRev[7]), id.szDefRev));
        }
    } catch (...) {
        useRevision();
        WriteLog(Fmt("Exception !! Cannot get DEF%c(frmKestrel): %.7s\n", LogChar(id.szDefRev[7]), id.szDefRev));
    }
    return r;
}

uint8_t TKestrelMain::get_log_rook_ppid() {
    DRIVE_IDENTITY& id = m_CurIdentity;
    TAtaDevice* dev = pAtaDevice.get();
    if (dev == nullptr) {
        std::memset(id.szPPID, 0, sizeof id.szPPID);
        return ATACMD_FAIL;
    }
    dev->SetTimeout(10.0f);
    const uint8_t r = dev->ReadPpidLog();
    dev->SetTimeout(20.0f);
    std::memset(id.szPPID, 0, sizeof id.szPPID);
    if (r != ATACMD_OK) {
        WriteLog("get_log_rook_ppid (ATA): unable to get PPID \n");
        return r;
    }
    // The first twelve words are stored as an ATA string, the rest as they stand.
    const uint8_t* rb = dev->GetReadBuffer();
    SwapAtaWords(id.szPPID, rb, 24);
    std::memcpy(id.szPPID + 24, rb + 24, sizeof id.szPPID - 24);
    WriteLog(Fmt("get_log_rook_ppid: %.32s \n", id.szPPID));
    return r;
}

bool TKestrelMain::get_log_rook_ppid_nvme(int32_t index) {
    DRIVE_IDENTITY& id = m_CurIdentity;
    TAtaDevice* dev = pAtaDevice.get();
    if (dev == nullptr) {
        std::memset(id.szPPID, 0, sizeof id.szPPID);
        return false;
    }
    dev->SetTimeout(20.0f);
    const bool ok = dev->DoIdentifyDeviceNVMeStorageQuery(index);
    std::memset(id.szPPID, 0, sizeof id.szPPID);
    if (ok) {
        std::memcpy(id.szPPID, dev->GetReadBuffer() + kNvmePpidOffset, sizeof id.szPPID);
        WriteLog(Fmt("get_log_rook_ppid_nvme (MS inbox driver): %.32s \n", id.szPPID));
    } else {
        WriteLog("get_log_rook_ppid_nvme (MS inbox driver): unable to get PPID \n");
    }
    return ok;
}

// One admin command that reads 4,096 bytes into the device object's read buffer through the RST
// driver. A driver fault inside the call, and a command the drive completed with an error status,
// count as a failure: the buffer then holds no answer, and zeros read as an identity or a slot log
// would list a blank drive or offer no slot instead of trying again.
bool TKestrelMain::IrstAdminRead(TAtaDevice& dev, int32_t pathId, const wire::NVME_COMMAND& cmd, const char* caller) {
    wire::INTEL_NVME_PASS_THROUGH header{};
    try {
        if (!dev.Send_IRST_NVME_PASS_THROUTH(static_cast<uint8_t>(pathId), cmd, nullptr, wire::kNvmeIdentifyDataSize, false, &header,
                                             kNvmeAdminTimeout, NVME_DIR_READ))
            return false;
    } catch (...) {
        WriteLog(Fmt("%s - Send_IRST_NVME_PASS_THROUTH Exception !", caller));
        return false;
    }
    const NvmeCompletion c = DecodeCompletion(reinterpret_cast<const uint8_t*>(&header.Completion));
    if (c.statusCode == 0 && c.statusCodeType == 0) return true;
    WriteLog(Fmt("%s - the command completed with SCT %Xh SC %02Xh: nothing was read", caller, static_cast<unsigned>(c.statusCodeType),
                 static_cast<unsigned>(c.statusCode)));
    return false;
}

bool TKestrelMain::Identify_irst(int32_t pathId) {
    TAtaDevice* dev = pAtaDevice.get();
    if (dev == nullptr) return false;
    wire::NVME_COMMAND cmd{};
    cmd.CDW0 = wire::NVME_ADMIN_IDENTIFY;
    cmd.NSID = 0;
    cmd.CDW10 = wire::NVME_IDENTIFY_CNS_CONTROLLER;  // CNTID (bits 16-31) 0
    const bool r = IrstAdminRead(*dev, pathId, cmd, "Identify_irst");
    if (!r) return r;

    DRIVE_IDENTITY& id = m_CurIdentity;
    std::memset(id.szFwRev, 0, sizeof id.szFwRev);
    std::memset(id.szModel, 0, sizeof id.szModel);
    std::memset(id.szSerial, 0, sizeof id.szSerial);
    std::memset(id.szDefRev, 0, sizeof id.szDefRev);
    std::memset(id.szPPID, 0, sizeof id.szPPID);
    const uint8_t* d = dev->GetReadBuffer();
    const auto u16 = [d](size_t at) { return static_cast<unsigned>(d[at] | (d[at + 1] << 8)); };
    const uint8_t slotCount = static_cast<uint8_t>((d[260] >> 1) & 0x07);
    WriteLog("Identify Controller Info : ");
    WriteLog(Fmt("             PCI Vendor ID (VID) : %02Xh", u16(0)));
    WriteLog(Fmt(" PCI Subsystem Vendor ID (SSVID) : %02Xh ", u16(2)));
    WriteLog(Fmt("                   Serial Number : %.20s", reinterpret_cast<const char*>(d + 4)));
    WriteLog(Fmt("                    Model Number : %.40s", reinterpret_cast<const char*>(d + 24)));
    WriteLog(Fmt("               Firmware Revision : %.8s", reinterpret_cast<const char*>(d + 64)));
    WriteLog(Fmt("           Controller ID (CNTID) : %02Xh", u16(78)));
    WriteLog(Fmt("             Firmware Slot Count : %d", slotCount));
    // NVMe texts are stored as they read, without the ATA byte swap.
    id.bSlotCount = slotCount;
    std::memcpy(id.szFwRev, d + 64, sizeof id.szFwRev);
    std::memcpy(id.szDefRev, d + 64, sizeof id.szDefRev);
    std::memcpy(id.szSerial, d + 4, sizeof id.szSerial);
    std::memcpy(id.szModel, d + 24, sizeof id.szModel);
    std::memcpy(id.szPPID, d + kNvmePpidOffset, sizeof id.szPPID);
    WriteLog(Fmt("                            PPID : %.32s", id.szPPID));
    getlog_irst(pathId);
    return r;
}

bool TKestrelMain::getlog_irst(int32_t pathId) {
    TAtaDevice* dev = pAtaDevice.get();
    if (dev == nullptr) return false;
    wire::NVME_COMMAND cmd{};
    cmd.CDW0 = wire::NVME_ADMIN_GET_LOG_PAGE;
    cmd.NSID = 0xFFFFFFFFu;
    cmd.CDW10 = wire::NVME_LOG_PAGE_FIRMWARE_SLOT_INFO | (0x7Fu << 16);  // 128 dwords: the 512-byte log
    const bool r = IrstAdminRead(*dev, pathId, cmd, "getlog_irst");
    if (!r) {
        // The read buffer holds no slot log: lists of another drive or of stale bytes would offer
        // the update a slot this drive does not have.
        SetSlotLists({}, {});
        return r;
    }
    const uint8_t* d = dev->GetReadBuffer();
    const uint8_t afi = d[0];
    WriteLog("Firmware Slot Information : ");
    WriteLog(Fmt("       Active Firmware Info : %#x", afi));
    WriteLog(Fmt("                Active Slot : %d", afi & 0x07));
    WriteLog(Fmt("        Pending Active Slot : %d", (afi >> 4) & 0x07));
    WriteLog(Fmt("                 Slot Count : %d", m_CurIdentity.bSlotCount));
    std::vector<std::string> slots{"Default"};
    for (int slot = 1; slot <= 7; ++slot) {
        const char* rev = reinterpret_cast<const char*>(d + 8 * slot);
        const bool blank = IsBlankField(rev, 8);
        if (slot <= m_CurIdentity.bSlotCount) slots.push_back(SlotItem(slot, rev));
        WriteLog(Fmt("Firmware Revision for Slot%d : %.8s ", slot, blank ? "NULL" : rev));
    }
    SetSlotLists(slots, {"0", "1", "2", "3"});
    return r;
}

bool TKestrelMain::LoadNvmeSlotInfo() {
    DRIVE_IDENTITY& id = m_CurIdentity;
    std::memset(id.szFwRev, 0, sizeof id.szFwRev);
    TAtaDevice* dev = pAtaDevice.get();
    if (dev == nullptr) return false;
    std::vector<uint8_t> buffer;
    try {
        buffer.assign(wire::kMiniportFirmwareBufferSize, 0);
    } catch (const std::bad_alloc&) {
        WriteLog("Allocate buffer failed ");
        return false;
    }
    WriteLog("Get firmware slot information data ... ");
    if (!dev->DeviceGetFirmwareInfo(buffer.data(), static_cast<uint32_t>(buffer.size()), true)) return false;
    uint32_t returnCode = 0;
    std::memcpy(&returnCode, buffer.data() + offsetof(wire::SRB_IO_CONTROL, ReturnCode), sizeof returnCode);
    if (returnCode != 0) {
        WriteLog(Fmt("Get firmware information failed. SRB ReturnCode %d", static_cast<int>(returnCode)));
        return false;
    }
    constexpr size_t kData = offsetof(wire::MINIPORT_FIRMWARE_REQUEST, Data);
    const FirmwareSlots info = DecodeFirmwareInfoV1(buffer.data() + kData, buffer.size() - kData);
    uint32_t version = 0, size = 0;
    std::memcpy(&version, buffer.data() + kData, 4);
    std::memcpy(&size, buffer.data() + kData + 4, 4);

    // The active slot's record; the first record when the active slot is beyond the count (or is
    // no slot at all, or beyond the records the reply holds).
    const FirmwareSlot* current = nullptr;
    if (!info.slots.empty()) {
        const size_t at = info.activeSlot;
        current = (info.slotCount < info.activeSlot || at == 0 || at > info.slots.size()) ? &info.slots[0] : &info.slots[at - 1];
        std::memcpy(id.szFwRev, current->revision, sizeof id.szFwRev);
    }
    WriteLog(Fmt("Current firmware : %.8s", id.szFwRev));
    WriteLog(Fmt("Current firmware (revision): %s", std::string(id.szFwRev, strnlen(id.szFwRev, sizeof id.szFwRev)).c_str()));
    WriteLog(Fmt("Slot information : \nVersion %d, Size %d, UpgradeSupport %d\nSlotCount %d, ActiveSlot %d, PendingActSlot %d",
                 static_cast<int>(version), static_cast<int>(size), info.upgradeSupport, info.slotCount, info.activeSlot, info.pendingSlot));

    std::vector<std::string> slots;
    if (info.slotCount != 0) {
        slots.push_back("Default");
        WriteLog("cboFwSlot[0]: Default");
        int position = 1;
        for (const FirmwareSlot& s : info.slots) {
            slots.push_back(SlotItem(s.number, reinterpret_cast<const char*>(s.revision)));
            WriteLog(Fmt("cboFwSlot[%d]: %s", position++, slots.back().c_str()));
            WriteLog(Fmt("Current firmware : %.8s", id.szFwRev));
        }
    } else {
        slots.push_back("1");
    }
    SetSlotLists(slots, {"0", "1", "2", "3"});
    return true;
}

std::string TKestrelMain::SlotItem(int number, const char* revision) {
    if (IsBlankField(revision, 8)) return Fmt("%d. NA", number);
    return Fmt("%d. %s", number, std::string(revision, strnlen(revision, 8)).c_str());
}

}  // namespace kestrel
