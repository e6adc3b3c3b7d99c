// A CSMI phy table from a RAID driver: the walk over the 32 entries reads no byte past the reply
// and reports exactly the entries whose own device type is set.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "device/NvmeDecode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto rows = kestrel::DecodePhyTable(data, size);
    if (rows.size() > 32) std::abort();
    size_t expected = 0;
    for (size_t i = 0; i < 32 && 4 + (i + 1) * 64 <= size; ++i) expected += data[4 + i * 64] != 0;
    if (rows.size() != expected) std::abort();
    int last = -1;
    for (const auto& r : rows) {
        if (r.index <= last || r.type == 0) std::abort();
        const size_t at = 4 + static_cast<size_t>(r.index) * 64;
        if (at + 64 > size || r.portId != data[at + 28] || r.attachedType != data[at + 36]) std::abort();
        last = r.index;
    }
    return 0;
}
