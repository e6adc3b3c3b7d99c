// The number of disks to expect: WMI's count, with the WMI service made ready first.
#include <algorithm>
#include <memory>
#include <new>

#include "discovery/DevMgr.h"

namespace kestrel {

namespace {
constexpr const char* kWmiService = "Winmgmt";
constexpr uint32_t kServiceStartTimeoutSeconds = 20;
constexpr int kServiceStartAttempts = 3;
constexpr uint32_t kServicePollMilliseconds = 500;
constexpr int32_t kFallbackInterfaceRecords = 26;
}  // namespace

int16_t TDevMgr::CountDisks() {
    uint32_t count = 0;
    if (WmiQuery("Win32_DiskDrive", count)) return static_cast<int16_t>(std::min<uint32_t>(count, 0x7FFF));
    std::unique_ptr<REG_DATA[]> list(new (std::nothrow) REG_DATA[kFallbackInterfaceRecords]());
    if (!list) return 0;
    return static_cast<int16_t>(EnumDiskInterfaces(list.get(), kFallbackInterfaceRecords));
}

bool TDevMgr::WmiQuery(const std::string& wmiClass, uint32_t& count) {
    count = 0;
    if (p_.services == nullptr) return false;
    const std::string query = "Select * from " + wmiClass;
    // Windows PE has no WMI to speak of: the service is left alone there.
    if (IsWinPE()) return false;
    bool ok = true;
    for (int attempt = 0; !IsServiceRunning(kWmiService);) {
        ok = StartServiceAndWait(kWmiService, kServiceStartTimeoutSeconds);
        if (++attempt >= kServiceStartAttempts) break;
    }
    if (!ok) return false;
    // Waiting for a slow WMI is supported from Windows XP on.
    const bool maxWait = iMajorVersion > 5 || (iMajorVersion == 5 && iMinorVersion != 0);
    return p_.services->WmiCountInstances(query, maxWait ? wire::WBEM_FLAG_CONNECT_USE_MAX_WAIT_FLAG : 0, count);
}

bool TDevMgr::IsServiceRunning(const std::string& name) {
    if (p_.services == nullptr) return false;
    IServices& s = *p_.services;
    const ScHandle scm = s.OpenSCManagerA(wire::GENERIC_EXECUTE_RIGHT);
    if (scm == 0) return false;
    bool running = false;
    if (const ScHandle svc = s.OpenServiceA(scm, name, wire::SERVICE_QUERY_STATUS_RIGHT); svc != 0) {
        wire::SERVICE_STATUS st{};
        running = s.QueryServiceStatus(svc, st) && st.dwCurrentState == wire::SERVICE_RUNNING_STATE;
        s.CloseServiceHandle(svc);
    }
    s.CloseServiceHandle(scm);
    return running;
}

bool TDevMgr::StartServiceAndWait(const std::string& name, uint32_t timeoutSeconds) {
    if (p_.services == nullptr) return false;
    IServices& s = *p_.services;
    const ScHandle scm = s.OpenSCManagerA(wire::GENERIC_EXECUTE_RIGHT);
    if (scm == 0) return false;
    bool running = false;
    if (const ScHandle svc = s.OpenServiceA(scm, name, wire::SERVICE_START_RIGHT | wire::SERVICE_QUERY_STATUS_RIGHT); svc != 0) {
        wire::SERVICE_STATUS st{};
        if (s.QueryServiceStatus(svc, st)) {
            if (st.dwCurrentState == wire::SERVICE_RUNNING_STATE) {
                running = true;
            } else if (st.dwCurrentState == wire::SERVICE_STOPPED_STATE) {
                // A refused start still gets its polls: another caller may be starting it.
                s.StartServiceA(svc);
                const uint32_t polls = 2 * timeoutSeconds;
                for (uint32_t i = 0; i < polls; ++i) {
                    if (p_.clock != nullptr) p_.clock->Sleep(kServicePollMilliseconds);
                    if (!s.QueryServiceStatus(svc, st)) break;
                    if (st.dwCurrentState == wire::SERVICE_RUNNING_STATE) {
                        running = true;
                        break;
                    }
                }
            }
        }
        s.CloseServiceHandle(svc);
    }
    s.CloseServiceHandle(scm);
    return running;
}

bool TDevMgr::IsWinPE() {
    if (p_.registry == nullptr) return false;
    RegKey key = 0;
    if (p_.registry->OpenKey("SYSTEM\\CurrentControlSet\\Control\\MiniNT", KEY_READ_ACCESS, key) != 0) return false;
    p_.registry->CloseKey(key);
    return true;
}

}  // namespace kestrel
