#include <gtest/gtest.h>

#include "app/Entry.h"
#include "package/FwPackage.h"
#include "sim/SimMachine.h"

using namespace kestrel;

// The main window's power-broadcast handler lives only as long as the run: a message that arrives
// after the window object has gone must not reach it.
TEST(PowerBroadcastHook, SetForTheRunAndClearedAfterIt) {
    sim::SimMachine machine(sim::SimMachine::ParseDescription(sim::DefaultMachineJson()), sim::SimOptions{});
    EXPECT_EQ(RunKestrel(machine.platform(), PackageView(OwnPackageBlock()), {"/S"}), 4);
    bool reached = false;
    machine.ui().SetPowerBroadcastHandler([&](uint32_t) {
        reached = true;
        return 7u;
    });
    EXPECT_EQ(machine.ui().DeliverPowerBroadcast(4), 7u);
    EXPECT_TRUE(reached);
    EXPECT_EQ(RunKestrel(machine.platform(), PackageView(OwnPackageBlock()), {"/S"}), 4);
    reached = false;
    EXPECT_EQ(machine.ui().DeliverPowerBroadcast(4), 0u);
    EXPECT_FALSE(reached);
}
