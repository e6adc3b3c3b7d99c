// Physical drive enumeration over simulated machines: order, repeated runs, bounds.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "discovery/DevMgr.h"
#include "unit/DiscoveryMachine.h"

using namespace kestrel;
using namespace kestrel::testing;
using nlohmann::json;

namespace {

json Addr(int port, int path, int target, int lun) { return {{"port", port}, {"path", path}, {"target", target}, {"lun", lun}}; }

// After any enumeration nothing stays open: no device information set, disk or service handle.
void ExpectNothingOpen(sim::SimMachine& m) {
    EXPECT_EQ(m.deviceTree().OpenSets(), 0u);
    EXPECT_EQ(m.storage().OpenHandles(), 0u);
    EXPECT_EQ(m.services().OpenHandles(), 0u);
}

struct OrderCase {
    const char* name;
    std::vector<json> disks;  // per disk: the answers that differ from the defaults
    const char* expected;     // friendly names in list order
};

class AddressOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(AddressOrder, ListFollowsScsiAddress) {
    json m = BaseMachine();
    const char* names[] = {"A", "B", "C", "D"};
    for (size_t i = 0; i < GetParam().disks.size(); ++i) AddDisk(m, names[i], GetParam().disks[i]);
    auto machine = MakeMachine(m);
    TDevMgr mgr(machine->platform());
    ASSERT_TRUE(mgr.EnumPhysicalDrives());
    EXPECT_EQ(Names(mgr.GetDiskList(), mgr.GetDiskCount()), GetParam().expected);
    ExpectNothingOpen(*machine);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AddressOrder,
    ::testing::Values(
        OrderCase{"AlreadyOrdered", {{{"scsi_address", Addr(0, 0, 0, 0)}}, {{"scsi_address", Addr(0, 0, 1, 0)}}}, "A,B"},
        OrderCase{"WithoutAddressLast",
                  {{{"scsi_address", nullptr}}, {{"scsi_address", Addr(0, 0, 1, 0)}}, {{"scsi_address", Addr(0, 0, 0, 0)}}},
                  "C,B,A"},
        OrderCase{"WithoutAddressKeepEnumerationOrder",
                  {{{"scsi_address", nullptr}}, {{"scsi_address", Addr(2, 0, 0, 0)}}, {{"scsi_address", nullptr}}},
                  "B,A,C"},
        OrderCase{"EqualKeysLaterFirst",
                  {{{"scsi_address", Addr(0, 0, 0, 0)}}, {{"scsi_address", Addr(0, 0, 0, 0)}}, {{"scsi_address", Addr(0, 0, 0, 0)}}},
                  "C,B,A"},
        OrderCase{"PathIdBetweenTargetAndPort",
                  {{{"scsi_address", Addr(1, 0, 0, 0)}}, {{"scsi_address", Addr(0, 1, 0, 0)}}, {{"scsi_address", Addr(0, 0, 15, 0)}}},
                  "C,B,A"},
        OrderCase{"LunCounts", {{{"scsi_address", Addr(0, 0, 1, 1)}}, {{"scsi_address", Addr(0, 0, 1, 0)}}}, "B,A"},
        // A disk that cannot be opened has no address; it is not taken for 0-0-0-0.
        OrderCase{"CannotBeOpenedSortsWithTheUnaddressed",
                  {{{"scsi_address", Addr(0, 0, 1, 0)}}, {{"open_error", 5}}, {{"scsi_address", Addr(0, 0, 2, 0)}}},
                  "A,C,B"},
        // A reply of any other length than the 8-byte address is no address.
        OrderCase{"WrongReplyLengthIsNoAddress",
                  {{{"scsi_address", Addr(0, 0, 0, 0)}, {"scsi_address_bytes", 12}}, {{"scsi_address", Addr(0, 0, 5, 0)}}},
                  "B,A"}),
    [](const auto& c) { return std::string(c.param.name); });

TEST(DiskEnum, RecordCarriesPathQueriesAndProperties) {
    json m = BaseMachine();
    AddDisk(m, "SATA0", {{"product_revision", "KS6R0100"}, {"serial_number", "KS6A2613000000001234"}});
    AddDisk(m, "NVME0", {{"bus_type", 17}, {"scsi_address", Addr(1, 0, 0, 0)}}, kNvmeController);
    AddDisk(m, "DEAD", {{"property_query_fails", true}, {"scsi_address", Addr(2, 0, 0, 0)}});
    auto machine = MakeMachine(m);
    TDevMgr mgr(machine->platform());
    ASSERT_TRUE(mgr.EnumPhysicalDrives());
    ASSERT_EQ(mgr.GetDiskCount(), 3);
    const REG_DATA* r = mgr.GetDiskList();
    EXPECT_STREQ(r[0].friendlyName, "SATA0");
    EXPECT_STREQ(r[0].service, "disk");
    EXPECT_STREQ(r[0].location, "Bus Number 0, Target Id 0, LUN 0");
    EXPECT_EQ(std::string(r[0].DevicePath).find("\\\\?\\scsi#disk&ven_&prod_SATA0#"), 0u);
    EXPECT_EQ(r[0].BusType, BUS_TYPE_SATA);
    EXPECT_EQ(std::string(r[0].productRevision, 8), "KS6R0100");
    EXPECT_EQ(std::string(r[0].serialNumber, 20), "KS6A2613000000001234");
    EXPECT_EQ(r[0].ParentVid, 0x8086);
    EXPECT_EQ(r[0].ParentDid, 0xA352);
    ASSERT_NE(r[0].ancestors, nullptr);
    EXPECT_STREQ(r[0].ancestors->service, "storahci");
    EXPECT_EQ(r[1].BusType, BUS_TYPE_NVME);
    EXPECT_STREQ(r[1].ancestors->service, "stornvme");
    EXPECT_EQ(r[1].ParentVid, 0x1F2A);
    // A disk that refuses the property query keeps zero bus type, revision and serial.
    EXPECT_EQ(r[2].BusType, 0);
    EXPECT_EQ(std::string(r[2].productRevision, 8), std::string(8, '\0'));
    EXPECT_EQ(std::string(r[2].serialNumber, 20), std::string(20, '\0'));
    ExpectNothingOpen(*machine);
}

// A short text brings the descriptor bytes after it: the field is copied as it stands.
TEST(DiskEnum, ShortTextsCopyTheFollowingDescriptorBytes) {
    json m = BaseMachine();
    AddDisk(m, "A", {{"product_revision", "R1"}, {"serial_number", "S1"}});
    auto machine = MakeMachine(m);
    TDevMgr mgr(machine->platform());
    ASSERT_TRUE(mgr.EnumPhysicalDrives());
    const REG_DATA& r = mgr.GetDiskList()[0];
    // revision "R1\0" is followed by the serial's text.
    EXPECT_EQ(std::string(r.productRevision, 8), std::string("R1\0S1\0\0\0", 8));
}

struct OffsetCase {
    const char* name;
    json revisionOffset;
    json serialOffset;
    std::string revision;  // 8 bytes expected
    std::string serial;    // 20 bytes expected
};

class DescriptorOffsets : public ::testing::TestWithParam<OffsetCase> {};

// Offsets near or past the end of the 256-byte descriptor copy only what lies inside it.
TEST_P(DescriptorOffsets, CopiesStayInsideTheDescriptor) {
    json m = BaseMachine();
    AddDisk(m, "A",
            {{"product_revision", "ABCDEFGH"},
             {"serial_number", "0123456789abcdefghij"},
             {"descriptor", {{"product_revision_offset", GetParam().revisionOffset}, {"serial_number_offset", GetParam().serialOffset}}}});
    auto machine = MakeMachine(m);
    TDevMgr mgr(machine->platform());
    ASSERT_TRUE(mgr.EnumPhysicalDrives());
    ASSERT_EQ(mgr.GetDiskCount(), 1);
    const REG_DATA& r = mgr.GetDiskList()[0];
    EXPECT_EQ(std::string(r.productRevision, 8), GetParam().revision);
    EXPECT_EQ(std::string(r.serialNumber, 20), GetParam().serial);
}

const std::string Z(size_t n) { return std::string(n, '\0'); }

INSTANTIATE_TEST_SUITE_P(
    Cases, DescriptorOffsets,
    ::testing::Values(OffsetCase{"Inside", 100, 120, "ABCDEFGH", "0123456789abcdefghij"},
                      OffsetCase{"RevisionCutAtTheEnd", 250, 120, "ABCDEF" + Z(2), "0123456789abcdefghij"},
                      OffsetCase{"SerialCutAtTheEnd", 100, 240, "ABCDEFGH", "0123456789abcdef" + Z(4)},
                      OffsetCase{"LastByte", 255, 200, "A" + Z(7), "0123456789abcdefghij"},
                      OffsetCase{"AtTheEnd", 256, 256, Z(8), Z(20)},
                      OffsetCase{"FarPast", 0xFFFFFFF0u, 0x7FFFFFFFu, Z(8), Z(20)},
                      OffsetCase{"ZeroMeansNone", 0, 0, Z(8), Z(20)}),
    [](const auto& c) { return std::string(c.param.name); });

TEST(DiskEnum, LongPropertiesAreCutToTheirFields) {
    json m = BaseMachine();
    AddDisk(m, "A");
    const std::string longName(400, 'N');
    m["device_tree"]["nodes"].back()["friendly_name"] = longName;
    m["device_tree"]["nodes"].back()["location"] = std::string(260, 'L');  // 261 bytes with the zero
    auto machine = MakeMachine(m);
    TDevMgr mgr(machine->platform());
    ASSERT_TRUE(mgr.EnumPhysicalDrives());
    const REG_DATA& r = mgr.GetDiskList()[0];
    EXPECT_EQ(std::string(r.friendlyName), longName.substr(0, 259));
    EXPECT_EQ(std::string(r.location), std::string(259, 'L'));
    EXPECT_STREQ(r.service, "disk");
}

// An instance ID longer than its field cannot be read: the record keeps an empty ID and no chain.
TEST(DiskEnum, OverlongInstanceIdLeavesTheRecordWithoutChain) {
    json m = BaseMachine();
    AddDisk(m, "A");
    const std::string longId = "SCSI\\Disk&Ven_&Prod_" + std::string(300, 'X') + "\\1";
    m["device_tree"]["nodes"].back()["id"] = longId;
    m["disks"].back()["node"] = longId;
    auto machine = MakeMachine(m);
    TDevMgr mgr(machine->platform());
    ASSERT_TRUE(mgr.EnumPhysicalDrives());
    ASSERT_EQ(mgr.GetDiskCount(), 1);
    EXPECT_STREQ(mgr.GetDiskList()[0].instanceId, "");
    EXPECT_EQ(mgr.GetDiskList()[0].ancestors, nullptr);
}

// A path that does not fit the 512-byte detail record leaves that disk out; the others stay.
TEST(DiskEnum, OverlongPathLeavesTheDiskOut) {
    json m = BaseMachine();
    AddDisk(m, "A");
    AddDisk(m, "B")["path"] = "\\\\?\\" + std::string(600, 'p');
    AddDisk(m, "C");
    auto machine = MakeMachine(m);
    TDevMgr mgr(machine->platform());
    ASSERT_TRUE(mgr.EnumPhysicalDrives());
    EXPECT_EQ(Names(mgr.GetDiskList(), mgr.GetDiskCount()), "A,C");
    EXPECT_EQ(mgr.EnumerationRuns(), 11);  // WMI counts three
}

struct RunsCase {
    const char* name;
    int hiddenFor;        // the last disk is missing from the first n enumerations
    json wmiCount;        // null: as many as the machine has
    int expectedRuns;
    int expectedCount;
};

class EnumerationRuns : public ::testing::TestWithParam<RunsCase> {};

TEST_P(EnumerationRuns, RepeatUntilTheCountMatches) {
    json m = BaseMachine();
    AddDisk(m, "A");
    AddDisk(m, "B", {{"hidden_for_first_enumerations", GetParam().hiddenFor}});
    if (!GetParam().wmiCount.is_null()) m["wmi"]["disk_count"] = GetParam().wmiCount;
    auto machine = MakeMachine(m);
    TDevMgr mgr(machine->platform());
    ASSERT_TRUE(mgr.EnumPhysicalDrives());
    EXPECT_EQ(mgr.EnumerationRuns(), GetParam().expectedRuns);
    EXPECT_EQ(mgr.GetDiskCount(), GetParam().expectedCount);
    ExpectNothingOpen(*machine);
}

INSTANTIATE_TEST_SUITE_P(Cases, EnumerationRuns,
                         ::testing::Values(RunsCase{"FirstRunMatches", 0, nullptr, 1, 2},
                                           RunsCase{"LateDiskFoundOnTheFourthRun", 3, nullptr, 4, 2},
                                           RunsCase{"LateDiskFoundOnTheLastRun", 10, nullptr, 11, 2},
                                           RunsCase{"NeverMatchesAllElevenRuns", 20, nullptr, 11, 1},
                                           RunsCase{"WmiCountsMoreThanPresent", 0, 5, 11, 2},
                                           RunsCase{"WmiCountsFewerListsThatMany", 0, 1, 1, 1},
                                           RunsCase{"WmiCountsNoneListsNone", 0, 0, 1, 0}),
                         [](const auto& c) { return std::string(c.param.name); });

TEST(DiskEnum, NoWmiAndNoDisksIsAnEmptyList) {
    json m = BaseMachine();
    m["wmi"]["usable"] = false;
    auto machine = MakeMachine(m);
    TDevMgr mgr(machine->platform());
    EXPECT_TRUE(mgr.EnumPhysicalDrives());
    EXPECT_EQ(mgr.iExpectedCount, 0);
    EXPECT_EQ(mgr.GetDiskCount(), 0);
    EXPECT_EQ(mgr.EnumerationRuns(), 1);
}

// More disks than the discovery handles: the first sixteen interfaces, in address order.
TEST(DiskEnum, MoreThanSixteenDisksKeepsSixteen) {
    json m = BaseMachine();
    for (int i = 0; i < 20; ++i) AddDisk(m, "D" + std::to_string(i), {{"scsi_address", Addr(0, 0, 19 - i, 0)}});
    auto machine = MakeMachine(m);
    TDevMgr mgr(machine->platform());
    ASSERT_TRUE(mgr.EnumPhysicalDrives());
    EXPECT_EQ(mgr.iExpectedCount, 20);
    EXPECT_EQ(mgr.GetDiskCount(), kMaxDisks);
    EXPECT_EQ(mgr.EnumerationRuns(), 1);
    EXPECT_STREQ(mgr.GetDiskList()[0].friendlyName, "D15");
    EXPECT_STREQ(mgr.GetDiskList()[15].friendlyName, "D0");
}

TEST(DiskEnum, EnumeratingAgainReplacesTheList) {
    json m = BaseMachine();
    AddDisk(m, "A");
    AddDisk(m, "B", {}, kNvmeController);
    auto machine = MakeMachine(m);
    TDevMgr mgr(machine->platform());
    ASSERT_TRUE(mgr.EnumPhysicalDrives());
    ASSERT_TRUE(mgr.EnumPhysicalDrives());
    EXPECT_EQ(Names(mgr.GetDiskList(), mgr.GetDiskCount()), "A,B");
}

// Sharing between the disks of one run gives the chains that one disk at a time would.
TEST(DiskEnum, SharedChainsEqualSeparateOnes) {
    json m = BaseMachine();
    for (int i = 0; i < 4; ++i) AddDisk(m, "S" + std::to_string(i));
    for (int i = 0; i < 3; ++i) AddDisk(m, "N" + std::to_string(i), {{"scsi_address", Addr(1, 0, i, 0)}}, kNvmeController);
    auto machine = MakeMachine(m);
    TDevMgr mgr(machine->platform());
    ASSERT_TRUE(mgr.EnumPhysicalDrives());
    ASSERT_EQ(mgr.GetDiskCount(), 7);
    for (int32_t i = 0; i < mgr.GetDiskCount(); ++i) {
        const REG_DATA& r = mgr.GetDiskList()[i];
        DEVICE_NODE* separate = mgr.BuildParentChain(r.instanceId);
        const DEVICE_NODE* a = r.ancestors;
        const DEVICE_NODE* b = separate;
        int depth = 0;
        for (; a != nullptr && b != nullptr; a = a->parent, b = b->parent, ++depth) {
            EXPECT_STREQ(a->instanceId, b->instanceId);
            EXPECT_STREQ(a->service, b->service);
            EXPECT_TRUE(a->classGuid == b->classGuid);
            EXPECT_EQ(a->vendorId, b->vendorId);
            EXPECT_EQ(a->deviceId, b->deviceId);
        }
        EXPECT_EQ(a, nullptr);
        EXPECT_EQ(b, nullptr);
        EXPECT_EQ(depth, 3);
        TDevMgr::ReleaseChain(separate);
    }
}

// What one enumeration costs in setup-API and configuration-manager calls, with 16 disks split
// over the two controllers; the number is printed for the record and bounded against regressions.
TEST(DiskEnum, DeviceTreeCallsForSixteenDisks) {
    json m = BaseMachine();
    for (int i = 0; i < 8; ++i) AddDisk(m, "S" + std::to_string(i));
    for (int i = 0; i < 8; ++i) AddDisk(m, "N" + std::to_string(i), {{"scsi_address", Addr(1, 0, i, 0)}}, kNvmeController);
    auto machine = MakeMachine(m);
    TDevMgr mgr(machine->platform());
    machine->deviceTree().ResetCounters();
    ASSERT_TRUE(mgr.EnumPhysicalDrives());
    ASSERT_EQ(mgr.GetDiskCount(), 16);
    const uint64_t shared = machine->deviceTree().Calls();
    for (const auto& [name, n] : machine->deviceTree().CallsByName())
        std::printf("  %-36s %llu\n", name.c_str(), static_cast<unsigned long long>(n));

    // The same chains one disk at a time, without sharing, for comparison.
    machine->deviceTree().ResetCounters();
    std::vector<REG_DATA> records(16);
    ASSERT_EQ(mgr.EnumDiskInterfaces(records.data(), 16), 16);
    for (REG_DATA& r : records) TDevMgr::ReleaseChain(mgr.BuildParentChain(r.instanceId));
    const uint64_t separate = machine->deviceTree().Calls();

    std::printf("device-tree calls for one EnumPhysicalDrives of 16 disks: %llu (chains one disk at a time: %llu)\n",
                static_cast<unsigned long long>(shared), static_cast<unsigned long long>(separate));
    EXPECT_LT(shared, separate);
    EXPECT_LE(shared, 240u);
}

TEST(DiskEnum, DeviceNumbersOfDiskAndVolume) {
    json m = BaseMachine();
    AddDisk(m, "A", {{"device_number", 3}});
    AddDisk(m, "B", {{"device_number", nullptr}});
    m["volumes"] = json::array({{{"path", "\\\\.\\C:"}, {"device_number", 3}}});
    auto machine = MakeMachine(m);
    TDevMgr mgr(machine->platform());
    ASSERT_TRUE(mgr.EnumPhysicalDrives());
    EXPECT_EQ(mgr.GetDeviceNumber(mgr.GetDiskList()[0].DevicePath), 3);
    EXPECT_EQ(mgr.GetDeviceNumber(mgr.GetDiskList()[1].DevicePath), -1);
    EXPECT_EQ(mgr.GetDeviceNumber("\\\\.\\C:"), 3);
    EXPECT_EQ(mgr.GetDeviceNumber("\\\\.\\D:"), -1);
    ExpectNothingOpen(*machine);
}

}  // namespace

