// NVMe firmware through the inbox driver, against the simulated drive, which decodes the requests
// from the published layouts at raw offsets.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "support/NvmeFixture.h"

using namespace kestrel;
using namespace kestrel::test;
using nlohmann::json;

namespace {

class NvmeInbox : public InboxFixture {};

// Images of several sizes, downloaded and activated; a fresh identify then reports the new
// revision. Every chunk is 4096 bytes at consecutive offsets; the last one is zero past the image,
// never filled from what follows the image in memory.
TEST_F(NvmeInbox, UpdatesEndToEndAndTheDriveReportsTheNewRevision) {
    struct Case {
        uint32_t size;
        uint32_t chunks;
    };
    for (const Case c : {Case{8192, 2}, Case{5000, 2}, Case{2u << 20, 512}}) {
        SCOPED_TRACE(c.size);
        Build();
        std::vector<uint8_t> memory = NvmeImage(c.size);
        memory.resize(c.size + 8192, 0xEE);  // what lies after the image must not be sent
        ASSERT_EQ(dev->NvmeFirmwareUpdate(memory.data(), c.size, 1, 2), 1);
        const auto& req = nvme->Requests();
        ASSERT_EQ(req.size(), c.chunks + 2);
        EXPECT_EQ(req.front(), "info");
        for (uint32_t k = 0; k < c.chunks; ++k) EXPECT_EQ(req[1 + k], "download " + std::to_string(k * 4096) + " 4096");
        EXPECT_EQ(req.back(), "activate 2 version 1");
        const auto& sent = nvme->LastImage();
        ASSERT_EQ(sent.size(), size_t{c.chunks} * 4096);
        EXPECT_TRUE(std::equal(sent.begin(), sent.begin() + c.size, memory.begin()));
        EXPECT_TRUE(std::all_of(sent.begin() + c.size, sent.end(), [](uint8_t b) { return b == 0; }));
        EXPECT_EQ(IdentifyRevision(*dev, 0), "KN9R0300");
        if (c.size == 8192) {
            EXPECT_TRUE(InOrder(Log(), {"Get firmware slot information data ... \n",
                                        "Download the firmware image - slot number: 2 , size : 8192 (2000) ...\n",
                                        "OFFSET : 00000000h , LEN : 1000h , Buf : 4B 53 49 4D 46\n",
                                        "OFFSET : 00001000h , LEN : 1000h , Buf : ", "No more to download\n",
                                        "Activate the assigned firmware slot ... \n", "Firmware activate succeeded \n",
                                        "return without delay 3 secs ...\n"}));
        }
    }
}

TEST_F(NvmeInbox, TheDefaultMachinesNvmeDiskUpdatesThroughTheDeviceManager) {
    auto machine = InboxMachine();
    TAtaDevice dev(machine->platform());
    const int32_t idx = DiskIndex(dev, BUS_TYPE_NVME);
    ASSERT_GE(idx, 0);
    EXPECT_EQ(IdentifyRevision(dev, idx), "KN9R0200");
    EXPECT_FALSE(dev.IsOpen());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(dev.GetReadBuffer()) + 3072, 23), "CN0KN9A2613000045700A01");
    ASSERT_TRUE(dev.SelectPort(idx, dev.GetDriveRecord(idx)->DevicePath, -1, SELECT_NVME));
    const auto image = NvmeImage(5000);
    ASSERT_EQ(dev.NvmeFirmwareUpdate(image.data(), 5000, 1, 2), 1);
    EXPECT_EQ(IdentifyRevision(dev, idx), "KN9R0300");
}

