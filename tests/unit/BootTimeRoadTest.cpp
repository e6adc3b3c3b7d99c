// The boot-time road on the simulated machine, from a package that kestrel-pack builds on the
// large-slot template (the kestrel-sim-largeslots file itself) with small stand-in programs.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/KestrelMain.h"
#include "device/AtaDevice.h"
#include "package/AesCipher.h"
#include "sim/SimImage.h"
#include "support/BootFlasher.h"
#include "support/SimFixture.h"
#include "tools/pack/Pack.h"

using namespace kestrel;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

using test::MultiSz;

const std::string kSessionManager = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// A stand-in flasher longer than a slot of the exact layout, with the keys the installer patches.
std::string Flasher(const std::string& name) {
    return "MZ " + name + std::string(100, '-') + "|UPDATEBOOT=_|B_PREFORMAT=_|A_PREFORMAT=_|PROTOCOL=__|SSDREBOOT=_|_____FW=________|"
           "_FW_EXT=________|DRIVECOUNT=____|VENDID1=" + std::string(40, '.') + "|FW1=________|SN1=" + std::string(20, '.') + "|";
}
std::string CopyProgram(const std::string& name) { return "MZ copy program " + name + std::string(200, '+'); }

std::vector<uint8_t> ReadAll(const fs::path& p) {
    std::error_code ec;
    std::vector<uint8_t> bytes(static_cast<size_t>(fs::file_size(p, ec)));
    if (ec) return {};
    std::ifstream(p, std::ios::binary).read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

// The large-slot template packed once for every case: one enciphered image, every flasher slot
// and every copy-program slot with a stand-in of its own.
struct Package {
    std::vector<uint8_t> file;
    pack::BlockLocation at;
    std::vector<uint8_t> image;  // the plain image
    Package() {
        const fs::path dir = fs::temp_directory_path() / ("kestrel-road-test-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        sim::SimImageSpec spec;
        spec.models = {"KESTREL KS600*"};
        spec.revision = "KS2.00A";
        spec.payloadSize = 3000;  // not a multiple of 512: FW.bin gets the padded length
        std::string why;
        image = sim::BuildSimImage(spec, why);
        std::ofstream(dir / "fw.bin", std::ios::binary).write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        json programs = json::object();
        for (size_t n = 0; n < kProgramSlots; ++n) {
            const std::string name = pkg::kProgramSlotNames[n];
            const std::string bytes = name.rfind("EXE_COPYFILE", 0) == 0 ? CopyProgram(name) : Flasher(name);
            std::ofstream(dir / (name + ".exe"), std::ios::binary) << bytes;
            programs[name] = name + ".exe";
        }
        const json manifest = {{"title", "Kestrel Boot Update"},
                               {"options", {{"bReBoot", true}, {"bPreformat", true}, {"bWindowsFlash", false}}},
                               {"images", {{{"file", "fw.bin"}, {"NEW_FW", "KS2.00A"}, {"FW_EXT", "KV31502"}}}},
                               {"programs", programs}};
        file = ReadAll(KESTREL_LARGE_SLOT_TEMPLATE);
        const auto found = pack::LocateBlocks(file);
        if (found.size() == 1) {
            at = found[0];
            std::vector<std::string> errors;
            const auto m = pack::ReadManifest(manifest, dir, errors, at.slotSize);
            if (m) pack::FillBlock(std::span<uint8_t>(file.data() + at.offset, at.size()), *m, at.slotSize);
            else file.clear();
        }
        fs::remove_all(dir);
    }
    PackageView View() const { return PackageView(std::span<const uint8_t>(file.data() + at.offset, at.size()), at.slotSize); }
};

const Package& ThePackage() {
    static const Package p;
    return p;
}

std::string Patched(const std::string& name, const std::string& protocol) {
    std::string f = Flasher(name);
    const auto put = [&](const std::string& key, const std::string& value) { f.replace(f.find(key) + key.size(), value.size(), value); };
    put("UPDATEBOOT=", "0");
    put("B_PREFORMAT=", "0");
    put("A_PREFORMAT=", "1");
    put("PROTOCOL=", protocol);
    put("SSDREBOOT=", "1");
    put("_____FW=", "KS2.00A");
    put("_FW_EXT=", "KV31502");
    put("DRIVECOUNT=", "0001");
    put("VENDID1=", "KESTREL KS600 512GB");
    put("FW1=", "KS6R0100");
    put("SN1=", "KS6A26130000123");
    return f;
}

const char* const kWarning =
    "WARNING: THIS PROCESS WILL UPDATE THE FIRMWARE ON YOUR SSD.THERE IS A RISK DURING FIRMWARE UPDATE PROCESS.YOUR SSD MAY NOT "
    "FUNCTION PROPERLY IF THE FIRMWARE PROCESS IS INTERRUPTED FOR ANY REASON.AS WE PROVIDES NO WARRANTY FOR THE DATA ON YOUR DRIVE, "
    "IT IS STRONGLY RECOMMENDED THAT YOU SHOULD BACKUP ALL IMPORTANT FILES IN ADVANCE.";
const char* const kQuestion = "The update process needs to REBOOT your computer. Do you want to reboot NOW ?\n";

// One run prepared up to the road: options read, the drive in the table, its image loaded and
// deciphered, the start-up's exit level.
struct Road {
    std::unique_ptr<sim::SimMachine> machine;
    std::unique_ptr<TKestrelMain> main;
    std::unique_ptr<TAtaDevice> device;

    Road(const json& patch, std::vector<std::string> answers, bool silent, bool nvme = false) {
        sim::SimOptions o;
        o.answers = std::move(answers);
        machine = test::MakeMachine(patch, o);
        main = std::make_unique<TKestrelMain>(machine->platform(), ThePackage().View(), std::vector<std::string>{});
        EXPECT_TRUE(main->InitPackageOptions());
        main->iErrorLevel = exitcode::kStartupOrDeclined;
        main->bSilent = silent;
        DEV_INFO& d = main->m_DevInfo[0];
        std::memcpy(d.szModel, "KESTREL KS600 512GB", 19);
        std::memcpy(d.szFwRev, "KS6R0100", 8);
        std::memcpy(d.szSerial, "KS6A26130000123", 15);
        if (nvme) {
            d.bIsNvme = 1;
            std::strcpy(d.DevicePath, "\\\\?\\scsi#disk&ven_nvme#none#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
        }
        main->gCount = 1;
        uint32_t padded = 0;
        EXPECT_EQ(main->package().LoadImage(0, main->imageBuffer(), padded), ImageLoadResult::Ok);
        ImageCipherContext cipher;
        ImageCipherPrepare(cipher);
        ImageCipherDecipher(cipher, main->imageBuffer().data(), padded);
        main->iBinSize = padded;
        device = std::make_unique<TAtaDevice>(machine->platform());
    }
    void Run() { main->BootTimeRoad(*device, 0, "KS2.00A ", " KV31502"); }
    std::optional<std::string> File(const std::string& path) {
        for (const auto& [p, bytes] : machine->files().Snapshot())
            if (sim::NormaliseWindowsPath(p) == path) return bytes;
        return std::nullopt;
    }
    std::vector<std::string> Boxes() const {
        std::vector<std::string> v;
        for (const auto& b : machine->ui().Boxes()) v.push_back(b.title + ": " + b.text);
        return v;
    }
    std::string Log() {
        const auto t = machine->files().ReadWholeFile(main->sLogFile);
        return t ? *t : std::string();
    }
};

}  // namespace

TEST(BootTimeRoad, LargeSlotTemplateIsFoundByItsMarkersAndHoldsRealPrograms) {
    const Package& p = ThePackage();
    ASSERT_FALSE(p.file.empty()) << "the large-slot template was not found or refused the manifest";
    EXPECT_EQ(p.at.slotSize, static_cast<size_t>(KESTREL_LARGE_PROGRAM_SLOT_SIZE));
    const PackageView v = p.View();
    EXPECT_TRUE(v.Complete());
    const auto prog = v.Program(9);
    EXPECT_EQ(std::string(prog.begin(), prog.end()), Flasher("EXE_WIN7_X64"));
    // The exact layout refuses the same programs, by name.
    std::vector<std::string> errors;
    json m = {{"options", {{"bWindowsFlash", false}}}, {"programs", {{"EXE_WIN7_X64", "nonesuch.exe"}}}};
    const fs::path dir = fs::temp_directory_path() / ("kestrel-road-fit-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "f.exe") << Flasher("EXE_WIN7_X64");
    m["programs"]["EXE_WIN7_X64"] = "f.exe";
    EXPECT_FALSE(pack::ReadManifest(m, dir, errors));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("programs.EXE_WIN7_X64: "), std::string::npos) << errors[0];
    EXPECT_NE(errors[0].find("larger than its 32-byte slot"), std::string::npos) << errors[0];
    errors.clear();
    EXPECT_TRUE(pack::ReadManifest(m, dir, errors, p.at.slotSize));
    fs::remove_all(dir);
}

TEST(BootTimeRoad, WritesRegistersAndAsksForTheReboot) {
    struct Case {
        const char* name;
        json windows;
        std::vector<std::string> answers;
        bool silent;
        bool nvme;
        const char* flasherSlot;
        const char* protocol;
        const char* copySlot;  // null: no copy program
        bool rebooted;
    };
    // Windows 7 reports its own version to the version search.
    const json kWin7 = {{"major", 6}, {"minor", 1}, {"build", 7601}};
    const Case cases[] = {
        {"Windows 10 64-bit, yes", json::object(), {"ok", "yes"}, false, false, "EXE_WIN7_X64", "1_", "EXE_COPYFILE_2K8", true},
        {"Windows 10 64-bit, no", json::object(), {"ok", "no"}, false, false, "EXE_WIN7_X64", "1_", "EXE_COPYFILE_2K8", false},
        {"silent run: the question is still asked", json::object(), {"yes"}, true, false, "EXE_WIN7_X64", "1_", "EXE_COPYFILE_2K8", true},
        {"Windows 7 32-bit", {{"version", kWin7}, {"reported_version", kWin7}, {"process_64bit", false}},
         {"ok", "yes"}, false, false, "EXE_WIN7_X86", "1_", nullptr, true},
        {"Windows 7 under WOW64", {{"version", kWin7}, {"reported_version", kWin7}, {"process_64bit", false}, {"wow64", true}},
         {"ok", "no"}, false, false, "EXE_WIN7_X64", "1_", "EXE_COPYFILE_WIN7", false},
        {"an NVMe drive gets its own transport", json::object(), {"ok", "no"}, false, true, "EXE_WIN7_X64", "16", "EXE_COPYFILE_2K8", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Road r({{"windows", c.windows}}, c.answers, c.silent, c.nvme);
        r.Run();
        EXPECT_EQ(r.main->iErrorLevel, exitcode::kStartupOrDeclined) << "a road that succeeded keeps the exit level";
        EXPECT_TRUE(r.main->RunEnded());
        EXPECT_TRUE(r.machine->ui().QuitRequested());

        // FW.bin: the deciphered image at its padded length; a WOW64 process's System32 is SysWOW64.
        const bool wow = c.windows.value("wow64", false);
        const std::string sys = wow ? "C:\\Windows\\SysWOW64\\" : "C:\\Windows\\system32\\";
        std::string image(ThePackage().image.begin(), ThePackage().image.end());
        image.resize((image.size() + 511) / 512 * 512, '\0');
        EXPECT_EQ(r.File(sys + "FW.bin"), image);
        EXPECT_EQ(r.File(sys + "NtMFlash.exe"), Patched(c.flasherSlot, c.protocol));
        EXPECT_EQ(r.machine->registry().Get(kSessionManager, "BootExecute")->data, MultiSz({"autocheck autochk *", "NtMFlash FW.bin"}));

        const auto& starts = r.machine->system().ShellStarts();
        if (c.copySlot) {
            EXPECT_EQ(r.File("C:\\Windows\\SysWOW64\\CopyFile.exe"), CopyProgram(c.copySlot));
            ASSERT_EQ(starts.size(), 1u);
            EXPECT_EQ(starts[0].operation, "open");
            EXPECT_EQ(starts[0].file, "cmd.exe");
            EXPECT_EQ(starts[0].parameters, "/c C:\\Windows\\SysWOW64\\CopyFile.exe");
            EXPECT_EQ(starts[0].directory, "");
            EXPECT_EQ(starts[0].showCommand, SW_HIDE_COMMAND);
        } else {
            EXPECT_FALSE(r.File("C:\\Windows\\SysWOW64\\CopyFile.exe"));
            EXPECT_TRUE(starts.empty());
        }

        std::vector<std::string> boxes;
        if (!c.silent) boxes.push_back(std::string("Information: ") + kWarning);
        boxes.push_back(std::string("Question: ") + kQuestion);
        EXPECT_EQ(r.Boxes(), boxes);
        EXPECT_EQ(r.machine->ui().Boxes().back().flags & 0xF, MB_YESNO_FLAG);
        if (c.silent) {
            EXPECT_NE(r.Log().find(kWarning), std::string::npos) << "a silent run logs the warning";
        }
        EXPECT_EQ(r.machine->system().ExitRequests(), c.rebooted ? std::vector<uint32_t>{EWX_REBOOT_FLAG | EWX_FORCE_FLAG} : std::vector<uint32_t>{});
    }
}

TEST(BootTimeRoad, AFailedInstallationEndsTheRunWithOne) {
    struct Case {
        const char* name;
        json windows;
        bool protectImage;
        bool silent;
        const char* error;
        bool flasherWritten;
    };
    const json deny = {{"registry_faults", {{"HKLM\\" + kSessionManager, {{"open_error", 5}}}}}};
    const json denySet = {{"registry_faults", {{"HKLM\\" + kSessionManager, {{"set_error", 5}}}}}};
    const Case cases[] = {
        {"FW.bin cannot be written", json::object(), true, false, "Fail to write FW files into system !\n", false},
        {"the Session Manager key does not open", deny, false, false, "[0x0] Fail to write UPDATE files into system !\n", true},
        {"BootExecute cannot be set", denySet, false, false, "[0xE2] Fail to write UPDATE files into system !\n", true},
        {"silent: the error goes to the log", deny, false, true, "[0x0] Fail to write UPDATE files into system !\n", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Road r({{"windows", c.windows}}, {"ok", "yes"}, c.silent);
        if (c.protectImage) r.machine->files().SetWriteProtected("C:\\Windows\\system32\\FW.bin");
        r.Run();
        EXPECT_EQ(r.main->iErrorLevel, exitcode::kFailure);
        EXPECT_TRUE(r.machine->ui().QuitRequested());
        if (c.silent) {
            EXPECT_TRUE(r.Boxes().empty());
            // The box text's line end is CR LF in the log file.
            std::string logged = c.error;
            logged.insert(logged.size() - 1, "\r");
            EXPECT_NE(r.Log().find(logged), std::string::npos);
        } else {
            EXPECT_EQ(r.Boxes(), std::vector<std::string>{std::string("Error: ") + c.error});
            EXPECT_EQ(r.machine->ui().Boxes()[0].flags, MB_OK_FLAG | MB_ICONERROR_FLAG);
        }
        EXPECT_EQ(r.File("C:\\Windows\\system32\\NtMFlash.exe").has_value(), c.flasherWritten);
        EXPECT_EQ(r.machine->registry().Get(kSessionManager, "BootExecute")->data, MultiSz({"autocheck autochk *"}));
        EXPECT_TRUE(r.machine->system().ShellStarts().empty()) << "no copy program is started for a failed installation";
        EXPECT_TRUE(r.machine->system().ExitRequests().empty());
    }
}
