// NVMe drives behind the Intel RST driver: its "IntelNvm" pass-through (one raw NVMe command and
// its completion entry) and its "IntelFw " firmware request on the controller's SCSI port.
#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "device/AtaDevice.h"
#include "support/Format.h"

namespace kestrel {
namespace {

constexpr uint32_t kPassThroughHeader = sizeof(wire::INTEL_NVME_PASS_THROUGH);
constexpr uint32_t kDumpSize = 0x100;

}  // namespace

bool TAtaDevice::Send_IRST_NVME_PASS_THROUTH(uint8_t pathId, const wire::NVME_COMMAND& command, const uint8_t* data,
                                             uint32_t dataLength, bool ioCommand, wire::INTEL_NVME_PASS_THROUGH* header,
                                             uint32_t timeoutSeconds, uint32_t direction) {
    // The data moves through the device object's buffers, so it can be no longer than they are.
    if (dataLength > kDeviceBufferSize) {
        WriteLog(Fmt("IRST NVME_PASSTHRU: data length %Xh is more than the %Xh-byte buffer\n", dataLength, kDeviceBufferSize));
        return false;
    }
    const uint32_t total = kPassThroughHeader + dataLength;
    std::vector<uint8_t> request;
    try {
        request.assign(total, 0);
    } catch (const std::bad_alloc&) {
        WriteLog("IoctlBuf Allocate Fail !\n");
        return false;
    }
    uint8_t* buf = request.data();
    wire::INTEL_NVME_PASS_THROUGH h{};
    h.Header.HeaderLength = sizeof h.Header;
    std::memcpy(h.Header.Signature, "IntelNvm", 8);
    h.Header.Timeout = timeoutSeconds;
    h.Header.ControlCode = wire::IRST_NVME_PASS_THROUGH_CONTROL_CODE;
    h.Header.Length = total - sizeof h.Header;
    h.Version = wire::IRST_NVME_PASS_THROUGH_VERSION;
    h.PathId = pathId;
    h.Command = command;
    h.IsIoCommandSet = ioCommand ? 1 : 0;
    h.DataBufferOffset = kPassThroughHeader;
    h.DataBufferLength = dataLength;
    std::memcpy(buf, &h, sizeof h);

    WriteLog(std::string(104, '=') + " \n");
    WriteLog(Fmt("IRST NVME_PASSTHRU: offset=%Xh,ioctlBufferSize=%Xh HeaderLength=%Xh,Length=%Xh,Version=%d,PathID=%d \n",
                 kPassThroughHeader, total, h.Header.HeaderLength, h.Header.Length, h.Version, pathId));
    WriteLog(Fmt("Parameters: DataBufferLength=%Xh,DataBufferOffset=%Xh,IsIOCommandSet=%d \n", dataLength, kPassThroughHeader,
                 h.IsIoCommandSet));
    if (direction == NVME_DIR_WRITE) {
        const uint8_t* src = data != nullptr ? data : pWriteBuffer;
        if (dataLength) std::memcpy(buf + kPassThroughHeader, src, dataLength);
        WriteLog("Send buffer - pDataBuf: display size = 0x100\n");
        // The dump shows the source; a shorter caller buffer is shown only as far as it goes.
        HexDump(src, data != nullptr ? std::min(dataLength, kDumpSize) : kDumpSize, 1, 16);
    }

    uint32_t returned = 0;
    bool ok = false;
    uint32_t error = 0;
    try {
        ok = Call(wire::kIOCTL_SCSI_MINIPORT, buf, total, returned);
        if (!ok) error = p_.storage->GetLastError();
    } catch (...) {
        ok = false;
        error = p_.storage->GetLastError();
        WriteLog("DeviceIoControl raised an exception. GetLastErr= " + LastErrorText(error) + "\n");
    }
    std::memcpy(&h, buf, sizeof h);
    if (header != nullptr) *header = h;
    if (!ok) {
        dwLastError = error;
        WriteLog(Fmt("NVMe Opcode(%02Xh) DeviceIoControl Fail ! \n", command.CDW0 & 0xFF));
        WriteLog(Fmt("SRB ReturnCode=%Xh, GetLastError %s \n", h.Header.ReturnCode, LastErrorText(error).c_str()));
        return false;
    }
    WriteLog(Fmt("SRB ReturnCode=%Xh. \n", h.Header.ReturnCode));
    const uint8_t* e = buf + offsetof(wire::INTEL_NVME_PASS_THROUGH, Completion);
    WriteLog(Fmt("Completion Queue Entry [%02X %02X %02X %02X %02X %02X %02X %02X - %02X %02X %02X %02X %02X %02X %02X %02X]\n",
                 e[0], e[1], e[2], e[3], e[4], e[5], e[6], e[7], e[8], e[9], e[10], e[11], e[12], e[13], e[14], e[15]));
    const NvmeCompletion c = DecodeCompletion(e);
    WriteLog(Fmt("  Command Specific (DW0) : %08lXh\n", static_cast<unsigned long>(c.dw0)));
    WriteLog(Fmt("          Reserved (DW1) : %08lXh\n", static_cast<unsigned long>(c.dw1)));
    WriteLog(Fmt("    SQ Identifier (SQID) : %04Xh\n", c.sqId));
    WriteLog(Fmt("  SQ Head Pointer (SQHD) : %04Xh\n", c.sqHead));
    WriteLog(Fmt("       Do No Retry (DNR) : %Xb\n", c.doNotRetry));
    WriteLog(Fmt("                More (M) : %Xb\n", c.more));
    WriteLog(Fmt("  Status Code Type (SCT) : %Xh\n", c.statusCodeType));
    WriteLog(Fmt("        Status Code (SC) : %02Xh\n", c.statusCode));
    WriteLog(Fmt("           Phase Tag (P) : %Xb\n", c.phase));
    WriteLog(Fmt("Command Identifier (CID) : %04Xh\n", c.commandId));
    WriteLog(std::string(104, '=') + " \n");
    if (c.statusCode != 0) WriteLog(Fmt("Completion Entry Staus Code Error (SC=%Xh) ! \n", c.statusCode));
    if (direction == NVME_DIR_READ && dataLength) std::memcpy(pReadBuffer, buf + kPassThroughHeader, dataLength);
    return true;
}

bool TAtaDevice::IrstDeviceGetFirmwareInfo(int32_t /*ha*/, uint8_t target, bool log, uint32_t bufferSize, uint8_t* buffer,
                                           uint8_t lun, uint8_t pathId) {
    constexpr uint32_t kData = offsetof(wire::IRST_FIRMWARE_REQUEST, Data);
    if (buffer == nullptr || bufferSize < kData + sizeof(wire::STORAGE_FIRMWARE_INFO_V2)) {
        WriteLog(Fmt("[IRST] DeviceGetFirmwareInfo - buffer of %u bytes is too small\n", bufferSize));
        return false;
    }
    FirmwareRoute route;
    route.irst = true;
    route.pathId = pathId;
    route.target = target;
    route.lun = lun;
    FillFirmwareRequest(route, buffer, bufferSize, wire::FIRMWARE_FUNCTION_GET_INFO);
    const uint32_t request[2] = {2, sizeof(wire::STORAGE_FIRMWARE_INFO_V2)};  // version and size of the answer wanted
    std::memcpy(buffer + kData, request, sizeof request);
    WriteLog("[IRST] DeviceGetFirmwareInfo - before deviceioctrl\n");
    uint32_t error = 0;
    std::string raised;
    const bool ok = FirmwareCall(buffer, bufferSize, error, raised);
    WriteLog("[IRST] DeviceGetFirmwareInfo - after deviceioctrl\n");
    if (!raised.empty()) {
        WriteLog(Fmt("DeviceIoControl raised an exception: %s\n", LastErrorText(0xFFFF).c_str()));
        return false;
    }
    if (log) {
        if (ok)
            LogFirmwareSlots(DecodeFirmwareInfoV2(buffer + kData, bufferSize - kData));
        else
            WriteLog(Fmt("Get Firmware Information Failed: %s\n", LastErrorText(error).c_str()));
        WriteLog(" ");
    }
    return ok;
}

uint8_t TAtaDevice::IrstFirmwareUpdate(int32_t ha, uint8_t target, uint8_t /*commitAction*/, uint8_t requestedSlot,
                                       uint32_t imageSize, const uint8_t* image, uint8_t lun, uint8_t pathId) {
    FirmwareRoute route;
    route.irst = true;
    route.pathId = pathId;
    route.target = target;
    route.lun = lun;
    return RunFirmwareUpdate(route, image, imageSize, 1, requestedSlot, ha);
}

}  // namespace kestrel
