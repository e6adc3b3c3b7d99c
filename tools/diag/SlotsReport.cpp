#include "tools/diag/SlotsReport.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>
#include <vector>

#include "device/AtaDevice.h"
#include "device/NvmeDecode.h"
#include "support/Format.h"
#include "tools/diag/DiagText.h"

namespace kestrel::diag {
namespace {

bool Contains(std::string_view hay, std::string_view needle) {
    auto it = std::search(hay.begin(), hay.end(), needle.begin(), needle.end(),
                          [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b)); });
    return it != hay.end();
}

struct DriveSlots {
    int index = 0;
    std::string route, path;
    const REG_DATA* rec = nullptr;
    bool opened = false, answered = false;
    uint32_t returnCode = 0;
    FirmwareSlots slots;
};

}  // namespace

std::string SlotsReport(const Platform& platform, bool json) {
    TAtaDevice dev(platform);
    std::vector<DriveSlots> drives;
    for (int32_t i = 0; i < dev.GetDriveCount(); ++i) {
        const REG_DATA* r = dev.GetDriveRecord(i);
        const bool inbox = r->BusType == BUS_TYPE_NVME;
        const bool rst = r->BusType == BUS_TYPE_RAID && Contains(Field(r->instanceId, sizeof r->instanceId), "&VEN_NVME&");
        if (!inbox && !rst) continue;
        DriveSlots d;
        d.index = i;
        d.rec = r;
        d.route = inbox ? "inbox" : "rst";
        d.path = std::string(Field(r->DevicePath, sizeof r->DevicePath));
        const SCSI_ADDRESS_DATA& a = r->scsiAddress;
        if (inbox) {
            std::vector<uint8_t> buf(wire::kMiniportFirmwareBufferSize, 0);
            d.opened = dev.SelectPort(i, r->DevicePath, -1, SELECT_NVME);
            d.answered = d.opened && dev.DeviceGetFirmwareInfo(buf.data(), static_cast<uint32_t>(buf.size()), false);
            d.returnCode = dev.dwFwReturnCode;
            if (d.answered && d.returnCode == 0) d.slots = DecodeFirmwareInfoV1(buf.data() + 52, buf.size() - 52);
        } else {
            std::vector<uint8_t> buf(wire::kIrstFirmwareBufferSize, 0);
            d.opened = r->addressObtained && dev.SelectPort(i, nullptr, a.PortNumber, SELECT_NVME);
            d.answered = d.opened && dev.IrstDeviceGetFirmwareInfo(a.PortNumber, a.TargetId, false, static_cast<uint32_t>(buf.size()),
                                                                   buf.data(), a.Lun, a.PathId);
            d.returnCode = dev.dwFwReturnCode;
            if (d.answered && d.returnCode == 0) d.slots = DecodeFirmwareInfoV2(buf.data() + 56, buf.size() - 56);
            if (d.opened && !d.answered) {
                // Drivers before 14.8 know only the Windows miniport request, as the scan's fallback uses it.
                std::vector<uint8_t> v1(wire::kMiniportFirmwareBufferSize, 0);
                d.answered = dev.DeviceGetFirmwareInfo(v1.data(), static_cast<uint32_t>(v1.size()), false);
                d.returnCode = dev.dwFwReturnCode;
                if (d.answered) d.route = "rst-miniport";
                if (d.answered && d.returnCode == 0) d.slots = DecodeFirmwareInfoV1(v1.data() + 52, v1.size() - 52);
            }
        }
        dev.ClosePort();
        drives.push_back(std::move(d));
    }

    std::string out;
    if (json) {
        out += "{\n  \"drives\": [";
        for (size_t k = 0; k < drives.size(); ++k) {
            const DriveSlots& d = drives[k];
            const SCSI_ADDRESS_DATA& a = d.rec->scsiAddress;
            out += k ? ",\n    {\n" : "\n    {\n";
            out += Fmt("      \"index\": %d,\n      \"route\": \"%s\",\n", d.index, d.route.c_str());
            out += "      \"device_path\": " + JsonText(d.path) + ",\n";
            out += Fmt("      \"scsi_address\": {\"port\": %u, \"path\": %u, \"target\": %u, \"lun\": %u},\n", a.PortNumber, a.PathId,
                       a.TargetId, a.Lun);
            out += Fmt("      \"opened\": %s,\n      \"answered\": %s,\n      \"return_code\": %u,\n", d.opened ? "true" : "false",
                       d.answered ? "true" : "false", d.returnCode);
            const FirmwareSlots& s = d.slots;
            if (!s.valid) {
                out += "      \"information\": null\n    }";
                continue;
            }
            out += Fmt("      \"information\": {\"upgrade_support\": %s, \"slot_count\": %u, \"active_slot\": %u, \"pending_slot\": ",
                       s.upgradeSupport ? "true" : "false", s.slotCount, s.activeSlot);
            out += s.pendingSlot == 0xFF ? std::string("null") : Fmt("%u", s.pendingSlot);
            out += Fmt(", \"records_clamped\": %s,\n        \"slots\": [", s.clamped ? "true" : "false");
            for (size_t j = 0; j < s.slots.size(); ++j) {
                const FirmwareSlot& f = s.slots[j];
                out += j ? ", " : "";
                out += Fmt("{\"number\": %u, \"read_only\": %s, \"revision\": ", f.number, f.readOnly ? "true" : "false") +
                       JsonText(Field(reinterpret_cast<const char*>(f.revision), 8)) + "}";
            }
            out += "]}\n    }";
        }
        out += drives.empty() ? "]\n}\n" : "\n  ]\n}\n";
        return out;
    }
    if (drives.empty()) return "No NVMe drive found.\n";
    for (const DriveSlots& d : drives) {
        const SCSI_ADDRESS_DATA& a = d.rec->scsiAddress;
        out += Fmt("[%d] %s (%s, SCSI %u-%u-%u-%u)\n", d.index, Printable(d.path).c_str(),
                   d.route == "inbox" ? "inbox driver" : d.route == "rst" ? "Intel RST" : "Intel RST, miniport request", a.PortNumber, a.PathId, a.TargetId, a.Lun);
        if (!d.opened) {
            out += "    cannot open the drive\n";
            continue;
        }
        if (!d.answered) {
            out += "    the firmware information request failed\n";
            continue;
        }
        if (d.returnCode != 0) {
            out += Fmt("    the driver refused the request: ReturnCode %u\n", d.returnCode);
            continue;
        }
        const FirmwareSlots& s = d.slots;
        out += Fmt("    upgrade support: %s, slot count %u, active slot %u, pending slot ", s.upgradeSupport ? "yes" : "no", s.slotCount,
                   s.activeSlot);
        out += s.pendingSlot == 0xFF ? std::string("none\n") : Fmt("%u\n", s.pendingSlot);
        if (s.clamped) out += Fmt("    (the reply holds only %u slot records)\n", static_cast<unsigned>(s.slots.size()));
        for (const FirmwareSlot& f : s.slots)
            out += Fmt("    slot %u%s: \"%s\"\n", f.number, f.readOnly ? " (read-only)" : "",
                       Printable(Field(reinterpret_cast<const char*>(f.revision), 8)).c_str());
    }
    return out;
}

