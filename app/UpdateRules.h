#pragma once
// The small decisions of the update workflow, kept apart from the window so each can be checked
// over a table: the NVMe slot to write, the fatal-drive DEF codes, the failure text of a download
// result, and the progress animation step.
#include <cstdint>
#include <string>
#include <vector>

#include "support/LogSink.h"

namespace kestrel {

// Whether a revision belongs to the family that always goes to slot 1 ("DQT" at characters 4-6,
// "DQ", "RD", "TT" or "BG" at 4-5, or "V" at 6, counted from 1).
bool IsRevTFamily(const std::string& revision);

// The firmware slot for target revision newFw over the slot list as the window holds it ("Default"
// at position 0, then "n. <revision>" with "NA" for an empty slot). currentSlot is the slot chosen
// so far; the result is always 1..7.
int32_t ChooseFirmwareSlot(const std::vector<std::string>& slotItems, const std::string& newFw, int32_t currentSlot,
                           const LogSink& log);

// The DEF codes of drives that must go back to the vendor when their vendor buffer holds data.
bool HasFatalDefCode(const char* szDefRev);

// The status and report text of a failed download (empty for a code without a text).
std::string FlashErrorText(int32_t result, uint32_t detail);

// One tick of the progress animation: the bar's next position and the interval of the next tick.
struct ProgressTick {
    bool hold = false;      // no step this time
    int32_t position = 0;   // 0..100
    uint32_t interval = 0;  // ms
};
ProgressTick NextProgress(int32_t stage, int32_t position, double elapsedSeconds, bool deployMode, uint32_t interval);

}  // namespace kestrel
