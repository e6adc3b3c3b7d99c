#pragma once
// The real Windows adapters of the ports. Each call is passed to Windows as directly as the port's
// shape allows; what the program does with the answers lives in the components.
#include "platform/Platform.h"
#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32DeviceTree.h"
#include "platform/win32/Win32Services.h"
#include "platform/win32/Win32Window.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>

namespace kestrel::win32 {

class Win32Files : public IFiles {
public:
    std::string GetTempPath() override;
    std::string GetSystemDirectory() override;
    std::string GetWindowsDirectory() override;
    std::string GetModuleFileName() override;
    std::string GetCurrentDirectory() override;
    bool AppendToFile(const std::string& path, std::string_view bytes) override;
    bool WriteWholeFile(const std::string& path, std::string_view bytes) override;
    std::optional<std::string> ReadWholeFile(const std::string& path) override;
    bool DeleteFile(const std::string& path) override;
    bool FileExists(const std::string& path) override;
    bool CreateDirectory(const std::string& path) override;
};

class Win32Clock : public IClock {
public:
    bool QueryPerformanceFrequency(int64_t& frequency) override;
    bool QueryPerformanceCounter(int64_t& count) override;
    void Sleep(uint32_t milliseconds) override;
    uint32_t GetTickCount() override;
    LocalTime GetLocalTime() override;
    std::string FormatShortDate(const LocalTime& t) override;
    std::string FormatLongTime(const LocalTime& t) override;
};

class Win32System : public ISystem {
public:
    bool GetVersionExA(wire::OSVERSIONINFOEXA& rec) override;
    uint64_t VerSetConditionMask(uint64_t mask, uint32_t typeBit, uint8_t condition) override;
    bool VerifyVersionInfoA(const wire::OSVERSIONINFOEXA& rec, uint32_t typeMask, uint64_t conditionMask) override;
    std::optional<int32_t> RtlGetVersion(wire::RTL_OSVERSIONINFOEXW& rec) override;
    int32_t GetSystemMetrics(int32_t index) override;
    std::optional<bool> IsWow64Process() override;
    bool Is64BitProcess() override { return sizeof(void*) == 8; }
    bool IsAdministratorMember() override;
    bool EnableShutdownPrivilege(uint32_t& lastErrorAfterAdjust) override;
    bool ExitWindowsEx(uint32_t flags, uint32_t reason) override;
    bool ShellExecuteA(const std::string& operation, const std::string& file, const std::string& parameters,
                       const std::string& directory, int32_t showCommand) override;
    std::optional<std::string> GetOwnFileVersion() override;
    std::string ErrorMessageText(uint32_t code) override;
    uint32_t GetLastError() override { return ::GetLastError(); }
    uint32_t SetThreadExecutionState(uint32_t flags) override;
};

// HKEY_LOCAL_MACHINE only; a RegKey is the HKEY's value.
class Win32Registry : public IRegistry {
public:
    uint32_t CreateKey(const std::string& path, uint32_t access, RegKey& key) override;
    uint32_t OpenKey(const std::string& path, uint32_t access, RegKey& key) override;
    uint32_t QueryValue(RegKey key, const std::string& name, size_t capacity, RegValue& value) override;
    uint32_t SetValue(RegKey key, const std::string& name, const RegValue& value) override;
    uint32_t DeleteValue(RegKey key, const std::string& name) override;
    void CloseKey(RegKey key) override;
};

// A DevHandle is the HANDLE's value; INVALID_HANDLE_VALUE maps to kInvalidDevHandle on both widths.
class Win32Storage : public IStorage {
public:
    DevHandle CreateFileA(const std::string& path, uint32_t access, uint32_t shareMode, uint32_t disposition,
                          uint32_t flags) override;
    bool DeviceIoControl(DevHandle h, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                         uint32_t& bytesReturned) override;
    bool CloseHandle(DevHandle h) override;
    uint32_t GetLastError() override { return ::GetLastError(); }
};

// The GUI of the thread that creates it: the hidden application window (class "TApplication",
// titled with the application title, which a second instance searches for and which carries the
// work posted from other threads) and the main window.
class Win32Ui : public IUi {
public:
    explicit Win32Ui(HINSTANCE instance);
    ~Win32Ui() override;
    Win32Ui(const Win32Ui&) = delete;
    Win32Ui& operator=(const Win32Ui&) = delete;

