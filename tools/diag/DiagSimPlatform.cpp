// The simulated machine of KESTREL_SIM_MACHINE (the embedded default one without it).
#include "sim/SimMachine.h"
#include "tools/diag/DiagPlatform.h"

namespace kestrel::diag {
namespace {
class SimHost : public DiagPlatform {
public:
    SimHost() : machine_(sim::SimMachine::FromEnvironment(false)) {}
    const Platform& platform() const override { return machine_->platform(); }

private:
    std::unique_ptr<sim::SimMachine> machine_;
};
}  // namespace

std::unique_ptr<DiagPlatform> MakeDiagPlatform() { return std::make_unique<SimHost>(); }

}  // namespace kestrel::diag
