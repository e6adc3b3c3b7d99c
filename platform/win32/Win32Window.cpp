// The main window's controls on Windows: labels, owner-drawn lists and glow buttons, progress bars,
// the banner, laid out in logical pixels and scaled to the DPI of the monitor the window is on.
#include "platform/win32/Win32Platform.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <vector>

namespace kestrel::win32 {
namespace {

#ifndef WM_DPICHANGED
constexpr UINT WM_DPICHANGED = 0x02E0;
#endif

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

int WindowDpi(HWND hwnd) {
    static const auto fn = ProcAddress<GetDpiForWindowFn>(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow");
    if (fn != nullptr && hwnd != nullptr) {
        const UINT dpi = fn(hwnd);
        if (dpi != 0) return static_cast<int>(dpi);
    }
    HDC dc = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(dc, LOGPIXELSX);
    ::ReleaseDC(nullptr, dc);
    return dpi > 0 ? dpi : 96;
}

// The frame and caption around a client rectangle at a DPI.
RECT FrameFor(HWND hwnd, int width, int height, int dpi) {
    RECT r{0, 0, width, height};
    const DWORD style = static_cast<DWORD>(::GetWindowLongPtrW(hwnd, GWL_STYLE));
    const DWORD ex = static_cast<DWORD>(::GetWindowLongPtrW(hwnd, GWL_EXSTYLE));
    static const auto fn = ProcAddress<AdjustForDpiFn>(::GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi");
    if (fn != nullptr)
        fn(&r, style, FALSE, ex, static_cast<UINT>(dpi));
    else
        ::AdjustWindowRectEx(&r, style, FALSE, ex);
    return r;
}

void FillSolid(HDC dc, const RECT& r, COLORREF color) {
    HBRUSH b = ::CreateSolidBrush(color);
    ::FillRect(dc, &r, b);
    ::DeleteObject(b);
}

COLORREF Mix(COLORREF a, COLORREF b, int num, int den) {
    if (den <= 0) return a;
    auto ch = [&](int shift) {
        const int x = static_cast<int>((a >> shift) & 0xFF), y = static_cast<int>((b >> shift) & 0xFF);
        return static_cast<COLORREF>(x + (y - x) * num / den) << shift;
    };
    return ch(0) | ch(8) | ch(16);
}

void VerticalGradient(HDC dc, const RECT& r, COLORREF top, COLORREF bottom) {
    const int h = r.bottom - r.top;
    for (int y = 0; y < h; ++y) FillSolid(dc, RECT{r.left, r.top + y, r.right, r.top + y + 1}, Mix(top, bottom, y, h - 1));
}

}  // namespace

Win32Window::~Win32Window() { FreeGdi(); }

void Win32Window::FreeGdi() {
    if (font != nullptr) ::DeleteObject(font);
    if (bold != nullptr) ::DeleteObject(bold);
    font = bold = nullptr;
    for (auto& [i, h] : icons) ::DestroyIcon(h);
    icons.clear();
}

void Win32Ui::UpdateFonts() {
    window_.FreeGdi();
    window_.font = ::CreateFontW(-window_.S(13), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                 CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma");
    window_.bold = ::CreateFontW(-window_.S(13), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                 CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma");
    for (auto& [id, c] : window_.controls)
        if (c.hwnd != nullptr) {
            ::SendMessageW(c.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(c.st.bold ? window_.bold : window_.font), TRUE);
            PlaceControl(c);
        }
}

HICON Win32Ui::Icon(int index) {
    const auto it = window_.icons.find(index);
    if (it != window_.icons.end()) return it->second;
    const int size = window_.S(30);
    HICON h = static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(kIconResourceBase + index), IMAGE_ICON, size, size, 0));
    window_.icons[index] = h;
    return h;
}

void Win32Ui::ResizeWindow(int clientWidth, int clientHeight, bool centre) {
    if (main_ == nullptr) return;
    const RECT frame = FrameFor(main_, window_.S(clientWidth), window_.S(clientHeight), window_.dpi);
    const int w = frame.right - frame.left, h = frame.bottom - frame.top;
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    int x = 0, y = 0;
    if (centre) {
        MONITORINFO mi{};
        mi.cbSize = sizeof mi;
        ::GetMonitorInfoW(::MonitorFromWindow(main_, MONITOR_DEFAULTTOPRIMARY), &mi);
        x = mi.rcWork.left + ((mi.rcWork.right - mi.rcWork.left) - w) / 2;
        y = mi.rcWork.top + ((mi.rcWork.bottom - mi.rcWork.top) - h) / 2;
    } else {
        flags |= SWP_NOMOVE;
    }
    ::SetWindowPos(main_, nullptr, x, y, w, h, flags);
}

void Win32Ui::SetClientSize(int width, int height) {
    window_.clientWidth = width;
    window_.clientHeight = height;
    window_.dpi = WindowDpi(main_);
    if (window_.font == nullptr) UpdateFonts();
    ResizeWindow(width, height, !window_.placed);
    window_.placed = true;
}

int Win32Ui::NonClientHeight() {
    const RECT frame = FrameFor(main_, 100, 100, 96);
    return (frame.bottom - frame.top) - 100;
}

void Win32Ui::SetWindowHeight(int height) {
    window_.clientHeight = std::max(0, height - NonClientHeight());
    // Before the window first shows (the deployment layout is set by OnShow) it is centred anew.
    ResizeWindow(window_.clientWidth, window_.clientHeight, main_ != nullptr && !::IsWindowVisible(main_));
}

bool Win32Ui::ShownOnScreen(const UiControlState& st) const {
    if (!st.visible) return false;
    if (st.parent == 0) return true;
    const auto it = window_.controls.find(st.parent);
    return it != window_.controls.end() && ShownOnScreen(it->second.st);
}

void Win32Ui::PlaceControl(const Win32Window::Control& c) {
    int left = c.st.left, top = c.st.top;
    if (c.st.parent != 0) {
        const auto it = window_.controls.find(c.st.parent);
        if (it != window_.controls.end()) {
            left += it->second.st.left;
            top += it->second.st.top;
        }
    }
    int w = window_.S(c.st.width), h = window_.S(c.st.height);
    // A label's text, drawn in the scaled font, may come out a pixel wider than the scaled width.
    if (c.st.kind == UiKind::Label) w += window_.S(2);
    // A drop-down list's window height includes its dropped list.
    if (c.st.kind == UiKind::ComboBox) h = window_.S(c.st.height) + window_.S(30) * 6;
    ::SetWindowPos(c.hwnd, nullptr, window_.S(left), window_.S(top), w, h, SWP_NOZORDER | SWP_NOACTIVATE);
    if (c.st.kind == UiKind::ComboBox && c.st.itemHeight > 0) {
        ::SendMessageW(c.hwnd, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), window_.S(c.st.itemHeight));
        ::SendMessageW(c.hwnd, CB_SETITEMHEIGHT, 0, window_.S(30));
    }
}

void Win32Ui::CreateControl(const UiControlState& st) {
    if (main_ == nullptr) return;
    if (window_.font == nullptr) {
        window_.dpi = WindowDpi(main_);
        UpdateFonts();
    }
    const wchar_t* cls = L"STATIC";
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
    switch (st.kind) {
    case UiKind::Picture: style |= SS_OWNERDRAW; break;
    case UiKind::Label: style |= SS_LEFT | SS_NOPREFIX; break;
    case UiKind::Panel: style |= SS_LEFT; break;
    case UiKind::Button:
        cls = L"BUTTON";
        style |= BS_OWNERDRAW | WS_TABSTOP;
        break;
    case UiKind::ComboBox:
        cls = L"COMBOBOX";
        style |= CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
        if (st.itemHeight > 0) style |= CBS_OWNERDRAWFIXED | CBS_HASSTRINGS;
        break;
    case UiKind::ProgressBar: cls = PROGRESS_CLASSW; break;
    }
    window_.creating = st;
    HWND h = ::CreateWindowExW(0, cls, L"", style, 0, 0, 0, 0, main_,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(st.id)), instance_, nullptr);
    window_.creating.reset();
    if (h == nullptr) return;
    // Later controls lie on top of earlier ones where they share a place.
    ::SetWindowPos(h, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (st.kind == UiKind::ProgressBar) ::SendMessageW(h, PBM_SETRANGE32, static_cast<WPARAM>(st.min), st.max);
    if (st.kind == UiKind::Button) ::SetWindowSubclass(h, &Win32Ui::ButtonProc, 1, reinterpret_cast<DWORD_PTR>(this));
    Win32Window::Control& c = window_.controls[st.id];
    c.hwnd = h;
    c.st = UiControlState{};
    c.st.id = st.id;
    c.st.items.clear();
    ApplyControl(c, st, true);
}

void Win32Ui::ApplyControl(Win32Window::Control& c, const UiControlState& next, bool created) {
    const UiControlState prev = c.st;
    c.st = next;
    HWND h = c.hwnd;
    // The font first: a list recomputes its field height from a new font, which the placement
    // below then sets to the form's item height.
    const bool fontChanged = created || prev.bold != next.bold;
    if (fontChanged) ::SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(next.bold ? window_.bold : window_.font), TRUE);
    if (fontChanged || prev.left != next.left || prev.top != next.top || prev.width != next.width || prev.height != next.height ||
        prev.parent != next.parent) {
        PlaceControl(c);
        // A panel carries its children.
        if (next.kind == UiKind::Panel)
            for (auto& [id, child] : window_.controls)
                if (child.st.parent == next.id) PlaceControl(child);
    }
    if (next.kind == UiKind::ComboBox) {
        if (created || prev.items != next.items) {
            ::SendMessageW(h, CB_RESETCONTENT, 0, 0);
            for (const std::string& item : next.items)
                ::SendMessageW(h, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(item).c_str()));
        }
        if (created || prev.items != next.items || prev.itemIndex != next.itemIndex)
            ::SendMessageW(h, CB_SETCURSEL, static_cast<WPARAM>(next.itemIndex), 0);
    } else if (next.kind == UiKind::ProgressBar) {
        if (created || prev.position != next.position) ::SendMessageW(h, PBM_SETPOS, static_cast<WPARAM>(next.position), 0);
    } else if (next.kind != UiKind::Panel && (created || prev.text != next.text)) {
        ::SetWindowTextW(h, Widen(next.text).c_str());
    }
    if (created || prev.enabled != next.enabled) ::EnableWindow(h, next.enabled ? TRUE : FALSE);
    if (created || prev.visible != next.visible) {
        ::ShowWindow(h, ShownOnScreen(next) ? SW_SHOWNA : SW_HIDE);
        if (next.kind == UiKind::Panel)
            for (auto& [id, child] : window_.controls)
                if (child.st.parent == next.id) ::ShowWindow(child.hwnd, ShownOnScreen(child.st) ? SW_SHOWNA : SW_HIDE);
    }
    ::InvalidateRect(h, nullptr, TRUE);
}

