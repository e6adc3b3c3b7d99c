// The hidden NVMe slot and commit-action lists of the window, as the identify operations fill them.
#include "app/KestrelMain.h"

namespace kestrel {

void TKestrelMain::SetSlotLists(const std::vector<std::string>& slots, const std::vector<std::string>& actions) {
    cboFwSlot.Clear();
    for (const std::string& s : slots) cboFwSlot.AddItem(s);
    cboCommitAction.Clear();
    for (const std::string& a : actions) cboCommitAction.AddItem(a);
    cboFwSlot.SetItemIndex(slots.empty() ? -1 : 0);
    cboCommitAction.SetItemIndex(actions.size() > 3 ? 3 : -1);
}

}  // namespace kestrel
