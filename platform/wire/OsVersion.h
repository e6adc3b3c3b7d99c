#pragma once
// OSVERSIONINFOA (148 bytes), OSVERSIONINFOEXA (156 bytes) and RTL_OSVERSIONINFOEXW (284 bytes).
#include "platform/wire/Layout.h"

namespace kestrel::wire {

#pragma pack(push, 4)
struct OSVERSIONINFOEXA {
    uint32_t dwOSVersionInfoSize;
    uint32_t dwMajorVersion;
    uint32_t dwMinorVersion;
    uint32_t dwBuildNumber;
    uint32_t dwPlatformId;
    char szCSDVersion[128];
    uint16_t wServicePackMajor;
    uint16_t wServicePackMinor;
    uint16_t wSuiteMask;
    uint8_t wProductType;
    uint8_t wReserved;
};

// The basic record is the first 148 bytes of the extended one.
constexpr uint32_t kOsVersionInfoSize = 148;
constexpr uint32_t kOsVersionInfoExSize = 156;

struct RTL_OSVERSIONINFOEXW {
    uint32_t dwOSVersionInfoSize;
    uint32_t dwMajorVersion;
    uint32_t dwMinorVersion;
    uint32_t dwBuildNumber;
    uint32_t dwPlatformId;
    char16_t szCSDVersion[128];
    uint16_t wServicePackMajor;
    uint16_t wServicePackMinor;
    uint16_t wSuiteMask;
    uint8_t wProductType;
    uint8_t wReserved;
};
#pragma pack(pop)

KESTREL_WIRE_SIZE(OSVERSIONINFOEXA, 156, 156);
KESTREL_WIRE_OFFSET(OSVERSIONINFOEXA, dwPlatformId, 16, 16);
KESTREL_WIRE_OFFSET(OSVERSIONINFOEXA, szCSDVersion, 20, 20);
KESTREL_WIRE_OFFSET(OSVERSIONINFOEXA, wServicePackMajor, 148, 148);
KESTREL_WIRE_OFFSET(OSVERSIONINFOEXA, wSuiteMask, 152, 152);
KESTREL_WIRE_OFFSET(OSVERSIONINFOEXA, wProductType, 154, 154);
KESTREL_WIRE_SIZE(RTL_OSVERSIONINFOEXW, 284, 284);
KESTREL_WIRE_OFFSET(RTL_OSVERSIONINFOEXW, szCSDVersion, 20, 20);
KESTREL_WIRE_OFFSET(RTL_OSVERSIONINFOEXW, wServicePackMajor, 276, 276);

// VerifyVersionInfo type bits and conditions, as the SDK defines them.
constexpr uint32_t kVerMinorVersion = 0x0000001;
constexpr uint32_t kVerMajorVersion = 0x0000002;
constexpr uint32_t kVerBuildNumber = 0x0000004;
constexpr uint32_t kVerPlatformId = 0x0000008;
constexpr uint32_t kVerServicePackMinor = 0x0000010;
constexpr uint32_t kVerServicePackMajor = 0x0000020;
constexpr uint32_t kVerSuiteName = 0x0000040;
constexpr uint32_t kVerProductType = 0x0000080;
constexpr uint8_t kVerEqual = 1;
constexpr uint8_t kVerGreater = 2;
constexpr uint8_t kVerGreaterEqual = 3;
constexpr uint8_t kVerLess = 4;
constexpr uint8_t kVerLessEqual = 5;
constexpr uint8_t kVerAnd = 6;  // the only conditions Windows accepts for the suite mask
constexpr uint8_t kVerOr = 7;

constexpr uint16_t kVerSuiteEnterprise = 0x0002;
constexpr uint16_t kVerSuiteDatacenter = 0x0080;
constexpr uint16_t kVerSuitePersonal = 0x0200;
constexpr uint16_t kVerSuiteBlade = 0x0400;
constexpr uint8_t kVerNtWorkstation = 1;

}  // namespace kestrel::wire
