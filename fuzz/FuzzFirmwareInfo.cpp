// Firmware slot information from a driver, in the version-1 (inbox) or version-2 (Intel RST)
// layout: any stated slot count is bounded by the bytes of the reply, and the chosen slot is the
// requested one or a writable record that was read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "device/NvmeDecode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const bool v2 = data[0] & 1;
    const uint8_t requested = data[1];
    data += 2;
    size -= 2;
    const size_t head = v2 ? 24 : 16, record = v2 ? 24 : 16;
    const kestrel::FirmwareSlots s = v2 ? kestrel::DecodeFirmwareInfoV2(data, size) : kestrel::DecodeFirmwareInfoV1(data, size);
    if (s.valid != (size >= head)) std::abort();
    if (!s.valid) return 0;
    const size_t fits = (size - head) / record;
    if (s.slots.size() > fits || s.slots.size() > s.slotCount) std::abort();
    if (s.clamped != (s.slotCount > fits)) std::abort();
    if (!s.clamped && s.slots.size() != s.slotCount) std::abort();
    for (size_t i = 0; i < s.slots.size(); ++i)
        if (s.slots[i].number != data[head + i * record] || s.slots[i].readOnly != data[head + i * record + 1]) std::abort();
    const int slot = kestrel::ChooseFirmwareSlot(s, requested);
    if (slot >= 0 && !s.upgradeSupport) std::abort();
    if (slot >= 0 && slot != requested) {
        bool found = false;
        for (const auto& r : s.slots) found = found || (r.number == slot && r.readOnly == 0);
        if (!found) std::abort();
    }
    return 0;
}
