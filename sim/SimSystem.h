#pragma once
// The simulated Windows: version fields (what the system really is, and what it reports to a program
// without a compatibility entry), WOW64, administrator rights, shutdown, error texts.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/System.h"

namespace kestrel::sim {

struct SimVersion {
    uint32_t platform = 2, major = 10, minor = 0, build = 19045;
    std::string csd;
    uint16_t spMajor = 0, spMinor = 0, suite = 0x0100;
    uint8_t productType = 1;
};

// A program start through the shell, as the program asked for it.
struct ShellStart {
    std::string operation, file, parameters, directory;
    int32_t showCommand = 0;
};

struct SimSystemConfig {
    // What GetVersionExA and VerifyVersionInfoA see.
    SimVersion reported;
    // What RtlGetVersion sees; nullopt when ntdll does not export it.
    std::optional<SimVersion> rtl;
    bool rtlFails = false;           // RtlGetVersion returns an error status
    bool verifyVersionFails = false;  // VerifyVersionInfoA answers false to everything
    bool getVersionFails = false;
    int32_t serverR2 = 0;
    std::optional<bool> wow64 = false;  // nullopt: kernel32 has no IsWow64Process
    bool process64 = true;
    bool administrator = true;
    bool shutdownPrivilege = true;
    uint32_t privilegeLastError = 0;  // GetLastError after AdjustTokenPrivileges
    bool exitWindowsAccepted = true;
    std::optional<std::string> fileVersion = std::string("1.0.0.1");
    std::map<uint32_t, std::string> errorTexts;
    // Calls that raise an exception instead of answering (a fault inside a system library).
    std::vector<std::string> throwIn;
};

class SimSystem : public ISystem {
public:
    explicit SimSystem(SimSystemConfig cfg) : cfg_(std::move(cfg)) {}

    bool GetVersionExA(wire::OSVERSIONINFOEXA& rec) override;
    uint64_t VerSetConditionMask(uint64_t mask, uint32_t typeBit, uint8_t condition) override;
    bool VerifyVersionInfoA(const wire::OSVERSIONINFOEXA& rec, uint32_t typeMask, uint64_t conditionMask) override;
    std::optional<int32_t> RtlGetVersion(wire::RTL_OSVERSIONINFOEXW& rec) override;
    int32_t GetSystemMetrics(int32_t index) override;
    std::optional<bool> IsWow64Process() override { return cfg_.wow64; }
    bool Is64BitProcess() override { return cfg_.process64; }
    bool IsAdministratorMember() override {
        MaybeThrow("IsAdministratorMember");
        return cfg_.administrator;
    }
    bool EnableShutdownPrivilege(uint32_t& lastErrorAfterAdjust) override;
    bool ExitWindowsEx(uint32_t flags, uint32_t reason) override;
    bool ShellExecuteA(const std::string& operation, const std::string& file, const std::string& parameters,
                       const std::string& directory, int32_t showCommand) override;
    std::optional<std::string> GetOwnFileVersion() override { return cfg_.fileVersion; }
    std::string ErrorMessageText(uint32_t code) override;
    uint32_t GetLastError() override { return lastError_; }
    uint32_t SetThreadExecutionState(uint32_t flags) override;

    SimSystemConfig& config() { return cfg_; }
    // ExitWindowsEx calls, recorded: the sim never performs them.
    const std::vector<uint32_t>& ExitRequests() const { return exits_; }
    // Shell starts, recorded: the sim never runs anything.
    const std::vector<ShellStart>& ShellStarts() const { return shellStarts_; }
    int VerifyCalls() const { return verifyCalls_; }
    // SetThreadExecutionState calls in order, and the state they leave (ES_CONTINUOUS flags stay
    // until the next continuous call; others apply once and are not kept).
    const std::vector<uint32_t>& ExecutionStateCalls() const { return executionCalls_; }
    uint32_t ExecutionState() const { return executionState_; }

private:
    void MaybeThrow(const char* call) const;
    SimSystemConfig cfg_;
    std::vector<uint32_t> exits_;
    std::vector<ShellStart> shellStarts_;
    uint32_t lastError_ = 0;
    int verifyCalls_ = 0;
    std::vector<uint32_t> executionCalls_;
    uint32_t executionState_ = ES_CONTINUOUS_FLAG;
};

}  // namespace kestrel::sim
