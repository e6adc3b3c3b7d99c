#pragma once
// The main window's controls on Windows: one child window per control, created on the control's
// first update, laid out in logical pixels scaled to the window's DPI.
#include <map>
#include <optional>
#include <string>

#include "platform/UiControls.h"
#include "platform/win32/Win32Api.h"

namespace kestrel::win32 {

// Resource ids of the window's art (res/kestrel.rc.in).
constexpr int kBannerResource = 101;
constexpr int kIconResourceBase = 110;  // + icon index

struct Win32Window {
    struct Control {
        UiControlState st;
        HWND hwnd = nullptr;
        bool hot = false;  // mouse over a glow button
    };
    int dpi = 96;
    int clientWidth = 0, clientHeight = 0;  // logical
    bool placed = false;                    // centred once
    std::map<int, Control> controls;
    std::optional<UiControlState> creating;  // answers WM_MEASUREITEM during creation
    HFONT font = nullptr, bold = nullptr;
    HBITMAP banner = nullptr;
    std::map<int, HICON> icons;  // by index, at the current DPI

    int S(int v) const { return ::MulDiv(v, dpi, 96); }
    ~Win32Window();
    void FreeGdi();
};

}  // namespace kestrel::win32
