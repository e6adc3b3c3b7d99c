#pragma once
// One implementation of each port, handed to the objects that need them. The program's own logic
// never calls the operating system directly.
#include "platform/Clock.h"
#include "platform/DeviceTree.h"
#include "platform/Files.h"
#include "platform/Registry.h"
#include "platform/Services.h"
#include "platform/Storage.h"
#include "platform/System.h"
#include "platform/Ui.h"

namespace kestrel {

struct Platform {
    IFiles* files = nullptr;
    IClock* clock = nullptr;
    ISystem* system = nullptr;
    IUi* ui = nullptr;
    IRegistry* registry = nullptr;
    IStorage* storage = nullptr;
    IDeviceTree* deviceTree = nullptr;
    IServices* services = nullptr;
    // Later ports (storage, device tree, services/WMI) are added here.
};

}  // namespace kestrel
