// Handlers that the selection and the update workflow fill in; until then the window calls these
// and nothing happens.
#include "app/KestrelMain.h"

namespace kestrel {

void TKestrelMain::cboDrivesChange() {}
void TKestrelMain::cmdUpdateClick() {}
void TKestrelMain::Timer1Timer() {}
void TKestrelMain::Timer2Timer() {}
void TKestrelMain::tmrAutoFlashTimer() {}

}  // namespace kestrel
