#pragma once
// Helpers for the byte layouts that cross the operating-system and driver boundary.
// Every structure in platform/wire/ uses fixed-width types only; pointer-sized fields use uintptr_t,
// so the x86 build gets the documented 32-bit layout and the x64 and Linux builds the 64-bit one.
#include <cstddef>
#include <cstdint>

namespace kestrel::wire {

constexpr bool kPtr32 = sizeof(void*) == 4;

// The same assertion for both widths: "Size32" is the documented 32-bit number, "Size64" the 64-bit one.
#define KESTREL_WIRE_SIZE(T, Size32, Size64) \
    static_assert(sizeof(T) == (::kestrel::wire::kPtr32 ? (Size32) : (Size64)), #T " has the wrong size")
#define KESTREL_WIRE_OFFSET(T, member, Off32, Off64)                                  \
    static_assert(offsetof(T, member) == (::kestrel::wire::kPtr32 ? (Off32) : (Off64)), \
                  #T "::" #member " is at the wrong offset")

}  // namespace kestrel::wire
