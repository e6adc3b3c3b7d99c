// Sense data from a SCSI pass-through reply: any bytes must decode without reading past them, and
// a reported ATA status return descriptor must lie inside them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "device/AtaDecode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const kestrel::SenseDecode d = kestrel::DecodeSenseData(data, size);
    if (d.descriptorOffset >= 0) {
        if (!d.valid || static_cast<size_t>(d.descriptorOffset) + 2 > size || d.descriptorLength < 12 || d.descriptorLength > 14) std::abort();
        if (data[d.descriptorOffset] != 0x09) std::abort();
    }
    if (!d.valid && (d.senseKey != 0 || d.asc != 0)) std::abort();
    return 0;
}
