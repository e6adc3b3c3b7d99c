// The hidden NVMe slot and commit-action lists of the window, as the identify operations fill them.
#include "app/KestrelMain.h"

namespace kestrel {

void TKestrelMain::SetSlotLists(const std::vector<std::string>&, const std::vector<std::string>&) {}

}  // namespace kestrel
