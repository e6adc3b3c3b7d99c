#pragma once
// GUID as Windows lays it out (16 bytes, no padding on either width).
#include "platform/wire/Layout.h"

namespace kestrel {

struct KGUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
KESTREL_WIRE_SIZE(KGUID, 16, 16);
KESTREL_WIRE_OFFSET(KGUID, Data4, 8, 8);

inline bool operator==(const KGUID& a, const KGUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}

}  // namespace kestrel
