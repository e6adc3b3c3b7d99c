// The boot-time road through the real Windows adapters, for the Wine check (tests/checks/boot-wine.sh).
// This program is itself a large-slot template: kestrel-pack fills its package block, and it then
// reads its own package, prepares a run up to the road (options, one drive in the table, its image
// loaded and deciphered) and takes the road. Message boxes are printed and answered here ("No" to
// the reboot question), so the check needs nobody at the screen; files, registry and the shell
// start are the real ones.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/KestrelMain.h"
#include "device/AtaDevice.h"
#include "package/AesCipher.h"
#include "package/FwPackage.h"
#include "platform/win32/Win32Platform.h"

namespace {

using namespace kestrel;

class AnsweringUi : public win32::Win32Ui {
public:
    using Win32Ui::Win32Ui;
    int MessageBox(const std::string& text, const std::string& title, uint32_t flags) override {
        const int answer = (flags & 0xF) == MB_YESNO_FLAG ? ID_NO : ID_OK;
        std::printf("box [%s] %s -> %s\n", title.c_str(), text.c_str(), answer == ID_NO ? "no" : "ok");
        std::fflush(stdout);
        return answer;
    }
};

}  // namespace

int main(int argc, char** argv) {
    win32::Win32Files files;
    win32::Win32Clock clock;
    win32::Win32System system;
    win32::Win32Registry registry;
    win32::Win32Storage storage;
    win32::Win32DeviceTree deviceTree;
    win32::Win32Services services;
    AnsweringUi ui(::GetModuleHandleA(nullptr));
    Platform p;
    p.files = &files;
    p.clock = &clock;
    p.system = &system;
    p.ui = &ui;
    p.registry = &registry;
    p.storage = &storage;
    p.deviceTree = &deviceTree;
    p.services = &services;

    const PackageView package(OwnPackageBlock(), OwnProgramSlotSize());
    TKestrelMain main(p, package, {});
    if (!main.InitPackageOptions()) return 255;
    main.iErrorLevel = exitcode::kStartupOrDeclined;
    main.bSilent = argc > 1 && std::strcmp(argv[1], "/S") == 0;

    DEV_INFO& d = main.m_DevInfo[0];
    std::memcpy(d.szModel, "KESTREL KS600 512GB", 19);
    std::memcpy(d.szFwRev, "KS6R0100", 8);
    std::memcpy(d.szSerial, "KS6A26130000123", 15);
    main.gCount = 1;

    uint32_t padded = 0;
    if (package.LoadImage(0, main.imageBuffer(), padded) != ImageLoadResult::Ok) return 4;
    if (!main.bWindowsFlash) {
        ImageCipherContext cipher;
        ImageCipherPrepare(cipher);
        ImageCipherDecipher(cipher, main.imageBuffer().data(), padded);
    }
    main.iBinSize = padded;

    // A drive record that no disk answers: Wine has none, so its transport probe ends in PRO_NONE.
    std::vector<REG_DATA> records(1);
    std::strcpy(records[0].DevicePath, "\\\\?\\scsi#disk&ven_kestrel#none#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
    TAtaDevice device(p, records.data(), 1);
    main.BootTimeRoad(device, 0, package.NEW_FW(0), package.FW_EXT(0));
    std::printf("iErrorLevel=%d\n", main.iErrorLevel);
    return main.iErrorLevel;
}