namespace {

// A storage stack whose every reply is random: random success, random claimed length (bounded by
// the caller's buffer, as DeviceIoControl is), random bytes. The enumeration must stay inside its
// buffers whatever comes back (the sanitizers watch).
class RandomStorage : public IStorage {
public:
    explicit RandomStorage(uint32_t seed) : state_(seed) {}
    DevHandle CreateFileA(const std::string&, uint32_t, uint32_t, uint32_t, uint32_t) override {
        return Next() % 8 == 0 ? kInvalidDevHandle : 0x100 + (Next() & 0xFF);
    }
    bool DeviceIoControl(DevHandle, uint32_t, const void*, uint32_t, void* out, uint32_t outSize, uint32_t& returned) override {
        auto* o = static_cast<uint8_t*>(out);
        for (uint32_t i = 0; i < outSize; ++i) o[i] = static_cast<uint8_t>(Next());
        // Offsets that point anywhere, often near the end of the descriptor.
        if (outSize >= 28 && Next() % 2) {
            const uint32_t near = 240 + Next() % 32;
            std::memcpy(o + 20, &near, 4);
            std::memcpy(o + 24, &near, 4);
        }
        returned = Next() % (outSize + 1);
        if (Next() % 4 == 0) returned = sizeof(wire::SCSI_ADDRESS) <= outSize ? sizeof(wire::SCSI_ADDRESS) : returned;
        return Next() % 5 != 0;
    }
    bool CloseHandle(DevHandle) override { return true; }
    uint32_t GetLastError() override { return 1; }

private:
    uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    uint32_t state_;
};

TEST(DiskEnum, RandomPathQueryRepliesStayInBounds) {
    json m = BaseMachine();
    for (int i = 0; i < 6; ++i) AddDisk(m, "D" + std::to_string(i));
    auto machine = MakeMachine(m);
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        RandomStorage storage(seed * 2654435761u);
        Platform p = machine->platform();
        p.storage = &storage;
        TDevMgr mgr(p);
        ASSERT_TRUE(mgr.EnumPhysicalDrives());
        ASSERT_EQ(mgr.GetDiskCount(), 6);
        for (int32_t i = 0; i < 6; ++i) {
            const REG_DATA& r = mgr.GetDiskList()[i];
            // Every record keeps its own path and chain, whatever the disks answered.
            EXPECT_EQ(std::string(r.DevicePath).find("\\\\?\\scsi#disk"), 0u);
            EXPECT_NE(r.ancestors, nullptr);
        }
        if (::testing::Test::HasFailure()) break;
    }
}

}  // namespace
