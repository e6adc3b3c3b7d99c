// Times a 2 MiB download at one sector per command against a simulated drive without latency,
// with the command log line written for every command: four 512 KiB images back to back (the
// device's read buffer holds 512 KiB). Prints commands per second and the process CPU time.
//   kestrel-ata-bench [ata|scsi_cc|sat|csmi] [max_sector] [state folder: the log is written through to disk]
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "device/AtaDevice.h"
#include "flash/FlashModes.h"
#include "sim/SimAtaDrive.h"
#include "sim/SimDriveModel.h"
#include "sim/SimImage.h"
#include "sim/SimMachine.h"

using namespace kestrel;

int main(int argc, char** argv) {
    const std::string transport = argc > 1 ? argv[1] : "ata";
    const uint32_t maxSector = argc > 2 ? static_cast<uint32_t>(std::stoul(argv[2])) : 1;
    nlohmann::json desc = sim::SimMachine::ParseDescription(sim::DefaultMachineJson());
    sim::SimOptions options;
    if (argc > 3) options.stateDir = argv[3];
    sim::SimMachine machine(desc, options);
    nlohmann::json drive = {{"transports", {transport}}, {"restart_ms", 0}, {"activate_ms", 0}};
    if (transport == "csmi") drive["csmi"] = {{"port", 3}, {"phy", 0}};
    auto model = std::dynamic_pointer_cast<sim::SimAtaDrive>(sim::MakeDriveModel(drive, machine));
    model->SetRecording(false);
    const char* path = "\\\\?\\scsi#disk&ven_kestrel#bench";
    machine.storage().Attach(path, model);
    REG_DATA rec{};
    std::strcpy(rec.DevicePath, path);
    TAtaDevice dev(machine.platform(), &rec, 1);
    const bool selected = transport == "csmi" ? dev.SelectPort(3, nullptr, -1, SELECT_CSMI) : dev.SelectPort(0, nullptr, 0, SELECT_ATA);
    if (!selected) {
        std::fprintf(stderr, "drive not selected\n");
        return 1;
    }
    sim::SimImageSpec imageSpec;
    imageSpec.models = {"KESTREL*"};
    imageSpec.revision = "KS2.00A";
    imageSpec.payloadSize = kDeviceBufferSize - static_cast<uint32_t>(sim::kSimImageHeaderSize);
    std::string why;
    const auto image = sim::BuildSimImage(imageSpec, why);

    const uint64_t before = machine.storage().IoctlCount();
    const std::clock_t c0 = std::clock();
    const auto t0 = std::chrono::steady_clock::now();
    int failures = 0;
    for (int i = 0; i < 4; ++i)
        failures += FlashImageAta(dev, image.data(), static_cast<uint32_t>(image.size()), maxSector, 0, 0, 1) != ATACMD_OK;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
    const uint64_t commands = machine.storage().IoctlCount() - before;
    const auto log = machine.files().ReadWholeFile(machine.files().GetTempPath() + "KestrelLog.txt");
    std::printf("%s max_sector %u: %llu commands, %.3f s wall, %.3f s CPU, %.0f commands/s, log %zu bytes, %d failed, revision %s\n",
                transport.c_str(), maxSector, static_cast<unsigned long long>(commands), wall, cpu, commands / wall,
                log ? log->size() : 0, failures, model->Revision().c_str());
    return failures == 0 ? 0 : 1;
}
