#pragma once
// The service control manager (for the WMI service) and a WMI instance count. The COM sequence of
// the count (initialise, locator, connect to ROOT\CIMV2, proxy blanket, query, walk the instances,
// release, uninitialise) lives in the Win32 adapter; the program chooses the query and the flags.
#include <cstdint>
#include <string>

#include "platform/wire/Services.h"

namespace kestrel {

using ScHandle = uint64_t;  // 0: the call failed

class IServices {
public:
    virtual ~IServices() = default;
    // OpenSCManagerA(local machine, default database, access).
    virtual ScHandle OpenSCManagerA(uint32_t access) = 0;
    virtual ScHandle OpenServiceA(ScHandle manager, const std::string& name, uint32_t access) = 0;
    virtual bool QueryServiceStatus(ScHandle service, wire::SERVICE_STATUS& status) = 0;
    // StartServiceA without arguments.
    virtual bool StartServiceA(ScHandle service) = 0;
    virtual bool CloseServiceHandle(ScHandle handle) = 0;
    virtual uint32_t GetLastError() = 0;

    // Runs the WQL query on ROOT\CIMV2 (ConnectServer with connectFlags) and counts the objects it
    // returns; false when COM, the connection, the proxy blanket or the query fails.
    virtual bool WmiCountInstances(const std::string& query, uint32_t connectFlags, uint32_t& count) = 0;
};

}  // namespace kestrel
