#pragma once
// A simulated Windows machine, described by one JSON document (docs/sim-machine.md): its Windows,
// its registry and files and, with later parts, its device tree and drives. With a state folder the
// machine reads what earlier runs left and keeps what this run changes.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/Platform.h"
#include "sim/SimClock.h"
#include "sim/SimDeviceTree.h"
#include "sim/SimFiles.h"
#include "sim/SimRegistry.h"
#include "sim/SimServices.h"
#include "sim/SimStorage.h"
#include "sim/SimSystem.h"
#include "sim/SimUi.h"

namespace kestrel::sim {

struct SimOptions {
    std::optional<std::filesystem::path> stateDir;
    bool virtualClock = true;
    std::vector<std::string> answers;
    bool interactive = false;  // ask the terminal when the scripted answers run out
    bool echo = false;         // print message boxes and events to stderr
    bool show = false;         // print the main window as text on stdout when it changes
    // What the user does in the shown window when it waits for input, in order: "click:NAME",
    // "choose:NAME:ITEM". When they run out the user closes the idle window.
    std::vector<std::string> userActions;
};

// The embedded default machine description.
const std::string& DefaultMachineJson();

class SimMachine {
public:
    // Throws std::runtime_error with a message naming the field when the description is invalid.
    SimMachine(const nlohmann::json& description, SimOptions options);
    ~SimMachine();
    SimMachine(const SimMachine&) = delete;
    SimMachine& operator=(const SimMachine&) = delete;

    // From KESTREL_SIM_MACHINE, KESTREL_SIM_STATE, KESTREL_SIM_CLOCK, KESTREL_SIM_ANSWERS and
    // KESTREL_SIM_SHOW.
    static std::unique_ptr<SimMachine> FromEnvironment(bool echo);
    static nlohmann::json ParseDescription(const std::string& text);

    const Platform& platform() const { return platform_; }
    const nlohmann::json& description() const { return desc_; }
    const SimOptions& options() const { return opts_; }
    SimClock& clock() { return *clock_; }
    SimFiles& files() { return *files_; }
    SimRegistry& registry() { return *registry_; }
    SimSystem& system() { return *system_; }
    SimUi& ui() { return *ui_; }
    SimStorage& storage() { return *storage_; }
    SimDeviceTree& deviceTree() { return *deviceTree_; }
    SimServices& services() { return *services_; }

    // Writes what the run changed that is not written through already (events, drive states).
    void SaveState();

private:
    nlohmann::json desc_;
    SimOptions opts_;
    std::unique_ptr<SimClock> clock_;
    std::unique_ptr<SimFiles> files_;
    std::unique_ptr<SimRegistry> registry_;
    std::unique_ptr<SimSystem> system_;
    std::unique_ptr<SimUi> ui_;
    std::unique_ptr<SimStorage> storage_;
    std::unique_ptr<SimDeviceTree> deviceTree_;
    std::unique_ptr<SimServices> services_;
    Platform platform_;
};

}  // namespace kestrel::sim