void Win32Ui::UpdateControl(const UiControlState& control) {
    auto it = window_.controls.find(control.id);
    if (it == window_.controls.end()) {
        CreateControl(control);
        return;
    }
    ApplyControl(it->second, control, false);
}

UiSize Win32Ui::MeasureText(const std::string& text, bool bold) {
    if (window_.font == nullptr) {
        window_.dpi = WindowDpi(main_);
        UpdateFonts();
    }
    HDC dc = ::GetDC(main_);
    HGDIOBJ old = ::SelectObject(dc, bold ? window_.bold : window_.font);
    const std::wstring w = Widen(text);
    SIZE size{};
    ::GetTextExtentPoint32W(dc, w.c_str(), static_cast<int>(w.size()), &size);
    TEXTMETRICW tm{};
    ::GetTextMetricsW(dc, &tm);
    ::SelectObject(dc, old);
    ::ReleaseDC(main_, dc);
    // Logical pixels, rounded up so the scaled size always holds the text.
    const int d = window_.dpi;
    return UiSize{(static_cast<int>(size.cx) * 96 + d - 1) / d, (static_cast<int>(tm.tmHeight) * 96 + d - 1) / d};
}

void Win32Ui::DrawListItem(const DRAWITEMSTRUCT& d, const Win32Window::Control& c) {
    const int dpi = window_.dpi;
    auto L = [dpi](LONG v) { return ::MulDiv(static_cast<int>(v), 96, dpi); };
    const UiRect rect{L(d.rcItem.left), L(d.rcItem.top), L(d.rcItem.right), L(d.rcItem.bottom)};
    std::vector<UiDrawOp> ops;
    if (draw_) ops = draw_(UiDrawItem{c.st.id, static_cast<int>(d.itemID), rect, (d.itemState & ODS_SELECTED) != 0});
    HDC dc = d.hDC;
    if (ops.empty()) FillSolid(dc, d.rcItem, RGB(255, 255, 255));
    const int saved = ::SaveDC(dc);
    ::SelectObject(dc, window_.font);
    ::SetBkMode(dc, TRANSPARENT);
    for (const UiDrawOp& op : ops) {
        switch (op.kind) {
        case UiDrawOp::Kind::Fill:
            FillSolid(dc, RECT{window_.S(op.rect.left), window_.S(op.rect.top), window_.S(op.rect.right), window_.S(op.rect.bottom)},
                      op.color);
            break;
        case UiDrawOp::Kind::Icon:
            if (HICON icon = Icon(op.icon))
                ::DrawIconEx(dc, window_.S(op.x), window_.S(op.y), icon, window_.S(30), window_.S(30), 0, nullptr, DI_NORMAL);
            break;
        case UiDrawOp::Kind::Text: {
            const std::wstring w = Widen(op.text);
            ::SetTextColor(dc, op.color);
            ::TextOutW(dc, window_.S(op.x), window_.S(op.y), w.c_str(), static_cast<int>(w.size()));
            break;
        }
        }
    }
    ::RestoreDC(dc, saved);
}

