// The device-tree and services adapters against the real calls (Wine's setup API, configuration
// manager, service control manager and WMI).
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "discovery/DevMgr.h"
#include "platform/win32/Win32Platform.h"

namespace kestrel::win32 {
namespace {

// All 21 entry points exist in the real libraries, and a name that does not is reported missing.
TEST(Win32DeviceTreeTest, BindsTheRequiredEntryPoints) {
    Win32DeviceTree tree;
    const ModuleHandle setupapi = tree.LoadLibraryA("Setupapi.dll");
    const ModuleHandle cfgmgr = tree.LoadLibraryA("cfgmgr32.dll");
    ASSERT_NE(setupapi, 0u);
    ASSERT_NE(cfgmgr, 0u);
    for (const char* name : TDevMgr::kSetupApiNames) EXPECT_TRUE(tree.GetProcAddress(setupapi, name)) << name;
    for (const char* name : TDevMgr::kCfgMgrNames) EXPECT_TRUE(tree.GetProcAddress(cfgmgr, name)) << name;
    EXPECT_FALSE(tree.GetProcAddress(cfgmgr, "CM_No_Such_Function"));
    EXPECT_EQ(tree.LoadLibraryA("kestrel-no-such-library.dll"), 0u);
    tree.FreeLibrary(cfgmgr);
    tree.FreeLibrary(setupapi);
}

// A call whose entry point was never resolved fails as Windows does, without calling anything.
TEST(Win32DeviceTreeTest, UnresolvedCallFails) {
    Win32DeviceTree tree;
    EXPECT_EQ(tree.SetupDiGetClassDevsA(nullptr, wire::DIGCF_PRESENT_FLAG | wire::DIGCF_ALLCLASSES_FLAG), kInvalidDevInfoSet);
    EXPECT_EQ(tree.GetLastError(), 127u);  // ERROR_PROC_NOT_FOUND
    DevInst node = 0;
    EXPECT_NE(tree.CM_Locate_DevNodeA(node, "HTREE\\ROOT\\0", 0), wire::CR_SUCCESS_CODE);
}

// Every present device of the tree is listed with its instance ID, and the chain above each one
// is bounded. (Wine's CM_Locate_DevNodeA answers CR_FAILURE for every ID, so its chains are empty;
// on Windows each reaches the root.)
TEST(Win32DeviceTreeTest, DevicesOfTheTreeAndTheirChains) {
    Win32Platform platform(::GetModuleHandleA(nullptr));
    TDevMgr mgr(platform.Get());
    ASSERT_FALSE(mgr.BindingsMissing());
    EXPECT_EQ(mgr.bIsNT, 1);
    Win32DeviceTree& tree = *static_cast<Win32DeviceTree*>(platform.Get().deviceTree);
    const DevInfoSet set = tree.SetupDiGetClassDevsA(nullptr, wire::DIGCF_PRESENT_FLAG | wire::DIGCF_ALLCLASSES_FLAG);
    ASSERT_NE(set, kInvalidDevInfoSet);
    std::vector<std::string> ids;
    for (uint32_t i = 0; i < 256; ++i) {
        wire::SP_DEVINFO_DATA dev{};
        dev.cbSize = sizeof dev;
        if (!tree.SetupDiEnumDeviceInfo(set, i, dev)) {
            EXPECT_EQ(tree.GetLastError(), wire::ERROR_NO_MORE_ITEMS_CODE);
            break;
        }
        char id[260] = {};
        ASSERT_TRUE(tree.SetupDiGetDeviceInstanceIdA(set, dev, id, sizeof id - 1, nullptr));
        char viaCm[260] = {};
        EXPECT_EQ(tree.CM_Get_Device_IDA(dev.DevInst, viaCm, sizeof viaCm, 0), wire::CR_SUCCESS_CODE);
        EXPECT_STREQ(viaCm, id);
        ids.emplace_back(id);
    }
    EXPECT_TRUE(tree.SetupDiDestroyDeviceInfoList(set));
    ASSERT_FALSE(ids.empty());
    for (const std::string& id : ids) {
        DEVICE_NODE* chain = mgr.BuildParentChain(id.c_str());
        int depth = 0;
        for (const DEVICE_NODE* n = chain; n != nullptr; n = n->parent) ++depth;
        EXPECT_LT(depth, 64) << id;
        TDevMgr::ReleaseChain(chain);
    }
}

// A class's members as the program finds them (by the class GUID in each device's driver key, the
// way the controller rescan finds them) are exactly the present devices that Windows itself files
// under that class and that have a driver key.
TEST(Win32DeviceTreeTest, ClassMembersAgreeWithTheSetupApi) {
    Win32Platform platform(::GetModuleHandleA(nullptr));
    TDevMgr mgr(platform.Get());
    ASSERT_FALSE(mgr.BindingsMissing());
    Win32DeviceTree& tree = *static_cast<Win32DeviceTree*>(platform.Get().deviceTree);
    const DevInfoSet set = tree.SetupDiGetClassDevsA(nullptr, wire::DIGCF_PRESENT_FLAG | wire::DIGCF_ALLCLASSES_FLAG);
    ASSERT_NE(set, kInvalidDevInfoSet);
    std::vector<std::pair<KGUID, std::vector<std::string>>> classes;  // with a driver key only
    for (uint32_t i = 0; i < 1024; ++i) {
        wire::SP_DEVINFO_DATA dev{};
        dev.cbSize = sizeof dev;
        if (!tree.SetupDiEnumDeviceInfo(set, i, dev)) break;
        char driver[512] = {};
        if (!tree.SetupDiGetDeviceRegistryPropertyA(set, dev, wire::SPDRP_DRIVER_PROP, nullptr, reinterpret_cast<uint8_t*>(driver),
                                                    sizeof driver - 1, nullptr))
            continue;
        char id[512] = {};
        ASSERT_TRUE(tree.SetupDiGetDeviceInstanceIdA(set, dev, id, sizeof id - 1, nullptr));
        auto it = std::find_if(classes.begin(), classes.end(), [&](const auto& c) { return c.first == dev.ClassGuid; });
        if (it == classes.end()) it = classes.insert(classes.end(), {dev.ClassGuid, {}});
        it->second.emplace_back(id);
    }
    EXPECT_TRUE(tree.SetupDiDestroyDeviceInfoList(set));
    ASSERT_FALSE(classes.empty()) << "no present device with a driver key";
    for (auto& [guid, expected] : classes) {
        std::vector<std::string> found;
        EXPECT_EQ(mgr.EnumClassDevices(guid, found), static_cast<int32_t>(expected.size())) << expected[0];
        std::sort(found.begin(), found.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(found, expected);
    }
    // A class no device belongs to has no members.
    const KGUID none = {0x6B657374, 0x7265, 0x6C00, {0, 0, 0, 0, 0, 0, 0, 1}};
    std::vector<std::string> found;
    EXPECT_EQ(mgr.EnumClassDevices(none, found), 0);
    EXPECT_TRUE(found.empty());
}

TEST(Win32ServicesTest, WmiServiceAndDiskCount) {
    Win32Platform platform(::GetModuleHandleA(nullptr));
    TDevMgr mgr(platform.Get());
    const bool running = mgr.IsServiceRunning("Winmgmt") || mgr.StartServiceAndWait("Winmgmt", 20);
    EXPECT_TRUE(running);
    uint32_t count = 0xFFFF;
    EXPECT_TRUE(mgr.WmiQuery("Win32_DiskDrive", count));
    EXPECT_LT(count, 0xFFFFu);
    // A service that does not exist is not running and cannot be started.
    EXPECT_FALSE(mgr.IsServiceRunning("KestrelNoSuchService"));
    EXPECT_FALSE(mgr.StartServiceAndWait("KestrelNoSuchService", 1));
    EXPECT_FALSE(mgr.IsWinPE());
}

}  // namespace
}  // namespace kestrel::win32
