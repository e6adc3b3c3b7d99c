#pragma once
// Decoders of what drives and drivers send back: sense data and IDENTIFY DEVICE data. Pure
// functions over bytes, so they can be tested and fuzzed alone.
#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel {

// Sense data as the SCSI pass-through returned it, decoded. The ATA status return descriptor is
// given as an offset into the decoded bytes (-1: none).
struct SenseDecode {
    bool valid = false;
    uint8_t responseCode = 0;
    uint8_t senseKey = 0;
    uint8_t asc = 0;
    uint8_t ascq = 0;
    int32_t descriptorOffset = -1;
    int32_t descriptorLength = 0;
};
// Fixed and descriptor formats; every length the data claims is bounded by size.
SenseDecode DecodeSenseData(const uint8_t* sense, size_t size);

// The IDENTIFY DEVICE fields the program reads, texts with their byte pairs swapped back.
struct IdentifyFields {
    uint16_t specificConfiguration = 0;
    std::string serial;    // 20 characters
    std::string revision;  // 8
    std::string model;     // 40
    uint16_t securityStatus = 0;
    uint8_t vendorFlags = 0;  // byte 318
};
// False when fewer than 512 bytes are given.
bool ParseIdentifyData(const uint8_t* data, size_t size, IdentifyFields& out);
// The ATA string convention: the two bytes of every word swapped.
std::string SwapAtaString(const uint8_t* p, size_t bytes);
// Byte 318 of the identify data marks an enterprise drive.
bool IsEnterpriseFlags(uint8_t byte318);
// Byte 4 of identify data that proves the drive answered (one of the specific-configuration values).
bool IsSpecificConfigurationByte(uint8_t byte4);

}  // namespace kestrel
