#include <memory>

#include "platform/win32/Win32Platform.h"

#include <commctrl.h>

namespace kestrel::win32 {
namespace {

// The application window's private message: lParam carries a heap-held std::function to run.
constexpr UINT kRunPostedMessage = WM_APP + 1;

Win32Ui* UiOf(HWND hwnd) { return reinterpret_cast<Win32Ui*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA)); }

// Unicode windows, so that captions keep the program's UTF-8 texts (the Chinese ones included).
void RegisterClassOnce(HINSTANCE instance, const wchar_t* name, WNDPROC proc, HBRUSH background) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hIcon = ::LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    wc.hbrBackground = background;
    wc.lpszClassName = name;
    // A second Win32Ui in the same process finds the class already there.
    ::RegisterClassExW(&wc);
}

}  // namespace

std::wstring Widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int size = static_cast<int>(text.size());
    UINT codePage = CP_UTF8;
    int n = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (n <= 0) {
        codePage = CP_ACP;
        n = ::MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
        if (n <= 0) return std::wstring();
    }
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage, codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0, text.data(), size, wide.data(), n);
    return wide;
}

Win32Ui::Win32Ui(HINSTANCE instance) : instance_(instance), guiThread_(::GetCurrentThreadId()) {
    const std::wstring appClass = Widen(kApplicationClass), mainClass = Widen(kMainClass), title = Widen(kApplicationTitle);
    RegisterClassOnce(instance_, appClass.c_str(), &Win32Ui::AppProc, nullptr);
    RegisterClassOnce(instance_, mainClass.c_str(), &Win32Ui::MainProc, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));

    // Hidden, never shown: it carries the title a second instance looks for, and the posted work.
    app_ = ::CreateWindowExW(0, appClass.c_str(), title.c_str(), WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0,
                             0, 0, nullptr, nullptr, instance_, nullptr);
    if (app_ != nullptr) ::SetWindowLongPtrW(app_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

    // A dialog frame that stays on top; its size and place follow when the logic gives the client size.
    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = sizeof icc;
    icc.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
    ::InitCommonControlsEx(&icc);
    main_ = ::CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST, mainClass.c_str(), title.c_str(),
                              WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, 0, 0, 100, 100, nullptr, nullptr, instance_,
                              nullptr);
    if (main_ != nullptr) ::SetWindowLongPtrW(main_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Win32Ui::~Win32Ui() {
    if (window_.banner != nullptr) ::DeleteObject(window_.banner);
    if (main_ != nullptr) {
        for (const auto& [id, cb] : timers_) ::KillTimer(main_, id);
        ::SetWindowLongPtrW(main_, GWLP_USERDATA, 0);
        ::DestroyWindow(main_);
    }
    if (app_ != nullptr) {
        // Work posted but never run is freed, not leaked.
        MSG msg;
        while (::PeekMessageW(&msg, app_, kRunPostedMessage, kRunPostedMessage, PM_REMOVE))
            delete reinterpret_cast<std::function<void()>*>(msg.lParam);
        ::SetWindowLongPtrW(app_, GWLP_USERDATA, 0);
        ::DestroyWindow(app_);
    }
}

LRESULT CALLBACK Win32Ui::AppProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kRunPostedMessage) {
        std::unique_ptr<std::function<void()>> fn(reinterpret_cast<std::function<void()>*>(lp));
        if (fn && *fn) (*fn)();
        return 0;
    }
    if (msg == WM_ACTIVATE && LOWORD(wp) != WA_INACTIVE) {
        // Another instance brought this one forward: hand the activation to the main window.
        Win32Ui* ui = UiOf(hwnd);
        if (ui != nullptr && ui->main_ != nullptr && ::IsWindowVisible(ui->main_)) {
            if (::IsIconic(ui->main_)) ::ShowWindow(ui->main_, SW_RESTORE);
            ::SetForegroundWindow(ui->main_);
        }
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK Win32Ui::MainProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    Win32Ui* ui = UiOf(hwnd);
    return ui != nullptr ? ui->OnMain(hwnd, msg, wp, lp) : ::DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT Win32Ui::OnMain(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (LRESULT result = 0; OnWindowMessage(hwnd, msg, wp, lp, result)) return result;
    switch (msg) {
    case WM_TIMER: {
        const auto it = timers_.find(static_cast<uint32_t>(wp));
        if (it == timers_.end()) return 0;
        // A copy: the callback may set or kill timers, this one included.
        const std::function<void()> cb = it->second;
        if (cb) cb();
        return 0;
    }
    case WM_POWERBROADCAST:
        if (power_) return static_cast<LRESULT>(power_(static_cast<uint32_t>(wp)));
        break;
    case WM_QUERYENDSESSION:
        // The reason alone only explains; refusing the query is what holds the session open.
        if (blockShutdown_) return FALSE;
        break;
    case WM_CLOSE:
        // Closing the main window ends the application; the windows are destroyed with this object.
        RequestQuit();
        return 0;
    default:
        break;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

void Win32Ui::Dispatch(MSG& msg) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
}

void Win32Ui::RunMessageLoop() {
    MSG msg;
    while (!quit_) {
        const BOOL r = ::GetMessageW(&msg, nullptr, 0, 0);
        if (r == 0 || r == -1) {
            quit_ = true;
            break;
        }
        Dispatch(msg);
    }
}

void Win32Ui::RequestQuit() {
    quit_ = true;
    if (IsGuiThread())
        ::PostQuitMessage(0);
    else
        ::PostThreadMessageW(guiThread_, WM_QUIT, 0, 0);
}

void Win32Ui::ProcessMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            quit_ = true;
            break;
        }
        Dispatch(msg);
    }
}

