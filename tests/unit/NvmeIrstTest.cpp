// NVMe through Intel RST: the "IntelNvm" pass-through and the "IntelFw " firmware requests on the
// controller port of the RST machine files, against the simulated controller and drive.
#include <gtest/gtest.h>

#include "support/NvmeFixture.h"

using namespace kestrel;
using namespace kestrel::test;
using nlohmann::json;

namespace {

// The RST machines hold one NVMe drive at SCSI port 2, path 1, target 0, LUN 0.
constexpr int kPort = 2;
constexpr uint8_t kPath = 1;

class NvmeIrst : public ::testing::Test {
protected:
    // The machine file with these keys over its NVMe drive; the port selected as the scan does.
    void Build(const json& drive = json::object(), const char* file = "rst15-nvme.json") {
        dev.reset();
        machine = MachineFile(file, [&](json& d) { d["disks"][0]["drive"].merge_patch(drive); });
        dev = std::make_unique<TAtaDevice>(machine->platform());
        ASSERT_EQ(dev->GetDriveCount(), 1);
        ASSERT_TRUE(dev->SelectPort(0, nullptr, kPort, SELECT_NVME));
        auto ctl = std::dynamic_pointer_cast<sim::SimRstController>(machine->storage().Find("\\\\.\\Scsi2:"));
        ASSERT_TRUE(ctl);
        nvme = ctl->DriveAt(kPath, 0, 0);
        ASSERT_TRUE(nvme);
    }
    std::string Log() { return DebugLog(*machine); }

    static wire::NVME_COMMAND IdentifyController() {
        wire::NVME_COMMAND c{};
        c.CDW0 = wire::NVME_ADMIN_IDENTIFY | (0x1234u << 16);
        c.CDW10 = 1;
        return c;
    }
    // Identify Controller through the pass-through: the revision at bytes 64-71.
    std::string Revision() {
        if (!dev->Send_IRST_NVME_PASS_THROUTH(kPath, IdentifyController(), nullptr, 4096, false, nullptr, 30, NVME_DIR_READ))
            return "<no answer>";
        return std::string(reinterpret_cast<const char*>(dev->GetReadBuffer()) + 64, 8);
    }

