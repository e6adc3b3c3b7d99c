#pragma once
// A simulated SATA drive at a disk path, a device object over a hand-made record list, and the
// requests the storage stack saw.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "device/AtaDevice.h"
#include "sim/SimAtaDrive.h"
#include "sim/SimDriveModel.h"
#include "sim/SimImage.h"
#include "support/DebugLog.h"
#include "support/SimFixture.h"

namespace kestrel::test {

// Passes every request on and remembers its code and sizes.
class RecordingDevice : public sim::SimStorageDevice {
public:
    explicit RecordingDevice(std::shared_ptr<sim::SimStorageDevice> inner) : inner_(std::move(inner)) {}
    struct Io {
        uint32_t code, inSize;
        uint8_t first;  // the ATA command, CDB operation code or CSMI FIS command
    };
    uint32_t OpenError() override { return inner_->OpenError(); }
    uint32_t Ioctl(uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize, uint32_t& returned) override {
        uint8_t first = 0;
        const bool k64 = sizeof(void*) == 8;
        if ((code == wire::kIOCTL_ATA_PASS_THROUGH || code == wire::kIOCTL_ATA_PASS_THROUGH_DIRECT) && inSize >= (k64 ? 48u : 40u))
            first = in[(k64 ? 40 : 32) + 6];
        else if ((code == wire::kIOCTL_SCSI_PASS_THROUGH || code == wire::kIOCTL_SCSI_PASS_THROUGH_DIRECT) && inSize >= (k64 ? 56u : 44u))
            first = in[k64 ? 36 : 28];
        ios.push_back({code, inSize, first});
        return inner_->Ioctl(code, in, inSize, out, outSize, returned);
    }
    std::vector<Io> ios;

private:
    std::shared_ptr<sim::SimStorageDevice> inner_;
};

constexpr const char* kDiskPath = "\\\\?\\scsi#disk&ven_kestrel#1&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

class AtaFixture : public ::testing::Test {
protected:
    // Builds the machine, the drive from `drive` and a device object with one record; selects it
    // unless told not to.
    void Build(const nlohmann::json& drive, bool select = true, sim::SimOptions options = {}) {
        dev.reset();  // it holds handles of the old machine
        machine = MakeMachine(nlohmann::json::object(), std::move(options));
        model = std::dynamic_pointer_cast<sim::SimAtaDrive>(sim::MakeDriveModel(drive, *machine));
        ASSERT_TRUE(model);
        rec = std::make_shared<RecordingDevice>(model);
        machine->storage().Attach(kDiskPath, rec);
        records.assign(1, REG_DATA{});
        std::strcpy(records[0].DevicePath, kDiskPath);
        records[0].ParentVid = 0x8086;
        records[0].ParentDid = 0xA102;
        dev = std::make_unique<TAtaDevice>(machine->platform(), records.data(), 1);
        if (select) { ASSERT_TRUE(dev->SelectPort(0, nullptr, 0, SELECT_ATA)); }
        model->ClearCommands();
        rec->ios.clear();
    }
    std::string Log() {
        auto text = machine->files().ReadWholeFile(DebugLogPath(machine->files()));
        return text ? *text : std::string();
    }
    void ClearLog() { machine->files().DeleteFile(DebugLogPath(machine->files())); }
    // 92h commands the drive saw.
    std::vector<sim::SimAtaDrive::Command> Downloads() const {
        std::vector<sim::SimAtaDrive::Command> v;
        for (const auto& c : model->Commands())
            if (c.command == 0x92) v.push_back(c);
        return v;
    }
    static std::vector<uint8_t> Image(uint32_t totalSize, const std::string& revision = "KS2.00A",
                                      const std::string& models = "KESTREL SATA SSD*") {
        sim::SimImageSpec s;
        s.models = {models};
        s.revision = revision;
        s.payloadSize = totalSize - static_cast<uint32_t>(sim::kSimImageHeaderSize);
        std::string why;
        return sim::BuildSimImage(s, why);
    }

    void TearDown() override { dev.reset(); }

    std::unique_ptr<sim::SimMachine> machine;
    std::shared_ptr<sim::SimAtaDrive> model;
    std::shared_ptr<RecordingDevice> rec;
    std::vector<REG_DATA> records;
    std::unique_ptr<TAtaDevice> dev;
};

inline ATA_TASKFILE MakeTf(uint8_t fr, uint8_t sc, uint8_t lo, uint8_t mid, uint8_t hi, uint8_t cmd) {
    ATA_TASKFILE t{};
    t.bFeaturesReg = fr;
    t.bSectorCountReg = sc;
    t.bSectorNumberReg = lo;
    t.bCylLowReg = mid;
    t.bCylHighReg = hi;
    t.bCommandReg = cmd;
    return t;
}

}  // namespace kestrel::test
