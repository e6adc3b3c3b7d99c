// The reply of an Intel RST NVMe pass-through: the completion entry at byte 100 of the 168-byte
// request decodes into fields that together give back the status word, whatever the bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "device/NvmeDecode.h"
#include "platform/wire/Nvme.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < sizeof(kestrel::wire::INTEL_NVME_PASS_THROUGH)) return 0;
    const uint8_t* e = data + offsetof(kestrel::wire::INTEL_NVME_PASS_THROUGH, Completion);
    const kestrel::NvmeCompletion c = kestrel::DecodeCompletion(e);
    const uint16_t status = static_cast<uint16_t>(e[14] | (e[15] << 8));
    const uint16_t again = static_cast<uint16_t>(c.phase | (c.statusCode << 1) | (c.statusCodeType << 9) | (c.more << 14) |
                                                 (c.doNotRetry << 15));
    if (again != (status & ~0x3000)) std::abort();
    if (c.phase > 1 || c.statusCodeType > 7 || c.more > 1 || c.doNotRetry > 1) std::abort();
    uint32_t dw0;
    std::memcpy(&dw0, e, 4);
    if (c.dw0 != dw0 || c.commandId != static_cast<uint16_t>(e[12] | (e[13] << 8))) std::abort();
    return 0;
}
