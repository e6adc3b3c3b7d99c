#include <gtest/gtest.h>

#include <cstring>

#include "device/AtaDevice.h"
#include "flash/FlashModes.h"
#include "sim/SimImage.h"
#include "support/Format.h"
#include "support/SimFixture.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

// The index of the default machine's SATA disk in the device object's record list.
int32_t SataIndex(TAtaDevice& dev) {
    for (int32_t i = 0; i < dev.GetDriveCount(); ++i)
        if (dev.GetDriveRecord(i)->BusType == BUS_TYPE_SATA) return i;
    return -1;
}

std::string Revision(TAtaDevice& dev) {
    if (dev.IdentifyDevice() != ATACMD_OK) return "<no answer>";
    IdentifyFields f;
    ParseIdentifyData(dev.GetReadBuffer(), 512, f);
    return f.revision;
}

// The default machine end to end: the device object lists the disks through the device manager,
// selects the SATA disk, probes its transport, downloads an image and, rebuilt after the drive's
// restart, finds the new revision.
TEST(SataMachine, FlashTheDefaultMachinesSataDrive) {
    auto machine = MakeMachine();
    auto dev = std::make_unique<TAtaDevice>(machine->platform());
    const int32_t idx = SataIndex(*dev);
    ASSERT_GE(idx, 0);
    ASSERT_TRUE(dev->SelectPort(idx, nullptr, 0, SELECT_ATA));
    EXPECT_EQ(dev->GetProtocol(), PRO_ATA_PASSTHROUGH);
    EXPECT_EQ(Revision(*dev), "KS6R0100");
    ASSERT_EQ(dev->ReadDefRevision(), ATACMD_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(dev->GetReadBuffer()), 8), "S6R0100A");

    sim::SimImageSpec imageSpec;
    imageSpec.models = {"KESTREL KS600*"};
    imageSpec.revision = "KS6R0200";
    imageSpec.payloadSize = 300000 - 128;
    std::string why;
    const auto image = sim::BuildSimImage(imageSpec, why);
    ASSERT_EQ(FlashImageAta(*dev, image.data(), static_cast<uint32_t>(image.size()), 1, 0, 0, 1), ATACMD_OK);
    const std::string log = *machine->files().ReadWholeFile(machine->files().GetTempPath() + "KestrelLog.txt");
    EXPECT_NE(log.find("(ATA PASSTHROUGH) Cmd:92 FR:03 SC:01 SN:00 CL:49 CH:02  586 / 586\r\n"), std::string::npos);

    // Gone while it restarts, back with the new revision on a fresh device object.
    dev = std::make_unique<TAtaDevice>(machine->platform());
    EXPECT_FALSE(dev->SelectPort(SataIndex(*dev), nullptr, 0, SELECT_ATA));
    machine->clock().Advance(10'000'000'000);
    dev = std::make_unique<TAtaDevice>(machine->platform());
    ASSERT_TRUE(dev->SelectPort(SataIndex(*dev), nullptr, 0, SELECT_ATA));
    EXPECT_EQ(Revision(*dev), "KS6R0200");
}

}  // namespace
