#pragma once
// The boot-time flasher's installation: the flasher program of the running Windows, taken from the
// package, with the run's parameters patched into it, written to the system directory and
// registered in the Session Manager's BootExecute list, so Windows runs it at the next start.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/Registry.h"
#include "support/LogSink.h"
#include "support/OSInfo.h"

namespace kestrel {

// The seven boot-time flasher slots, in the order of the installer's table.
enum BootFlasherSlot : size_t {
    BOOT_XP_X86,
    BOOT_2003_X86,
    BOOT_2003_X64,
    BOOT_2008_X86,
    BOOT_2008_X64,
    BOOT_WIN7_X86,
    BOOT_WIN7_X64,
    kBootFlasherSlots
};
// Their names, and the package's program slot each one is (index into the 14 slots).
extern const char* const kBootFlasherSlotNames[kBootFlasherSlots];
extern const size_t kBootFlasherPackageSlot[kBootFlasherSlots];

// One program as pointer and length.
struct ProgramBytes {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// InstallBootFlasher results.
constexpr uint32_t BOOT_INSTALLED = 1;
constexpr uint32_t BOOT_KEY_NOT_OPENED = 0;        // the Session Manager key did not open
constexpr uint32_t BOOT_FLASHER_NOT_WRITTEN = 0xE1;  // the flasher file could not be created
constexpr uint32_t BOOT_EXECUTE_NOT_SET = 0xE2;      // BootExecute could not be set

constexpr const char* kSessionManagerKey = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr const char* kBootExecuteValue = "BootExecute";
constexpr const char* kAutocheckEntry = "autocheck autochk *";

// The flasher slot for an OS version code (its top byte decides) on 32- or 64-bit Windows.
BootFlasherSlot ChooseBootFlasherSlot(uint32_t osVersionCode, bool windows64);
// The package slot (index into the 14) of the copy program for an OS version code.
size_t ChooseCopyProgramSlot(uint32_t osVersionCode);

// The values patched into the flasher, in the order they are written.
struct BootFlasherParameters {
    bool bReBoot = false, bPreformat = false, bBeforePreformat = false, bBootcode = false;
    int32_t protocol = 0;
    std::string fwExt, newFw, serial, fwRev, model;
};
// The flasher's bytes with each value written right after the first occurrence of its key. A key
// that is not there, or whose value would run past the end of the slot, is skipped and logged.
std::vector<uint8_t> PatchBootFlasher(std::span<const uint8_t> slot, const BootFlasherParameters& p, const LogSink& log);

// The strings of a registry value of a list type (REG_MULTI_SZ up to its empty string; REG_SZ and
// REG_EXPAND_SZ as one string); nothing for other types.
std::vector<std::string> MultiSzStrings(const RegValue& value);
// REG_MULTI_SZ data: every string with its zero, then the zero that ends the list. Empty strings
// are left out (one would end the list early).
std::vector<uint8_t> MultiSzData(const std::vector<std::string>& strings);
// The BootExecute list with our entry: the entries already there are kept, "autocheck autochk *"
// is made sure of (first, when it was missing), an earlier entry of ours (the same program name)
// goes, and ours ("<baseName> <imageFile>") is added once, last.
std::vector<std::string> MergeBootExecute(const std::vector<std::string>& existing, const std::string& baseName,
                                          const std::string& imageFile);

// Patches the flasher of this Windows (from slots, a table of kBootFlasherSlots programs) into
// <system directory>\<base name>.exe and registers it in BootExecute with the image file name.
// Returns BOOT_INSTALLED, BOOT_KEY_NOT_OPENED, BOOT_FLASHER_NOT_WRITTEN or BOOT_EXECUTE_NOT_SET; an
// empty flasher name or a missing table returns BOOT_INSTALLED at once (nothing to install).
uint32_t InstallBootFlasher(const Platform& platform, OSInfo& os, const ProgramBytes* slots, const std::string& flasherName,
                            bool bReBoot, bool bPreformat, bool bBeforePreformat, bool bBootcode, int32_t protocol,
                            const std::string& fwExt, const std::string& newFw, const std::string& serial,
                            const std::string& fwRev, const std::string& model, const std::string& imageFile,
                            const LogSink& log);

}  // namespace kestrel
