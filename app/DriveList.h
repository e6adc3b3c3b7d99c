#pragma once
// The pieces of the drive list that need no window: item texts and the two-part gradient.
#include <cstdint>
#include <string>
#include <vector>

#include "discovery/DriveTable.h"
#include "platform/UiControls.h"

namespace kestrel {

// Colours of a two-part gradient (0x00BBGGRR).
struct GradientColors {
    uint32_t topStart, topEnd, bottomStart, bottomEnd;
};

// "(M)  2-0-1-0 <model> <revision>": system-drive letter, SCSI address, trimmed model, revision.
std::string DriveItemText(const DEV_INFO& d);

// The rectangle in 3-pixel bands: the first half of the bands from top start toward top end, the
// rest from bottom start toward bottom end, each channel s + (e - s) * 2i / bands.
std::vector<UiDrawOp> GradientBands(const UiRect& r, const GradientColors& g);

}  // namespace kestrel
