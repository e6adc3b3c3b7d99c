#include "device/AtaDevice.h"

#include <algorithm>
#include <cstring>

#include "support/DebugLog.h"
#include "support/Format.h"

namespace kestrel {
namespace {

constexpr uint32_t ERROR_INVALID_FUNCTION_CODE = 1;
constexpr uint32_t ERROR_NOT_SUPPORTED_CODE = 50;
constexpr uint32_t ERROR_SEM_TIMEOUT_CODE = 121;
constexpr uint32_t WAIT_TIMEOUT_CODE = 258;
constexpr uint32_t ERROR_TIMEOUT_CODE = 1460;
constexpr uint32_t kDataChunk = 512;

}  // namespace

// ---------------------------------------------------------------- life cycle

TAtaDevice::TAtaDevice(const Platform& platform) : p_(platform), cmdTimer(*platform.clock, platform.ui) {
    Init();
    pDevMgr = std::make_unique<TDevMgr>(p_);
    if (pDevMgr->EnumPhysicalDrives()) {
        pRegData = pDevMgr->pRegData;
        iRegCount = pRegData ? pDevMgr->iRegCount : 0;
    }
}

TAtaDevice::TAtaDevice(const Platform& platform, REG_DATA* records, int32_t count)
    : p_(platform), cmdTimer(*platform.clock, platform.ui) {
    Init();
    pDevMgr = std::make_unique<TDevMgr>(p_);
    pRegData = records;
    iRegCount = records ? std::max(count, 0) : 0;
}

void TAtaDevice::Init() {
    readStream.assign(kDeviceBufferSize, 0);
    writeStream.assign(kDeviceBufferSize, 0);
    csmiStream.assign(kCsmiBufferSize, 0);
    pReadBuffer = readStream.data();
    pWriteBuffer = writeStream.data();
    pCsmiBuffer = csmiStream.data();
    std::memset(&RetTaskFile, 0, sizeof RetTaskFile);
    sLogFile = DebugLogPath(*p_.files);
}

TAtaDevice::~TAtaDevice() {
    ClosePort();
    pDevMgr.reset();
}

void TAtaDevice::ClosePort() {
    if (hDevice != kInvalidDevHandle) p_.storage->CloseHandle(hDevice);
    hDevice = kInvalidDevHandle;
}

REG_DATA* TAtaDevice::GetDriveRecord(int32_t index) {
    if (pRegData == nullptr) return nullptr;
    if (index < 0) index = iCurIndex;
    if (index < 0 || index >= iRegCount) return nullptr;
    return &pRegData[index];
}

bool TAtaDevice::SelectPort(int32_t index, const char* devicePath, int32_t scsiPort, int32_t kind) {
    const bool hasPath = devicePath != nullptr && devicePath[0] != '\0';
    if (kind == SELECT_NVME || (kind == SELECT_ATA && !hasPath)) {
        if (index < 0 || index >= iRegCount || pRegData == nullptr) return false;
        iCurIndex = index;
        ParentVid = pRegData[index].ParentVid;
        ParentDid = pRegData[index].ParentDid;
        WriteLog(Fmt(">>> SelectPort[idx=%d] Scsi=%d InstID=%.512s Parent_VID/DID=%04Xh/%04Xh...\n", index, scsiPort,
                     pRegData[index].DevicePath, ParentVid, ParentDid));
    }
    ClosePort();
    const uint32_t rw = GENERIC_READ_ACCESS | GENERIC_WRITE_ACCESS;
    constexpr uint32_t kShareAll = FILE_SHARE_READ_MODE | FILE_SHARE_WRITE_MODE | 4;  // and FILE_SHARE_DELETE
    constexpr uint32_t kAttributeNormal = 0x80;
    if (hasPath) {
        hDevice = p_.storage->CreateFileA(devicePath, rw, kShareAll, OPEN_EXISTING_DISPOSITION, 0);
        const REG_DATA* r = (index >= 0 && index < iRegCount && pRegData) ? &pRegData[index] : nullptr;
        WriteLog(Fmt(">>> SelectPort InstID=%.512s \n", r ? r->DevicePath : ""));
    } else if (kind == SELECT_NVME) {
        WriteLog(Fmt("NVMe SCSI:%d CreateFile ...\n", scsiPort));
        hDevice = p_.storage->CreateFileA(Fmt("\\\\.\\Scsi%d:", scsiPort), rw, FILE_SHARE_READ_MODE | FILE_SHARE_WRITE_MODE,
                                          OPEN_EXISTING_DISPOSITION, kAttributeNormal);
    } else if (kind == SELECT_CSMI) {
        hDevice = p_.storage->CreateFileA(Fmt("\\\\.\\SCSI%d:", index), rw, kShareAll, OPEN_EXISTING_DISPOSITION, 0);
    } else {
        if (index < 0 || index >= iRegCount || pRegData == nullptr) return false;
        hDevice = p_.storage->CreateFileA(pRegData[index].DevicePath, rw, kShareAll, OPEN_EXISTING_DISPOSITION, 0);
    }
    if (kind == SELECT_CSMI) {
        iProtocol = PRO_CSMI;
    } else if (kind == SELECT_NVME) {
        iProtocol = PRO_NVME;
    } else {
        // The probe's commands go to the handle just opened; if it did not open, reopening would
        // only try the same again, so they fail instead.
        const bool saved = bNoReopen;
        bNoReopen = true;
        DetectProtocol();
        bNoReopen = saved;
    }
    WriteLog(Fmt("(%s) CreateFile %s\n", ProtocolName(), IsOpen() ? "OK" : "FAIL"));
    return IsOpen();
}

bool TAtaDevice::ReopenIfClosed() {
    if (IsOpen()) return true;
    if (bNoReopen || iCurIndex < 0 || iCurIndex >= iRegCount) return false;
    // The probe of the reselection uses the first sector of both buffers and the timeout; the
    // request being sent may have its data there, so they are put back afterwards.
    uint8_t savedRead[kDataChunk], savedWrite[kDataChunk];
    std::memcpy(savedRead, pReadBuffer, kDataChunk);
    std::memcpy(savedWrite, pWriteBuffer, kDataChunk);
    const float savedTimeout = fTimeout;
    bNoReopen = true;
    SelectPort(iCurIndex, nullptr, -1, SELECT_ATA);
    bNoReopen = false;
    std::memcpy(pReadBuffer, savedRead, kDataChunk);
    std::memcpy(pWriteBuffer, savedWrite, kDataChunk);
    fTimeout = savedTimeout;
    return IsOpen();
}

// ---------------------------------------------------------------- diagnostics

void TAtaDevice::WriteLog(const std::string& text) { AppendLogLine(*p_.files, *p_.clock, sLogFile, text, false); }

std::string TAtaDevice::LastErrorText(uint32_t code) {
    if (code == 0xFFFF) code = p_.storage->GetLastError();
    std::string text = Fmt("<%u> -- ", code);
    text += p_.system->ErrorMessageText(code);
    return text;
}

const char* TAtaDevice::ProtocolName(int32_t kind) {
    switch (kind) {
        case PRO_ATA_PASSTHROUGH: return "ATA PASSTHROUGH";
        case PRO_SCSI_PASSTHROUGH: return "SCSI PASS THROUGH";
        case PRO_SAT_PASSTHROUGH: return "SAT ATA PASS THROUGH";
        case PRO_CSMI: return "CSMI";
        case PRO_NVME: return "NVMe";
        default: return "SYSTEM NOT SUPPORT";
    }
}

void TAtaDevice::HexDump(const uint8_t* data, uint32_t size, uint32_t group, uint32_t perLine) {
    if (group == 0) group = 1;
    if (perLine == 0) perLine = 16;
    WriteLog(" \n");
    std::string ruler = "    ";
    for (int c = 0; c < 16; ++c) ruler += Fmt("%3X", c);
    ruler += '\n';
    WriteLog(ruler);
    std::string line, ascii;
    bool allZero = true;
    uint32_t inLine = 0;
    for (uint32_t i = 0; i < size; ++i) {
        if (inLine == 0) {
            line = Fmt("%04X:", i);
            ascii.clear();
            allZero = true;
        }
        const uint8_t b = data[i];
        line += (i % group == 0) ? Fmt(" %02X", b) : Fmt("%02X", b);
        ascii += (b >= 33 && b <= 126) ? static_cast<char>(b) : '.';
        allZero = allZero && b == 0;
        if (++inLine == perLine) {
            // A line of sixteen zero bytes says nothing and is left out.
            if (!(allZero && perLine == 16)) {
                line += " \"";
                line += ascii;
                line += "\"\n";
                WriteLog(line);
            }
            inLine = 0;
        }
    }
    if (inLine != 0) {
        const uint32_t missing = perLine - inLine;
        uint32_t width = group == 1 ? 3 * missing : missing / group + 2 * missing + (missing % group != 0 ? 1 : 0);
        line += ' ';
        line.append(width, ' ');
        line += " \"";
        line += ascii;
        line += "\"\n";
        WriteLog(line);
    }
}

// ---------------------------------------------------------------- transports

uint32_t TAtaDevice::TimeoutSeconds() const {
    if (!(fTimeout > 0)) return 0;
    if (fTimeout >= 4294967295.0f) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(fTimeout);
}

uint8_t TAtaDevice::MapWindowsError(uint32_t error) {
    dwLastError = error;
    switch (error) {
        case ERROR_SEM_TIMEOUT_CODE:
        case WAIT_TIMEOUT_CODE:
        case ERROR_TIMEOUT_CODE: return ATACMD_TIMEOUT;
        case ERROR_INVALID_FUNCTION_CODE:
        case ERROR_NOT_SUPPORTED_CODE: return ATACMD_SYS_NOT_SUPPORT;
        default: return ATACMD_FAIL;
    }
}

void TAtaDevice::CommandLine(uint8_t cmd, uint8_t fr, uint8_t sc, uint8_t sn, uint8_t cl, uint8_t ch) {
    WriteLog(Fmt("(%s) Cmd:%02X FR:%02X SC:%02X SN:%02X CL:%02X CH:%02X  %d / %d\n", ProtocolName(), cmd, fr, sc, sn, cl, ch,
                 iCmdCount + 1, iCmdTotal));
}

// Starts the timer and sends; the caller stops the timer (the direct ATA form reads the elapsed
// time first). A closed handle was reopened by the sender before it built its request, because the
// reselection's probe uses the same request buffers.
bool TAtaDevice::Call(uint32_t code, void* buf, uint32_t size, uint32_t& returned) {
    cmdTimer.Start(true);
    returned = 0;
    return p_.storage->DeviceIoControl(hDevice, code, buf, size, buf, size, returned);
}

uint8_t TAtaDevice::SendAtaCommand(ATA_TASKFILE& tf, uint8_t* buffer, uint32_t direction, uint32_t& length) {
    if (length != 0 && buffer == nullptr) return ATACMD_FAIL;
    switch (iProtocol) {
        case PRO_ATA_PASSTHROUGH: return SendAtaPassThrough(tf, buffer, direction, length);
        case PRO_SCSI_PASSTHROUGH: return SendScsiPassThrough(tf, buffer, direction, length);
        case PRO_SAT_PASSTHROUGH: return SendSatPassThrough(tf, buffer, direction, length);
        case PRO_CSMI: return SendCsmiPassThrough(tf, buffer, direction, length);
        default: return ATACMD_SYS_NOT_SUPPORT;
    }
}

uint8_t TAtaDevice::SendAtaPassThrough(ATA_TASKFILE& tf, uint8_t* buffer, uint32_t direction, uint32_t& length) {
    ReopenIfClosed();
    const bool direct = length > kDataChunk;
    uint32_t returned = 0;
    bool ok;
    wire::ATA_PASS_THROUGH_EX* hdrEx = nullptr;
    uint8_t* retRegs;
    uint32_t xfer;
    if (!direct) {
        std::memset(&ataBuffered, 0, sizeof ataBuffered);
        hdrEx = &ataBuffered.apt;
        hdrEx->Length = sizeof(wire::ATA_PASS_THROUGH_EX);
        hdrEx->AtaFlags = static_cast<uint16_t>(direction | (direction != 0 ? wire::kATA_FLAGS_DRDY_REQUIRED : 0));
        hdrEx->DataTransferLength = length;
        hdrEx->TimeOutValue = TimeoutSeconds();
        hdrEx->DataBufferOffset = offsetof(wire::ATA_PASS_THROUGH_BUF, ucDataBuf);
        std::memcpy(hdrEx->CurrentTaskFile, &tf, 8);
        if (direction == ATA_DIR_OUT && length) std::memcpy(ataBuffered.ucDataBuf, buffer, length);
        CommandLine(tf.bCommandReg, tf.bFeaturesReg, tf.bSectorCountReg, tf.bSectorNumberReg, tf.bCylLowReg, tf.bCylHighReg);
        ok = Call(wire::kIOCTL_ATA_PASS_THROUGH, &ataBuffered, sizeof ataBuffered, returned);
        cmdTimer.Stop();
        retRegs = hdrEx->CurrentTaskFile;
        xfer = hdrEx->DataTransferLength;
    } else {
        std::memset(&ataDirect, 0, sizeof ataDirect);
        ataDirect.Length = sizeof(wire::ATA_PASS_THROUGH_DIRECT);
        ataDirect.AtaFlags = static_cast<uint16_t>(direction | wire::kATA_FLAGS_DRDY_REQUIRED);
        ataDirect.DataTransferLength = length;
        ataDirect.TimeOutValue = TimeoutSeconds();
        ataDirect.DataBuffer = reinterpret_cast<uintptr_t>(buffer);
        std::memcpy(ataDirect.CurrentTaskFile, &tf, 8);
        CommandLine(tf.bCommandReg, tf.bFeaturesReg, tf.bSectorCountReg, tf.bSectorNumberReg, tf.bCylLowReg, tf.bCylHighReg);
        ok = Call(wire::kIOCTL_ATA_PASS_THROUGH_DIRECT, &ataDirect, sizeof ataDirect, returned);
        // The driver may hand back a late completion as success; the command still took too long.
        if (cmdTimer.Elapsed() >= static_cast<long double>(fTimeout)) {
            cmdTimer.Stop();
            return ATACMD_TIMEOUT;
        }
        cmdTimer.Stop();
        retRegs = ataDirect.CurrentTaskFile;
        xfer = ataDirect.DataTransferLength;
    }
    if (!ok) {
        const uint32_t e = p_.storage->GetLastError();
        WriteLog(Fmt("GetLastError=%Xh(%d)\n", e, static_cast<int>(e)));
        return MapWindowsError(e);
    }
    std::memcpy(&RetTaskFile, retRegs, 8);
    const uint8_t status = RetTaskFile.bCommandReg;
    if (status & 0x01) {
        if (status == 0x7F) return ATACMD_OK;
        WriteLog(Fmt(direct ? "ATA>512 Status Register: 0x%X\n" : "ATA Status Register: 0x%X\n", status));
        bStatusReg = status;
        return ATACMD_ERR;
    }
    const uint32_t got = std::min(xfer, length);
    if (!direct && direction == ATA_DIR_IN && got) std::memcpy(buffer, ataBuffered.ucDataBuf, got);
    length = got;
    return ATACMD_OK;
}

uint8_t TAtaDevice::SendScsiPassThrough(ATA_TASKFILE& tf, uint8_t* buffer, uint32_t direction, uint32_t& length) {
    ReopenIfClosed();
    const bool direct = length > kDataChunk;
    const uint8_t dataIn = direction == ATA_DIR_IN    ? wire::kSCSI_IOCTL_DATA_IN
                           : direction == ATA_DIR_OUT ? wire::kSCSI_IOCTL_DATA_OUT
                                                      : wire::kSCSI_IOCTL_DATA_UNSPECIFIED;
    const uint32_t xferLen = dataIn == wire::kSCSI_IOCTL_DATA_UNSPECIFIED ? 0 : length;
    auto fill = [&](auto& h) {
        h.PathId = 0;
        h.TargetId = 1;
        h.Lun = 0;
        h.CdbLength = 10;
        h.SenseInfoLength = 24;
        h.DataIn = dataIn;
        h.DataTransferLength = xferLen;
        h.TimeOutValue = TimeoutSeconds();
        h.Cdb[0] = 0xCC;
        h.Cdb[1] = 0;
        std::memcpy(&h.Cdb[2], &tf, 8);
    };
    uint32_t returned = 0;
    bool ok;
    uint8_t scsiStatus;
    uint32_t xfer;
    if (!direct) {
        std::memset(&scsiBuffered, 0, sizeof scsiBuffered);
        auto& h = scsiBuffered.spt;
        h.Length = sizeof(wire::SCSI_PASS_THROUGH);
        fill(h);
        h.SenseInfoOffset = offsetof(wire::SCSI_PASS_THROUGH_BUF, ucSenseBuf);
        h.DataBufferOffset = offsetof(wire::SCSI_PASS_THROUGH_BUF, ucDataBuf);
        if (dataIn == wire::kSCSI_IOCTL_DATA_OUT && length) std::memcpy(scsiBuffered.ucDataBuf, buffer, std::min(length, kDataChunk));
        const uint32_t size = static_cast<uint32_t>(offsetof(wire::SCSI_PASS_THROUGH_BUF, ucDataBuf)) + xferLen;
        ok = Call(wire::kIOCTL_SCSI_PASS_THROUGH, &scsiBuffered, size, returned);
        scsiStatus = h.ScsiStatus;
        xfer = h.DataTransferLength;
    } else {
        std::memset(&scsiDirect, 0, sizeof scsiDirect);
        auto& h = scsiDirect.sptd;
        h.Length = sizeof(wire::SCSI_PASS_THROUGH_DIRECT);
        fill(h);
        h.SenseInfoOffset = offsetof(wire::SCSI_PASS_THROUGH_DIRECT_BUF, ucSenseBuf);
        h.DataBuffer = reinterpret_cast<uintptr_t>(buffer);
        ok = Call(wire::kIOCTL_SCSI_PASS_THROUGH_DIRECT, &scsiDirect, sizeof scsiDirect, returned);
        scsiStatus = h.ScsiStatus;
        xfer = h.DataTransferLength;
    }
    cmdTimer.Stop();
    if (!ok) return MapWindowsError(p_.storage->GetLastError());
    std::memset(&RetTaskFile, 0xFF, sizeof RetTaskFile);
    // A check condition is the driver refusing the block or the drive failing the command.
    if (scsiStatus == wire::kSCSI_STATUS_CHECK_CONDITION) {
        length = 0;
        return ATACMD_ERR;
    }
    const uint32_t got = std::min(xfer, length);
    if (!direct && dataIn == wire::kSCSI_IOCTL_DATA_IN && got) std::memcpy(buffer, scsiBuffered.ucDataBuf, got);
    length = got;
    return ATACMD_OK;
}

uint8_t TAtaDevice::SendSatPassThrough(ATA_TASKFILE& tf, uint8_t* buffer, uint32_t direction, uint32_t& length) {
    uint8_t protocol, flags;
    switch (direction) {
        case ATA_DIR_NONE:
            protocol = wire::SAT_PROTOCOL_NON_DATA;
            flags = wire::SAT_T_DIR_IN | wire::SAT_BYTE_BLOCK;
            break;
        case ATA_DIR_IN:
            protocol = wire::SAT_PROTOCOL_PIO_IN;
            flags = wire::SAT_T_DIR_IN | wire::SAT_BYTE_BLOCK | wire::SAT_T_LENGTH_SECTOR_COUNT;
            break;
        case ATA_DIR_OUT:
            protocol = wire::SAT_PROTOCOL_PIO_OUT;
            flags = wire::SAT_BYTE_BLOCK | wire::SAT_T_LENGTH_SECTOR_COUNT;
            break;
        default: return ATACMD_SYS_NOT_SUPPORT;
    }
    wire::SAT_ATA_PASS_THROUGH12 cdb{};
    cdb.OperationCode = wire::SAT_OPCODE_ATA_PASS_THROUGH12;
    cdb.Protocol = static_cast<uint8_t>(protocol << 1);
    cdb.Flags = flags;
    cdb.Features = tf.bFeaturesReg;
    cdb.SectorCount = tf.bSectorCountReg;
    cdb.LbaLow = tf.bSectorNumberReg;
    cdb.LbaMid = tf.bCylLowReg;
    cdb.LbaHigh = tf.bCylHighReg;
    cdb.Device = tf.bDriveHeadReg;
    cdb.Command = tf.bCommandReg;
    uint8_t raw[sizeof cdb];
    std::memcpy(raw, &cdb, sizeof cdb);
    const uint8_t r = SendScsiCdb(raw, sizeof raw, direction, length, buffer);
    if (pAtaReturnDescriptor != nullptr) {
        const uint8_t* d = pAtaReturnDescriptor;
        const uint8_t regs[8] = {d[3], d[5], d[7], d[9], d[11], d[12], d[13], tf.bReserved};
        std::memcpy(&tf, regs, 7);
        std::memcpy(&RetTaskFile, regs, 7);
    }
    return r;
}

uint8_t TAtaDevice::SendScsiCdb(const uint8_t* cdb, uint8_t cdbLength, uint32_t direction, uint32_t& length, uint8_t* buffer) {
    ReopenIfClosed();
    std::memset(DecodedSense, 0, sizeof DecodedSense);
    bSenseValid = 0;
    pAtaReturnDescriptor = nullptr;
    iDescriptorLength = 0;
    if (cdbLength > 16 || cdbLength < 10) return ATACMD_SYS_NOT_SUPPORT;
    const uint8_t dataIn = direction == ATA_DIR_OUT  ? wire::kSCSI_IOCTL_DATA_OUT
                           : direction == ATA_DIR_IN ? wire::kSCSI_IOCTL_DATA_IN
                                                     : wire::kSCSI_IOCTL_DATA_UNSPECIFIED;
    const bool direct = length > kDataChunk;
    auto fill = [&](auto& h) {
        h.CdbLength = cdbLength;
        std::memcpy(h.Cdb, cdb, cdbLength);
        h.SenseInfoLength = 32;
        h.TimeOutValue = TimeoutSeconds();
        h.DataIn = dataIn;
        h.DataTransferLength = length;
    };
    uint32_t returned = 0;
    bool ok;
    uint8_t* sense;
    uint8_t scsiStatus;
    uint32_t xfer;
    if (direct) {
        std::memset(&scsiDirect, 0, sizeof scsiDirect);
        auto& h = scsiDirect.sptd;
        h.Length = sizeof(wire::SCSI_PASS_THROUGH_DIRECT);
        fill(h);
        h.SenseInfoOffset = offsetof(wire::SCSI_PASS_THROUGH_DIRECT_BUF, ucSenseBuf);
        h.DataBuffer = reinterpret_cast<uintptr_t>(buffer);
        WriteLog(Fmt("(%s) Cmd:%02X FR:%02X SC:%02X SN:%02X CL:%02X CH:%02X  %d / %d\n", ProtocolName(), cdb[9], cdb[3], cdb[4],
                     cdb[5], cdb[6], cdb[7], iCmdCount + 1, iCmdTotal));
        ok = Call(wire::kIOCTL_SCSI_PASS_THROUGH_DIRECT, &scsiDirect, sizeof scsiDirect, returned);
        sense = scsiDirect.ucSenseBuf;
        scsiStatus = h.ScsiStatus;
        xfer = h.DataTransferLength;
    } else {
        std::memset(&scsiBuffered, 0, sizeof scsiBuffered);
        auto& h = scsiBuffered.spt;
        h.Length = sizeof(wire::SCSI_PASS_THROUGH);
        fill(h);
        h.SenseInfoOffset = offsetof(wire::SCSI_PASS_THROUGH_BUF, ucSenseBuf);
        h.DataBufferOffset = offsetof(wire::SCSI_PASS_THROUGH_BUF, ucDataBuf);
        if (dataIn == wire::kSCSI_IOCTL_DATA_OUT && length) std::memcpy(scsiBuffered.ucDataBuf, buffer, length);
        WriteLog(Fmt("(%s) Cmd:%02X FR:%02X SC:%02X SN:%02X CL:%02X CH:%02X  %d / %d\n", ProtocolName(), cdb[9], cdb[3], cdb[4],
                     cdb[5], cdb[6], cdb[7], iCmdCount + 1, iCmdTotal));
        ok = Call(wire::kIOCTL_SCSI_PASS_THROUGH, &scsiBuffered, sizeof scsiBuffered, returned);
        if (ok && dataIn == wire::kSCSI_IOCTL_DATA_IN && length) std::memcpy(buffer, scsiBuffered.ucDataBuf, length);
        sense = scsiBuffered.ucSenseBuf;
        scsiStatus = h.ScsiStatus;
        xfer = h.DataTransferLength;
    }
    cmdTimer.Stop();
    if (!ok) {
        const uint32_t e = p_.storage->GetLastError();
        WriteLog(Fmt("GetLastError=0x%X\n", e));
        return MapWindowsError(e);
    }
    bScsiStatus = scsiStatus;
    const SenseDecode d = DecodeSenseData(sense, 32);
    if (d.valid) {
        bSenseValid = 1;
        DecodedSense[0] = d.responseCode;
        DecodedSense[1] = d.senseKey;
        DecodedSense[2] = d.asc;
        DecodedSense[3] = d.ascq;
        // Only a descriptor whose fourteen bytes lie inside the sense area is read.
        if (d.descriptorOffset >= 0 && d.descriptorOffset + 14 <= 32) {
            pAtaReturnDescriptor = sense + d.descriptorOffset;
            iDescriptorLength = d.descriptorLength;
        }
    }
    // A check condition without sense data tells nothing good about the command.
    if ((scsiStatus & 0x02) && (d.senseKey != 0 || !d.valid)) {
        length = 0;
        WriteLog(Fmt("ATACMD_ERR : status: %02X, sensekey:%02X \n", scsiStatus, d.senseKey));
        return ATACMD_ERR;
    }
    length = std::min(xfer, length);
    return ATACMD_OK;
}

uint8_t TAtaDevice::SendCsmiPassThrough(ATA_TASKFILE& tf, uint8_t* buffer, uint32_t direction, uint32_t& length) {
    ReopenIfClosed();
    using Buf = wire::CSMI_SAS_STP_PASSTHRU_BUFFER;
    constexpr uint32_t kDataOffset = offsetof(Buf, bDataBuffer);
    if (length > kCsmiBufferSize - kDataOffset) return ATACMD_FAIL;
    std::memset(pCsmiBuffer, 0, kCsmiBufferSize);
    Buf b;
    std::memset(&b, 0, sizeof b);
    b.IoctlHeader.HeaderLength = sizeof(wire::SRB_IO_CONTROL);
    std::memcpy(b.IoctlHeader.Signature, "CSMISAS", 8);
    b.IoctlHeader.Timeout = TimeoutSeconds();
    b.IoctlHeader.ControlCode = wire::CC_CSMI_SAS_STP_PASSTHRU;
    b.IoctlHeader.Length = length + static_cast<uint32_t>(sizeof(Buf) - sizeof(wire::SRB_IO_CONTROL));
    b.Parameters.bPhyIdentifier = static_cast<uint8_t>(iCsmiPhy);
    b.Parameters.bPortIdentifier = static_cast<uint8_t>(iCsmiPort);
    b.Parameters.bConnectionRate = 0;
    for (int i = 0; i < 4; ++i) {
        b.Parameters.bDestinationSASAddress[i] = static_cast<uint8_t>(dwCsmiSasAddress[0] >> (8 * i));
        b.Parameters.bDestinationSASAddress[4 + i] = static_cast<uint8_t>(dwCsmiSasAddress[1] >> (8 * i));
    }
    b.Parameters.uFlags = wire::CSMI_SAS_STP_PIO | (direction == ATA_DIR_IN    ? wire::CSMI_SAS_STP_READ
                                                    : direction == ATA_DIR_OUT ? wire::CSMI_SAS_STP_WRITE
                                                                               : wire::CSMI_SAS_STP_UNSPECIFIED);
    b.Parameters.uDataLength = length;
    uint8_t* fis = b.Parameters.bCommandFIS;
    fis[0] = wire::FIS_TYPE_REG_H2D;
    fis[1] = 0x80;
    fis[2] = tf.bCommandReg;
    fis[3] = tf.bFeaturesReg;
    fis[4] = tf.bSectorNumberReg;
    fis[5] = tf.bCylLowReg;
    fis[6] = tf.bCylHighReg;
    fis[7] = 0xA0;
    fis[12] = tf.bSectorCountReg;
    std::memcpy(pCsmiBuffer, &b, kDataOffset);
    if (direction == ATA_DIR_OUT && length) std::memcpy(pCsmiBuffer + kDataOffset, buffer, length);
    WriteLog(Fmt("(%s) Cmd:%02X FR:%02X SC:%02X SN:%02X CL:%02X CH:%02X ", ProtocolName(), tf.bCommandReg, tf.bFeaturesReg,
                 tf.bSectorCountReg, tf.bSectorNumberReg, tf.bCylLowReg, tf.bCylHighReg));
    uint32_t returned = 0;
    const bool ok = Call(wire::kIOCTL_SCSI_MINIPORT, pCsmiBuffer, kCsmiBufferSize, returned);
    cmdTimer.Stop();
    if (!ok) {
        const uint32_t e = p_.storage->GetLastError();
        WriteLog(Fmt(", DevIoCtrl FAIL, GetLastError=%Xh(%d)\n", e, static_cast<int>(e)));
        return MapWindowsError(e);
    }
    std::memcpy(&b, pCsmiBuffer, kDataOffset);
    const uint8_t* sfis = b.Status.bStatusFIS;
    const uint8_t sts = sfis[2], err = sfis[3];
    WriteLog(Fmt("[%s STS:%02X,ERR:%02X] %d / %d\n", sts == 0x50 ? "OK" : "FAIL", sts, err, iCmdCount + 1, iCmdTotal));
    if (b.IoctlHeader.ReturnCode == 0 && sts == 0x50 && err == 0) {
        const uint32_t got = std::min(length, b.Status.uDataBytes);
        if (direction == ATA_DIR_IN && got) std::memcpy(buffer, pCsmiBuffer + kDataOffset, got);
        length = got;
        return ATACMD_OK;
    }
    if (b.IoctlHeader.ReturnCode != 0)
        WriteLog(Fmt("IOCTL_SCSI_MINIPORT(CC_CSMI_SAS_STP_PASSTHRU) failed, ReturnCode=%u\n", b.IoctlHeader.ReturnCode));
    WriteLog(Fmt("STS=%02X,ERR=%02X,LBA_L=%02X,LBA_M=%02X,LBA_H=%02X,DEV=%02X,SC=%02X \n", sfis[2], sfis[3], sfis[4], sfis[5],
                 sfis[6], sfis[7], sfis[12]));
    return ATACMD_FAIL;
}

}  // namespace kestrel
