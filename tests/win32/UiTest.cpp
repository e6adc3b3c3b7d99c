// The ui adapter: its windows, messages, timers, mutexes and the bring-to-front search.
#include <gtest/gtest.h>

#include <thread>

#include "platform/win32/Win32Platform.h"

namespace kestrel::win32 {
namespace {

HINSTANCE Self() { return ::GetModuleHandleA(nullptr); }

// Pumps until done() or the time is up.
template <class Pred>
bool PumpUntil(Win32Ui& ui, Pred done, DWORD ms = 3000) {
    const DWORD start = ::GetTickCount();
    while (!done()) {
        if (::GetTickCount() - start > ms) return false;
        ui.WaitForMessages(20);
        ui.ProcessMessages();
    }
    return true;
}

TEST(Win32UiTest, NamedMutexCreatedThenOpenedAndGoneWhenClosed) {
    Win32Ui ui(Self());
    const std::string name = "KESTREL_TEST_MUTEX_" + std::to_string(::GetCurrentProcessId());
    EXPECT_EQ(ui.OpenNamedMutex(name), 0u);
    const MutexHandle own = ui.CreateNamedMutex(name);
    ASSERT_NE(own, 0u);
    const MutexHandle seen = ui.OpenNamedMutex(name);
    EXPECT_NE(seen, 0u);
    ui.CloseMutex(seen);
    ui.CloseMutex(own);
    EXPECT_EQ(ui.OpenNamedMutex(name), 0u);
}

TEST(Win32UiTest, ApplicationWindowIsFoundByASecondInstanceOnly) {
    Win32Ui first(Self());
    Win32Ui second(Self());
    ASSERT_NE(first.ApplicationWindow(), nullptr);
    EXPECT_FALSE(::IsWindowVisible(first.ApplicationWindow()));
    char cls[64] = {}, title[64] = {};
    ::GetClassNameA(first.ApplicationWindow(), cls, sizeof cls);
    ::GetWindowTextA(first.ApplicationWindow(), title, sizeof title);
    EXPECT_STREQ(cls, "TApplication");
    EXPECT_STREQ(title, "Kestrel");
    EXPECT_EQ(first.ApplicationTitle(), "Kestrel");
    // The second blanks its own caption and finds the first; the first then finds nobody.
    EXPECT_TRUE(second.BringOtherInstanceToFront("TApplication", second.ApplicationTitle()));
    EXPECT_EQ(::GetWindowTextLengthA(second.ApplicationWindow()), 0);
    EXPECT_FALSE(first.BringOtherInstanceToFront("TApplication", first.ApplicationTitle()));
}

TEST(Win32UiTest, WorkPostedFromAnotherThreadRunsOnTheGuiThread) {
    Win32Ui ui(Self());
    EXPECT_TRUE(ui.IsGuiThread());
    bool ran = false, onGui = false, workerSawGui = true;
    std::thread worker([&] {
        workerSawGui = ui.IsGuiThread();
        ui.PostToGuiThread([&] {
            ran = true;
            onGui = ui.IsGuiThread();
        });
    });
    worker.join();
    EXPECT_FALSE(workerSawGui);
    EXPECT_TRUE(PumpUntil(ui, [&] { return ran; }));
    EXPECT_TRUE(onGui);
    // Posted but never run: freed with the window, no crash.
    ui.PostToGuiThread([] {});
}

TEST(Win32UiTest, TimerFiresUntilKilledAndMayKillItself) {
    Win32Ui ui(Self());
    int ticks = 0;
    ui.SetTimer(7, 10, [&] {
        if (++ticks == 3) ui.KillTimer(7);
    });
    EXPECT_TRUE(PumpUntil(ui, [&] { return ticks >= 3; }));
    PumpUntil(ui, [] { return false; }, 100);
    EXPECT_EQ(ticks, 3);
}

TEST(Win32UiTest, WaitForMessagesReturnsAfterTheTimeoutWhenIdle) {
    Win32Ui ui(Self());
    ui.ProcessMessages();
    const DWORD start = ::GetTickCount();
    ui.WaitForMessages(60);
    EXPECT_GE(::GetTickCount() - start, 40u);
}

TEST(Win32UiTest, QuitRequestEndsTheLoopAndIsSeenByProcessMessages) {
    {
        Win32Ui ui(Self());
        EXPECT_FALSE(ui.QuitRequested());
        ui.RequestQuit();
        EXPECT_TRUE(ui.QuitRequested());
        ui.RunMessageLoop();  // returns at once
    }
    {
        Win32Ui ui(Self());
        ui.PostToGuiThread([&] { ui.RequestQuit(); });
        ui.RunMessageLoop();
        EXPECT_TRUE(ui.QuitRequested());
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {  // drop the WM_QUIT left behind
        }
    }
    {
        Win32Ui ui(Self());
        ::PostQuitMessage(0);
        ui.ProcessMessages();
        EXPECT_TRUE(ui.QuitRequested());
    }
}

TEST(Win32UiTest, MainWindowFrame) {
    Win32Ui ui(Self());
    HWND w = ui.MainWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_FALSE(::IsWindowVisible(w));

    // UTF-8 texts (the Chinese ones) and 8-bit package texts that are not UTF-8.
    ui.SetCaption("\xE9\x9F\x8C\xE9\xAB\x94\xE6\x9B\xB4\xE6\x96\xB0");
    wchar_t caption[64] = {};
    ::GetWindowTextW(w, caption, 64);
    EXPECT_EQ(std::wstring(caption), L"\u97CC\u9AD4\u66F4\u65B0");
    EXPECT_EQ(Widen("Kestrel (v1.0)"), L"Kestrel (v1.0)");
    EXPECT_EQ(Widen(std::string("\xC4", 1)).size(), 1u);

    ui.SetSystemMenu(false);
    EXPECT_EQ(::GetWindowLongPtrW(w, GWL_STYLE) & WS_SYSMENU, 0);
    ui.SetSystemMenu(true);
    EXPECT_NE(::GetWindowLongPtrW(w, GWL_STYLE) & WS_SYSMENU, 0);

    ui.SetCloseEnabled(false);
    EXPECT_NE(::GetMenuState(::GetSystemMenu(w, FALSE), SC_CLOSE, MF_BYCOMMAND) & MF_GRAYED, 0u);
    ui.SetCloseEnabled(true);
    EXPECT_EQ(::GetMenuState(::GetSystemMenu(w, FALSE), SC_CLOSE, MF_BYCOMMAND) & MF_GRAYED, 0u);

    ui.SetMainWindowVisible(true);
    EXPECT_TRUE(::IsWindowVisible(w));
    ui.SetMainWindowVisible(false);
    EXPECT_FALSE(::IsWindowVisible(w));

    // Closing the window by its frame ends the application.
    ::SendMessageW(w, WM_CLOSE, 0, 0);
    EXPECT_TRUE(ui.QuitRequested());
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

TEST(Win32UiTest, PowerBroadcastReachesTheHandler) {
    Win32Ui ui(Self());
    uint32_t seen = 0;
    ui.SetPowerBroadcastHandler([&](uint32_t event) {
        seen = event;
        return 0x424D5144u;
    });
    EXPECT_EQ(static_cast<uint32_t>(::SendMessageW(ui.MainWindow(), WM_POWERBROADCAST, 0, 0)), 0x424D5144u);
    EXPECT_EQ(seen, 0u);
    ::SendMessageW(ui.MainWindow(), WM_POWERBROADCAST, 2, 0);
    EXPECT_EQ(seen, 2u);
    ui.SetPowerBroadcastHandler(nullptr);
    seen = 99;
    ::SendMessageW(ui.MainWindow(), WM_POWERBROADCAST, 0, 0);
    EXPECT_EQ(seen, 99u);
}

}  // namespace
}  // namespace kestrel::win32
