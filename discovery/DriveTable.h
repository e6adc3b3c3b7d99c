#pragma once
// The drive table: what the last scan found, one DEV_INFO per drive. The scan fills it; the
// constraint check, the drive list, the target selection and the update workflow read it. It is
// an in-memory record of the main window, never handed to a driver.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kestrel {

constexpr size_t kMaxDrives = 16;

// Text fields are fixed-width byte arrays padded with zero bytes; a field filled to its full width
// has no terminator, so every reader goes by the width.
struct DEV_INFO {
    char DevicePath[512];
    char szCheckModel[40];
    char szModel[40];
    char szFwRev[8];
    char szSerial[20];
    char szPPID[32];
    char szDefRev[8];
    uint16_t HA;
    uint16_t Target;
    uint16_t Lun;
    uint16_t PathId;
    uint8_t bExisted;
    uint8_t bEnabled;
    uint16_t iImageIndex;
    char szInstanceId[260];
    int32_t order;
    uint8_t bIsSystemDrive;
    int32_t CsmiPort;
    uint64_t SasAddress;
    int32_t ScsiIndex;
    uint16_t ParentVid;
    uint16_t ParentDid;
    uint8_t BusType;
    uint8_t bIsNvme;
    uint8_t bIsNvmeInboxDriver;
    uint8_t bIsNvmeIrstDriver;
    uint8_t bIsNvmeIrstDriver_below_14_8;
};

static_assert(sizeof(DEV_INFO::DevicePath) == 512 && sizeof(DEV_INFO::szCheckModel) == 40 &&
              sizeof(DEV_INFO::szModel) == 40 && sizeof(DEV_INFO::szFwRev) == 8 && sizeof(DEV_INFO::szSerial) == 20 &&
              sizeof(DEV_INFO::szPPID) == 32 && sizeof(DEV_INFO::szDefRev) == 8 && sizeof(DEV_INFO::szInstanceId) == 260);
static_assert(sizeof(DEV_INFO::SasAddress) == 8 && sizeof(DEV_INFO::order) == 4 && sizeof(DEV_INFO::iImageIndex) == 2);

// Storage bus types the scan records (STORAGE_BUS_TYPE).
constexpr uint8_t kBusTypeRaid = 0x08;
constexpr uint8_t kBusTypeSata = 0x0B;
constexpr uint8_t kBusTypeNvme = 0x11;

// The main window's drive table. Elements at gCount and above are not part of the table even when
// they hold data.
struct DriveTable {
    std::array<DEV_INFO, kMaxDrives> m_DevInfo{};
    int32_t gCount = 0;
    int32_t gScanType = 0;
    // Set by a kind-0 scan that meets a SATA disk behind Intel RST; only the start-up clears it.
    uint8_t bIsSataIrst = 0;

    DriveTable() { ClearDevInfo(); }
    // What every scan does first: all 16 elements to zero bytes (padding included).
    void ClearDevInfo() { std::memset(m_DevInfo.data(), 0, sizeof(DEV_INFO) * m_DevInfo.size()); }
    // gCount bounded to the table, so a reader never walks past its 16 elements.
    size_t Count() const { return gCount < 0 ? 0 : gCount > static_cast<int32_t>(kMaxDrives) ? kMaxDrives : static_cast<size_t>(gCount); }
};

}  // namespace kestrel