    std::unique_ptr<sim::SimMachine> machine;
    std::unique_ptr<TAtaDevice> dev;
    std::shared_ptr<sim::SimNvmeDrive> nvme;
};

TEST_F(NvmeIrst, IdentifyControllerThroughThePassThrough) {
    Build();
    wire::INTEL_NVME_PASS_THROUGH header{};
    ASSERT_TRUE(dev->Send_IRST_NVME_PASS_THROUTH(kPath, IdentifyController(), nullptr, 4096, false, &header, 30, NVME_DIR_READ));
    const char* id = reinterpret_cast<const char*>(dev->GetReadBuffer());
    EXPECT_EQ(std::string(id + 24, 17), "KESTREL KN900 1TB");
    EXPECT_EQ(std::string(id + 64, 8), "KN9R0200");
    EXPECT_EQ(dev->GetReadBuffer()[260] >> 1 & 7, 3);  // FRMW: three slots
    EXPECT_EQ(header.Completion.CID, 0x1234);
    EXPECT_EQ(header.Completion.Status, 0x0001);
    EXPECT_EQ(header.Command.CDW10, 1u);
    EXPECT_TRUE(InOrder(Log(), {std::string(104, '=') + " \n",
                                "IRST NVME_PASSTHRU: offset=A8h,ioctlBufferSize=10A8h HeaderLength=1Ch,Length=108Ch,Version=1,PathID=1 \n",
                                "Parameters: DataBufferLength=1000h,DataBufferOffset=A8h,IsIOCommandSet=0 \n", "SRB ReturnCode=0h. \n",
                                "Completion Queue Entry [00 00 00 00 00 00 00 00 - 11 00 00 00 34 12 01 00]\n",
                                "  Command Specific (DW0) : 00000000h\n", "          Reserved (DW1) : 00000000h\n",
                                "    SQ Identifier (SQID) : 0000h\n", "  SQ Head Pointer (SQHD) : 0011h\n",
                                "       Do No Retry (DNR) : 0b\n", "                More (M) : 0b\n",
                                "  Status Code Type (SCT) : 0h\n", "        Status Code (SC) : 00h\n", "           Phase Tag (P) : 1b\n",
                                "Command Identifier (CID) : 1234h\n", std::string(104, '=') + " \n"}));
    EXPECT_EQ(Log().find("Completion Entry Staus Code Error"), std::string::npos);
}

// The pass-through reports DeviceIoControl's outcome; a failing completion is the caller's to judge.
TEST_F(NvmeIrst, ACompletionErrorStillReturnsTrue) {
    Build({{"completion_status", {{"06h", 2}}}});
    wire::INTEL_NVME_PASS_THROUGH header{};
    EXPECT_TRUE(dev->Send_IRST_NVME_PASS_THROUTH(kPath, IdentifyController(), nullptr, 4096, false, &header, 30, NVME_DIR_READ));
    EXPECT_EQ(header.Completion.Status, 0x0005);
    EXPECT_TRUE(InOrder(Log(), {"        Status Code (SC) : 02h\n", "Completion Entry Staus Code Error (SC=2h) ! \n"}));
}

TEST_F(NvmeIrst, ADriverWithoutTheIntelRequestsFailsThePassThrough) {
    Build(json::object(), "rst13-nvme.json");
    wire::INTEL_NVME_PASS_THROUGH header{};
    EXPECT_FALSE(dev->Send_IRST_NVME_PASS_THROUTH(kPath, IdentifyController(), nullptr, 4096, false, &header, 30, NVME_DIR_READ));
    EXPECT_EQ(header.Command.CDW0 & 0xFF, 0x06u);  // the request is copied back on failure too
    EXPECT_TRUE(InOrder(Log(), {"NVMe Opcode(06h) DeviceIoControl Fail ! \n", "SRB ReturnCode=0h, GetLastError <1> -- "}));
    std::vector<uint8_t> buf(wire::kIrstFirmwareBufferSize, 0);
    EXPECT_FALSE(dev->IrstDeviceGetFirmwareInfo(kPort, 0, true, static_cast<uint32_t>(buf.size()), buf.data(), 0, kPath));
    EXPECT_NE(Log().find("Get Firmware Information Failed: <1> -- "), std::string::npos);
}

// Direction 1 without a buffer sends the device object's write buffer and dumps its first 256 bytes.
TEST_F(NvmeIrst, SendingWithoutABufferTakesTheWriteBuffer) {
    Build();
    for (int i = 0; i < 512; ++i) dev->GetWriteBuffer()[i] = static_cast<uint8_t>(0x41 + i % 26);
    wire::NVME_COMMAND set{};
    set.CDW0 = 0x09;  // Set Features, with data
    wire::INTEL_NVME_PASS_THROUGH header{};
    EXPECT_TRUE(dev->Send_IRST_NVME_PASS_THROUTH(kPath, set, nullptr, 512, false, &header, 30, NVME_DIR_WRITE));
    const std::string log = Log();
    EXPECT_TRUE(InOrder(log, {"Send buffer - pDataBuf: display size = 0x100\n",
                              "0000: 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 \"ABCDEFGHIJKLMNOP\"\n",
                              "00F0: 47 48 49 4A 4B 4C 4D 4E 4F 50 51 52 53 54 55 56 \"GHIJKLMNOPQRSTUV\"\n", "SRB ReturnCode=0h. \n"}));
    EXPECT_EQ(log.find("0100: "), std::string::npos);
    EXPECT_EQ(header.Completion.Status >> 1 & 0xFF, 1);  // the drive does not know the opcode
}

// Version-2 slot records are 24 bytes after a 24-byte header: the second slot's number at byte 48.
TEST_F(NvmeIrst, ReadsTheVersionTwoSlotRecords) {
    Build();
    std::vector<uint8_t> buf(wire::kIrstFirmwareBufferSize, 0);
    ASSERT_TRUE(dev->IrstDeviceGetFirmwareInfo(kPort, 0, true, static_cast<uint32_t>(buf.size()), buf.data(), 0, kPath));
    EXPECT_EQ(buf[56 + 48], 2);
    EXPECT_TRUE(InOrder(Log(), {"[IRST] DeviceGetFirmwareInfo - before deviceioctrl\n", "[IRST] DeviceGetFirmwareInfo - after deviceioctrl\n",
                                "<< Firmware Information >>\n", "Slot Count: 3\n", "Current Active Slot: 2\n", "Pending Active Slot: No\n",
                                "Slot Number: 1\n", "Slot Read Only: Yes\n", "Revision: KN9R0100\n", "Slot Number: 2\n",
                                "Slot Read Only: No\n", "Revision: KN9R0200\n", "Slot Number: 3\n"}));
}

TEST_F(NvmeIrst, ASlotCountBeyondTheReplyIsClamped) {
    Build({{"reported_slot_count", 200}});
    std::vector<uint8_t> buf(wire::kIrstFirmwareBufferSize, 0);
    ASSERT_TRUE(dev->IrstDeviceGetFirmwareInfo(kPort, 0, true, static_cast<uint32_t>(buf.size()), buf.data(), 0, kPath));
    EXPECT_NE(Log().find("Slot Count 200 is more than the reply holds; reading 171 slot records\n"), std::string::npos);
    EXPECT_EQ(Count(Log(), "Slot Number: "), 171u);
}

TEST_F(NvmeIrst, UpdatesEndToEndAndTheDriveReportsTheNewRevision) {
    for (const uint32_t size : {5000u, 2u << 20}) {
        SCOPED_TRACE(size);
        Build();
        std::vector<uint8_t> memory = NvmeImage(size);
        memory.resize(size + 4096, 0xEE);
        ASSERT_EQ(dev->IrstFirmwareUpdate(kPort, 0, 3, 2, size, memory.data(), 0, kPath), 1);
        const auto& req = nvme->Requests();
        const uint32_t chunks = (size + 4095) / 4096;
        ASSERT_EQ(req.size(), chunks + 2);
        EXPECT_EQ(req.front(), "info");
        for (uint32_t k = 0; k < chunks; ++k) EXPECT_EQ(req[1 + k], "download " + std::to_string(k * 4096) + " 4096 slot 255");
        EXPECT_EQ(req.back(), "activate 2 version 1");  // version 1 whatever the commit action
        const auto& sent = nvme->LastImage();
        EXPECT_TRUE(std::all_of(sent.begin() + size, sent.end(), [](uint8_t b) { return b == 0; }));
        EXPECT_EQ(Revision(), "KN9R0300");
        EXPECT_TRUE(InOrder(Log(), {"[IRST] Get firmware slot information data ... \n", "Download the firmware image - slot number: 2 , size : ",
                                    "No more to download\n", "Firmware activate succeeded \n"}));
    }
}

TEST_F(NvmeIrst, ARejectedImageFailsTheUpdate) {
    Build({{"reject_images", true}});
    const auto image = NvmeImage(5000);
    EXPECT_EQ(dev->IrstFirmwareUpdate(kPort, 0, 1, 2, 5000, image.data(), 0, kPath), 0);
    EXPECT_NE(Log().find("Firmware activate, invalid firmware image \n"), std::string::npos);
    EXPECT_EQ(Revision(), "KN9R0200");
}

TEST_F(NvmeIrst, ActivationFailingFiveTimesFails) {
    Build({{"faults", {{{"request", "activate"}, {"win_error", 1117}}}}});
    const auto image = NvmeImage(4096);
    EXPECT_EQ(dev->IrstFirmwareUpdate(kPort, 0, 1, 2, 4096, image.data(), 0, kPath), 0);
    EXPECT_EQ(Count(Log(), "Firmware activate RETRY "), 4u);
}

}  // namespace