std::string CsmiReport(const Platform& platform, bool json) {
    constexpr int kPorts = 16;
    TAtaDevice dev(platform);
    struct Port {
        int number;
        bool ok;
        wire::CSMI_SAS_DRIVER_INFO driver;
        wire::CSMI_SAS_PHY_INFO info;
    };
    std::vector<Port> ports;
    for (int c = 0; c < kPorts; ++c) {
        if (!dev.SelectPort(c, nullptr, -1, SELECT_CSMI)) continue;
        Port p{c, false, {}, {}};
        p.ok = dev.get_phy_info(p.info);
        p.driver = dev.CsmiDriverInfo;
        dev.ClosePort();
        // A port that answers neither request is not a CSMI controller.
        if (p.driver.szName[0] == 0 && !p.ok) continue;
        ports.push_back(p);
    }
    auto text = [](const uint8_t* p, size_t n) { return Field(reinterpret_cast<const char*>(p), n); };
    auto sas = [](const uint8_t* a) {
        return Fmt("%02x%02x%02x%02x%02x%02x%02x%02x", a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]);
    };
    std::string out;
    if (json) {
        out += "{\n  \"controllers\": [";
        for (size_t k = 0; k < ports.size(); ++k) {
            const Port& p = ports[k];
            out += k ? ",\n    {\n" : "\n    {\n";
            out += Fmt("      \"port\": %d,\n", p.number);
            out += "      \"name\": " + JsonText(text(p.driver.szName, 81)) + ",\n";
            out += "      \"description\": " + JsonText(text(p.driver.szDescription, 81)) + ",\n";
            out += Fmt("      \"revision\": \"%u.%u.%u.%u\",\n", p.driver.usMajorRevision, p.driver.usMinorRevision,
                       p.driver.usBuildRevision, p.driver.usReleaseRevision);
            out += Fmt("      \"phy_table_read\": %s,\n      \"number_of_phys\": %u,\n      \"phys\": [", p.ok ? "true" : "false",
                       p.info.bNumberOfPhys);
            const auto rows = DecodePhyTable(reinterpret_cast<const uint8_t*>(&p.info), sizeof p.info);
            for (size_t j = 0; j < rows.size(); ++j) {
                const PhyRow& r = rows[j];
                out += j ? ",\n" : "\n";
                out += Fmt("        {\"entry\": %d, \"phy\": %u, \"port\": %u, \"type\": %u, \"target_protocol\": %u, \"sas_address\": \"%s\", "
                           "\"attached_type\": %u, \"attached_target_protocol\": %u, \"attached_sas_address\": \"%s\"}",
                           r.index, r.phyId, r.portId, r.type, r.targetProtocol, sas(r.sasAddress).c_str(), r.attachedType,
                           r.attachedTargetProtocol, sas(r.attachedSasAddress).c_str());
            }
            out += rows.empty() ? "]\n    }" : "\n      ]\n    }";
        }
        out += ports.empty() ? "]\n}\n" : "\n  ]\n}\n";
        return out;
    }
    if (ports.empty()) return "No CSMI controller found on SCSI ports 0-15.\n";
    for (const Port& p : ports) {
        out += Fmt("SCSI%d: \"%s\" \"%s\" revision %u.%u.%u.%u\n", p.number, Printable(text(p.driver.szName, 81)).c_str(),
                   Printable(text(p.driver.szDescription, 81)).c_str(), p.driver.usMajorRevision, p.driver.usMinorRevision,
                   p.driver.usBuildRevision, p.driver.usReleaseRevision);
        if (!p.ok) {
            out += p.info.bNumberOfPhys > wire::CSMI_SAS_MAX_PHYS
                       ? Fmt("    phy table refused: %u phys stated, at most %u\n", p.info.bNumberOfPhys, wire::CSMI_SAS_MAX_PHYS)
                       : std::string("    phy table not read\n");
            continue;
        }
        out += Fmt("    %u phy(s)\n", p.info.bNumberOfPhys);
        for (const PhyRow& r : DecodePhyTable(reinterpret_cast<const uint8_t*>(&p.info), sizeof p.info)) {
            const char* what = r.attachedType == 0                 ? "nothing attached"
                               : (r.attachedTargetProtocol & 0x01) ? "SATA"
                               : (r.attachedTargetProtocol & 0x04) ? "STP"
                               : (r.attachedTargetProtocol & 0x08) ? "SSP"
                                                                   : "other";
            out += Fmt("    phy %u port %u: %s, SAS address %s\n", r.phyId, r.portId, what, sas(r.attachedSasAddress).c_str());
        }
    }
    return out;
}

}  // namespace kestrel::diag
