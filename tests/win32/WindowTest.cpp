// The main window's controls on Windows: created from their state, wide texts, the client size,
// the owner-draw callback and the events.
#include <gtest/gtest.h>

#include "platform/win32/Win32Platform.h"

namespace kestrel::win32 {
namespace {

HINSTANCE Self() { return ::GetModuleHandleA(nullptr); }

UiControlState State(int id, UiKind kind, const std::string& name, int left, int top, int width, int height) {
    UiControlState s;
    s.id = id;
    s.kind = kind;
    s.name = name;
    s.left = left;
    s.top = top;
    s.width = width;
    s.height = height;
    return s;
}

std::wstring TextOf(HWND h) {
    wchar_t buf[256] = {};
    ::GetWindowTextW(h, buf, 256);
    return buf;
}

TEST(Win32WindowTest, ControlsTextsAndClientArea) {
    Win32Ui ui(Self());
    ui.SetClientSize(449, 190);
    RECT client{};
    ::GetClientRect(ui.MainWindow(), &client);
    const int dpi = static_cast<int>(::GetDeviceCaps(::GetDC(nullptr), LOGPIXELSX));
    EXPECT_EQ(client.right, ::MulDiv(449, dpi, 96));
    EXPECT_EQ(client.bottom, ::MulDiv(190, dpi, 96));
    EXPECT_NE(::GetWindowLongPtrW(ui.MainWindow(), GWL_EXSTYLE) & WS_EX_TOPMOST, 0);

    // A Chinese caption reaches the control as the same wide text.
    UiControlState label = State(5, UiKind::Label, "lblTo", 12, 141, 20, 16);
    label.text = "到";
    ui.UpdateControl(label);
    HWND h = ::GetDlgItem(ui.MainWindow(), 5);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(TextOf(h), std::wstring(L"\x5230"));
    label.text = "更新";
    label.visible = false;
    ui.UpdateControl(label);
    EXPECT_EQ(TextOf(h), std::wstring(L"\x66F4\x65B0"));
    EXPECT_FALSE(::IsWindowVisible(h));

    const UiSize size = ui.MeasureText("It will be updated from", false);
    EXPECT_GT(size.cx, 60);
    EXPECT_GE(size.cy, 13);
    EXPECT_GT(ui.MeasureText("It will be updated from", true).cx, size.cx - 1);
}

TEST(Win32WindowTest, ListDrawsThroughTheHandlerAndReportsChoices) {
    Win32Ui ui(Self());
    ui.SetClientSize(449, 190);
    std::vector<UiDrawItem> drawn;
    ui.SetDrawHandler([&](const UiDrawItem& item) {
        drawn.push_back(item);
        UiDrawOp fill;
        fill.rect = item.rect;
        fill.color = 0x00CCFF;
        return std::vector<UiDrawOp>{fill};
    });
    std::vector<std::pair<int, int>> events;
    ui.SetEventHandler([&](int control, UiEvent event, int value) {
        if (event == UiEvent::SelectionChange) events.emplace_back(control, value);
    });
    UiControlState list = State(7, UiKind::ComboBox, "cboDrives", 8, 96, 433, 38);
    list.itemHeight = 32;
    list.items = {"(S)  0-0-0-0 A", "(M)  1-0-0-0 B"};
    list.itemIndex = 1;
    ui.UpdateControl(list);
    HWND h = ::GetDlgItem(ui.MainWindow(), 7);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(::SendMessageW(h, CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(::SendMessageW(h, CB_GETCURSEL, 0, 0), 1);
    const int dpi = static_cast<int>(::GetDeviceCaps(::GetDC(nullptr), LOGPIXELSX));
    EXPECT_GE(::SendMessageW(h, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0), ::MulDiv(32, dpi, 96));

    ui.SetMainWindowVisible(true);
    ::RedrawWindow(ui.MainWindow(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    ui.ProcessMessages();
    ASSERT_FALSE(drawn.empty());
    EXPECT_EQ(drawn.back().control, 7);
    EXPECT_EQ(drawn.back().item, 1);
    // The fill the handler asked for is on the screen, in the list's selection field.
    HDC dc = ::GetDC(h);
    const COLORREF px = ::GetPixel(dc, ::MulDiv(200, dpi, 96), ::MulDiv(15, dpi, 96));
    ::ReleaseDC(h, dc);
    EXPECT_EQ(px, static_cast<COLORREF>(0x00CCFF));

    // A choice the user makes reaches the logic with the chosen position.
    ::SendMessageW(h, CB_SETCURSEL, 0, 0);
    ::SendMessageW(ui.MainWindow(), WM_COMMAND, MAKEWPARAM(7, CBN_SELCHANGE), reinterpret_cast<LPARAM>(h));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], std::make_pair(7, 0));
    ui.SetMainWindowVisible(false);
}

}  // namespace
}  // namespace kestrel::win32
