// Physical drive enumeration: the disk interfaces, their path queries, the address order.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "discovery/DevMgr.h"
#include "discovery/DevMgrInternal.h"

namespace kestrel {

using namespace discovery_detail;

namespace {
constexpr int kMaxEnumerationRuns = 11;
// A driver that keeps asking for more is not followed beyond this.
constexpr uint32_t kMaxPropertyBytes = 64 * 1024;
constexpr int kMaxPropertyProbes = 4;
constexpr uint32_t kScsiAddressOutSize = 2048;
constexpr uint32_t kBusTypeBufferSize = 40;

uint32_t AddressKey(const SCSI_ADDRESS_DATA& a) {
    return uint32_t{a.PortNumber} * 4096u + uint32_t{a.PathId} * 256u + uint32_t{a.TargetId} * 16u + uint32_t{a.Lun};
}

// Copies up to `want` bytes from the descriptor at `offset`, never past its end.
void CopyFromDescriptor(char* dest, size_t want, const uint8_t* desc, uint32_t offset) {
    if (offset == 0 || offset >= wire::kDeviceDescriptorBufferSize) return;
    const size_t n = std::min<size_t>(want, wire::kDeviceDescriptorBufferSize - offset);
    std::memcpy(dest, desc + offset, n);
}
}  // namespace

bool TDevMgr::EnumPhysicalDrives() {
    if (BindingsMissing()) return false;
    iExpectedCount = CountDisks();
    ReleaseList();
    iRuns = 0;
    // The rest of the discovery and the drive table hold at most kMaxDisks disks.
    const int32_t target = std::clamp<int32_t>(iExpectedCount, 0, kMaxDisks);
    pRegData = new (std::nothrow) REG_DATA[static_cast<size_t>(std::max(target, 1))]();
    if (pRegData == nullptr) return false;
    iAllocated = std::max(target, 1);
    do {
        ReleaseRecords(pRegData, iAllocated);
        iRegCount = 0;
        try {
            iRegCount = CollectDisks(pRegData, target);
        } catch (...) {
            ReleaseRecords(pRegData, iAllocated);
            iRegCount = 0;
        }
        ++iRuns;
    } while (iRegCount != target && iRuns < kMaxEnumerationRuns);
    return true;
}

int32_t TDevMgr::CollectDisks(REG_DATA* records, int32_t capacity) {
    if (BindingsMissing()) return 0;
    ChainCache cache(*p_.deviceTree);
    return CollectDisksShared(records, capacity, &cache);
}

int32_t TDevMgr::CollectDisksShared(REG_DATA* records, int32_t capacity, ChainCache* cache) {
    if (BindingsMissing() || records == nullptr || capacity <= 0) return 0;
    const int32_t n = EnumDiskInterfaces(records, capacity);
    for (int32_t i = 0; i < n; ++i) {
        REG_DATA& r = records[i];
        r.addressObtained = GetScsiAddress(r.DevicePath, r.scsiAddress) ? 1 : 0;
        r.BusType = GetBusType(r.DevicePath);
        uint8_t desc[wire::kDeviceDescriptorBufferSize];
        if (GetDeviceDescriptor(r.DevicePath, desc)) {
            wire::STORAGE_DEVICE_DESCRIPTOR hdr;
            std::memcpy(&hdr, desc, sizeof hdr);
            CopyFromDescriptor(r.productRevision, sizeof r.productRevision, desc, hdr.ProductRevisionOffset);
            CopyFromDescriptor(r.serialNumber, sizeof r.serialNumber, desc, hdr.SerialNumberOffset);
        }
    }

    // Selection by SCSI address: smallest key first, the later record on equal keys; the records
    // without an address follow in their enumeration order.
    std::vector<REG_DATA> ordered;
    ordered.reserve(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) records[i].taken = 0;
    for (;;) {
        int32_t pick = -1;
        for (int32_t i = 0; i < n; ++i) {
            if (records[i].taken || !records[i].addressObtained) continue;
            if (pick < 0 || AddressKey(records[i].scsiAddress) <= AddressKey(records[pick].scsiAddress)) pick = i;
        }
        if (pick < 0) {
            for (int32_t i = 0; i < n; ++i)
                if (!records[i].taken) {
                    records[i].taken = 1;
                    ordered.push_back(records[i]);
                }
            break;
        }
        records[pick].taken = 1;
        ordered.push_back(records[pick]);
    }
    for (int32_t i = 0; i < n; ++i) records[i] = ordered[static_cast<size_t>(i)];

    for (int32_t i = 0; i < n; ++i) {
        REG_DATA& r = records[i];
        r.ancestors = BuildChain(r.instanceId, cache);
        for (const DEVICE_NODE* node = r.ancestors; node != nullptr; node = node->parent) {
            if (node->vendorId != 0 && node->deviceId != 0) {
                r.ParentVid = node->vendorId;
                r.ParentDid = node->deviceId;
                break;
            }
        }
    }
    return n;
}

bool TDevMgr::ReadDiskProperty(DevInfoSet set, const wire::SP_DEVINFO_DATA& device, uint32_t property, char (&field)[260]) {
    IDeviceTree& t = *p_.deviceTree;
    field[0] = '\0';
    uint32_t required = 0;
    if (t.SetupDiGetDeviceRegistryPropertyA(set, device, property, nullptr, nullptr, 0, &required)) return true;  // empty
    std::vector<uint8_t> buf;
    for (int probe = 0; probe < kMaxPropertyProbes; ++probe) {
        if (t.GetLastError() != wire::ERROR_INSUFFICIENT_BUFFER_CODE || required == 0 || required > kMaxPropertyBytes) return false;
        buf.assign(required, 0);
        const uint32_t size = required;
        if (t.SetupDiGetDeviceRegistryPropertyA(set, device, property, nullptr, buf.data(), size, &required)) {
            // Longer values are cut to the field; the text ends at its first zero in any case.
            CopyText(field, reinterpret_cast<const char*>(buf.data()), size);
            return true;
        }
    }
    return false;
}

int32_t TDevMgr::EnumDiskInterfaces(REG_DATA* records, int32_t capacity) {
    if (BindingsMissing() || records == nullptr || capacity <= 0) return 0;
    IDeviceTree& t = *p_.deviceTree;
    const DevInfoSet set =
        t.SetupDiGetClassDevsA(&wire::GUID_DEVINTERFACE_DISK_ID, wire::DIGCF_PRESENT_FLAG | wire::DIGCF_DEVICEINTERFACE_FLAG);
    if (set == kInvalidDevInfoSet) return 0;
    int32_t n = 0;
    uint32_t endError = 0;
    for (uint32_t i = 0; n < capacity; ++i) {
        wire::SP_DEVICE_INTERFACE_DATA ifd{};
        ifd.cbSize = sizeof ifd;
        if (!t.SetupDiEnumDeviceInterfaces(set, nullptr, wire::GUID_DEVINTERFACE_DISK_ID, i, ifd)) {
            endError = t.GetLastError();
            break;
        }
        // The interface's own device comes back with its path, so path and properties always
        // belong to the same disk.
        alignas(8) uint8_t detail[512] = {};
        wire::SP_DEVICE_INTERFACE_DETAIL_DATA_A hdr{};
        hdr.cbSize = sizeof hdr;
        std::memcpy(detail, &hdr.cbSize, sizeof hdr.cbSize);
        wire::SP_DEVINFO_DATA dev{};
        dev.cbSize = sizeof dev;
        if (!t.SetupDiGetDeviceInterfaceDetailA(set, ifd, detail, sizeof detail, nullptr, &dev)) continue;  // left out
        REG_DATA& r = records[n];
        r = REG_DATA{};
        constexpr size_t kPathAt = offsetof(wire::SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
        CopyText(r.DevicePath, reinterpret_cast<const char*>(detail + kPathAt), sizeof detail - kPathAt);
        if (t.CM_Get_Device_IDA(dev.DevInst, r.instanceId, sizeof r.instanceId, 0) != wire::CR_SUCCESS_CODE)
            r.instanceId[0] = '\0';
        r.instanceId[sizeof r.instanceId - 1] = '\0';
        ReadDiskProperty(set, dev, wire::SPDRP_SERVICE_PROP, r.service);
        ReadDiskProperty(set, dev, wire::SPDRP_LOCATION_INFORMATION_PROP, r.location);
        ReadDiskProperty(set, dev, wire::SPDRP_FRIENDLYNAME_PROP, r.friendlyName);
        ++n;
    }
    t.SetupDiDestroyDeviceInfoList(set);
    if (endError != 0 && endError != wire::ERROR_NO_MORE_ITEMS_CODE) return 0;
    return n;
}

DevHandle TDevMgr::OpenPath(const char* path) {
    if (p_.storage == nullptr || path == nullptr || path[0] == '\0') return kInvalidDevHandle;
    return p_.storage->CreateFileA(path, GENERIC_READ_ACCESS, FILE_SHARE_READ_MODE | FILE_SHARE_WRITE_MODE,
                                   OPEN_EXISTING_DISPOSITION, 0);
}

bool TDevMgr::GetScsiAddress(const char* path, SCSI_ADDRESS_DATA& dest) {
    // A disk that cannot be opened has no address: it is not reported as 0-0-0-0.
    const DevHandle h = OpenPath(path);
    if (h == kInvalidDevHandle) return false;
    std::vector<uint8_t> out(kScsiAddressOutSize, 0);
    uint32_t returned = 0;
    const bool ok = p_.storage->DeviceIoControl(h, wire::IOCTL_SCSI_GET_ADDRESS_CODE, nullptr, 0, out.data(),
                                                kScsiAddressOutSize, returned);
    p_.storage->CloseHandle(h);
    if (!ok || returned != sizeof(wire::SCSI_ADDRESS)) return false;
    wire::SCSI_ADDRESS a;
    std::memcpy(&a, out.data(), sizeof a);
    dest.Length = a.Length;
    dest.PortNumber = a.PortNumber;
    dest.PathId = a.PathId;
    dest.TargetId = a.TargetId;
    dest.Lun = a.Lun;
    return true;
}

int32_t TDevMgr::GetDeviceNumber(const char* path) {
    const DevHandle h = OpenPath(path);
    if (h == kInvalidDevHandle) return -1;
    wire::STORAGE_DEVICE_NUMBER num{};
    uint32_t returned = 0;
    const bool ok = p_.storage->DeviceIoControl(h, wire::IOCTL_STORAGE_GET_DEVICE_NUMBER_CODE, nullptr, 0, &num, sizeof num, returned);
    p_.storage->CloseHandle(h);
    if (!ok || returned < offsetof(wire::STORAGE_DEVICE_NUMBER, DeviceNumber) + sizeof num.DeviceNumber) return -1;
    return static_cast<int32_t>(num.DeviceNumber);
}

uint8_t TDevMgr::GetBusType(const char* path) {
    const DevHandle h = OpenPath(path);
    if (h == kInvalidDevHandle) return 0;
    // The standard query goes in and the head of the descriptor comes back in the same 40 bytes.
    alignas(4) uint8_t buf[kBusTypeBufferSize] = {};
    wire::STORAGE_PROPERTY_QUERY q{};
    q.PropertyId = wire::StorageDeviceProperty;
    q.QueryType = wire::PropertyStandardQuery;
    std::memcpy(buf, &q, sizeof q);
    uint32_t returned = 0;
    const bool ok = p_.storage->DeviceIoControl(h, wire::IOCTL_STORAGE_QUERY_PROPERTY_CODE, buf, sizeof buf, buf, sizeof buf, returned);
    p_.storage->CloseHandle(h);
    constexpr uint32_t kBusTypeEnd = offsetof(wire::STORAGE_DEVICE_DESCRIPTOR, BusType) + 4;
    if (!ok || returned < kBusTypeEnd) return 0;
    wire::STORAGE_DEVICE_DESCRIPTOR d;
    std::memcpy(&d, buf, sizeof d);
    return d.BusType <= 0xFF ? static_cast<uint8_t>(d.BusType) : 0;
}

bool TDevMgr::GetDeviceDescriptor(const char* path, uint8_t (&dest)[wire::kDeviceDescriptorBufferSize]) {
    std::memset(dest, 0, sizeof dest);
    const DevHandle h = OpenPath(path);
    if (h == kInvalidDevHandle) return true;  // stays zero: nothing is copied from it
    wire::STORAGE_PROPERTY_QUERY q{};
    q.PropertyId = wire::StorageDeviceProperty;
    q.QueryType = wire::PropertyStandardQuery;
    uint32_t returned = 0;
    const bool ok = p_.storage->DeviceIoControl(h, wire::IOCTL_STORAGE_QUERY_PROPERTY_CODE, &q, sizeof q, dest, sizeof dest, returned);
    p_.storage->CloseHandle(h);
    return ok;
}

}  // namespace kestrel
