// NVMe firmware slots, download and activation through the miniport firmware request, and the
// NVMe Identify through the storage protocol query: the Windows inbox NVMe driver. The download
// and activation steps are shared with the Intel RST request, which differs only in its header.
#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

#include "device/AtaDevice.h"
#include "platform/wire/StorageQuery.h"
#include "support/Format.h"

namespace kestrel {
namespace {

constexpr uint32_t kFirmwareTimeoutSeconds = 30;
constexpr int kActivateAttempts = 5;

template <typename T>
void Put(uint8_t* buf, uint32_t at, const T& record) {
    std::memcpy(buf + at, &record, sizeof record);
}

uint32_t ReturnCodeOf(const uint8_t* buf) {
    uint32_t rc;
    std::memcpy(&rc, buf + offsetof(wire::SRB_IO_CONTROL, ReturnCode), sizeof rc);
    return rc;
}

}  // namespace

void TAtaDevice::FillFirmwareRequest(const FirmwareRoute& route, uint8_t* buf, uint32_t size, uint32_t function) {
    const uint32_t dataOffset = route.irst ? offsetof(wire::IRST_FIRMWARE_REQUEST, Data)
                                           : offsetof(wire::MINIPORT_FIRMWARE_REQUEST, Data);
    wire::SRB_IO_CONTROL srb{};
    srb.HeaderLength = sizeof srb;
    std::memcpy(srb.Signature, route.irst ? "IntelFw " : "FIRMWARE", 8);
    srb.Timeout = kFirmwareTimeoutSeconds;
    srb.ControlCode = route.irst ? wire::IRST_FIRMWARE_CONTROL_CODE : wire::IOCTL_SCSI_MINIPORT_FIRMWARE_CODE;
    srb.Length = size - sizeof srb;
    Put(buf, 0, srb);
    uint32_t at = sizeof srb;
    if (route.irst) {
        const uint8_t address[4] = {1, route.pathId, route.target, route.lun};
        std::memcpy(buf + at, address, sizeof address);
        at += sizeof address;
    }
    wire::FIRMWARE_REQUEST_BLOCK frb{};
    frb.Version = wire::FIRMWARE_REQUEST_BLOCK_STRUCTURE_VERSION;
    frb.Size = sizeof frb;
    frb.Function = function;
    frb.Flags = wire::FIRMWARE_REQUEST_FLAG_CONTROLLER;
    frb.DataBufferOffset = dataOffset;
    frb.DataBufferLength = size - dataOffset;
    Put(buf, at, frb);
}

bool TAtaDevice::FirmwareCall(uint8_t* buf, uint32_t size, uint32_t& error, std::string& raised) {
    uint32_t returned = 0;
    bool ok = false;
    raised.clear();
    try {
        ok = Call(wire::kIOCTL_SCSI_MINIPORT, buf, size, returned);
    } catch (const std::exception& e) {
        raised = e.what();
    } catch (...) {
        raised = "unknown exception";
    }
    error = ok ? 0 : p_.storage->GetLastError();
    if (!ok) dwLastError = error;
    dwFwReturnCode = ReturnCodeOf(buf);
    return ok && raised.empty();
}

void TAtaDevice::LogFirmwareSlots(const FirmwareSlots& s) {
    WriteLog("<< Firmware Information >>\n");
    WriteLog(Fmt("Support upgrade command: %s\n", s.upgradeSupport ? "Yes" : "No"));
    WriteLog(Fmt("Slot Count: %d\n", s.slotCount));
    WriteLog(Fmt("Current Active Slot: %d\n", s.activeSlot));
    if (s.pendingSlot == wire::STORAGE_FIRMWARE_NO_PENDING_SLOT)
        WriteLog("Pending Active Slot: No\n");
    else
        WriteLog(Fmt("Pending Active Slot: %d\n", s.pendingSlot));
    if (s.clamped)
        WriteLog(Fmt("Slot Count %d is more than the reply holds; reading %d slot records\n", s.slotCount,
                     static_cast<int>(s.slots.size())));
    for (const auto& slot : s.slots) {
        WriteLog(" ");
        WriteLog(Fmt("Slot Number: %d\n", slot.number));
        WriteLog(Fmt("Slot Read Only: %s\n", slot.readOnly ? "Yes" : "No"));
        WriteLog(Fmt("Revision: %.8s\n", reinterpret_cast<const char*>(slot.revision)));
    }
}

void TAtaDevice::LogActivateResult(uint32_t rc) {
    switch (rc) {
        case 0: WriteLog("Firmware activate succeeded \n"); break;
        case 1:
        case 16: WriteLog("Firmware activate, error returned \n"); break;
        case 2:
        case 3:
        case 4: WriteLog(Fmt("FirmwareUpgrade - firmware activate parameter error. srbControl->ReturnCode %d\n", rc)); break;
        case 6: WriteLog("Firmware activate, slot number invalid \n"); break;
        case 7: WriteLog("Firmware activate, invalid firmware image \n"); break;
        case 32: WriteLog("Firmware activate succeeded. PLEASE REBOOT COMPUTER \n"); break;
        default: WriteLog(Fmt("Firmware activate, unexpected error. srbControl->ReturnCode %d\n", rc)); break;
    }
}

bool TAtaDevice::DeviceGetFirmwareInfo(uint8_t* buffer, uint32_t bufferSize, bool log) {
    constexpr uint32_t kData = offsetof(wire::MINIPORT_FIRMWARE_REQUEST, Data);
    if (buffer == nullptr || bufferSize < kData + sizeof(wire::STORAGE_FIRMWARE_INFO)) {
        WriteLog(Fmt("DeviceGetFirmwareInfo - buffer of %u bytes is too small\n", bufferSize));
        return false;
    }
    FillFirmwareRequest(FirmwareRoute{}, buffer, bufferSize, wire::FIRMWARE_FUNCTION_GET_INFO);
    WriteLog("DeviceGetFirmwareInfo - before deviceioctrl\n");
    uint32_t error = 0;
    std::string raised;
    const bool ok = FirmwareCall(buffer, bufferSize, error, raised);
    WriteLog("DeviceGetFirmwareInfo - after deviceioctrl\n");
    if (!raised.empty()) {
        WriteLog(Fmt("DeviceIoControl raised an exception: %s\n", LastErrorText(0xFFFF).c_str()));
        return false;
    }
    if (log) {
        if (ok)
            LogFirmwareSlots(DecodeFirmwareInfoV1(buffer + kData, bufferSize - kData));
        else
            WriteLog(Fmt("Get Firmware Information Failed: %s\n", LastErrorText(error).c_str()));
        WriteLog(" ");
    }
    return ok;
}

uint8_t TAtaDevice::NvmeFirmwareUpdate(const uint8_t* image, uint32_t imageSize, uint8_t commitAction, uint8_t requestedSlot) {
    return RunFirmwareUpdate(FirmwareRoute{}, image, imageSize, commitAction, requestedSlot, 0);
}

uint8_t TAtaDevice::RunFirmwareUpdate(const FirmwareRoute& route, const uint8_t* image, uint32_t imageSize,
                                      uint8_t activateVersion, uint8_t requestedSlot, int32_t ha) {
    // An image of nothing would "succeed" with only an activation of whatever the slot held.
    if (image == nullptr || imageSize == 0) {
        WriteLog("Firmware image is empty: nothing to download\n");
        return 0;
    }
    const uint32_t size = route.irst ? wire::kIrstFirmwareBufferSize : wire::kMiniportFirmwareBufferSize;
    const uint32_t dataOffset = route.irst ? offsetof(wire::IRST_FIRMWARE_REQUEST, Data)
                                           : offsetof(wire::MINIPORT_FIRMWARE_REQUEST, Data);
    const uint32_t chunkOffset = route.irst ? wire::kIrstChunkOffset : wire::kMiniportChunkOffset;
    std::vector<uint8_t> request;
    try {
        request.assign(size, 0);
    } catch (const std::bad_alloc&) {
        WriteLog(Fmt("Allocate buffer failed: %s \n", LastErrorText(0xFFFF).c_str()));
        return 0;
    }
    uint8_t* buf = request.data();

    // Slot information.
    FirmwareSlots slots;
    if (route.irst) {
        WriteLog("[IRST] Get firmware slot information data ... \n");
        if (!IrstDeviceGetFirmwareInfo(ha, route.target, true, size, buf, route.lun, route.pathId)) return 0;
        slots = DecodeFirmwareInfoV2(buf + dataOffset, size - dataOffset);
    } else {
        WriteLog("Get firmware slot information data ... \n");
        if (!DeviceGetFirmwareInfo(buf, size, true)) return 0;
        slots = DecodeFirmwareInfoV1(buf + dataOffset, size - dataOffset);
    }
    const uint32_t infoRc = ReturnCodeOf(buf);
    if (infoRc != 0) {
        WriteLog(Fmt("Get firmware information failed. SRB ReturnCode %d\n", infoRc));
        return 0;
    }
    const int slot = ChooseFirmwareSlot(slots, requestedSlot);
    if (slot < 0) {
        WriteLog("No writable firmware slot \n");
        return 0;
    }

    // Download: every chunk is 4096 bytes; past the image's end it is zero.
    WriteLog(Fmt("Download the firmware image - slot number: %d , size : %d (%04lX) ...\n", slot, imageSize,
                 static_cast<unsigned long>(imageSize)));
    uint32_t error = 0;
    std::string raised;
    for (uint64_t offset = 0; offset < imageSize; offset += wire::kFirmwareChunkSize) {
        std::fill(request.begin(), request.end(), 0);
        FillFirmwareRequest(route, buf, size, wire::FIRMWARE_FUNCTION_DOWNLOAD);
        if (route.irst) {
            wire::STORAGE_FIRMWARE_DOWNLOAD_V2 d{};
            d.Version = 2;
            d.Size = sizeof d;
            d.Offset = offset;
            d.BufferSize = wire::kFirmwareChunkSize;
            d.Slot = wire::STORAGE_FIRMWARE_DOWNLOAD_ANY_SLOT;
            Put(buf, dataOffset, d);
        } else {
            wire::STORAGE_FIRMWARE_DOWNLOAD d{};
            d.Version = 1;
            d.Size = sizeof d;
            d.Offset = offset;
            d.BufferSize = wire::kFirmwareChunkSize;
            Put(buf, dataOffset, d);
        }
        const uint64_t part = std::min<uint64_t>(wire::kFirmwareChunkSize, imageSize - offset);
        std::memcpy(buf + chunkOffset, image + offset, part);
        const uint8_t* c = buf + chunkOffset;
        WriteLog(Fmt("OFFSET : %08lXh , LEN : %04lXh , Buf : %02X %02X %02X %02X %02X\n", static_cast<unsigned long>(offset),
                     static_cast<unsigned long>(wire::kFirmwareChunkSize), c[0], c[1], c[2], c[3], c[4]));
        const bool ok = FirmwareCall(buf, size, error, raised);
        if (!raised.empty()) {
            WriteLog(Fmt("Firmware Upgrade - DeviceIoControl raised an exception. %s\n", LastErrorText(0xFFFF).c_str()));
            return 0;
        }
        if (!ok) {
            WriteLog(Fmt("DeviceIoControl - firmware download failed. %s\n", LastErrorText(error).c_str()));
            return 0;
        }
        const uint32_t rc = ReturnCodeOf(buf);
        if (rc != 0) {
            WriteLog(Fmt("Firmware Upgrade - firmware download failed. srbControl->ReturnCode %d\n", rc));
            return 0;
        }
    }
    WriteLog("No more to download\n");

    // Activate; only a failing DeviceIoControl is tried again, at once.
    for (int attempt = 1; attempt <= kActivateAttempts; ++attempt) {
        WriteLog("Activate the assigned firmware slot ... \n");
        std::fill(request.begin(), request.end(), 0);
        FillFirmwareRequest(route, buf, size, wire::FIRMWARE_FUNCTION_ACTIVATE);
        wire::STORAGE_FIRMWARE_ACTIVATE a{};
        a.Version = route.irst ? 1 : activateVersion;
        a.Size = sizeof a;
        a.SlotToActivate = static_cast<uint8_t>(slot);
        Put(buf, dataOffset, a);
        const bool ok = FirmwareCall(buf, size, error, raised);
        if (!raised.empty()) {
            WriteLog(Fmt("DeviceIoControl raised an exception. %s\n", LastErrorText(0xFFFF).c_str()));
            return 0;
        }
        if (ok) {
            const uint32_t rc = ReturnCodeOf(buf);
            LogActivateResult(rc);
            WriteLog("return without delay 3 secs ...\n");
            // The drive is not read again after an NVMe update: a refused activation must not
            // count as an update.
            return ActivateSucceeded(rc) ? 1 : 0;
        }
        WriteLog(Fmt("DeviceIoControl - firmware activate failed. %s\n", LastErrorText(error).c_str()));
        if (attempt < kActivateAttempts) WriteLog(Fmt("Firmware activate RETRY %d\n", attempt));
    }
    return 0;
}

bool TAtaDevice::DoIdentifyDeviceNVMeStorageQuery(int32_t index) {
    ClosePort();
    WriteLog(IsOpen() ? "DoIdentifyDeviceNVMeStorageQuery Handle NOT released !!\n"
                      : "DoIdentifyDeviceNVMeStorageQuery Handle released\n");
    const REG_DATA* rec = (pRegData != nullptr && index >= 0 && index < iRegCount) ? &pRegData[index] : nullptr;
    const std::string path = rec ? std::string(rec->DevicePath, strnlen(rec->DevicePath, sizeof rec->DevicePath)) : "";
    if (rec) {
        hDevice = p_.storage->CreateFileA(path, GENERIC_READ_ACCESS | GENERIC_WRITE_ACCESS,
                                          FILE_SHARE_READ_MODE | FILE_SHARE_WRITE_MODE, OPEN_EXISTING_DISPOSITION, 0);
    }
    WriteLog(IsOpen() ? "DoIdentifyDeviceNVMeStorageQuery Created OK !!\n"
                      : "DoIdentifyDeviceNVMeStorageQuery Handle Create FAIL !!\n");
    WriteLog(Fmt("DoIdentifyDeviceNVMeStorageQuery sPhysicalDrive=%s , pRegData[idx].DevicePath=%s\n", "", path.c_str()));

    wire::NVME_STORAGE_QUERY_BUFFER q{};
    q.PropertyId = wire::StorageAdapterProtocolSpecificProperty;
    q.QueryType = wire::PropertyStandardQuery;
    q.ProtocolSpecific.ProtocolType = wire::ProtocolTypeNvme;
    q.ProtocolSpecific.DataType = wire::NVMeDataTypeIdentify;
    q.ProtocolSpecific.ProtocolDataRequestValue = wire::NVME_IDENTIFY_CNS_CONTROLLER;
    q.ProtocolSpecific.ProtocolDataRequestSubValue = 0;
    q.ProtocolSpecific.ProtocolDataOffset = sizeof(wire::STORAGE_PROTOCOL_SPECIFIC_DATA);
    q.ProtocolSpecific.ProtocolDataLength = wire::kNvmeIdentifyDataSize;
    uint32_t returned = 0;
    bool ok = false;
    try {
        ok = IsOpen() && p_.storage->DeviceIoControl(hDevice, wire::IOCTL_STORAGE_QUERY_PROPERTY_CODE, &q, sizeof q, &q,
                                                     sizeof q, returned);
        if (!ok) {
            dwLastError = IsOpen() ? p_.storage->GetLastError() : dwLastError;
            WriteLog("DoIdentifyDeviceNVMeStorageQuery::NVMe DeviceIoControl Fail (IOCTL_STORAGE_QUERY_PROPERTY). GetLastErr=" +
                     LastErrorText(dwLastError) + "\n");
        }
    } catch (...) {
        ok = false;
        WriteLog("DoIdentifyDeviceNVMeStorageQuery::DeviceIoControl raised an exception. GetLastErr=" + LastErrorText(0xFFFF) + "\n");
    }
    // The reply says where its data lies (from the protocol record at byte 8); data it places
    // outside the buffer, or short of the identify size, is not an answer.
    const uint64_t at = uint64_t{offsetof(wire::NVME_STORAGE_QUERY_BUFFER, ProtocolSpecific)} + q.ProtocolSpecific.ProtocolDataOffset;
    if (ok && (at != offsetof(wire::NVME_STORAGE_QUERY_BUFFER, Data) || q.ProtocolSpecific.ProtocolDataLength < wire::kNvmeIdentifyDataSize)) {
        WriteLog(Fmt("DoIdentifyDeviceNVMeStorageQuery: the reply places %u identify bytes at offset %u, not %u bytes at %u\n",
                     q.ProtocolSpecific.ProtocolDataLength, q.ProtocolSpecific.ProtocolDataOffset, wire::kNvmeIdentifyDataSize,
                     static_cast<uint32_t>(sizeof(wire::STORAGE_PROTOCOL_SPECIFIC_DATA))));
        ok = false;
    }
    std::memcpy(pReadBuffer, q.Data, sizeof q.Data);
    ClosePort();
    WriteLog(IsOpen() ? "Final : DoIdentifyDeviceNVMeStorageQuery Handle NOT released !!\n"
                      : "Final : DoIdentifyDeviceNVMeStorageQuery Handle released\n");
    return ok;
}

}  // namespace kestrel
