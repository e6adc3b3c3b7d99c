// The boot-time road of the Update handler: a package that does not flash from Windows leaves the
// image and a patched boot-time flasher in the system directory, registers the flasher to run at
// the next start, and asks for the reboot.
#include <algorithm>
#include <cstring>

#include "app/KestrelMain.h"
#include "app/Texts.h"
#include "device/AtaDevice.h"
#include "support/BootFlasher.h"
#include "support/Format.h"

namespace kestrel {
namespace {

constexpr const char* kImageFileName = "FW.bin";
constexpr const char* kFlasherFileName = "NtMFlash.exe";
constexpr const char* kCopyProgramName = "\\SysWOW64\\CopyFile.exe";

// A fixed-width text field of the drive table, up to its first zero byte.
std::string Field(const char* field, size_t width) { return std::string(field, strnlen(field, width)); }

}  // namespace

void TKestrelMain::BootTimeRoad(TAtaDevice& device, size_t drive, const std::string& newFw, const std::string& fwExt) {
    IUi& ui = *p_.ui;
    IFiles& files = *p_.files;
    // A report box, or its text in the debug log in a silent run.
    const auto report = [&](const std::string& text, const char* title, uint32_t icon) {
        if (bSilent) WriteLog(text);
        else ui.MessageBox(LocalText(text, iLanguage == 1), title, MB_OK_FLAG | icon);
    };
    const DEV_INFO& info = m_DevInfo[std::min(drive, kMaxDrives - 1)];

    const std::string systemDir = files.GetSystemDirectory();
    const size_t imageBytes = std::min<size_t>(iBinSize, imageBuffer_.size());
    if (!files.WriteWholeFile(systemDir + "\\" + kImageFileName,
                              std::string_view(reinterpret_cast<const char*>(imageBuffer_.data()), imageBytes))) {
        report("Fail to write FW files into system !\n", "Error", MB_ICONERROR_FLAG);
        // A deployment system must not read "boot-time installation prepared" for this run.
        EndRun(exitcode::kFailure);
        return;
    }

    ProgramBytes slots[kBootFlasherSlots];
    for (size_t s = 0; s < kBootFlasherSlots; ++s) {
        const auto program = pkg_.Program(kBootFlasherPackageSlot[s]);
        slots[s] = {program.data(), program.size()};
    }

    // The drive through its own route, so the flasher learns the transport it really has.
    const char* devPath = DEV_PATH.empty() ? nullptr : DEV_PATH.c_str();
    if (gScanType == 1) {
        device.SelectPort(bDeployMode ? SCSI_PORT : info.order, nullptr, -1, SELECT_CSMI);
    } else if (info.bIsNvme && info.bIsNvmeIrstDriver) {
        device.SelectPort(info.order, nullptr, info.HA, SELECT_NVME);
    } else if (info.bIsNvme) {
        const std::string path = Field(info.DevicePath, sizeof info.DevicePath);
        device.SelectPort(info.order, path.c_str(), -1, SELECT_NVME);
    } else {
        device.SelectPort(info.order, devPath, -1, SELECT_ATA);
    }
    const int32_t protocol = device.GetProtocol();

    const uint32_t result = InstallBootFlasher(
        p_, osInfo_, slots, kFlasherFileName, bReBoot, bPreformat, bBeforePreformat, bBootcode, protocol, TrimText(fwExt),
        TrimText(newFw), Field(info.szSerial, sizeof info.szSerial), Field(info.szFwRev, sizeof info.szFwRev),
        Field(info.szModel, sizeof info.szModel), kImageFileName, [this](std::string_view line) { WriteLog(line); });
    if (result != BOOT_INSTALLED) {
        // A key that did not open is a failure too: the next start would not run the flasher.
        report(Fmt("[0x%X] Fail to write UPDATE files into system !\n", result), "Error", MB_ICONERROR_FLAG);
        EndRun(exitcode::kFailure);
        return;
    }

    if (osInfo_.Is64BitWindows()) {
        const std::string copyPath = files.GetWindowsDirectory() + kCopyProgramName;
        const auto copy = pkg_.Program(ChooseCopyProgramSlot(osInfo_.GetOsVersionCode()));
        if (!files.WriteWholeFile(copyPath, std::string_view(reinterpret_cast<const char*>(copy.data()), copy.size())))
            WriteLog(Fmt("%s cannot be written", copyPath.c_str()));
        p_.system->ShellExecuteA("open", "cmd.exe", "/c " + copyPath, "", SW_HIDE_COMMAND);
    }

    uint32_t ignored = 0;
    p_.system->EnableShutdownPrivilege(ignored);
    report("WARNING: THIS PROCESS WILL UPDATE THE FIRMWARE ON YOUR SSD.THERE IS A RISK DURING FIRMWARE UPDATE PROCESS.YOUR SSD "
           "MAY NOT FUNCTION PROPERLY IF THE FIRMWARE PROCESS IS INTERRUPTED FOR ANY REASON.AS WE PROVIDES NO WARRANTY FOR THE DATA "
           "ON YOUR DRIVE, IT IS STRONGLY RECOMMENDED THAT YOU SHOULD BACKUP ALL IMPORTANT FILES IN ADVANCE.",
           "Information", MB_ICONINFORMATION_FLAG);
    // Asked even in a silent run: only the user can agree to a reboot.
    if (ui.MessageBox("The update process needs to REBOOT your computer. Do you want to reboot NOW ?\n", "Question",
                      MB_YESNO_FLAG | MB_ICONQUESTION_FLAG) == ID_YES)
        osInfo_.Reboot();

    EndRun(iErrorLevel);
}

}  // namespace kestrel
