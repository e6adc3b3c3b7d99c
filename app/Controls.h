#pragma once
// The main window's controls as the logic sees them: each holds its state and hands every change to
// the ui port at once, so the window (real or simulated) always shows what the logic last set.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Ui.h"

namespace kestrel {

// Colours (0x00BBGGRR).
constexpr uint32_t clBlack = 0x000000;
constexpr uint32_t clNavy = 0x800000;
constexpr uint32_t clMaroon = 0x000080;  // the dark red of the not-allowed line
constexpr uint32_t clOrange = 33023;     // 0x0080FF
constexpr uint32_t clWhite = 0xFFFFFF;

class TControl {
public:
    TControl(UiKind kind, std::string name, int left, int top, int width, int height, bool visible = true);
    virtual ~TControl() = default;
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    // Binds the control to the window; from then on every change reaches the ui port.
    void Attach(IUi* ui, int id, int parent);
    int Id() const { return s_.id; }
    const UiControlState& State() const { return s_; }

    int Left() const { return s_.left; }
    int Top() const { return s_.top; }
    int Width() const { return s_.width; }
    int Height() const { return s_.height; }
    bool Visible() const { return s_.visible; }
    bool Enabled() const { return s_.enabled; }
    const std::string& Caption() const { return s_.text; }
    uint32_t FontColor() const { return s_.color; }
    bool Bold() const { return s_.bold; }

    void SetLeft(int v);
    void SetTop(int v);
    void SetWidth(int v);
    void SetHeight(int v);
    void SetBounds(int left, int top, int width, int height);
    void SetVisible(bool v);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    void SetEnabled(bool v);
    virtual void SetCaption(const std::string& text);
    void SetFontColor(uint32_t color);
    void SetBold(bool bold);

protected:
    // Runs once the control knows its window, before the window first sees it.
    virtual void Attached() {}
    void Push();
    UiControlState s_;
    IUi* ui_ = nullptr;
};

// An auto-sized label: its width and height follow its caption.
class TLabel : public TControl {
public:
    TLabel(std::string name, int left, int top, const std::string& caption, bool visible = true, uint32_t color = clBlack,
           bool bold = false);
    void SetCaption(const std::string& text) override;
    // Width and height from the caption, as the window measures it.
    void Resize();

protected:
    void Attached() override { Resize(); }
};

class TComboBox : public TControl {
public:
    TComboBox(std::string name, int left, int top, int width, int itemHeight, bool visible = true, bool enabled = true);
    void Clear();
    int AddItem(const std::string& text);  // the new item's position
    const std::vector<std::string>& Items() const { return s_.items; }
    int ItemCount() const { return static_cast<int>(s_.items.size()); }
    int ItemIndex() const { return s_.itemIndex; }
    // Out-of-range positions select nothing (-1), as CB_SETCURSEL does.
    void SetItemIndex(int index);
    // The selected item's text, empty when nothing is selected.
    std::string Text() const;
};

class TProgressBar : public TControl {
public:
    TProgressBar(std::string name, int left, int top, int width, int height, bool visible = true);
    int Position() const { return s_.position; }
    // Clamped to 0..100, as the control does.
    void SetPosition(int position);
};

class TButton : public TControl {
public:
    TButton(std::string name, int left, int top, int width, int height, const std::string& caption, bool visible = true);
};

class TPanel : public TControl {
public:
    TPanel(std::string name, int left, int top, int width, int height, bool visible = true);
};

class TImage : public TControl {
public:
    TImage(std::string name, int left, int top, int width, int height);
};

// A window timer: while enabled, its handler runs every interval on the GUI thread.
class TTimer {
public:
    TTimer(uint32_t id, uint32_t intervalMs) : id_(id), interval_(intervalMs) {}
    TTimer(const TTimer&) = delete;
    TTimer& operator=(const TTimer&) = delete;
    void Attach(IUi* ui, std::function<void()> onTimer);
    uint32_t Id() const { return id_; }
    uint32_t Interval() const { return interval_; }
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    // A new interval restarts a running timer, as with a Windows timer.
    void SetInterval(uint32_t intervalMs);

private:
    uint32_t id_;
    uint32_t interval_;
    bool enabled_ = false;
    IUi* ui_ = nullptr;
    std::function<void()> onTimer_;
};

}  // namespace kestrel
