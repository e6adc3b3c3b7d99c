#include "tools/diag/ScanReport.h"

#include <string_view>
#include <vector>

#include "app/KestrelMain.h"
#include "support/Format.h"
#include "tools/diag/DiagText.h"

namespace kestrel::diag {
namespace {

#define KESTREL_TEXT(e, f) Field((e).f, sizeof((e).f))

// The text view leaves out the blanks drives pad their texts with; JSON keeps every byte.
std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

const char* Route(const DEV_INFO& e, int32_t scanType) {
    if (scanType == 1) return "csmi";
    if (e.bIsNvme) return e.bIsNvmeIrstDriver ? "nvme-rst" : "nvme-inbox";
    return "ata";
}

// The slot list of one NVMe drive, read as the scan reads it; empty when it cannot be read.
std::vector<std::string> SlotList(TKestrelMain& m, const DEV_INFO& e) {
    TAtaDevice& dev = *m.pAtaDevice;
    m.cboFwSlot.Clear();
    if (e.bIsNvmeIrstDriver) {
        if (dev.SelectPort(e.order, nullptr, e.HA, SELECT_NVME)) m.Identify_irst(e.PathId);
    } else if (e.bIsNvmeIrstDriver_below_14_8) {
        if (dev.SelectPort(e.order, nullptr, e.HA, SELECT_NVME)) m.LoadNvmeSlotInfo();
    } else if (dev.SelectPort(e.order, e.DevicePath, -1, SELECT_NVME)) {
        m.LoadNvmeSlotInfo();
    }
    dev.ClosePort();
    return m.cboFwSlot.Items();
}

}  // namespace

std::string ScanReport(const Platform& platform, bool json, int kind) {
    // The window stays unbuilt: the scan needs only its lists, and nothing is shown.
    Platform p = platform;
    p.ui = nullptr;
    TKestrelMain m(p, PackageView(), {});
    m.pAtaDevice = std::make_unique<TAtaDevice>(p);
    if (kind < 0) {
        m.ScanDrivesStep();
    } else {
        m.gScanType = kind;
        m.gCount = m.ScanSSDDrive(kind);
    }
    const int32_t count = m.gCount;
    std::vector<std::vector<std::string>> slots;
    for (size_t i = 0; i < m.Count(); ++i)
        slots.push_back(m.m_DevInfo[i].bIsNvme ? SlotList(m, m.m_DevInfo[i]) : std::vector<std::string>{});

    std::string out;
    if (json) {
        out += "{\n";
        out += Fmt("  \"scan_type\": %d,\n  \"count\": %d,\n  \"disks_listed\": %d,\n", m.gScanType, count, m.pAtaDevice->GetDriveCount());
        out += Fmt("  \"sata_irst\": %s,\n", m.bIsSataIrst ? "true" : "false");
        out += "  \"drives\": [";
        for (size_t i = 0; i < m.Count(); ++i) {
            const DEV_INFO& e = m.m_DevInfo[i];
            out += i ? ",\n    {\n" : "\n    {\n";
            out += Fmt("      \"index\": %zu,\n      \"order\": %d,\n", i, e.order);
            out += Fmt("      \"route\": \"%s\",\n", Route(e, m.gScanType));
            out += "      \"model\": " + JsonText(KESTREL_TEXT(e, szModel)) + ",\n";
            out += "      \"check_model\": " + JsonText(KESTREL_TEXT(e, szCheckModel)) + ",\n";
            out += "      \"revision\": " + JsonText(KESTREL_TEXT(e, szFwRev)) + ",\n";
            out += "      \"serial\": " + JsonText(KESTREL_TEXT(e, szSerial)) + ",\n";
            out += "      \"def\": " + JsonText(KESTREL_TEXT(e, szDefRev)) + ",\n";
            out += "      \"ppid\": " + JsonText(KESTREL_TEXT(e, szPPID)) + ",\n";
            out += Fmt("      \"system_drive\": %s,\n", e.bIsSystemDrive ? "true" : "false");
            out += Fmt("      \"scsi_address\": {\"port\": %u, \"path\": %u, \"target\": %u, \"lun\": %u},\n", e.HA, e.PathId, e.Target, e.Lun);
            out += Fmt("      \"bus_type\": %u,\n", e.BusType);
            out += Fmt("      \"nvme\": {\"nvme\": %u, \"inbox_driver\": %u, \"irst_driver\": %u, \"irst_driver_below_14_8\": %u},\n", e.bIsNvme,
                       e.bIsNvmeInboxDriver, e.bIsNvmeIrstDriver, e.bIsNvmeIrstDriver_below_14_8);
            if (m.gScanType == 1)
                out += Fmt("      \"csmi\": {\"phy\": %d, \"port\": %d, \"sas_address\": \"%016llX\"},\n", e.ScsiIndex, e.CsmiPort,
                           static_cast<unsigned long long>(e.SasAddress));
            out += "      \"instance_id\": " + JsonText(KESTREL_TEXT(e, szInstanceId)) + ",\n";
            out += "      \"device_path\": " + JsonText(KESTREL_TEXT(e, DevicePath)) + ",\n";
            out += "      \"slots\": [";
            for (size_t s = 0; s < slots[i].size(); ++s) out += (s ? ", " : "") + JsonText(slots[i][s]);
            out += "]\n    }";
        }
        out += m.Count() ? "\n  ]\n}\n" : "]\n}\n";
        return out;
    }

    out += Fmt("Scan kind %d: %d drive(s) of %d listed disk(s)%s\n", m.gScanType, count, m.pAtaDevice->GetDriveCount(),
               m.bIsSataIrst ? "; a SATA disk behind Intel RST" : "");
    if (count < 0) out += "The scan ended with an exception (exit level 3).\n";
    for (size_t i = 0; i < m.Count(); ++i) {
        const DEV_INFO& e = m.m_DevInfo[i];
        out += Fmt("\n[%zu] %s  %s  (%s)\n", i, Printable(Trimmed(KESTREL_TEXT(e, szModel))).c_str(), Printable(Trimmed(KESTREL_TEXT(e, szFwRev))).c_str(),
                   Route(e, m.gScanType));
        out += Fmt("    serial          : %s\n", Printable(Trimmed(KESTREL_TEXT(e, szSerial))).c_str());
        out += Fmt("    DEF             : %s\n", Printable(Trimmed(KESTREL_TEXT(e, szDefRev))).c_str());
        out += Fmt("    PPID            : %s\n", Printable(Trimmed(KESTREL_TEXT(e, szPPID))).c_str());
        out += Fmt("    checked model   : %s\n", Printable(Trimmed(KESTREL_TEXT(e, szCheckModel))).c_str());
        out += Fmt("    SCSI address    : %u-%u-%u-%u, order %d%s\n", e.HA, e.PathId, e.Target, e.Lun, e.order,
                   e.bIsSystemDrive ? ", system drive" : "");
        if (m.gScanType == 1)
            out += Fmt("    CSMI            : phy %d, port %d, SAS address %016llX\n", e.ScsiIndex, e.CsmiPort,
                       static_cast<unsigned long long>(e.SasAddress));
        else
            out += Fmt("    disk            : %s\n", Printable(KESTREL_TEXT(e, DevicePath)).c_str());
        if (e.bIsNvme) {
            out += "    slots           :";
            for (const std::string& s : slots[i]) out += " [" + Printable(s) + "]";
            out += slots[i].empty() ? " none read\n" : "\n";
        }
    }
    return out;
}

}  // namespace kestrel::diag
