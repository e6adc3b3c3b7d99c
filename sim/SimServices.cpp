#include "sim/SimServices.h"

#include <cctype>

namespace kestrel::sim {
namespace {
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorServiceAlreadyRunning = 1056;
constexpr uint32_t kErrorServiceDisabled = 1058;
constexpr uint32_t kErrorServiceDoesNotExist = 1060;
constexpr uint32_t kErrorServiceCannotAcceptCtrl = 1061;
}  // namespace

std::string SimServices::Lower(const std::string& s) {
    std::string r = s;
    for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return r;
}

void SimServices::AddService(const std::string& name, const SimServiceConfig& config) {
    Service s;
    s.cfg = config;
    switch (config.behaviour) {
        case SimServiceBehaviour::Running: s.state = wire::SERVICE_RUNNING_STATE; break;
        case SimServiceBehaviour::StoppedStartable:
        case SimServiceBehaviour::Disabled: s.state = wire::SERVICE_STOPPED_STATE; break;
        case SimServiceBehaviour::StartPending: s.state = wire::SERVICE_START_PENDING_STATE; break;
        case SimServiceBehaviour::StopPending: s.state = wire::SERVICE_STOP_PENDING_STATE; break;
        case SimServiceBehaviour::Paused: s.state = wire::SERVICE_PAUSED_STATE; break;
    }
    services_[Lower(name)] = s;
}

uint32_t SimServices::CurrentState(const std::string& name) const {
    const auto it = services_.find(Lower(name));
    return it == services_.end() ? 0 : it->second.state;
}

ScHandle SimServices::OpenSCManagerA(uint32_t access) {
    ++managerOpens_;
    const ScHandle h = next_++;
    handles_[h] = Handle{true, "", access};
    return h;
}

ScHandle SimServices::OpenServiceA(ScHandle manager, const std::string& name, uint32_t access) {
    const auto m = handles_.find(manager);
    if (m == handles_.end() || !m->second.manager) {
        lastError_ = kErrorInvalidHandle;
        return 0;
    }
    const auto it = services_.find(Lower(name));
    if (it == services_.end()) {
        lastError_ = kErrorServiceDoesNotExist;
        return 0;
    }
    if (it->second.cfg.openFails) {
        lastError_ = kErrorAccessDenied;
        return 0;
    }
    const ScHandle h = next_++;
    handles_[h] = Handle{false, it->first, access};
    return h;
}

bool SimServices::QueryServiceStatus(ScHandle service, wire::SERVICE_STATUS& status) {
    ++queries_;
    const auto h = handles_.find(service);
    if (h == handles_.end() || h->second.manager) {
        lastError_ = kErrorInvalidHandle;
        return false;
    }
    if (!(h->second.access & wire::SERVICE_QUERY_STATUS_RIGHT)) {
        lastError_ = kErrorAccessDenied;
        return false;
    }
    Service& s = services_[h->second.service];
    status = wire::SERVICE_STATUS{};
    status.dwServiceType = 0x20;  // SERVICE_WIN32_SHARE_PROCESS
    status.dwCurrentState = s.state;
    // A start in progress completes after its polls.
    if (s.state == wire::SERVICE_START_PENDING_STATE && s.cfg.behaviour == SimServiceBehaviour::StoppedStartable) {
        if (s.pendingPolls > 0) --s.pendingPolls;
        if (s.pendingPolls == 0) s.state = wire::SERVICE_RUNNING_STATE;
    }
    return true;
}

bool SimServices::StartServiceA(ScHandle service) {
    ++starts_;
    const auto h = handles_.find(service);
    if (h == handles_.end() || h->second.manager) {
        lastError_ = kErrorInvalidHandle;
        return false;
    }
    if (!(h->second.access & wire::SERVICE_START_RIGHT)) {
        lastError_ = kErrorAccessDenied;
        return false;
    }
    Service& s = services_[h->second.service];
    if (s.cfg.behaviour == SimServiceBehaviour::Disabled) {
        lastError_ = kErrorServiceDisabled;
        return false;
    }
    if (s.state != wire::SERVICE_STOPPED_STATE) {
        lastError_ = s.state == wire::SERVICE_RUNNING_STATE ? kErrorServiceAlreadyRunning : kErrorServiceCannotAcceptCtrl;
        return false;
    }
    s.state = wire::SERVICE_START_PENDING_STATE;
    s.pendingPolls = s.cfg.startPolls;
    if (s.pendingPolls == 0) s.state = wire::SERVICE_RUNNING_STATE;
    return true;
}

bool SimServices::CloseServiceHandle(ScHandle handle) {
    if (handles_.erase(handle) == 0) {
        lastError_ = kErrorInvalidHandle;
        return false;
    }
    return true;
}

bool SimServices::WmiCountInstances(const std::string& query, uint32_t connectFlags, uint32_t& count) {
    wmiQueries_.emplace_back(query, connectFlags);
    count = 0;
    const auto w = services_.find("winmgmt");
    if (!wmiUsable_ || w == services_.end() || w->second.state != wire::SERVICE_RUNNING_STATE) return false;
    // Only the disk-drive class is modelled; any other class has no instances.
    if (Lower(query) == "select * from win32_diskdrive")
        count = wmiDiskCount_ ? *wmiDiskCount_ : (diskCounter_ ? diskCounter_() : 0);
    return true;
}

}  // namespace kestrel::sim
