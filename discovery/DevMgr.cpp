#include "discovery/DevMgr.h"

// Placeholder until the device discovery is built: a machine without disks.
namespace kestrel {

TDevMgr::TDevMgr(const Platform& platform) : p_(platform) {}
TDevMgr::~TDevMgr() = default;
bool TDevMgr::EnumPhysicalDrives() { return true; }
bool TDevMgr::BindingsMissing() const { return false; }
bool TDevMgr::RemoveDiskDevice(const std::string&) { return false; }
bool TDevMgr::RescanStorageControllers() { return false; }

}  // namespace kestrel
