#include "sim/SimSystem.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace kestrel::sim {
namespace {

constexpr uint32_t ERROR_INVALID_PARAMETER_CODE = 87;
constexpr uint32_t ERROR_OLD_WIN_VERSION_CODE = 1150;
constexpr uint32_t ERROR_BAD_ARGUMENTS_CODE = 160;

int BitIndex(uint32_t bit) {
    for (int i = 0; i < 32; ++i)
        if (bit == (1u << i)) return i;
    return -1;
}

bool Compare(uint64_t sys, uint64_t rec, uint8_t cond) {
    switch (cond) {
    case wire::kVerEqual: return sys == rec;
    case wire::kVerGreater: return sys > rec;
    case wire::kVerGreaterEqual: return sys >= rec;
    case wire::kVerLess: return sys < rec;
    case wire::kVerLessEqual: return sys <= rec;
    case wire::kVerAnd: return (sys & rec) == rec;
    case wire::kVerOr: return (sys & rec) != 0;
    default: return false;
    }
}

}  // namespace

void SimSystem::MaybeThrow(const char* call) const {
    if (std::find(cfg_.throwIn.begin(), cfg_.throwIn.end(), call) != cfg_.throwIn.end())
        throw std::runtime_error(std::string("Access violation in ") + call);
}

bool SimSystem::GetVersionExA(wire::OSVERSIONINFOEXA& rec) {
    MaybeThrow("GetVersionExA");
    const uint32_t size = rec.dwOSVersionInfoSize;
    if (cfg_.getVersionFails || (size != wire::kOsVersionInfoSize && size != wire::kOsVersionInfoExSize)) {
        lastError_ = ERROR_INVALID_PARAMETER_CODE;
        return false;
    }
    const SimVersion& v = cfg_.reported;
    rec.dwMajorVersion = v.major;
    rec.dwMinorVersion = v.minor;
    rec.dwBuildNumber = v.build;
    rec.dwPlatformId = v.platform;
    std::memset(rec.szCSDVersion, 0, sizeof rec.szCSDVersion);
    std::memcpy(rec.szCSDVersion, v.csd.data(), std::min(v.csd.size(), sizeof rec.szCSDVersion - 1));
    if (size == wire::kOsVersionInfoExSize) {
        rec.wServicePackMajor = v.spMajor;
        rec.wServicePackMinor = v.spMinor;
        rec.wSuiteMask = v.suite;
        rec.wProductType = v.productType;
        rec.wReserved = 0;
    }
    return true;
}

uint64_t SimSystem::VerSetConditionMask(uint64_t mask, uint32_t typeBit, uint8_t condition) {
    const int i = BitIndex(typeBit);
    if (i < 0 || i > 7) return mask;
    return mask | (static_cast<uint64_t>(condition & 7) << (3 * i));
}

bool SimSystem::VerifyVersionInfoA(const wire::OSVERSIONINFOEXA& rec, uint32_t typeMask, uint64_t conditionMask) {
    ++verifyCalls_;
    MaybeThrow("VerifyVersionInfoA");
    if (cfg_.verifyVersionFails || typeMask == 0 || rec.dwOSVersionInfoSize != wire::kOsVersionInfoExSize) {
        lastError_ = ERROR_INVALID_PARAMETER_CODE;
        return false;
    }
    const SimVersion& v = cfg_.reported;
    struct F {
        uint32_t bit;
        uint64_t sys, rec;
    } fields[] = {
        {wire::kVerMinorVersion, v.minor, rec.dwMinorVersion},
        {wire::kVerMajorVersion, v.major, rec.dwMajorVersion},
        {wire::kVerBuildNumber, v.build, rec.dwBuildNumber},
        {wire::kVerPlatformId, v.platform, rec.dwPlatformId},
        {wire::kVerServicePackMinor, v.spMinor, rec.wServicePackMinor},
        {wire::kVerServicePackMajor, v.spMajor, rec.wServicePackMajor},
        {wire::kVerSuiteName, v.suite, rec.wSuiteMask},
        {wire::kVerProductType, v.productType, rec.wProductType},
    };
    for (const F& f : fields) {
        if (!(typeMask & f.bit)) continue;
        const uint8_t cond = static_cast<uint8_t>((conditionMask >> (3 * BitIndex(f.bit))) & 7);
        // As Windows does: the suite mask takes only VER_AND and VER_OR, the other fields only the
        // ordering conditions.
        const bool suite = f.bit == wire::kVerSuiteName;
        if (suite != (cond == wire::kVerAnd || cond == wire::kVerOr)) {
            lastError_ = ERROR_BAD_ARGUMENTS_CODE;
            return false;
        }
        if (!Compare(f.sys, f.rec, cond)) {
            lastError_ = ERROR_OLD_WIN_VERSION_CODE;
            return false;
        }
    }
    return true;
}

std::optional<int32_t> SimSystem::RtlGetVersion(wire::RTL_OSVERSIONINFOEXW& rec) {
    if (!cfg_.rtl) return std::nullopt;
    if (cfg_.rtlFails || (rec.dwOSVersionInfoSize != 276 && rec.dwOSVersionInfoSize != 284)) return static_cast<int32_t>(0xC000000D);
    rec.dwMajorVersion = cfg_.rtl->major;
    rec.dwMinorVersion = cfg_.rtl->minor;
    rec.dwBuildNumber = cfg_.rtl->build;
    rec.dwPlatformId = cfg_.rtl->platform;
    return 0;
}

int32_t SimSystem::GetSystemMetrics(int32_t index) { return index == SM_SERVERR2_INDEX ? cfg_.serverR2 : 0; }

bool SimSystem::EnableShutdownPrivilege(uint32_t& lastErrorAfterAdjust) {
    if (!cfg_.shutdownPrivilege) return false;
    lastErrorAfterAdjust = cfg_.privilegeLastError;
    return true;
}

bool SimSystem::ExitWindowsEx(uint32_t flags, uint32_t /*reason*/) {
    exits_.push_back(flags);
    return cfg_.exitWindowsAccepted;
}

bool SimSystem::ShellExecuteA(const std::string& operation, const std::string& file, const std::string& parameters,
                              const std::string& directory, int32_t showCommand) {
    shellStarts_.push_back({operation, file, parameters, directory, showCommand});
    return true;
}

std::string SimSystem::ErrorMessageText(uint32_t code) {
    const auto it = cfg_.errorTexts.find(code);
    if (it != cfg_.errorTexts.end()) return it->second;
    static const std::map<uint32_t, std::string> common = {
        {0, "The operation completed successfully."},
        {1, "Incorrect function."},
        {2, "The system cannot find the file specified."},
        {5, "Access is denied."},
        {6, "The handle is invalid."},
        {21, "The device is not ready."},
        {31, "A device attached to the system is not functioning."},
        {50, "The request is not supported."},
        {87, "The parameter is incorrect."},
        {121, "The semaphore timeout period has expired."},
        {1117, "The request could not be performed because of an I/O device error."},
        {1167, "The device is not connected."},
    };
    const auto c = common.find(code);
    return c != common.end() ? c->second : "Unknown error.";
}

uint32_t SimSystem::SetThreadExecutionState(uint32_t flags) {
    executionCalls_.push_back(flags);
    const uint32_t previous = executionState_;
    if (flags & ES_CONTINUOUS_FLAG) executionState_ = flags;
    return previous;
}

}  // namespace kestrel::sim
