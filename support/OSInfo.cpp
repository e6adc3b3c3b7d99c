#include "support/OSInfo.h"

#include <cstring>
#include <string>

namespace kestrel {
namespace {

using wire::OSVERSIONINFOEXA;

bool EqualsNoCase(const std::string& a, const char* b) {
    const size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

std::string CsdText(const OSVERSIONINFOEXA& rec) {
    return std::string(rec.szCSDVersion, strnlen(rec.szCSDVersion, sizeof rec.szCSDVersion));
}

// One field of the version record, with its own width.
struct Field {
    uint32_t typeBit;
    uint64_t hi;
    void (*set)(OSVERSIONINFOEXA&, uint64_t);
};

const Field kFields[] = {
    {wire::kVerPlatformId, 0xFFFFFFFFull, [](OSVERSIONINFOEXA& r, uint64_t v) { r.dwPlatformId = static_cast<uint32_t>(v); }},
    {wire::kVerMajorVersion, 0xFFFFFFFFull, [](OSVERSIONINFOEXA& r, uint64_t v) { r.dwMajorVersion = static_cast<uint32_t>(v); }},
    {wire::kVerMinorVersion, 16, [](OSVERSIONINFOEXA& r, uint64_t v) { r.dwMinorVersion = static_cast<uint32_t>(v); }},
    {wire::kVerBuildNumber, 0xFFFFFFFFull, [](OSVERSIONINFOEXA& r, uint64_t v) { r.dwBuildNumber = static_cast<uint32_t>(v); }},
    {wire::kVerServicePackMajor, 0xFFFF, [](OSVERSIONINFOEXA& r, uint64_t v) { r.wServicePackMajor = static_cast<uint16_t>(v); }},
    {wire::kVerServicePackMinor, 0xFFFF, [](OSVERSIONINFOEXA& r, uint64_t v) { r.wServicePackMinor = static_cast<uint16_t>(v); }},
    {wire::kVerSuiteName, 0xFFFF, [](OSVERSIONINFOEXA& r, uint64_t v) { r.wSuiteMask = static_cast<uint16_t>(v); }},
    {wire::kVerProductType, 0xFF, [](OSVERSIONINFOEXA& r, uint64_t v) { r.wProductType = static_cast<uint8_t>(v); }},
};

}  // namespace

OSInfo::OSInfo(const Platform& p) : p_(p) {
    OSVERSIONINFOEXA rec{};
    rec.dwOSVersionInfoSize = wire::kOsVersionInfoSize;
    if (p_.system->GetVersionExA(rec)) {
        bIsNT = rec.dwPlatformId == 2;
        bIsNT4 = bIsNT && rec.dwMajorVersion == 4;
    }
}

bool OSInfo::SearchVersionFields(OSVERSIONINFOEXA& rec) {
    ISystem& sys = *p_.system;
    for (const Field& f : kFields) {
        if (f.typeBit == wire::kVerSuiteName) {
            // Windows refuses VER_EQUAL and VER_GREATER for the suite mask (only VER_AND and VER_OR
            // are defined for it), so a bisection would always fail here and every system would
            // fall back to the record without product type. Ask for each suite bit instead.
            const uint64_t andMask = sys.VerSetConditionMask(0, f.typeBit, wire::kVerAnd);
            uint16_t suite = 0;
            for (int bit = 0; bit < 16; ++bit) {
                rec.wSuiteMask = static_cast<uint16_t>(1u << bit);
                if (sys.VerifyVersionInfoA(rec, f.typeBit, andMask)) suite = static_cast<uint16_t>(suite | (1u << bit));
            }
            rec.wSuiteMask = suite;
            continue;
        }
        const uint64_t eq = sys.VerSetConditionMask(0, f.typeBit, wire::kVerEqual);
        const uint64_t gt = sys.VerSetConditionMask(0, f.typeBit, wire::kVerGreater);
        auto isEqual = [&](uint64_t v) {
            f.set(rec, v);
            return sys.VerifyVersionInfoA(rec, f.typeBit, eq);
        };
        uint64_t lo = 0, hi = f.hi;
        uint64_t probe = (lo + hi) / 2;
        bool found = false;
        for (;;) {
            if (isEqual(probe)) {
                found = true;
                break;
            }
            if (sys.VerifyVersionInfoA(rec, f.typeBit, gt))
                lo = probe;
            else
                hi = probe;
            probe = (lo + hi) / 2;
            if (probe != lo) continue;
            if (isEqual(lo) || isEqual(hi)) found = true;
            break;
        }
        if (!found) {
            f.set(rec, 0);
            return false;
        }
    }
    return true;
}

uint32_t OSInfo::RegistryEditionBits(bool& ok) {
    ok = false;
    RegKey key = 0;
    if (p_.registry->OpenKey("SYSTEM\\CurrentControlSet\\Control\\ProductOptions", KEY_QUERY_VALUE_ACCESS, key) != 0) return 0;
    RegValue v;
    const uint32_t rc = p_.registry->QueryValue(key, "ProductType", 80, v);
    p_.registry->CloseKey(key);
    if (rc != 0) return 0;
    ok = true;
    std::string text(v.data.begin(), v.data.end());
    text = text.substr(0, text.find('\0'));
    if (EqualsNoCase(text, "WINNT")) return 0x130000;
    if (EqualsNoCase(text, "LANMANNT")) return 0x70000;
    if (EqualsNoCase(text, "SERVERNT")) return 0x40000;
    return 0;
}

uint32_t OSInfo::GetOsVersionCode() {
    OSVERSIONINFOEXA rec{};
    rec.dwOSVersionInfoSize = wire::kOsVersionInfoExSize;
    bool fromSearch = SearchVersionFields(rec);
    if (!fromSearch) {
        rec = OSVERSIONINFOEXA{};
        rec.dwOSVersionInfoSize = wire::kOsVersionInfoSize;
        if (!p_.system->GetVersionExA(rec)) return 0;
        // The basic record has no extended fields.
        rec.wServicePackMajor = rec.wServicePackMinor = rec.wSuiteMask = 0;
        rec.wProductType = rec.wReserved = 0;
    }

    const std::string csd = CsdText(rec);
    const uint32_t major = rec.dwMajorVersion, minor = rec.dwMinorVersion;
    switch (rec.dwPlatformId) {
    case 0:
        return 0x01000000;
    case 1:
        if (major == 4 && minor == 0) return (csd.size() > 1 && (csd[1] == 'B' || csd[1] == 'C')) ? 0x02030000 : 0x02000000;
        if (major == 4 && minor == 10) return (csd.size() > 1 && csd[1] == 'A') ? 0x03030000 : 0x03000000;
        if (major == 4 && minor == 90) return 0x04000000;
        return 0;
    case 2:
        break;
    default:
        return 0;
    }

    const bool workstation = rec.wProductType == wire::kVerNtWorkstation;
    uint32_t code = 0;
    uint32_t effMajor = major, effMinor = minor;
    if (major == 6 && minor == 2) {
        // Windows 8.1 and 10 (and their servers) answer the search as 6.2 to a program without a
        // compatibility manifest entry; RtlGetVersion tells the true numbers. Only a Windows 10 or
        // newer leaves the 6.2 codes: Windows 8.1 and Server 2012 R2 keep them, because their inbox
        // NVMe driver lacks the firmware and protocol requests of Windows 10, so an NVMe drive on it
        // still needs Intel RST (the workflow's check keys on the 6.2 server code).
        wire::RTL_OSVERSIONINFOEXW rtl{};
        rtl.dwOSVersionInfoSize = sizeof rtl;
        const auto status = p_.system->RtlGetVersion(rtl);
        if (status && *status == 0 && rtl.dwMajorVersion >= 10) {
            effMajor = rtl.dwMajorVersion;
            effMinor = rtl.dwMinorVersion;
        }
    }
    if (effMajor <= 4)
        code = 0x05000000;
    else if (effMajor == 5 && effMinor == 0)
        code = 0x06000000;
    else if (effMajor == 5 && effMinor == 1)
        code = 0x07000000;
    else if (effMajor == 5 && effMinor == 2)
        code = p_.system->GetSystemMetrics(SM_SERVERR2_INDEX) != 0 ? 0x09000000 : 0x08000000;
    else if (effMajor == 6 && effMinor == 0)
        code = workstation ? 0x0A000000 : 0x0C000000;
    else if (effMajor == 6 && effMinor == 1)
        code = workstation ? 0x0E000000 : 0x0D000000;
    else if (effMajor == 6 && effMinor == 2)
        code = workstation ? 0x10000000 : 0x0F000000;
    else if (effMajor == 6 && effMinor == 3)
        code = workstation ? 0x12000000 : 0x11000000;
    else
        // 6.4, 10.x and anything newer: the newest system the codes know. A newer Windows must not
        // read as an old one (the Intel RST requirement keys on codes up to 10000000h).
        code = workstation ? 0x14000000 : 0x13000000;

    if (fromSearch) {
        const uint16_t suite = rec.wSuiteMask;
        if (workstation && major == 4) {
            code = 0x05130000;
        } else if (workstation) {
            code |= (suite & wire::kVerSuitePersonal) ? 0x20000 : 0x10000;
        } else if (rec.wProductType == 2 || rec.wProductType == 3) {
            if (major == 5 && minor == 2) {
                if (suite & wire::kVerSuiteDatacenter) code |= 0x80000;
                else if (suite & wire::kVerSuiteEnterprise) code |= 0x40000;
                else if (suite == wire::kVerSuiteBlade) code |= 0x110000;
                else code |= 0x70000;
            } else if (major == 5 && minor == 0) {
                if (suite & wire::kVerSuiteDatacenter) code |= 0x80000;
                else if (suite & wire::kVerSuiteEnterprise) code |= 0x40000;
                else code |= 0x70000;
            } else {
                code |= (suite & wire::kVerSuiteEnterprise) ? 0x40000 : 0x70000;
            }
        }
    } else {
        bool ok = false;
        const uint32_t bits = RegistryEditionBits(ok);
        if (!ok) return 0;
        code |= bits;
    }

    uint32_t sp = static_cast<uint32_t>(rec.wServicePackMajor) << 12;
    if (major == 4 && EqualsNoCase(csd, "Service Pack 6")) {
        RegKey key = 0;
        if (p_.registry->OpenKey("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009", KEY_QUERY_VALUE_ACCESS, key) == 0) {
            p_.registry->CloseKey(key);
            sp = 0x6400;
        }
    }
    return code + sp;
}

bool OSInfo::IsWow64() {
    const auto r = p_.system->IsWow64Process();
    return r.has_value() && *r;
}

bool OSInfo::Is64BitWindows() { return p_.system->Is64BitProcess() || IsWow64(); }

bool OSInfo::IsAdministrator() { return p_.system->IsAdministratorMember(); }

bool OSInfo::ExitWithFlags(uint32_t flags) {
    flags |= EWX_FORCE_FLAG;
    if (!bIsNT) return p_.system->ExitWindowsEx(flags, 0);
    uint32_t lastError = 0;
    if (!p_.system->EnableShutdownPrivilege(lastError)) return false;
    if (lastError != 0) return false;
    return p_.system->ExitWindowsEx(flags, 0);
}

bool OSInfo::Reboot() { return ExitWithFlags(EWX_REBOOT_FLAG); }

bool OSInfo::Shutdown() { return ExitWithFlags(EWX_SHUTDOWN_FLAG); }

}  // namespace kestrel