// Which slot is downloaded to and activated.
TEST_F(NvmeInbox, ChoosesTheSlot) {
    struct Case {
        const char* name;
        json drive;
        uint8_t requested;
        uint8_t result;
        const char* activate;  // the activate request, or "" when none is sent
    };
    const Case cases[] = {
        {"fewer slots than requested: the first writable", {{"slot_count", 2}, {"slot_revisions", {"KN9R0100", ""}}}, 3, 1, "activate 2 version 1"},
        {"one slot, not read-only", {{"slot_count", 1}, {"active_slot", 1}, {"slot1_read_only", false}, {"slot_revisions", json::array()}}, 2, 1, "activate 1 version 1"},
        {"every slot read-only", {{"slot_count", 1}, {"active_slot", 1}, {"slot_revisions", json::array()}}, 2, 0, ""},
        {"no upgrade support", {{"upgrade_support", false}}, 2, 0, ""},
        {"requested slot 0: the drive chooses", json::object(), 0, 1, "activate 0 version 1"},
        {"the requested slot", json::object(), 3, 1, "activate 3 version 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Build(c.drive);
        const auto image = NvmeImage(4096);
        EXPECT_EQ(dev->NvmeFirmwareUpdate(image.data(), 4096, 1, c.requested), c.result);
        const auto& req = nvme->Requests();
        if (*c.activate) {
            EXPECT_EQ(req.back(), c.activate);
        } else {
            EXPECT_EQ(req, std::vector<std::string>{"info"});
            EXPECT_NE(Log().find("No writable firmware slot \n"), std::string::npos);
        }
    }
}

// The activation's ReturnCode: its line, and only 0 and 32 make a successful update.
TEST_F(NvmeInbox, ActivationReturnCodes) {
    struct Case {
        uint32_t rc;
        const char* line;
        uint8_t result;
    };
    const Case cases[] = {
        {0, "Firmware activate succeeded \n", 1},
        {1, "Firmware activate, error returned \n", 0},
        {16, "Firmware activate, error returned \n", 0},
        {2, "FirmwareUpgrade - firmware activate parameter error. srbControl->ReturnCode 2\n", 0},
        {3, "FirmwareUpgrade - firmware activate parameter error. srbControl->ReturnCode 3\n", 0},
        {4, "FirmwareUpgrade - firmware activate parameter error. srbControl->ReturnCode 4\n", 0},
        {6, "Firmware activate, slot number invalid \n", 0},
        {7, "Firmware activate, invalid firmware image \n", 0},
        {32, "Firmware activate succeeded. PLEASE REBOOT COMPUTER \n", 1},
        {9, "Firmware activate, unexpected error. srbControl->ReturnCode 9\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rc);
        Build({{"activate_return_code", c.rc}});
        const auto image = NvmeImage(4096);
        EXPECT_EQ(dev->NvmeFirmwareUpdate(image.data(), 4096, 1, 2), c.result);
        EXPECT_EQ(dev->dwFwReturnCode, c.rc);
        EXPECT_TRUE(InOrder(Log(), {c.line, "return without delay 3 secs ...\n"}));
        EXPECT_EQ(IdentifyRevision(*dev, 0), c.rc == 0 ? "KN9R0300" : "KN9R0200");
    }
}

// A drive that refuses the image: the update fails and the drive keeps its firmware.
TEST_F(NvmeInbox, ARejectedImageFailsTheUpdate) {
    Build({{"reject_images", true}});
    const auto image = NvmeImage(5000);
    EXPECT_EQ(dev->NvmeFirmwareUpdate(image.data(), 5000, 1, 2), 0);
    EXPECT_NE(Log().find("Firmware activate, invalid firmware image \n"), std::string::npos);
    EXPECT_EQ(IdentifyRevision(*dev, 0), "KN9R0200");

    Build();  // an image for another model
    sim::SimImageSpec other;
    other.models = {"KESTREL KS600*"};
    other.revision = "KS6R0300";
    std::string why;
    const auto foreign = sim::BuildSimImage(other, why);
    EXPECT_EQ(dev->NvmeFirmwareUpdate(foreign.data(), static_cast<uint32_t>(foreign.size()), 1, 2), 0);
    EXPECT_EQ(IdentifyRevision(*dev, 0), "KN9R0200");
}

// With ReturnCode 32 the new firmware runs after the next power cycle: a later run.
TEST_F(NvmeInbox, ActivationNeedingAResetShowsTheRevisionInTheNextRun) {
    const auto state = std::filesystem::temp_directory_path() / ("kestrel-nvme-" + std::to_string(::getpid()));
    std::filesystem::remove_all(state);
    sim::SimOptions options;
    options.stateDir = state;
    Build({{"activate_return_code", 32}}, options);
    const auto image = NvmeImage(5000);
    ASSERT_EQ(dev->NvmeFirmwareUpdate(image.data(), 5000, 1, 2), 1);
    EXPECT_EQ(IdentifyRevision(*dev, 0), "KN9R0200");
    std::vector<uint8_t> info(wire::kMiniportFirmwareBufferSize, 0);
    ASSERT_TRUE(dev->SelectPort(0, kNvmePath, -1, SELECT_NVME));
    ASSERT_TRUE(dev->DeviceGetFirmwareInfo(info.data(), static_cast<uint32_t>(info.size()), true));
    EXPECT_NE(Log().find("Pending Active Slot: 2\n"), std::string::npos);

    Build({{"activate_return_code", 32}}, options);
    EXPECT_EQ(IdentifyRevision(*dev, 0), "KN9R0300");
    std::filesystem::remove_all(state);
}

TEST_F(NvmeInbox, ActivationIsRetriedOnlyWhenDeviceIoControlFails) {
    struct Case {
        int failures;
        uint8_t result;
    };
    for (const Case c : {Case{5, 0}, Case{4, 1}}) {
        SCOPED_TRACE(c.failures);
        Build({{"faults", {{{"request", "activate"}, {"fail_first", c.failures}, {"win_error", 1117}}}}});
        const auto image = NvmeImage(4096);
        EXPECT_EQ(dev->NvmeFirmwareUpdate(image.data(), 4096, 1, 2), c.result);
        const std::string log = Log();
        EXPECT_EQ(Count(log, "Activate the assigned firmware slot ... \n"), 5u);
        EXPECT_EQ(Count(log, "DeviceIoControl - firmware activate failed. <1117> -- "), static_cast<size_t>(c.failures));
        EXPECT_TRUE(InOrder(log, {"Firmware activate RETRY 1\n", "Firmware activate RETRY 2\n", "Firmware activate RETRY 3\n",
                                  "Firmware activate RETRY 4\n"}));
        EXPECT_EQ(log.find("Firmware activate RETRY 5\n"), std::string::npos);
    }
}

// Failures before the activation end the update at once.
TEST_F(NvmeInbox, InformationAndDownloadFailures) {
    struct Case {
        const char* name;
        json fault;
        const char* line;
        size_t requests;
    };
    const Case cases[] = {
        {"information ReturnCode", {{"request", "info"}, {"return_code", 1}}, "Get firmware information failed. SRB ReturnCode 1\n", 1},
        {"information request fails", {{"request", "info"}, {"win_error", 1117}}, "Get Firmware Information Failed: <1117> -- ", 1},
        {"download ReturnCode", {{"request", "download"}, {"return_code", 3}}, "Firmware Upgrade - firmware download failed. srbControl->ReturnCode 3\n", 2},
        {"download fails", {{"request", "download"}, {"win_error", 1117}}, "DeviceIoControl - firmware download failed. <1117> -- ", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Build({{"faults", {c.fault}}});
        const auto image = NvmeImage(8192);
        EXPECT_EQ(dev->NvmeFirmwareUpdate(image.data(), 8192, 1, 2), 0);
        EXPECT_NE(Log().find(c.line), std::string::npos);
        EXPECT_EQ(nvme->Requests().size(), c.requests);
    }
}

TEST_F(NvmeInbox, AnEmptyImageSendsNothingAndFails) {
    Build();
    const uint8_t byte = 0;
    EXPECT_EQ(dev->NvmeFirmwareUpdate(&byte, 0, 1, 2), 0);
    EXPECT_EQ(dev->NvmeFirmwareUpdate(nullptr, 4096, 1, 2), 0);
    EXPECT_TRUE(nvme->Requests().empty());
}

// The information log; revisions are fixed 8-byte fields, printed with their width.
TEST_F(NvmeInbox, LogsTheSlotInformation) {
    Build();
    std::vector<uint8_t> buf(wire::kMiniportFirmwareBufferSize, 0);
    ASSERT_TRUE(dev->DeviceGetFirmwareInfo(buf.data(), static_cast<uint32_t>(buf.size()), true));
    EXPECT_TRUE(InOrder(Log(), {"DeviceGetFirmwareInfo - before deviceioctrl\n", "DeviceGetFirmwareInfo - after deviceioctrl\n",
                                "<< Firmware Information >>\n", "Support upgrade command: Yes\n", "Slot Count: 3\n",
                                "Current Active Slot: 2\n", "Pending Active Slot: No\n", "] :  ", "Slot Number: 1\n",
                                "Slot Read Only: Yes\n", "Revision: KN9R0100\n", "Slot Number: 2\n", "Slot Read Only: No\n",
                                "Revision: KN9R0200\n", "Slot Number: 3\n", "Revision: \n"}));
}

// A stated slot count larger than the caller's buffer holds is clamped to the records that fit.
TEST_F(NvmeInbox, ASlotCountBeyondTheReplyIsClamped) {
    Build({{"reported_slot_count", 200}});
    std::vector<uint8_t> buf(52 + 16 + 2 * 16, 0);
    ASSERT_TRUE(dev->DeviceGetFirmwareInfo(buf.data(), static_cast<uint32_t>(buf.size()), true));
    const std::string log = Log();
    EXPECT_NE(log.find("Slot Count: 200\n"), std::string::npos);
    EXPECT_NE(log.find("Slot Count 200 is more than the reply holds; reading 2 slot records\n"), std::string::npos);
    EXPECT_EQ(Count(log, "Slot Number: "), 2u);
}

TEST_F(NvmeInbox, IdentifyFailureIsReportedAndTheHandleClosed) {
    Build({{"faults", {{{"request", "identify"}, {"win_error", 31}}}}});
    EXPECT_FALSE(dev->DoIdentifyDeviceNVMeStorageQuery(0));
    EXPECT_FALSE(dev->IsOpen());
    EXPECT_TRUE(InOrder(Log(), {"DoIdentifyDeviceNVMeStorageQuery Handle released\n", "DoIdentifyDeviceNVMeStorageQuery Created OK !!\n",
                                "DoIdentifyDeviceNVMeStorageQuery sPhysicalDrive= , pRegData[idx].DevicePath=\\\\?\\scsi#disk&ven_nvme",
                                "DoIdentifyDeviceNVMeStorageQuery::NVMe DeviceIoControl Fail (IOCTL_STORAGE_QUERY_PROPERTY). GetLastErr=<31> -- ",
                                "Final : DoIdentifyDeviceNVMeStorageQuery Handle released\n"}));
}

// A reply that places the identify data elsewhere than the request asked is not taken for it.
TEST_F(NvmeInbox, IdentifyDataOutsideTheReplyIsRefused) {
    struct Case {
        uint32_t offset;
        bool ok;
    };
    for (const Case c : {Case{40, true}, Case{4000, false}, Case{0xFFFFFFF0u, false}}) {
        SCOPED_TRACE(c.offset);
        Build({{"identify_data_offset", c.offset}});
        EXPECT_EQ(dev->DoIdentifyDeviceNVMeStorageQuery(0), c.ok);
        EXPECT_EQ(Log().find("DoIdentifyDeviceNVMeStorageQuery: the reply places 4096 identify bytes at offset ") == std::string::npos, c.ok);
    }
}

}  // namespace
