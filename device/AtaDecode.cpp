#include "device/AtaDecode.h"

#include <algorithm>
#include <cstring>

#include "platform/wire/Ata.h"

namespace kestrel {

SenseDecode DecodeSenseData(const uint8_t* s, size_t n) {
    SenseDecode d;
    if (s == nullptr || n == 0 || (s[0] & 0x70) != 0x70) return d;
    d.valid = true;
    d.responseCode = s[0] & 0x7F;
    if (d.responseCode < 0x72) {
        size_t usable = n;
        if (n >= 8) usable = std::min<size_t>(n, static_cast<size_t>(s[7]) + 8);
        if (usable > 2) d.senseKey = s[2] & 0x0F;
        if (usable > 12) d.asc = s[12];
        if (usable > 13) d.ascq = s[13];
        return d;
    }
    if (n > 1) d.senseKey = s[1] & 0x0F;
    if (n > 2) d.asc = s[2];
    if (n > 3) d.ascq = s[3];
    const uint8_t additional = n > 7 ? s[7] : 0;
    if ((d.responseCode == 0x72 || d.responseCode == 0x73) && additional != 0) {
        const size_t end = std::min<size_t>(n, 8 + static_cast<size_t>(additional));
        size_t p = 8;
        while (p + 2 <= end) {
            const uint8_t type = s[p];
            const uint8_t len = s[p + 1];
            if (type == wire::SENSE_DESCRIPTOR_ATA_STATUS_RETURN) {
                d.descriptorOffset = static_cast<int32_t>(p);
                d.descriptorLength = std::clamp<int32_t>(len + 2, 12, 14);
                break;
            }
            p += 2 + static_cast<size_t>(len);
        }
    }
    return d;
}

std::string SwapAtaString(const uint8_t* p, size_t bytes) {
    std::string s(bytes, '\0');
    for (size_t i = 0; i + 1 < bytes; i += 2) {
        s[i] = static_cast<char>(p[i + 1]);
        s[i + 1] = static_cast<char>(p[i]);
    }
    return s;
}

bool ParseIdentifyData(const uint8_t* data, size_t size, IdentifyFields& out) {
    if (data == nullptr || size < sizeof(wire::IDENTIFY_DEVICE_DATA)) return false;
    wire::IDENTIFY_DEVICE_DATA id;
    std::memcpy(&id, data, sizeof id);
    out.specificConfiguration = static_cast<uint16_t>(data[4] | (data[5] << 8));
    out.serial = SwapAtaString(id.SerialNumber, sizeof id.SerialNumber);
    out.revision = SwapAtaString(id.FirmwareRevision, sizeof id.FirmwareRevision);
    out.model = SwapAtaString(id.ModelNumber, sizeof id.ModelNumber);
    const uint8_t* sec = data + offsetof(wire::IDENTIFY_DEVICE_DATA, SecurityStatus);
    out.securityStatus = static_cast<uint16_t>(sec[0] | (sec[1] << 8));
    out.vendorFlags = id.VendorFlags;
    return true;
}

bool IsEnterpriseFlags(uint8_t b) { return b != 0 && b != 0xFF && (b & 0x07) != 0; }

bool IsSpecificConfigurationByte(uint8_t b) { return b == 0x37 || b == 0x73 || b == 0x8C || b == 0xC8; }

}  // namespace kestrel
