// The real machine: the Win32 adapters of the ports the device discovery uses (no window).
#include "platform/win32/Win32DeviceTree.h"
#include "platform/win32/Win32Platform.h"
#include "platform/win32/Win32Services.h"
#include "tools/diag/DiagPlatform.h"

namespace kestrel::diag {
namespace {
class Win32Host : public DiagPlatform {
public:
    Win32Host() {
        p_.files = &files_;
        p_.clock = &clock_;
        p_.system = &system_;
        p_.registry = &registry_;
        p_.storage = &storage_;
        p_.deviceTree = &tree_;
        p_.services = &services_;
    }
    const Platform& platform() const override { return p_; }

private:
    win32::Win32Files files_;
    win32::Win32Clock clock_;
    win32::Win32System system_;
    win32::Win32Registry registry_;
    win32::Win32Storage storage_;
    win32::Win32DeviceTree tree_;
    win32::Win32Services services_;
    Platform p_;
};
}  // namespace

std::unique_ptr<DiagPlatform> MakeDiagPlatform() { return std::make_unique<Win32Host>(); }

}  // namespace kestrel::diag
