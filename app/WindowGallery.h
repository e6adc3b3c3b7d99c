#pragma once
// The main window put into each of the states a person meets, with drives of our choosing: for
// looking at the window (kestrel-sim with KESTREL_SIM_GALLERY) before the workflow can reach them.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace kestrel {

// The states: "drives" (two drives, one eligible, and the update line), "notallowed" (the
// ineligible drive selected), "updating" (status line and progress), "deploy" (the progress panel of
// a deployment run), "chinese" (the drives state in Traditional Chinese).
const std::vector<std::string>& GalleryStates();

// Shows the window in the state and runs the message loop until the window is closed or, with
// closeAfterMs above 0, that much later. onShown runs once the window is visible. Returns 0, or 2
// for an unknown state.
int RunWindowGallery(const Platform& platform, const std::string& state, uint32_t closeAfterMs,
                     const std::function<void()>& onShown = {});

}  // namespace kestrel