    void RunMessageLoop() override;
    void RequestQuit() override;
    bool QuitRequested() override { return quit_; }
    void ProcessMessages() override;
    void WaitForMessages(uint32_t timeoutMs) override;
    void PostToGuiThread(std::function<void()> fn) override;
    bool IsGuiThread() override { return ::GetCurrentThreadId() == guiThread_; }
    void SetTimer(uint32_t id, uint32_t intervalMs, std::function<void()> callback) override;
    void KillTimer(uint32_t id) override;
    int MessageBox(const std::string& text, const std::string& title, uint32_t flags) override;
    void SetCaption(const std::string& caption) override;
    void SetSystemMenu(bool present) override;
    void SetMainWindowVisible(bool visible) override;
    void SetCloseEnabled(bool enabled) override;
    bool DeleteSystemMenuEntry(int position) override;
    std::string ApplicationTitle() override { return kApplicationTitle; }
    MutexHandle OpenNamedMutex(const std::string& name) override;
    MutexHandle CreateNamedMutex(const std::string& name) override;
    void CloseMutex(MutexHandle h) override;
    bool BringOtherInstanceToFront(const std::string& windowClass, const std::string& title) override;
    void SetPowerBroadcastHandler(std::function<uint32_t(uint32_t)> handler) override { power_ = std::move(handler); }
    bool ShutdownBlockReasonCreate(const std::string& reason) override;
    bool ShutdownBlockReasonDestroy() override;
    void SetClientSize(int width, int height) override;
    void SetWindowHeight(int height) override;
    int NonClientHeight() override;
    void UpdateControl(const UiControlState& control) override;
    UiSize MeasureText(const std::string& text, bool bold) override;
    void SetDrawHandler(std::function<std::vector<UiDrawOp>(const UiDrawItem&)> handler) override { draw_ = std::move(handler); }
    void SetEventHandler(std::function<void(int, UiEvent, int)> handler) override { event_ = std::move(handler); }
    int16_t GetKeyState(int virtualKey) override { return ::GetKeyState(virtualKey); }
    std::optional<std::string> OpenFileDialog(const std::string& title, const std::string& filter) override;
    bool CloseWindowTitled(const std::string& caption) override;

    HWND ApplicationWindow() const { return app_; }
    HWND MainWindow() const { return main_; }

    static constexpr const char* kApplicationTitle = "Kestrel";
    static constexpr const char* kApplicationClass = "TApplication";
    static constexpr const char* kMainClass = "TKestrelMain";

private:
    static LRESULT CALLBACK AppProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK MainProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT OnMain(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    void Dispatch(MSG& msg);

    HINSTANCE instance_;
    DWORD guiThread_;
    HWND app_ = nullptr;
    HWND main_ = nullptr;
    std::atomic<bool> quit_{false};
    std::map<uint32_t, std::function<void()>> timers_;
    std::function<uint32_t(uint32_t)> power_;
    bool blockShutdown_ = false;
    std::function<std::vector<UiDrawOp>(const UiDrawItem&)> draw_;
    std::function<void(int, UiEvent, int)> event_;
    Win32Window window_;
    // The window's controls (Win32Window.cpp).
    bool OnWindowMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);
    void CreateControl(const UiControlState& st);
    void ApplyControl(Win32Window::Control& c, const UiControlState& next, bool created);
    void PlaceControl(const Win32Window::Control& c);
    bool ShownOnScreen(const UiControlState& st) const;
    void Relayout();
    void UpdateFonts();
    void ResizeWindow(int clientWidth, int clientHeight, bool centre);
    void DrawGlowButton(const DRAWITEMSTRUCT& d, const Win32Window::Control& c);
    void DrawBanner(const DRAWITEMSTRUCT& d);
    void DrawListItem(const DRAWITEMSTRUCT& d, const Win32Window::Control& c);
    HICON Icon(int index);
    static LRESULT CALLBACK ButtonProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR data);
};

// One adapter of each port, bundled for the program.
class Win32Platform {
public:
    explicit Win32Platform(HINSTANCE instance) : ui_(instance) {}
    Platform Get() {
        Platform p;
        p.files = &files_;
        p.clock = &clock_;
        p.system = &system_;
        p.ui = &ui_;
        p.registry = &registry_;
        p.storage = &storage_;
        p.deviceTree = &deviceTree_;
        p.services = &services_;
        return p;
    }
    Win32Ui& ui() { return ui_; }

private:
    Win32Files files_;
    Win32Clock clock_;
    Win32System system_;
    Win32Registry registry_;
    Win32Storage storage_;
    Win32DeviceTree deviceTree_;
    Win32Services services_;
    Win32Ui ui_;
};

}  // namespace kestrel::win32