void Win32Ui::DrawGlowButton(const DRAWITEMSTRUCT& d, const Win32Window::Control& c) {
    HDC dc = d.hDC;
    const RECT r = d.rcItem;
    const bool disabled = (d.itemState & ODS_DISABLED) != 0;
    const bool pressed = (d.itemState & ODS_SELECTED) != 0;
    const bool focus = (d.itemState & ODS_FOCUS) != 0;
    FillSolid(dc, r, ::GetSysColor(COLOR_BTNFACE));
    const int radius = window_.S(8);
    const int glow = window_.S(2);
    // The glow: a soft light-blue ring around the button while the mouse is over it or it has the focus.
    if (!disabled && (c.hot || focus)) {
        HRGN ring = ::CreateRoundRectRgn(r.left, r.top, r.right + 1, r.bottom + 1, radius + glow * 2, radius + glow * 2);
        HBRUSH b = ::CreateSolidBrush(c.hot ? RGB(0x9C, 0xD2, 0xFF) : RGB(0xC4, 0xE3, 0xFF));
        ::FillRgn(dc, ring, b);
        ::DeleteObject(b);
        ::DeleteObject(ring);
    }
    const RECT face{r.left + glow, r.top + glow, r.right - glow, r.bottom - glow};
    HRGN rgn = ::CreateRoundRectRgn(face.left, face.top, face.right + 1, face.bottom + 1, radius, radius);
    ::SelectClipRgn(dc, rgn);
    COLORREF top = RGB(0xFD, 0xFE, 0xFF), bottom = RGB(0xC6, 0xDF, 0xF7), border = RGB(0x3C, 0x7F, 0xB1), text = RGB(0x10, 0x2E, 0x50);
    if (disabled) {
        top = RGB(0xF4, 0xF4, 0xF4);
        bottom = RGB(0xE2, 0xE2, 0xE2);
        border = RGB(0xAD, 0xB2, 0xB5);
        text = RGB(0x8D, 0x8D, 0x8D);
    } else if (pressed) {
        top = RGB(0xB9, 0xDD, 0xFB);
        bottom = RGB(0x7D, 0xB9, 0xEA);
        border = RGB(0x2C, 0x62, 0x8B);
    } else if (c.hot) {
        top = RGB(0xEC, 0xF7, 0xFF);
        bottom = RGB(0xA9, 0xD8, 0xFF);
    }
    VerticalGradient(dc, face, top, bottom);
    // A glossy upper half.
    const RECT gloss{face.left, face.top, face.right, face.top + (face.bottom - face.top) / 2};
    VerticalGradient(dc, gloss, Mix(top, RGB(255, 255, 255), 1, 2), top);
    ::SelectClipRgn(dc, nullptr);
    HBRUSH frame = ::CreateSolidBrush(border);
    ::FrameRgn(dc, rgn, frame, 1, 1);
    ::DeleteObject(frame);
    ::DeleteObject(rgn);
    const std::wstring w = Widen(c.st.text);
    const int saved = ::SaveDC(dc);
    ::SelectObject(dc, window_.bold);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, text);
    RECT tr = face;
    if (pressed) ::OffsetRect(&tr, 1, 1);
    ::DrawTextW(dc, w.c_str(), static_cast<int>(w.size()), &tr, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    ::RestoreDC(dc, saved);
}

