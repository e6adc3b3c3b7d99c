// Our version records against the SDK's own definitions, offset by offset, for the target this
// file is compiled for. Every wire structure gets such a file: a layout that drifts from the
// SDK's fails the build here rather than corrupting a driver request at run time.
// Our header first: it names constants after the SDK's macros, which <windows.h> then defines.
#include "platform/wire/OsVersion.h"

#include <windows.h>

#include <cstddef>

namespace {

using Ours = kestrel::wire::OSVERSIONINFOEXA;
using Sdk = ::OSVERSIONINFOEXA;
using OursRtl = kestrel::wire::RTL_OSVERSIONINFOEXW;
using SdkRtl = ::RTL_OSVERSIONINFOEXW;

#define KESTREL_SDK_SAME_OFFSET(A, B, m) \
    static_assert(offsetof(A, m) == offsetof(B, m) && sizeof(A::m) == sizeof(B::m), #A "::" #m " differs from the SDK")

static_assert(sizeof(Ours) == sizeof(Sdk));
static_assert(sizeof(::OSVERSIONINFOA) == kestrel::wire::kOsVersionInfoSize);
static_assert(sizeof(Sdk) == kestrel::wire::kOsVersionInfoExSize);
KESTREL_SDK_SAME_OFFSET(Ours, Sdk, dwOSVersionInfoSize);
KESTREL_SDK_SAME_OFFSET(Ours, Sdk, dwMajorVersion);
KESTREL_SDK_SAME_OFFSET(Ours, Sdk, dwMinorVersion);
KESTREL_SDK_SAME_OFFSET(Ours, Sdk, dwBuildNumber);
KESTREL_SDK_SAME_OFFSET(Ours, Sdk, dwPlatformId);
KESTREL_SDK_SAME_OFFSET(Ours, Sdk, szCSDVersion);
KESTREL_SDK_SAME_OFFSET(Ours, Sdk, wServicePackMajor);
KESTREL_SDK_SAME_OFFSET(Ours, Sdk, wServicePackMinor);
KESTREL_SDK_SAME_OFFSET(Ours, Sdk, wSuiteMask);
KESTREL_SDK_SAME_OFFSET(Ours, Sdk, wProductType);
KESTREL_SDK_SAME_OFFSET(Ours, Sdk, wReserved);

static_assert(sizeof(OursRtl) == sizeof(SdkRtl));
KESTREL_SDK_SAME_OFFSET(OursRtl, SdkRtl, dwOSVersionInfoSize);
KESTREL_SDK_SAME_OFFSET(OursRtl, SdkRtl, dwMajorVersion);
KESTREL_SDK_SAME_OFFSET(OursRtl, SdkRtl, dwMinorVersion);
KESTREL_SDK_SAME_OFFSET(OursRtl, SdkRtl, dwBuildNumber);
KESTREL_SDK_SAME_OFFSET(OursRtl, SdkRtl, dwPlatformId);
KESTREL_SDK_SAME_OFFSET(OursRtl, SdkRtl, szCSDVersion);
KESTREL_SDK_SAME_OFFSET(OursRtl, SdkRtl, wServicePackMajor);
KESTREL_SDK_SAME_OFFSET(OursRtl, SdkRtl, wServicePackMinor);
KESTREL_SDK_SAME_OFFSET(OursRtl, SdkRtl, wSuiteMask);
KESTREL_SDK_SAME_OFFSET(OursRtl, SdkRtl, wProductType);
KESTREL_SDK_SAME_OFFSET(OursRtl, SdkRtl, wReserved);

}  // namespace
