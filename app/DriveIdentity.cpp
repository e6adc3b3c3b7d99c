// The identify operations of the main window: ATA identity with the DEF field, the PPID over ATA
// and NVMe, the NVMe identity and slot log through Intel RST, the slot list through the inbox driver.
#include "app/KestrelMain.h"

namespace kestrel {

uint8_t TKestrelMain::ReadAtaIdentity() { return ATACMD_FAIL; }
uint8_t TKestrelMain::get_log_rook_ppid() { return ATACMD_FAIL; }
bool TKestrelMain::get_log_rook_ppid_nvme(int32_t) { return false; }
bool TKestrelMain::Identify_irst(int32_t) { return false; }
bool TKestrelMain::getlog_irst(int32_t) { return false; }
bool TKestrelMain::LoadNvmeSlotInfo() { return false; }

}  // namespace kestrel
