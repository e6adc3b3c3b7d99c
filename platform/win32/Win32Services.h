#pragma once
// The service control manager and the WMI instance count through COM.
#include "platform/Services.h"

namespace kestrel::win32 {

class Win32Services : public IServices {
public:
    ScHandle OpenSCManagerA(uint32_t access) override;
    ScHandle OpenServiceA(ScHandle manager, const std::string& name, uint32_t access) override;
    bool QueryServiceStatus(ScHandle service, wire::SERVICE_STATUS& status) override;
    bool StartServiceA(ScHandle service) override;
    bool CloseServiceHandle(ScHandle handle) override;
    uint32_t GetLastError() override;
    bool WmiCountInstances(const std::string& query, uint32_t connectFlags, uint32_t& count) override;
};

}  // namespace kestrel::win32
