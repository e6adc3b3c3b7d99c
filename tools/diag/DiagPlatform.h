#pragma once
// The machine kestrel-diag looks at: the simulated one natively, the real one on Windows.
#include <memory>

#include "platform/Platform.h"

namespace kestrel::diag {

class DiagPlatform {
public:
    virtual ~DiagPlatform() = default;
    virtual const Platform& platform() const = 0;
};

// Throws std::runtime_error when the machine cannot be set up.
std::unique_ptr<DiagPlatform> MakeDiagPlatform();

}  // namespace kestrel::diag
