#include "tools/diag/DiskReport.h"

#include <cstring>
#include <string_view>

#include "discovery/DevMgr.h"
#include "support/Format.h"
#include "tools/diag/DiagText.h"

namespace kestrel::diag {
namespace {

const char* BusName(uint8_t t) {
    switch (t) {
        case 0x01: return "SCSI";
        case 0x03: return "ATA";
        case 0x07: return "USB";
        case 0x08: return "RAID";
        case 0x0A: return "SAS";
        case 0x0B: return "SATA";
        case 0x11: return "NVMe";
        default: return "other";
    }
}

std::string GuidString(const KGUID& g) {
    return Fmt("{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
               g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
}

}  // namespace

std::string DisksReport(const Platform& platform, bool json) {
    TDevMgr mgr(platform);
    const bool missing = mgr.BindingsMissing();
    const bool ok = mgr.EnumPhysicalDrives();
    const int32_t count = mgr.GetDiskCount();
    const REG_DATA* list = mgr.GetDiskList();
    std::string out;

    if (json) {
        out += "{\n";
        out += Fmt("  \"bindings_missing\": %s,\n", missing ? "true" : "false");
        out += Fmt("  \"enumerated\": %s,\n", ok ? "true" : "false");
        out += Fmt("  \"windows_version\": \"%u.%u\",\n", mgr.iMajorVersion, mgr.iMinorVersion);
        out += Fmt("  \"expected_count\": %d,\n", mgr.iExpectedCount);
        out += Fmt("  \"enumeration_runs\": %d,\n", mgr.EnumerationRuns());
        out += Fmt("  \"count\": %d,\n", count);
        out += "  \"disks\": [";
        for (int32_t i = 0; i < count && list != nullptr; ++i) {
            const REG_DATA& r = list[i];
            out += i ? ",\n    {\n" : "\n    {\n";
            out += Fmt("      \"index\": %d,\n", i);
            out += "      \"device_path\": " + JsonText(Field(r.DevicePath, sizeof r.DevicePath)) + ",\n";
            out += "      \"instance_id\": " + JsonText(Field(r.instanceId, sizeof r.instanceId)) + ",\n";
            out += "      \"location\": " + JsonText(Field(r.location, sizeof r.location)) + ",\n";
            out += "      \"friendly_name\": " + JsonText(Field(r.friendlyName, sizeof r.friendlyName)) + ",\n";
            out += "      \"service\": " + JsonText(Field(r.service, sizeof r.service)) + ",\n";
            if (r.addressObtained)
                out += Fmt("      \"scsi_address\": {\"port\": %u, \"path\": %u, \"target\": %u, \"lun\": %u},\n", r.scsiAddress.PortNumber,
                           r.scsiAddress.PathId, r.scsiAddress.TargetId, r.scsiAddress.Lun);
            else
                out += "      \"scsi_address\": null,\n";
            out += Fmt("      \"bus_type\": %u,\n", r.BusType);
            out += "      \"product_revision\": " + JsonText(std::string_view(r.productRevision, sizeof r.productRevision)) + ",\n";
            out += "      \"serial_number\": " + JsonText(std::string_view(r.serialNumber, sizeof r.serialNumber)) + ",\n";
            out += Fmt("      \"parent_vid\": %u,\n      \"parent_did\": %u,\n", r.ParentVid, r.ParentDid);
            out += "      \"ancestors\": [";
            bool first = true;
            for (const DEVICE_NODE* n = r.ancestors; n != nullptr; n = n->parent) {
                out += first ? "\n" : ",\n";
                first = false;
                out += "        {\"instance_id\": " + JsonText(Field(n->instanceId, sizeof n->instanceId)) +
                       ", \"service\": " + JsonText(Field(n->service, sizeof n->service)) + ", \"class_guid\": \"" +
                       GuidString(n->classGuid) + "\"" + Fmt(", \"vendor_id\": %u, \"device_id\": %u}", n->vendorId, n->deviceId);
            }
            out += first ? "]\n    }" : "\n      ]\n    }";
        }
        out += count > 0 ? "\n  ]\n}\n" : "]\n}\n";
        return out;
    }

    out += Fmt("Device tree bindings: %s\n", missing ? "missing" : "complete");
    out += Fmt("Windows version: %u.%u (platform %u, product type %u)\n", mgr.iMajorVersion, mgr.iMinorVersion, mgr.iPlatformId,
               mgr.iProductType);
    out += Fmt("EnumPhysicalDrives: %s; %d disk(s), expected %d, %d enumeration run(s)\n", ok ? "done" : "failed", count, mgr.iExpectedCount,
               mgr.EnumerationRuns());
    for (int32_t i = 0; i < count && list != nullptr; ++i) {
        const REG_DATA& r = list[i];
        out += Fmt("\n[%d] %s\n", i, Printable(Field(r.DevicePath, sizeof r.DevicePath)).c_str());
        out += Fmt("    instance ID     : %s\n", Printable(Field(r.instanceId, sizeof r.instanceId)).c_str());
        out += Fmt("    location        : %s\n", Printable(Field(r.location, sizeof r.location)).c_str());
        out += Fmt("    friendly name   : %s\n", Printable(Field(r.friendlyName, sizeof r.friendlyName)).c_str());
        out += Fmt("    service         : %s\n", Printable(Field(r.service, sizeof r.service)).c_str());
        if (r.addressObtained)
            out += Fmt("    SCSI address    : %u-%u-%u-%u\n", r.scsiAddress.PortNumber, r.scsiAddress.PathId, r.scsiAddress.TargetId,
                       r.scsiAddress.Lun);
        else
            out += "    SCSI address    : none\n";
        out += Fmt("    bus type        : %u (%s)\n", r.BusType, BusName(r.BusType));
        out += Fmt("    product revision: \"%s\"\n", Printable(std::string_view(r.productRevision, sizeof r.productRevision)).c_str());
        out += Fmt("    serial number   : \"%s\"\n", Printable(std::string_view(r.serialNumber, sizeof r.serialNumber)).c_str());
        out += Fmt("    ParentVid/Did   : %04X/%04X\n", r.ParentVid, r.ParentDid);
        out += "    ancestors       :";
        if (r.ancestors == nullptr) out += " none";
        out += "\n";
        for (const DEVICE_NODE* n = r.ancestors; n != nullptr; n = n->parent)
            out += Fmt("      %s  service=%s  class=%s  VEN/VID=%04X DEV/PID=%04X\n", Printable(Field(n->instanceId, sizeof n->instanceId)).c_str(),
                       Printable(Field(n->service, sizeof n->service)).c_str(), GuidString(n->classGuid).c_str(), n->vendorId, n->deviceId);
    }
    return out;
}

}  // namespace kestrel::diag
