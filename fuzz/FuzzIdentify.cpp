// IDENTIFY DEVICE data from a drive: any bytes must parse (or be refused when short) without
// reading past them, and the texts keep their fixed widths.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "device/AtaDecode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kestrel::IdentifyFields f;
    const bool ok = kestrel::ParseIdentifyData(data, size, f);
    if (ok != (size >= 512)) std::abort();
    if (ok) {
        if (f.model.size() != 40 || f.revision.size() != 8 || f.serial.size() != 20) std::abort();
        if (f.vendorFlags != data[318]) std::abort();
        if (kestrel::IsEnterpriseFlags(f.vendorFlags) && (f.vendorFlags == 0xFF || (f.vendorFlags & 7) == 0)) std::abort();
    }
    return 0;
}
