// Handlers that the selection and the update workflow fill in; until then the window calls these.
// Each timer handler does only its first step (the timer stops), so a shown window goes idle.
#include "app/KestrelMain.h"

namespace kestrel {

void TKestrelMain::cboDrivesChange() {}
void TKestrelMain::cmdUpdateClick() {}
void TKestrelMain::Timer1Timer() { Timer1.SetEnabled(false); }
void TKestrelMain::Timer2Timer() { Timer2.SetEnabled(false); }
void TKestrelMain::tmrAutoFlashTimer() { tmrAutoFlash.SetEnabled(false); }

}  // namespace kestrel
