#include "support/BootFlasher.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "support/Format.h"

namespace kestrel {
namespace {

constexpr uint32_t ERROR_FILE_NOT_FOUND_CODE = 2;
// A BootExecute list is a few lines; one this large is not read, and so not rewritten either.
constexpr size_t kBootExecuteCapacity = 65536;

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

// The program an entry runs: its text up to the first blank.
std::string EntryProgram(const std::string& entry) { return Upper(entry.substr(0, entry.find(' '))); }

}  // namespace

const char* const kBootFlasherSlotNames[kBootFlasherSlots] = {"EXE_XP_X86",   "EXE_2003_X86", "EXE_2003_X64", "EXE_2008_X86",
                                                              "EXE_2008_X64", "EXE_WIN7_X86", "EXE_WIN7_X64"};
const size_t kBootFlasherPackageSlot[kBootFlasherSlots] = {0, 2, 3, 6, 7, 8, 9};

BootFlasherSlot ChooseBootFlasherSlot(uint32_t osVersionCode, bool windows64) {
    switch (osVersionCode >> 24) {
    case 0x07: return BOOT_XP_X86;
    case 0x08:
    case 0x09: return windows64 ? BOOT_2003_X64 : BOOT_2003_X86;
    case 0x0A:
    case 0x0C:
    case 0x0D: return windows64 ? BOOT_2008_X64 : BOOT_2008_X86;
    default: return windows64 ? BOOT_WIN7_X64 : BOOT_WIN7_X86;
    }
}

size_t ChooseCopyProgramSlot(uint32_t osVersionCode) {
    switch (osVersionCode >> 24) {
    case 0x0E: return 10;  // EXE_COPYFILE_WIN7
    case 0x07: return 13;  // EXE_COPYFILE_XP
    case 0x08:
    case 0x09: return 11;  // EXE_COPYFILE_2K3
    default: return 12;    // EXE_COPYFILE_2K8
    }
}

std::vector<uint8_t> PatchBootFlasher(std::span<const uint8_t> slot, const BootFlasherParameters& p, const LogSink& log) {
    std::vector<uint8_t> bytes(slot.begin(), slot.end());
    const std::pair<const char*, std::string> values[] = {
        {"UPDATEBOOT=", p.bBootcode ? "1" : "0"},
        {"B_PREFORMAT=", p.bBeforePreformat ? "1" : "0"},
        {"A_PREFORMAT=", p.bPreformat ? "1" : "0"},
        {"PROTOCOL=", Fmt("%d", p.protocol)},
        {"SSDREBOOT=", p.bReBoot ? "1" : "0"},
        {"_____FW=", p.newFw},
        {"_FW_EXT=", p.fwExt},
        {"DRIVECOUNT=", "0001"},
        {"VENDID1=", p.model},
        {"FW1=", p.fwRev},
        {"SN1=", p.serial},
    };
    for (const auto& [key, value] : values) {
        const size_t keyLen = std::strlen(key);
        size_t at = bytes.size();
        for (size_t i = 0; keyLen <= bytes.size() && i <= bytes.size() - keyLen; ++i) {
            if (std::memcmp(bytes.data() + i, key, keyLen) == 0) {
                at = i;
                break;
            }
        }
        if (at == bytes.size()) {
            if (log) log(Fmt("InstallBootFlasher : key [%s] not in the flasher, skipped", key));
            continue;
        }
        const size_t valueAt = at + keyLen;
        if (value.size() > bytes.size() - valueAt) {
            // The flasher reserves the room after each key; a value longer than what is left of the
            // slot would be written past its end.
            if (log) log(Fmt("InstallBootFlasher : value of [%s] (%zu characters) does not fit the flasher, skipped", key, value.size()));
            continue;
        }
        std::memcpy(bytes.data() + valueAt, value.data(), value.size());
    }
    return bytes;
}

std::vector<std::string> MultiSzStrings(const RegValue& value) {
    std::vector<std::string> out;
    if (value.type != REG_MULTI_SZ_TYPE && value.type != REG_SZ_TYPE && value.type != REG_EXPAND_SZ_TYPE) return out;
    const char* data = reinterpret_cast<const char*>(value.data.data());
    size_t i = 0;
    while (i < value.data.size()) {
        const size_t len = strnlen(data + i, value.data.size() - i);
        if (len == 0) break;  // the empty string ends the list
        out.emplace_back(data + i, len);
        if (value.type != REG_MULTI_SZ_TYPE) break;
        i += len + 1;
    }
    return out;
}

std::vector<uint8_t> MultiSzData(const std::vector<std::string>& strings) {
    std::vector<uint8_t> out;
    for (const std::string& s : strings) {
        const size_t len = strnlen(s.c_str(), s.size());
        if (len == 0) continue;
        out.insert(out.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(len));
        out.push_back(0);
    }
    out.push_back(0);
    if (out.size() == 1) out.push_back(0);  // an empty list is still two zeros
    return out;
}

std::vector<std::string> MergeBootExecute(const std::vector<std::string>& existing, const std::string& baseName,
                                          const std::string& imageFile) {
    const std::string ours = Upper(baseName);
    std::vector<std::string> out;
    bool autocheck = false;
    for (const std::string& e : existing) {
        if (e.empty() || EntryProgram(e) == ours) continue;
        if (Upper(e) == Upper(kAutocheckEntry)) autocheck = true;
        out.push_back(e);
    }
    if (!autocheck) out.insert(out.begin(), kAutocheckEntry);
    out.push_back(baseName + " " + imageFile);
    return out;
}

uint32_t InstallBootFlasher(const Platform& platform, OSInfo& os, const ProgramBytes* slots, const std::string& flasherName,
                            bool bReBoot, bool bPreformat, bool bBeforePreformat, bool bBootcode, int32_t protocol,
                            const std::string& fwExt, const std::string& newFw, const std::string& serial,
                            const std::string& fwRev, const std::string& model, const std::string& imageFile,
                            const LogSink& log) {
    if (flasherName.empty() || slots == nullptr) return BOOT_INSTALLED;

    std::string baseName = flasherName;
    if (const size_t dot = Upper(flasherName).find(".EXE"); dot != std::string::npos) baseName = flasherName.substr(0, dot);
    const std::string path = platform.files->GetSystemDirectory() + "\\" + baseName + ".exe";

    const uint32_t osCode = os.GetOsVersionCode();
    const bool windows64 = os.Is64BitWindows();
    const BootFlasherSlot choice = ChooseBootFlasherSlot(osCode, windows64);
    const ProgramBytes& slot = slots[choice];
    if (log)
        log(Fmt("InstallBootFlasher : OS %Xh, %s Windows: %s, %zu bytes -> %s", osCode, windows64 ? "64-bit" : "32-bit",
                kBootFlasherSlotNames[choice], slot.size, path.c_str()));
    if (slot.data == nullptr || slot.size == 0) {
        // An empty file registered to run at the next start would flash nothing while the user is
        // told the update is scheduled.
        if (log) log(Fmt("InstallBootFlasher : the package holds no %s flasher", kBootFlasherSlotNames[choice]));
        return BOOT_FLASHER_NOT_WRITTEN;
    }

    BootFlasherParameters p;
    p.bReBoot = bReBoot;
    p.bPreformat = bPreformat;
    p.bBeforePreformat = bBeforePreformat;
    p.bBootcode = bBootcode;
    p.protocol = protocol;
    p.fwExt = fwExt;
    p.newFw = newFw;
    p.serial = serial;
    p.fwRev = fwRev;
    p.model = model;
    const std::vector<uint8_t> flasher = PatchBootFlasher(std::span<const uint8_t>(slot.data, slot.size), p, log);
    if (!platform.files->WriteWholeFile(path, std::string_view(reinterpret_cast<const char*>(flasher.data()), flasher.size()))) {
        if (log) log(Fmt("InstallBootFlasher : %s cannot be written", path.c_str()));
        return BOOT_FLASHER_NOT_WRITTEN;
    }

    IRegistry& reg = *platform.registry;
    RegKey key = 0;
    if (const uint32_t rc = reg.OpenKey(kSessionManagerKey, KEY_ALL_ACCESS_MASK, key); rc != 0) {
        if (log) log(Fmt("InstallBootFlasher : RegOpenKeyEx Session Manager failed (%u)", rc));
        return BOOT_KEY_NOT_OPENED;
    }
    RegValue old;
    const uint32_t q = reg.QueryValue(key, kBootExecuteValue, kBootExecuteCapacity, old);
    if (q != 0 && q != ERROR_FILE_NOT_FOUND_CODE) {
        // The entries of other programs cannot be read, so they could not be kept: leave the list alone.
        if (log) log(Fmt("InstallBootFlasher : BootExecute cannot be read (%u), not changed", q));
        reg.CloseKey(key);
        return BOOT_EXECUTE_NOT_SET;
    }
    const std::vector<std::string> before = q == 0 ? MultiSzStrings(old) : std::vector<std::string>{};
    const std::vector<std::string> after = MergeBootExecute(before, baseName, imageFile);
    RegValue value;
    value.type = REG_MULTI_SZ_TYPE;
    value.data = MultiSzData(after);
    const uint32_t s = reg.SetValue(key, kBootExecuteValue, value);
    reg.CloseKey(key);
    if (s != 0) {
        if (log) log(Fmt("InstallBootFlasher : RegSetValueEx BootExecute failed (%u)", s));
        return BOOT_EXECUTE_NOT_SET;
    }
    if (log) {
        std::string list;
        for (const std::string& e : after) list += (list.empty() ? "" : " | ") + e;
        log(Fmt("InstallBootFlasher : BootExecute = %s", list.c_str()));
    }
    return BOOT_INSTALLED;
}

}  // namespace kestrel