void Win32Ui::DrawBanner(const DRAWITEMSTRUCT& d) {
    HDC dc = d.hDC;
    const RECT r = d.rcItem;
    if (window_.banner == nullptr)
        window_.banner = static_cast<HBITMAP>(::LoadImageW(instance_, MAKEINTRESOURCEW(kBannerResource), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (window_.banner == nullptr) {
        VerticalGradient(dc, r, RGB(0x1E, 0x3C, 0x72), RGB(0x2A, 0x52, 0x98));
        return;
    }
    BITMAP bm{};
    ::GetObjectW(window_.banner, sizeof bm, &bm);
    HDC mem = ::CreateCompatibleDC(dc);
    HGDIOBJ old = ::SelectObject(mem, window_.banner);
    // The art is drawn at twice the logical size, so it stays sharp when scaled down or at 150 %.
    ::SetStretchBltMode(dc, HALFTONE);
    ::SetBrushOrgEx(dc, 0, 0, nullptr);
    ::StretchBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, mem, 0, 0, bm.bmWidth, bm.bmHeight, SRCCOPY);
    ::SelectObject(mem, old);
    ::DeleteDC(mem);
}

LRESULT CALLBACK Win32Ui::ButtonProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR /*id*/, DWORD_PTR data) {
    auto* ui = reinterpret_cast<Win32Ui*>(data);
    if (msg == WM_MOUSEMOVE || msg == WM_MOUSELEAVE) {
        const auto it = ui->window_.controls.find(::GetDlgCtrlID(hwnd));
        if (it != ui->window_.controls.end()) {
            const bool hot = msg == WM_MOUSEMOVE;
            if (hot && !it->second.hot) {
                TRACKMOUSEEVENT t{};
                t.cbSize = sizeof t;
                t.dwFlags = TME_LEAVE;
                t.hwndTrack = hwnd;
                ::TrackMouseEvent(&t);
            }
            if (it->second.hot != hot) {
                it->second.hot = hot;
                ::InvalidateRect(hwnd, nullptr, FALSE);
            }
        }
    } else if (msg == WM_NCDESTROY) {
        ::RemoveWindowSubclass(hwnd, &Win32Ui::ButtonProc, 1);
    }
    return ::DefSubclassProc(hwnd, msg, wp, lp);
}

