#pragma once
// The message loop, timers, message boxes, the main window's frame and the single-instance mutex.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/UiControls.h"

namespace kestrel {

// MessageBox flags and answers as Windows defines them.
constexpr uint32_t MB_OK_FLAG = 0x0;
constexpr uint32_t MB_OKCANCEL_FLAG = 0x1;
constexpr uint32_t MB_YESNO_FLAG = 0x4;
constexpr uint32_t MB_ICONERROR_FLAG = 0x10;
constexpr uint32_t MB_ICONQUESTION_FLAG = 0x20;
constexpr uint32_t MB_ICONWARNING_FLAG = 0x30;
constexpr uint32_t MB_ICONINFORMATION_FLAG = 0x40;
constexpr uint32_t MB_TOPMOST_FLAG = 0x40000;
constexpr int ID_OK = 1;
constexpr int ID_CANCEL = 2;
constexpr int ID_YES = 6;
constexpr int ID_NO = 7;

using MutexHandle = uint64_t;  // 0: none

class IUi {
public:
    virtual ~IUi() = default;

    // Runs the message loop until a quit request has been seen.
    virtual void RunMessageLoop() = 0;
    // PostQuitMessage: the loop ends at its next turn.
    virtual void RequestQuit() = 0;
    virtual bool QuitRequested() = 0;
    // Dispatches every pending message (timers, posted work, painting) and returns.
    virtual void ProcessMessages() = 0;
    // Blocks until a message arrives or the time has passed (MsgWaitForMultipleObjectsEx).
    virtual void WaitForMessages(uint32_t timeoutMs) = 0;
    // Runs fn on the GUI thread's message loop.
    virtual void PostToGuiThread(std::function<void()> fn) = 0;
    virtual bool IsGuiThread() = 0;

    // A periodic timer of the main window; the callback runs on the GUI thread.
    virtual void SetTimer(uint32_t id, uint32_t intervalMs, std::function<void()> callback) = 0;
    virtual void KillTimer(uint32_t id) = 0;

    virtual int MessageBox(const std::string& text, const std::string& title, uint32_t flags) = 0;

    // The main window's frame.
    virtual void SetCaption(const std::string& caption) = 0;
    virtual void SetSystemMenu(bool present) = 0;
    virtual void SetMainWindowVisible(bool visible) = 0;
    // Greys or enables the Close entry (SC_CLOSE) of the main window's system menu.
    virtual void SetCloseEnabled(bool enabled) = 0;
    // DeleteMenu(GetSystemMenu(main, FALSE), position, MF_BYPOSITION); false when there is no such entry.
    virtual bool DeleteSystemMenuEntry(int position) = 0;
    // The title of the application (the text the bring-to-front search looks for).
    virtual std::string ApplicationTitle() = 0;

    // OpenMutexA(SYNCHRONIZE) / CreateMutexA(unowned): 0 when it does not exist / cannot be created.
    virtual MutexHandle OpenNamedMutex(const std::string& name) = 0;
    virtual MutexHandle CreateNamedMutex(const std::string& name) = 0;
    virtual void CloseMutex(MutexHandle h) = 0;
    // Blank this instance's own application caption, find the top-level window of the class and
    // title, restore it if minimised and bring it to the foreground. False when it was not found.
    virtual bool BringOtherInstanceToFront(const std::string& windowClass, const std::string& title) = 0;

    // The main window's WM_POWERBROADCAST handler: gets the event code (wParam), gives the answer.
    // An empty function leaves the message to the default handling.
    virtual void SetPowerBroadcastHandler(std::function<uint32_t(uint32_t)> handler) { (void)handler; }

    // ShutdownBlockReasonCreate / ShutdownBlockReasonDestroy on the main window; while a reason is
    // set the window also refuses the end of the session. False when Windows refused (or has no
    // such call).
    virtual bool ShutdownBlockReasonCreate(const std::string& reason) { (void)reason; return false; }
    virtual bool ShutdownBlockReasonDestroy() { return false; }
    // The main window's controls (platform/UiControls.h). The logic owns their state; each change
    // is handed over whole, and the first update of an id creates the control.
    virtual void SetClientSize(int width, int height) = 0;
    // The window's outer height (frame and caption included), in logical pixels.
    virtual void SetWindowHeight(int height) = 0;
    // Caption and frame height that the window adds to its client area, in logical pixels.
    virtual int NonClientHeight() = 0;
    virtual void UpdateControl(const UiControlState& control) = 0;
    // Size of a text in the 13-pixel Tahoma of the labels, in logical pixels.
    virtual UiSize MeasureText(const std::string& text, bool bold) = 0;
    // The owner-draw callback of the drop-down lists (items measure 30 pixels).
    virtual void SetDrawHandler(std::function<std::vector<UiDrawOp>(const UiDrawItem&)> handler) = 0;
    // Clicks and selection changes of the controls, by control id.
    virtual void SetEventHandler(std::function<void(int control, UiEvent event, int value)> handler) = 0;
    // GetKeyState: negative while the key is held down.
    virtual int16_t GetKeyState(int virtualKey) = 0;
    // The file-open dialog owned by the main window: the chosen path, or nothing when cancelled.
    // filter: "description|pattern" pairs separated by '|'.
    virtual std::optional<std::string> OpenFileDialog(const std::string& title, const std::string& filter) = 0;
    // Finds the top-level window with this exact caption and sends it WM_CLOSE; false when none.
    virtual bool CloseWindowTitled(const std::string& caption) = 0;
};

}  // namespace kestrel
