#pragma once
// Where a component's debug-log lines go. The main window hands its WriteLog; a test collects the
// lines. A component never decides itself whether logging is enabled.
#include <functional>
#include <string_view>

namespace kestrel {

using LogSink = std::function<void(std::string_view)>;

}  // namespace kestrel
