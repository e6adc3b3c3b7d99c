#pragma once
// The simulated GUI: a message queue and timers over the simulated clock, message boxes answered
// by a script (or at the terminal), the main window's frame state, named mutexes.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/Ui.h"
#include "sim/SimClock.h"

namespace kestrel::sim {

struct ShownBox {
    std::string text, title;
    uint32_t flags = 0;
    int answer = 0;
};

class SimUi : public IUi {
public:
    // answers: "yes", "no", "ok", "cancel", in order; when they run out the default button is taken
    // (or the terminal is asked, when interactive).
    SimUi(SimClock& clock, std::vector<std::string> answers, bool interactive, bool echo);

    // Print the window as text (on standard output) whenever it changes in a way a person notices.
    void SetShowWindow(bool show) { show_ = show; }

    void RunMessageLoop() override;
    void RequestQuit() override { quit_ = true; }
    bool QuitRequested() override { return quit_; }
    void ProcessMessages() override;
    void WaitForMessages(uint32_t timeoutMs) override;
    void PostToGuiThread(std::function<void()> fn) override;
    bool IsGuiThread() override { return std::this_thread::get_id() == gui_; }
    void SetTimer(uint32_t id, uint32_t intervalMs, std::function<void()> callback) override;
    void KillTimer(uint32_t id) override;
    int MessageBox(const std::string& text, const std::string& title, uint32_t flags) override;
    void SetCaption(const std::string& caption) override { caption_ = caption; }
    void SetSystemMenu(bool present) override { systemMenu_ = present; }
    void SetMainWindowVisible(bool visible) override;
    void SetCloseEnabled(bool enabled) override { closeEnabled_ = enabled; }
    bool DeleteSystemMenuEntry(int position) override {
        if (position < 0 || static_cast<size_t>(position) >= systemMenuEntries_.size()) return false;
        systemMenuEntries_.erase(systemMenuEntries_.begin() + position);
        return true;
    }
    // The window menu as Windows builds it for a sizeable window, with what the program removed.
    const std::vector<std::string>& SystemMenuEntries() const { return systemMenuEntries_; }
    std::string ApplicationTitle() override { return "Kestrel"; }
    MutexHandle OpenNamedMutex(const std::string& name) override;
    MutexHandle CreateNamedMutex(const std::string& name) override;
    void CloseMutex(MutexHandle h) override;
    bool BringOtherInstanceToFront(const std::string& windowClass, const std::string& title) override;
    void SetPowerBroadcastHandler(std::function<uint32_t(uint32_t)> handler) override { power_ = std::move(handler); }
    bool ShutdownBlockReasonCreate(const std::string& reason) override;
    bool ShutdownBlockReasonDestroy() override;
    void SetClientSize(int width, int height) override;
    void SetWindowHeight(int height) override;
    int NonClientHeight() override { return kNonClientHeight; }
    void UpdateControl(const UiControlState& control) override;
    UiSize MeasureText(const std::string& text, bool bold) override;
    void SetDrawHandler(std::function<std::vector<UiDrawOp>(const UiDrawItem&)> handler) override { draw_ = std::move(handler); }
    void SetEventHandler(std::function<void(int, UiEvent, int)> handler) override { event_ = std::move(handler); }
    int16_t GetKeyState(int virtualKey) override;
    std::optional<std::string> OpenFileDialog(const std::string& title, const std::string& filter) override;
    bool CloseWindowTitled(const std::string& caption) override;

    // Caption and frame of a dialog-bordered window, as a classic Windows theme draws them.
    static constexpr int kNonClientHeight = 29;

