#pragma once
// The simulated service control manager and WMI. Services answer as Windows' would: a stopped
// service starts after a few status polls, a disabled one refuses to start, a pending one stays so.
// WMI answers only while the "Winmgmt" service runs.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Services.h"

namespace kestrel::sim {

enum class SimServiceBehaviour { Running, StoppedStartable, Disabled, StartPending, StopPending, Paused };

struct SimServiceConfig {
    SimServiceBehaviour behaviour = SimServiceBehaviour::Running;
    uint32_t startPolls = 2;  // status polls in the start-pending state after a start
    bool openFails = false;   // OpenServiceA refuses (access denied)
};

class SimServices : public IServices {
public:
    void AddService(const std::string& name, const SimServiceConfig& config);
    // WMI: usable or not, and the disk count it reports (nullopt: the counting function decides).
    void SetWmi(bool usable, std::optional<uint32_t> diskCount) {
        wmiUsable_ = usable;
        wmiDiskCount_ = diskCount;
    }
    void SetDiskCounter(std::function<uint32_t()> counter) { diskCounter_ = std::move(counter); }

    // What the program did.
    uint32_t StartRequests() const { return starts_; }
    uint32_t StatusQueries() const { return queries_; }
    uint32_t ManagerOpens() const { return managerOpens_; }
    const std::vector<std::pair<std::string, uint32_t>>& WmiQueries() const { return wmiQueries_; }  // query, connect flags
    size_t OpenHandles() const { return handles_.size(); }
    uint32_t CurrentState(const std::string& name) const;

    ScHandle OpenSCManagerA(uint32_t access) override;
    ScHandle OpenServiceA(ScHandle manager, const std::string& name, uint32_t access) override;
    bool QueryServiceStatus(ScHandle service, wire::SERVICE_STATUS& status) override;
    bool StartServiceA(ScHandle service) override;
    bool CloseServiceHandle(ScHandle handle) override;
    uint32_t GetLastError() override { return lastError_; }
    bool WmiCountInstances(const std::string& query, uint32_t connectFlags, uint32_t& count) override;

private:
    struct Service {
        SimServiceConfig cfg;
        uint32_t state = 0;
        uint32_t pendingPolls = 0;
    };
    struct Handle {
        bool manager = false;
        std::string service;  // lower-case name
        uint32_t access = 0;
    };
    static std::string Lower(const std::string& s);

    std::map<std::string, Service> services_;
    std::map<ScHandle, Handle> handles_;
    ScHandle next_ = 0x7000;
    uint32_t lastError_ = 0;
    bool wmiUsable_ = true;
    std::optional<uint32_t> wmiDiskCount_;
    std::function<uint32_t()> diskCounter_;
    uint32_t starts_ = 0, queries_ = 0, managerOpens_ = 0;
    std::vector<std::pair<std::string, uint32_t>> wmiQueries_;
};

}  // namespace kestrel::sim
