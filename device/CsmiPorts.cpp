// CSMI requests of RAID drivers on a controller's SCSI port: driver information and phy table,
// which the scan reads before it sends ATA commands through the STP pass-through.
#include <cstring>

#include "device/AtaDevice.h"
#include "support/Format.h"

namespace kestrel {

uint8_t TAtaDevice::csmi_ioctl(uint32_t controlCode, uint8_t* request, uint32_t requestSize) {
    const char* signature = nullptr;
    switch (controlCode) {
        case wire::CC_CSMI_SAS_GET_DRIVER_INFO: signature = "CSMIALL"; break;
        case wire::CC_CSMI_SAS_GET_PHY_INFO:
        case wire::CC_CSMI_SAS_STP_PASSTHRU: signature = "CSMISAS"; break;
        default: return ATACMD_ERR;
    }
    if (request == nullptr || requestSize < sizeof(wire::SRB_IO_CONTROL)) return ATACMD_ERR;
    wire::SRB_IO_CONTROL srb{};
    srb.HeaderLength = sizeof srb;
    std::memcpy(srb.Signature, signature, std::strlen(signature));
    srb.Timeout = TimeoutSeconds();
    srb.ControlCode = controlCode;
    srb.ReturnCode = 0;
    srb.Length = requestSize - sizeof srb;
    std::memcpy(request, &srb, sizeof srb);
    uint32_t returned = 0;
    bool ok = false;
    try {
        ok = Call(wire::kIOCTL_SCSI_MINIPORT, request, requestSize, returned);
    } catch (...) {
        ok = false;
    }
    cmdTimer.Stop();
    if (!ok) {
        dwLastError = p_.storage->GetLastError();
        WriteLog(Fmt("csmi_ioctl ERR=0x%X\n", dwLastError));
        return MapWindowsError(dwLastError);
    }
    std::memcpy(&srb, request, sizeof srb);
    if (srb.ReturnCode != 0) {
        WriteLog(Fmt("csmi_ioctl::IOCTL_SCSI_MINIPORT(CC_CSMI_%u) failed, ReturnCode=%u\n", controlCode, srb.ReturnCode));
        return ATACMD_FAIL;
    }
    return ATACMD_OK;
}

bool TAtaDevice::get_phy_info(wire::CSMI_SAS_PHY_INFO& info) {
    CsmiDriverInfo = {};
    wire::CSMI_SAS_DRIVER_INFO_BUFFER driver{};
    if (csmi_ioctl(wire::CC_CSMI_SAS_GET_DRIVER_INFO, reinterpret_cast<uint8_t*>(&driver), sizeof driver) != ATACMD_OK)
        return false;
    CsmiDriverInfo = driver.Information;
    WriteLog("TAtaDevice::get_phy_info : CSMI_SAS_DRIVER_INFO:\n");
    WriteLog(Fmt("  Name:        \"%.81s\"\n", reinterpret_cast<const char*>(driver.Information.szName)));
    WriteLog(Fmt("  Description: \"%.81s\"\n", reinterpret_cast<const char*>(driver.Information.szDescription)));
    WriteLog(Fmt("  Revision:    %d.%d\n", driver.Information.usMajorRevision, driver.Information.usMinorRevision));

    wire::CSMI_SAS_PHY_INFO_BUFFER phys{};
    if (csmi_ioctl(wire::CC_CSMI_SAS_GET_PHY_INFO, reinterpret_cast<uint8_t*>(&phys), sizeof phys) != ATACMD_OK) return false;
    info = phys.Information;
    const int count = info.bNumberOfPhys;
    const int max = static_cast<int>(wire::CSMI_SAS_MAX_PHYS);
    if (count > max) {
        WriteLog(Fmt("Error! NumberOfPhys=%d > max_number_of_phys=%d\n", count, max));
        return false;
    }
    WriteLog(Fmt("CSMI_SAS_PHY_INFO: NumberOfPhys=%d, max_number_of_phys=%d\n", count, max));
    for (const PhyRow& r : DecodePhyTable(reinterpret_cast<const uint8_t*>(&info), sizeof info)) {
        WriteLog(Fmt("Phy[%d] Port:   0x%02x\n", r.index, r.portId));
        WriteLog(Fmt("  Type:        0x%02x, 0x%02x\n", r.type, r.attachedType));
        WriteLog(Fmt("  InitProto:   0x%02x, 0x%02x\n", r.initiatorProtocol, r.attachedInitiatorProtocol));
        WriteLog(Fmt("  TargetProto: 0x%02x, 0x%02x\n", r.targetProtocol, r.attachedTargetProtocol));
        WriteLog(Fmt("  PhyIdent:    0x%02x, 0x%02x\n", r.phyId, r.attachedPhyId));
        const uint8_t* s = r.sasAddress;
        const uint8_t* a = r.attachedSasAddress;
        WriteLog(Fmt("  SASAddress(Identify):  %02x %02x %02x %02x %02x %02x %02x %02x, ", s[0], s[1], s[2], s[3], s[4], s[5],
                     s[6], s[7]));
        WriteLog(Fmt("  SASAddress(Attached):  %02x %02x %02x %02x %02x %02x %02x %02x\n", a[0], a[1], a[2], a[3], a[4], a[5],
                     a[6], a[7]));
    }
    return true;
}

}  // namespace kestrel