    // The window as a person would see it: controls by form name.
    const UiControlState* Control(const std::string& name) const;
    int ClientWidth() const { return clientWidth_; }
    int ClientHeight() const { return clientHeight_; }
    int WindowHeight() const { return clientHeight_ + kNonClientHeight; }
    // The item rectangle Windows gives the owner-draw handler for the closed list's selection field.
    static UiRect SelectionFieldRect(const UiControlState& list);
    // Paints item n of a list through the program's draw handler (selected: the focused look).
    std::vector<UiDrawOp> DrawListItem(const std::string& name, int item, bool selected);
    // The user: a click on a button, a choice in a list (ignored when the control is hidden or
    // disabled, as Windows would), keys held down, the file-open dialog's answer.
    bool Click(const std::string& name);
    // Actions the user takes, one each time the shown window waits for input (see SimOptions).
    void SetUserActions(std::vector<std::string> actions) { userActions_.assign(actions.begin(), actions.end()); }
    bool Choose(const std::string& name, int item);
    void HoldKey(int virtualKey, bool down);
    void SetOpenFileAnswer(std::optional<std::string> path) { openFile_ = std::move(path); }
    const std::vector<std::string>& ClosedWindowTitles() const { return closedTitles_; }
    // The text frame of the window as it is now.
    std::string Render() const;
    // Prints the frame when the window is visible and has changed noticeably since last printed.
    void ShowIfChanged();

    // Delivers WM_POWERBROADCAST to the main window: the handler's answer, 0 when none is set.
    uint32_t DeliverPowerBroadcast(uint32_t event) { return power_ ? power_(event) : 0; }
    bool PowerBroadcastHandlerSet() const { return static_cast<bool>(power_); }
    // Something that happens while a message box is open (its modal loop still dispatches the
    // main window's messages): fn runs once per box, before the box is answered; not for boxes
    // that fn itself causes.
    void WhileBoxShown(std::function<void()> fn) { whileBox_ = std::move(fn); }

    // A mutex held by another process of the machine.
    void HoldMutexElsewhere(const std::string& name) { foreign_.insert(name); }

    const std::vector<ShownBox>& Boxes() const { return boxes_; }
    const std::string& Caption() const { return caption_; }
    bool SystemMenu() const { return systemMenu_; }
    bool CloseEnabled() const { return closeEnabled_; }
    bool WindowEverShown() const { return everShown_; }
    bool WindowVisible() const { return visible_; }
    int BroughtToFront() const { return broughtToFront_; }
    // The shutdown block reason in force (empty: none), and every create ("+reason") and destroy
    // ("-") call in order.
    const std::string& ShutdownBlockReason() const { return blockReason_; }
    const std::vector<std::string>& ShutdownBlockCalls() const { return blockCalls_; }
    // WM_QUERYENDSESSION: whether the main window lets the session end.
    bool QueryEndSession() const { return blockReason_.empty(); }

private:
    struct Timer {
        uint32_t intervalMs;
        int64_t dueNs;
        std::function<void()> cb;
    };
    bool FireDueTimers();
    bool RunPosted();
    int64_t NextDueNs() const;
    int DefaultAnswer(uint32_t flags) const;

    SimClock& clock_;
    std::deque<std::string> answers_;
    std::deque<std::string> userActions_;
    // Takes the next user action when the window is shown; false when none is left.
    bool TakeUserAction();
    bool interactive_;
    bool echo_;
    std::thread::id gui_;
    bool quit_ = false;
    std::mutex postedMutex_;
    std::deque<std::function<void()>> posted_;
    std::map<uint32_t, Timer> timers_;
    std::vector<ShownBox> boxes_;
    std::string caption_;
    bool systemMenu_ = true;
    std::vector<std::string> systemMenuEntries_{"Restore", "Move", "Size", "Minimize", "Maximize", "-", "Close"};
    bool closeEnabled_ = true;
    bool visible_ = false;
    bool everShown_ = false;
    std::set<std::string> foreign_;
    std::map<MutexHandle, std::string> own_;
    MutexHandle nextMutex_ = 0x100;
    int broughtToFront_ = 0;
    std::function<uint32_t(uint32_t)> power_;
    std::function<void()> whileBox_;
    bool inWhileBox_ = false;
    std::string blockReason_;
    std::vector<std::string> blockCalls_;

    // The window's controls.
    std::string RenderFrame(bool forComparison) const;
    bool show_ = false;
    int clientWidth_ = 0, clientHeight_ = 0;
    std::map<int, UiControlState> controls_;
    std::vector<int> order_;
    std::function<std::vector<UiDrawOp>(const UiDrawItem&)> draw_;
    std::function<void(int, UiEvent, int)> event_;
    std::set<int> keysDown_;
    std::optional<std::string> openFile_;
    std::vector<std::string> closedTitles_;
    std::string lastShown_;
};

}  // namespace kestrel::sim
