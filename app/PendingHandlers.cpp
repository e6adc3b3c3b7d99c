// Handlers that the selection fills in; until then the window calls these and nothing happens.
#include "app/KestrelMain.h"

namespace kestrel {

void TKestrelMain::cboDrivesChange() {}

}  // namespace kestrel
