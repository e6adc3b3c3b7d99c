// The drive scan: the disk list (ATA and NVMe) or the CSMI controllers into the drive table, the
// Intel RST driver version it classifies by, and the system-drive test.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/KestrelMain.h"
#include "app/TextFields.h"
#include "support/DebugLog.h"
#include "support/Format.h"

namespace kestrel {
namespace {

constexpr double kRetryWaitMs = 500.0;
constexpr int kRetries = 3;

std::string Upper(const char* p, size_t width) {
    std::string s(p, strnlen(p, width));
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool Contains(const std::string& s, const char* what) { return s.find(what) != std::string::npos; }

}  // namespace

void TKestrelMain::ScanRetryWait() { timer_.WaitMilliseconds(kRetryWaitMs); }

int32_t TKestrelMain::ScanSSDDrive(int32_t kind) {
    if (kind != 1) return ScanDiskList();
    try {
        return bDeployMode ? ScanCsmiPreset() : ScanCsmiControllers();
    } catch (...) {
        // As on the disk list: a fault inside a driver call ends the scan, and no exception
        // leaves it.
        iErrorLevel = exitcode::kNoEligibleDrive;
        WriteLog("Exception !ScanSSDDrive (CSMI)   \n");
        return -1;
    }
}

int32_t TKestrelMain::ScanDiskList() {
    ClearDevInfo();
    TAtaDevice* dev = pAtaDevice.get();
    int32_t cnt = 0;
    const int32_t n = dev ? dev->GetDriveCount() : 0;
    WriteLog(Fmt("\n\n============== (ATA/NVMe) SCANNING COUNT(%d) %s ==============\n", n, LogTimeStamp(*p_.clock).c_str()));
    // The device manager lists at most 16 disks; more that Windows counted were left out there.
    if (dev != nullptr && dev->GetDevMgr() != nullptr && dev->GetDevMgr()->iExpectedCount > static_cast<int32_t>(kMaxDrives))
        WriteLog(Fmt("SCAN: %d disks counted, the drive table holds %d: drives left out\n", dev->GetDevMgr()->iExpectedCount,
                     static_cast<int32_t>(kMaxDrives)));

    // A device path from the command line: the number of the disk it opens, to match its record.
    const int32_t devPathNumber = (dev != nullptr && !DEV_PATH.empty()) ? dev->GetDevMgr()->GetDeviceNumber(DEV_PATH.c_str()) : -1;
    bool devPathAdded = false;

    for (int32_t i = 0; i < n; ++i) {
        if (cnt >= static_cast<int32_t>(kMaxDrives)) {
            WriteLog(Fmt("SCAN: %d disks counted, the drive table holds %d: drives left out\n", n, static_cast<int32_t>(kMaxDrives)));
            break;
        }
        const REG_DATA* rec = dev->GetDriveRecord(i);
        if (rec == nullptr) continue;
        WriteLog(Fmt("SCAN: %d\n", i));
        WriteLog(Fmt("%d DID : %.260s, PATH: %.512s\n VID: %Xh , DID: %Xh, Service: %.260s, Bustype: %Xh (RAID=8h,SATA=Bh)\n", i,
                     rec->instanceId, rec->DevicePath, rec->ParentVid, rec->ParentDid, rec->service, rec->BusType));
        WriteLog(Fmt("ScsiAddress(PortNo-Path-Target-Lun) : %d-%d-%d-%d\n", rec->scsiAddress.PortNumber, rec->scsiAddress.PathId,
                     rec->scsiAddress.TargetId, rec->scsiAddress.Lun));

        // Nothing an identify operation read from an earlier drive may reach this drive's element.
        std::memset(&m_CurIdentity, 0, sizeof m_CurIdentity);
        const char* parentService = rec->ancestors ? rec->ancestors->service : "";
        const char* parentId = rec->ancestors ? rec->ancestors->instanceId : "";

        // The element may hold a drive that was not added: it starts over from zero bytes.
        DEV_INFO& e = m_DevInfo[static_cast<size_t>(cnt)];
        std::memset(&e, 0, sizeof e);
        PutField(e.szInstanceId, rec->instanceId);
        PutField(e.DevicePath, rec->DevicePath);
        e.ParentVid = rec->ParentVid;
        e.ParentDid = rec->ParentDid;
        e.BusType = rec->BusType;

        // Classification by the disk's instance ID and the service of its parent.
        const std::string svc = Upper(parentService, sizeof(DEVICE_NODE::service));
        const std::string id = Upper(rec->instanceId, sizeof rec->instanceId);
        e.bIsNvme = ((Contains(id, "&VEN_NVME&") && rec->BusType == BUS_TYPE_RAID && Contains(svc, "IASTORA")) ||
                     (rec->BusType == BUS_TYPE_NVME && Contains(svc, "NVME")))
                        ? 1
                        : 0;
        if (e.bIsNvme && Contains(svc, "IASTORA") && rec->BusType == BUS_TYPE_RAID) {
            e.bIsNvmeInboxDriver = 0;
            e.bIsNvmeIrstDriver = static_cast<uint8_t>(CheckIrstDriver());
            if (e.bIsNvmeIrstDriver == 0) e.bIsNvmeInboxDriver = 1;
            e.bIsNvmeIrstDriver_below_14_8 = 1;
        } else if (e.bIsNvme) {
            e.bIsNvmeInboxDriver = Contains(svc, "STORNVME") ? 1 : 0;
        } else if (!bIsSataIrst && Contains(svc, "IASTOR")) {
            bIsSataIrst = 1;
        }

        e.bExisted = 1;
        e.order = i;
        e.HA = rec->scsiAddress.PortNumber;
        e.Target = rec->scsiAddress.TargetId;
        e.Lun = rec->scsiAddress.Lun;
        e.PathId = rec->scsiAddress.PathId;
        WriteLog(Fmt("Parent InstanceId: %.260s / Service: %.260s \n bIsNvme=%d, bIsNVMe_InBoxDriver=%d, bIsNVMe_IrstDriver=%d,"
                     "bIsNVMe_IrstDriverBelow_14_8=%d, BusNo=%d (BusNumber_API:%s %.260s), bIsSataIrst=%d\n",
                     parentId, parentService, e.bIsNvme, e.bIsNvmeInboxDriver, e.bIsNvmeIrstDriver, e.bIsNvmeIrstDriver_below_14_8,
                     e.PathId, "", rec->location, bIsSataIrst));

        if (e.bIsNvme) {
            PutField(e.szFwRev, rec->productRevision, sizeof rec->productRevision);
            PutField(e.szDefRev, rec->productRevision, sizeof rec->productRevision);
            PutField(e.szModel, rec->friendlyName, sizeof e.szModel);
            PutField(e.szCheckModel, rec->friendlyName, sizeof e.szCheckModel);
            PutField(e.szSerial, rec->serialNumber, sizeof rec->serialNumber);
            WriteLog(Fmt("[%d][SCSI:%d] %.40s %.8s \n", i, e.HA, e.szModel, e.szFwRev));
        }
        e.bIsSystemDrive = IsSystemDrive(rec->DevicePath) ? 1 : 0;
        WriteLog(Fmt("before SelectPort ScanSSDDrive_i: %d  iErrorLevel:%d \n", i, iErrorLevel));

        const bool rstRoute = e.bIsNvme && (e.bIsNvmeIrstDriver || e.bIsNvmeIrstDriver_below_14_8);
        const bool inboxRoute = e.bIsNvme && !rstRoute;
        bool ok = false;
        bool added = false;
        int32_t r = 0;
        try {
            if (rstRoute) {
                WriteLog(Fmt("IRST : before SelectPort ScanSSDDrive_i: %d  iErrorLevel:%d cnt:%d\n", i, iErrorLevel, cnt));
                ok = dev->SelectPort(i, nullptr, e.HA, SELECT_NVME);
                if (ok) {
                    r = Identify_irst(e.PathId) ? 1 : 0;
                    WriteLog(Fmt("after ScanSSDDrive_i2: %d  iErrorLevel:%d \n", i, iErrorLevel));
                    for (int retry = 0; r != 1 && retry < kRetries; ++retry) {
                        ScanRetryWait();
                        r = Identify_irst(e.PathId) ? 1 : 0;
                    }
                    if (r == 1) {
                        FillFromIrstIdentity(e, i);
                        WriteLog(Fmt("Refresh : [%d] %.40s %.8s \n", i, e.szModel, e.szFwRev));
                        ++cnt;
                        added = true;
                    }
                }
            } else if (inboxRoute) {
                try {
                    get_log_rook_ppid_nvme(i);
                } catch (...) {
                }
                WriteLog(Fmt("INBOX : before SelectPort ScanSSDDrive_i: %d cnt:%d iErrorLevel:%d  \n", i, cnt, iErrorLevel));
                ok = dev->SelectPort(i, e.DevicePath, -1, SELECT_NVME);
            } else if (!DEV_PATH.empty() && !(devPathNumber >= 0 ? dev->GetDevMgr()->GetDeviceNumber(rec->DevicePath) == devPathNumber
                                                                 : !devPathAdded)) {
                // The device path opens one disk whatever the record: it is listed once, with the
                // record of that disk, not once for every disk of the list.
                WriteLog(Fmt("ATA : SCAN %d is not the disk of DEV_PATH %s, skipped\n", i, DEV_PATH.c_str()));
            } else {
                if (!DEV_PATH.empty()) e.bIsSystemDrive = IsSystemDrive(DEV_PATH.c_str()) ? 1 : 0;
                WriteLog(Fmt("ATA : before SelectPort ScanSSDDrive_i: %d  cnt:%d iErrorLevel:%d \n", i, cnt, iErrorLevel));
                ok = dev->SelectPort(i, DEV_PATH.empty() ? nullptr : DEV_PATH.c_str(), -1, SELECT_ATA);
            }
            WriteLog(Fmt("[AFTER] SelectPort ScanSSDDrive_i: %d cnt:%d iErrorLevel:%d \n", i, cnt, iErrorLevel));
            if (!ok) continue;

            if (rstRoute) {
                WriteLog(Fmt("SelectPort OK >>> 0. bIsNvmeInboxDriver=%d, bIsNvmeIrstDriver=%d, bIsNvmeIrstDriver_below_14_8=%d \n",
                             e.bIsNvmeInboxDriver, e.bIsNvmeIrstDriver, e.bIsNvmeIrstDriver_below_14_8));
            } else if (inboxRoute && e.bIsNvmeInboxDriver) {
                WriteLog(Fmt("SelectPort OK >>>1. bIsNvmeInboxDriver=%d, bIsNvmeIrstDriver=%d \n", e.bIsNvmeInboxDriver, e.bIsNvmeIrstDriver));
                r = LoadNvmeSlotInfo() ? 1 : 0;
            } else if (!e.bIsNvme) {
                WriteLog(Fmt("SelectPort OK >>>2. bIsNvme=%d, bIsNvmeInboxDriver=%d, bIsNvmeIrstDriver=%d \n", e.bIsNvme, e.bIsNvmeInboxDriver,
                             e.bIsNvmeIrstDriver));
                try {
                    get_log_rook_ppid();
                } catch (...) {
                }
                r = ReadAtaIdentity();
            }
            WriteLog(Fmt("[AFTER 2] ScanSSDDrive_i2: %d  iErrorLevel:%d \n", i, iErrorLevel));

            if (e.bIsNvme && e.bIsNvmeInboxDriver && !added) {
                // The inbox driver's slot query, also the way to an RST drive of an old driver whose
                // RST identify failed. A drive the RST identify added is not counted a second time.
                for (int retry = 0; r != 1 && retry < kRetries; ++retry) {
                    ScanRetryWait();
                    r = LoadNvmeSlotInfo() ? 1 : 0;
                }
                if (r == 1) {
                    RefreshFromInboxSlots(e, i);
                    WriteLog(Fmt("Refresh : [%d] %.40s %.8s \n", i, e.szModel, e.szFwRev));
                    ++cnt;
                }
            } else if (!e.bIsNvme) {
                for (int retry = 0; r != ATACMD_OK && retry < kRetries; ++retry) {
                    ScanRetryWait();
                    r = ReadAtaIdentity();
                }
                if (r == ATACMD_OK) {
                    devPathAdded = !DEV_PATH.empty();
                    FillFromAtaIdentity(e, true);
                    WriteLog(Fmt("[%d-%c] %.40s %.8s | %.7s\n", i, LogChar(e.szDefRev[7]), e.szModel, e.szFwRev, e.szDefRev));
                    ++cnt;
                }
            }
        } catch (...) {
            // A fault inside a driver call ends the scan, wherever in the drive's selection and
            // identify it happens; the half-filled element of that drive is not left behind.
            if (!added) std::memset(&e, 0, sizeof e);
            iErrorLevel = exitcode::kNoEligibleDrive;
            WriteLog(Fmt("Exception !ScanSSDDrive_i: %d   \n", i));
            return -1;
        }
    }
    // Nothing of a drive that was not added stays behind the table's end.
    if (cnt < static_cast<int32_t>(kMaxDrives)) std::memset(&m_DevInfo[static_cast<size_t>(cnt)], 0, sizeof(DEV_INFO));
    if (dev != nullptr) dev->ClosePort();
    WriteLog(Fmt("ATA_DEV_CNT: %d / %d \n", cnt, n));
    WriteLog(Fmt("============== END SCANNING %s ==============\n\n", LogTimeStamp(*p_.clock).c_str()));
    return cnt;
}

void TKestrelMain::FillFromAtaIdentity(DEV_INFO& e, bool withPpid) {
    const DRIVE_IDENTITY& id = m_CurIdentity;
    PutField(e.szFwRev, id.szFwRev);
    PutField(e.szModel, id.szModel);
    PutField(e.szSerial, id.szSerial);
    PutField(e.szDefRev, id.szDefRev);
    PutField(e.szCheckModel, id.szModel);
    if (withPpid) {
        PutField(e.szPPID, id.szPPID);
        WriteLog(Fmt("PPID: [%.32s]\n", e.szPPID));
    }
}

void TKestrelMain::FillFromIrstIdentity(DEV_INFO& e, int32_t index) {
    const DRIVE_IDENTITY& id = m_CurIdentity;
    std::memset(e.szFwRev, 0, sizeof e.szFwRev);
    std::memset(e.szDefRev, 0, sizeof e.szDefRev);
    std::memset(e.szModel, 0, sizeof e.szModel);
    std::memset(e.szSerial, 0, sizeof e.szSerial);
    if (IsBlankField(id.szFwRev, sizeof id.szFwRev)) {
        WriteLog(Fmt("IRST NG  : [%d] %.40s %.8s \n", index, e.szModel, e.szFwRev));
        return;
    }
    PutField(e.szFwRev, id.szFwRev);
    PutField(e.szDefRev, id.szFwRev);
    PutField(e.szModel, id.szModel);
    PutField(e.szSerial, id.szSerial);
    PutField(e.szPPID, id.szPPID);
    WriteLog(Fmt("PPID: [%.32s]", e.szPPID));
    WriteLog(Fmt("IRST OK  : [%d] %.40s %.8s \n", index, e.szModel, e.szFwRev));
}

void TKestrelMain::RefreshFromInboxSlots(DEV_INFO& e, int32_t index) {
    const DRIVE_IDENTITY& id = m_CurIdentity;
    std::memset(e.szFwRev, 0, sizeof e.szFwRev);
    std::memset(e.szDefRev, 0, sizeof e.szDefRev);
    PutField(e.szPPID, id.szPPID);
    WriteLog(Fmt("PPID: [%.32s]", e.szPPID));
    if (IsBlankField(id.szFwRev, sizeof id.szFwRev)) {
        WriteLog(Fmt("Not refresh  : [%d] %.40s %.8s \n", index, e.szModel, e.szFwRev));
        return;
    }
    PutField(e.szFwRev, id.szFwRev);
    PutField(e.szDefRev, id.szFwRev);
    WriteLog(Fmt("Refresh  : [%d] %.40s %.8s \n", index, e.szModel, e.szFwRev));
}

int32_t TKestrelMain::ScanCsmiPreset() {
    ClearDevInfo();
    TAtaDevice* dev = pAtaDevice.get();
    if (dev == nullptr) return 0;
    DEV_INFO& e = m_DevInfo[0];
    e.HA = static_cast<uint16_t>(SCSI_PORT);
    e.bExisted = 1;
    e.order = 0;
    if (!dev->SelectPort(SCSI_PORT, nullptr, -1, SELECT_CSMI)) {
        std::memset(&e, 0, sizeof e);
        return 0;
    }
    // An address that finds the drive stays in the run context, where the selection and the flash
    // take it from; one that does not is put back. Otherwise a pass that fails while the drive
    // restarts would leave the alternate address in place for good, and no later pass finds the drive.
    const int32_t givenIndex = INDEX;
    const int32_t givenPort = PORT;
    const uint64_t givenSas = SAS_ADDR;
    const auto address = [this, dev] {
        dev->SetCsmiPhy(INDEX);
        dev->SetCsmiPort(PORT);
        dev->SetCsmiSasAddress(static_cast<uint32_t>(SAS_ADDR), static_cast<uint32_t>(SAS_ADDR >> 32));
        WriteLog(Fmt("SCSI_PORT:%d, INDEX:%X, PORT:%X, SAS_ADDR: %016llX\n", SCSI_PORT, static_cast<unsigned>(INDEX),
                     static_cast<unsigned>(PORT), static_cast<unsigned long long>(SAS_ADDR)));
    };
    address();
    uint8_t r = ReadAtaIdentity();
    // Three attempts at the given address, then four at the alternate one that the command line's
    // SAS address carries in its upper bits.
    for (int attempt = 1; r != ATACMD_OK && attempt < 7; ++attempt) {
        if (attempt == 3) {
            INDEX = static_cast<int32_t>((SAS_ADDR >> 16) & 0xFF);
            PORT = static_cast<int32_t>((SAS_ADDR >> 24) & 0xFF);
            SAS_ADDR >>= 32;
            address();
        }
        r = ReadAtaIdentity();
    }
    if (r != ATACMD_OK) {
        INDEX = givenIndex;
        PORT = givenPort;
        SAS_ADDR = givenSas;
        std::memset(&e, 0, sizeof e);
        return 0;
    }
    FillFromAtaIdentity(e, false);
    // Minimum widths as always, but never read past the fields' ends.
    WriteLog(Fmt("IDENTIFY: %40.40s %8.8s\n", e.szModel, e.szFwRev));
    return 1;
}

int32_t TKestrelMain::ScanCsmiControllers() {
    ClearDevInfo();
    TAtaDevice* dev = pAtaDevice.get();
    int32_t cnt = 0;
    WriteLog(Fmt("============== (CSMI) SCANNING %s =============\n", LogTimeStamp(*p_.clock).c_str()));
    for (int32_t c = 0; c < 16 && dev != nullptr; ++c) {
        WriteLog(Fmt("----------------\nScanning csmi%d,0 \n----------------", c));
        wire::CSMI_SAS_PHY_INFO info{};
        if (!dev->SelectPort(c, nullptr, -1, SELECT_CSMI) || !dev->get_phy_info(info)) continue;
        WriteLog(Fmt("max_number_of_phys=%d, phy_info.bNumberOfPhys=%d\n", static_cast<int>(wire::CSMI_SAS_MAX_PHYS), info.bNumberOfPhys));
        for (int p = 0; p < static_cast<int>(wire::CSMI_SAS_MAX_PHYS); ++p) {
            const wire::CSMI_SAS_PHY_ENTITY& phy = info.Phy[p];
            if (phy.Identify.bDeviceType == 0) continue;
            if (phy.Attached.bDeviceType == 0) {
                WriteLog(Fmt("csmi%d,%d : no device (attach)", c, p));
                continue;
            }
            if (phy.Attached.bTargetPortProtocol != wire::CSMI_SAS_PROTOCOL_SATA &&
                phy.Attached.bTargetPortProtocol != wire::CSMI_SAS_PROTOCOL_STP) {
                WriteLog(Fmt("csmi%d,%d : no sata device on port", c, p));
                continue;
            }
            if (cnt >= static_cast<int32_t>(kMaxDrives)) {
                WriteLog(Fmt("csmi%d,%d : left out, the drive table holds %d drives\n", c, p, static_cast<int32_t>(kMaxDrives)));
                continue;
            }
            uint64_t sas = 0;
            for (int b = 7; b >= 0; --b) sas = (sas << 8) | phy.Attached.bSASAddress[b];
            dev->SetCsmiPhy(phy.Identify.bPhyIdentifier);
            dev->SetCsmiPort(phy.bPortIdentifier);
            dev->SetCsmiSasAddress(static_cast<uint32_t>(sas), static_cast<uint32_t>(sas >> 32));
            uint8_t r = ReadAtaIdentity();
            for (int retry = 0; r != ATACMD_OK && retry < kRetries; ++retry) r = ReadAtaIdentity();
            if (r != ATACMD_OK) continue;
            DEV_INFO& e = m_DevInfo[static_cast<size_t>(cnt)];
            std::memset(&e, 0, sizeof e);
            e.HA = static_cast<uint16_t>(c);
            e.Target = phy.Identify.bPhyIdentifier;
            e.Lun = 0;
            e.PathId = phy.bPortIdentifier;
            e.bExisted = 1;
            e.order = c;
            e.ScsiIndex = phy.Identify.bPhyIdentifier;
            e.CsmiPort = phy.bPortIdentifier;
            e.SasAddress = sas;
            FillFromAtaIdentity(e, false);
            WriteLog(Fmt("csmi%d,%d : phy_no: %d, csmi_port: %d, scsi_index: %d, SAS_ADDR: %llu\n", c, p, p, e.CsmiPort, e.ScsiIndex,
                         static_cast<unsigned long long>(e.SasAddress)));
            WriteLog(Fmt("I :[SCSI%d|%016llX] %.40s %.8s\n", e.order, static_cast<unsigned long long>(e.SasAddress), e.szModel, e.szFwRev));
            ++cnt;
        }
    }
    WriteLog(Fmt("CSMI_DEV_CNT: %d\n", cnt));
    WriteLog(Fmt("============== END SCANNING %s ==============\n\n", LogTimeStamp(*p_.clock).c_str()));
    return cnt;
}

int32_t TKestrelMain::CheckIrstDriver() {
    std::string version, description;
    if (!GetIrstDriverVersion(version, description)) {
        WriteLog(Fmt("Unable to get iRST Driver version : %s %s\n", description.c_str(), version.c_str()));
        return 0;
    }
    WriteLog(Fmt("iRST Driver : %s %s\n", description.c_str(), version.c_str()));
    // A plain text comparison, byte by byte, as the driver's version has always been compared.
    if (std::strcmp(version.c_str(), "14.8.0.0") < 0) {
        WriteLog("iRST Driver < 14.8.0.0 \n");
        return 0;
    }
    WriteLog("iRST Driver >= 14.8.0.0 \n");
    return 1;
}

bool TKestrelMain::GetIrstDriverVersion(std::string& version, std::string& description) {
    version = "NA";
    description = "NA";
    // The setup API is reached through the device manager's bindings.
    std::unique_ptr<TDevMgr> own;
    TDevMgr* mgr = pAtaDevice ? pAtaDevice->GetDevMgr() : nullptr;
    if (mgr == nullptr) {
        own = std::make_unique<TDevMgr>(p_);
        mgr = own.get();
    }
    if (mgr->BindingsMissing()) return false;
    IDeviceTree& t = *p_.deviceTree;
    const DevInfoSet set = t.SetupDiGetClassDevsA(nullptr, wire::DIGCF_PRESENT_FLAG | wire::DIGCF_ALLCLASSES_FLAG);
    if (set == kInvalidDevInfoSet) return false;

    constexpr uint32_t kMaxProperty = 4096;
    const auto property = [&t, set](const wire::SP_DEVINFO_DATA& d, uint32_t which) {
        uint32_t required = 0;
        std::vector<uint8_t> buf;
        if (!t.SetupDiGetDeviceRegistryPropertyA(set, d, which, nullptr, nullptr, 0, &required)) {
            if (t.GetLastError() != wire::ERROR_INSUFFICIENT_BUFFER_CODE || required == 0 || required > kMaxProperty) return std::string();
            buf.assign(required, 0);
            if (!t.SetupDiGetDeviceRegistryPropertyA(set, d, which, nullptr, buf.data(), required, &required)) return std::string();
        }
        const char* p = reinterpret_cast<const char*>(buf.data());
        return buf.empty() ? std::string() : std::string(p, strnlen(p, buf.size()));
    };

    bool found = false;
    uint32_t endError = 0;
    for (uint32_t i = 0;; ++i) {
        wire::SP_DEVINFO_DATA d{};
        d.cbSize = sizeof d;
        if (!t.SetupDiEnumDeviceInfo(set, i, d)) {
            endError = t.GetLastError();
            break;
        }
        const std::string desc = property(d, wire::SPDRP_DEVICEDESC_PROP);
        const std::string driver = property(d, wire::SPDRP_DRIVER_PROP);
        RegKey key = 0;
        if (!driver.empty() &&
            p_.registry->OpenKey("SYSTEM\\CurrentControlSet\\Control\\Class\\" + driver, KEY_QUERY_VALUE_ACCESS, key) == 0) {
            RegValue v;
            if (p_.registry->QueryValue(key, "DriverVersion", 260, v) == 0 && v.type == REG_SZ_TYPE) {
                const char* p = reinterpret_cast<const char*>(v.data.data());
                description = desc;
                version = std::string(p, strnlen(p, v.data.size()));
            }
            p_.registry->CloseKey(key);
        }
        const std::string u = Upper(desc.c_str(), desc.size());
        if ((Contains(u, "INTEL ") && Contains(u, "SATA ") && Contains(u, "RAID CONTROLLER")) ||
            (Contains(u, "INTEL(R)") && Contains(u, "SATA/PCIE") && Contains(u, "PREMIUM CONTROLLER"))) {
            found = true;
            break;
        }
    }
    t.SetupDiDestroyDeviceInfoList(set);
    if (!found && endError != 0 && endError != wire::ERROR_NO_MORE_ITEMS_CODE) return false;
    return found;
}

bool TKestrelMain::IsSystemDrive(const char* path) {
    // The device manager's path queries; the device object's serves when there is one.
    std::unique_ptr<TDevMgr> own;
    TDevMgr* mgr = pAtaDevice ? pAtaDevice->GetDevMgr() : nullptr;
    if (mgr == nullptr) {
        own = std::make_unique<TDevMgr>(p_);
        mgr = own.get();
    }
    const std::string sys = p_.files->GetSystemDirectory();
    const size_t colon = sys.find(':');
    if (colon == std::string::npos) return false;
    const std::string volume = "\\\\.\\" + sys.substr(0, colon + 1);
    const int32_t volumeNumber = mgr->GetDeviceNumber(volume.c_str());
    if (volumeNumber < 0) return false;
    const int32_t diskNumber = mgr->GetDeviceNumber(path);
    return diskNumber >= 0 && diskNumber == volumeNumber;
}

void TKestrelMain::ScanDrivesStep() {
    WriteLog("Scan Device ...");
    if (gScanType == 0 && DEV_PATH.empty()) {
        gCount = ScanSSDDrive(0);
        // No drive on the disk list: the drives may sit behind a CSMI RAID controller.
        if (gCount == 0) {
            gScanType = 1;
            gCount = ScanSSDDrive(1);
        }
    } else {
        gCount = ScanSSDDrive(gScanType);
    }
    WriteLog(Fmt("gScanType: %d, CNT: %d\n", gScanType, gCount));
}

}  // namespace kestrel