bool Win32Ui::OnWindowMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    switch (msg) {
    case WM_MEASUREITEM: {
        auto* m = reinterpret_cast<MEASUREITEMSTRUCT*>(lp);
        int itemHeight = 32;
        if (window_.creating && static_cast<int>(m->CtlID) == window_.creating->id) itemHeight = window_.creating->itemHeight;
        else if (const auto it = window_.controls.find(static_cast<int>(m->CtlID)); it != window_.controls.end()) itemHeight = it->second.st.itemHeight;
        // The selection field is as high as the form's item height; the dropped items are 30 pixels.
        m->itemHeight = static_cast<UINT>(window_.S(m->itemID == static_cast<UINT>(-1) ? itemHeight : 30));
        result = TRUE;
        return true;
    }
    case WM_DRAWITEM: {
        const auto* d = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
        const auto it = window_.controls.find(static_cast<int>(d->CtlID));
        if (it == window_.controls.end()) return false;
        if (it->second.st.kind == UiKind::Button) DrawGlowButton(*d, it->second);
        else if (it->second.st.kind == UiKind::Picture) DrawBanner(*d);
        else if (it->second.st.kind == UiKind::ComboBox) DrawListItem(*d, it->second);
        result = TRUE;
        return true;
    }
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wp);
        const auto it = window_.controls.find(::GetDlgCtrlID(reinterpret_cast<HWND>(lp)));
        ::SetTextColor(dc, it != window_.controls.end() ? it->second.st.color : RGB(0, 0, 0));
        ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
        result = reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
        return true;
    }
    case WM_COMMAND: {
        if (lp == 0 || !event_) return false;
        const int id = LOWORD(wp);
        const auto it = window_.controls.find(id);
        if (it == window_.controls.end()) return false;
        if (HIWORD(wp) == BN_CLICKED && it->second.st.kind == UiKind::Button) {
            const auto handler = event_;
            handler(id, UiEvent::Click, 0);
        } else if (HIWORD(wp) == CBN_SELCHANGE) {
            const int sel = static_cast<int>(::SendMessageW(it->second.hwnd, CB_GETCURSEL, 0, 0));
            const auto handler = event_;
            handler(id, UiEvent::SelectionChange, sel);
        }
        result = 0;
        return true;
    }
    case WM_DPICHANGED: {
        window_.dpi = HIWORD(wp) != 0 ? HIWORD(wp) : 96;
        UpdateFonts();
        for (auto& [id, c] : window_.controls) PlaceControl(c);
        const auto* suggested = reinterpret_cast<const RECT*>(lp);
        ::SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                       suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        ResizeWindow(window_.clientWidth, window_.clientHeight, false);
        ::InvalidateRect(hwnd, nullptr, TRUE);
        result = 0;
        return true;
    }
    default:
        return false;
    }
}

std::optional<std::string> Win32Ui::OpenFileDialog(const std::string& title, const std::string& filter) {
    std::wstring f = Widen(filter);
    std::replace(f.begin(), f.end(), L'|', L'\0');
    f.push_back(L'\0');
    f.push_back(L'\0');
    wchar_t path[MAX_PATH] = {};
    const std::wstring t = Widen(title);
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = main_;
    ofn.lpstrFilter = f.c_str();
    ofn.lpstrFile = path;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrTitle = t.c_str();
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (!::GetOpenFileNameW(&ofn)) return std::nullopt;
    // The file ports take ANSI paths.
    const int n = ::WideCharToMultiByte(CP_ACP, 0, path, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return std::nullopt;
    std::string out(static_cast<size_t>(n - 1), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, path, -1, out.data(), n, nullptr, nullptr);
    return out;
}

bool Win32Ui::CloseWindowTitled(const std::string& caption) {
    HWND h = ::FindWindowW(nullptr, Widen(caption).c_str());
    if (h == nullptr) return false;
    ::SendMessageW(h, WM_CLOSE, 0, 0);
    return true;
}

}  // namespace kestrel::win32