void Win32Ui::WaitForMessages(uint32_t timeoutMs) {
    ::MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void Win32Ui::PostToGuiThread(std::function<void()> fn) {
    auto* held = new std::function<void()>(std::move(fn));
    if (app_ == nullptr || !::PostMessageW(app_, kRunPostedMessage, 0, reinterpret_cast<LPARAM>(held))) delete held;
}

void Win32Ui::SetTimer(uint32_t id, uint32_t intervalMs, std::function<void()> callback) {
    timers_[id] = std::move(callback);
    ::SetTimer(main_, id, intervalMs, nullptr);
}

void Win32Ui::KillTimer(uint32_t id) {
    ::KillTimer(main_, id);
    timers_.erase(id);
}

int Win32Ui::MessageBox(const std::string& text, const std::string& title, uint32_t flags) {
    HWND owner = (main_ != nullptr && ::IsWindowVisible(main_)) ? main_ : nullptr;
    return ::MessageBoxW(owner, Widen(text).c_str(), Widen(title).c_str(), flags);
}

void Win32Ui::SetCaption(const std::string& caption) { ::SetWindowTextW(main_, Widen(caption).c_str()); }

void Win32Ui::SetSystemMenu(bool present) {
    LONG_PTR style = ::GetWindowLongPtrW(main_, GWL_STYLE);
    style = present ? (style | WS_SYSMENU) : (style & ~static_cast<LONG_PTR>(WS_SYSMENU));
    ::SetWindowLongPtrW(main_, GWL_STYLE, style);
    ::SetWindowPos(main_, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

void Win32Ui::SetMainWindowVisible(bool visible) {
    if (main_ == nullptr) return;
    if (visible) {
        ::ShowWindow(main_, SW_SHOW);
        ::UpdateWindow(main_);
        ::SetForegroundWindow(main_);
        // As a dialog does: the focus goes to the first control that takes it (the drive list).
        for (const auto& [id, c] : window_.controls) {
            const bool takesFocus = c.st.kind == UiKind::ComboBox || c.st.kind == UiKind::Button;
            if (takesFocus && c.hwnd != nullptr && ::IsWindowVisible(c.hwnd) && ::IsWindowEnabled(c.hwnd)) {
                ::SetFocus(c.hwnd);
                break;
            }
        }
        return;
    }
    if (!::IsWindowVisible(main_)) return;
    // The animation is decoration: whatever it answers, the window ends hidden.
    ::AnimateWindow(main_, 120, AW_HIDE | AW_CENTER);
    ::ShowWindow(main_, SW_HIDE);
}

void Win32Ui::SetCloseEnabled(bool enabled) {
    ::EnableMenuItem(::GetSystemMenu(main_, FALSE), SC_CLOSE, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

bool Win32Ui::DeleteSystemMenuEntry(int position) {
    if (main_ == nullptr || position < 0) return false;
    return ::DeleteMenu(::GetSystemMenu(main_, FALSE), static_cast<UINT>(position), MF_BYPOSITION) != FALSE;
}

MutexHandle Win32Ui::OpenNamedMutex(const std::string& name) { return HandleToPort(::OpenMutexA(SYNCHRONIZE, FALSE, name.c_str())); }

MutexHandle Win32Ui::CreateNamedMutex(const std::string& name) { return HandleToPort(::CreateMutexA(nullptr, FALSE, name.c_str())); }

void Win32Ui::CloseMutex(MutexHandle h) {
    if (h != 0) ::CloseHandle(PortToHandle(h));
}

bool Win32Ui::BringOtherInstanceToFront(const std::string& windowClass, const std::string& title) {
    // Blank our own title first, so that the search cannot find this instance.
    if (app_ != nullptr) ::SetWindowTextW(app_, L"");
    HWND other = ::FindWindowW(Widen(windowClass).c_str(), Widen(title).c_str());
    if (other == nullptr) return false;
    if (::IsIconic(other)) ::ShowWindow(other, SW_RESTORE);
    ::SetWindowPos(other, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::SetForegroundWindow(other);
    return true;
}

namespace {
// Windows Vista and later: bound at run time so the program still starts on older systems.
using ShutdownBlockReasonCreateFn = BOOL(WINAPI*)(HWND, LPCWSTR);
using ShutdownBlockReasonDestroyFn = BOOL(WINAPI*)(HWND);
}  // namespace

bool Win32Ui::ShutdownBlockReasonCreate(const std::string& reason) {
    blockShutdown_ = true;
    const auto fn = ProcAddress<ShutdownBlockReasonCreateFn>(::GetModuleHandleA("user32.dll"), "ShutdownBlockReasonCreate");
    if (fn == nullptr || main_ == nullptr) return false;
    return fn(main_, Widen(reason).c_str()) != FALSE;
}

bool Win32Ui::ShutdownBlockReasonDestroy() {
    blockShutdown_ = false;
    const auto fn = ProcAddress<ShutdownBlockReasonDestroyFn>(::GetModuleHandleA("user32.dll"), "ShutdownBlockReasonDestroy");
    if (fn == nullptr || main_ == nullptr) return false;
    return fn(main_) != FALSE;
}

}  // namespace kestrel::win32
