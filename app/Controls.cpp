#include "app/Controls.h"

#include <algorithm>

namespace kestrel {

TControl::TControl(UiKind kind, std::string name, int left, int top, int width, int height, bool visible) {
    s_.kind = kind;
    s_.name = std::move(name);
    s_.left = left;
    s_.top = top;
    s_.width = width;
    s_.height = height;
    s_.visible = visible;
}

void TControl::Attach(IUi* ui, int id, int parent) {
    ui_ = ui;
    s_.id = id;
    s_.parent = parent;
    Attached();
    Push();
}

void TControl::Push() {
    if (ui_ != nullptr) ui_->UpdateControl(s_);
}

void TControl::SetLeft(int v) { SetBounds(v, s_.top, s_.width, s_.height); }
void TControl::SetTop(int v) { SetBounds(s_.left, v, s_.width, s_.height); }
void TControl::SetWidth(int v) { SetBounds(s_.left, s_.top, v, s_.height); }
void TControl::SetHeight(int v) { SetBounds(s_.left, s_.top, s_.width, v); }

void TControl::SetBounds(int left, int top, int width, int height) {
    if (left == s_.left && top == s_.top && width == s_.width && height == s_.height) return;
    s_.left = left;
    s_.top = top;
    s_.width = width;
    s_.height = height;
    Push();
}

void TControl::SetVisible(bool v) {
    if (s_.visible == v) return;
    s_.visible = v;
    Push();
}

void TControl::SetEnabled(bool v) {
    if (s_.enabled == v) return;
    s_.enabled = v;
    Push();
}

void TControl::SetCaption(const std::string& text) {
    if (s_.text == text) return;
    s_.text = text;
    Push();
}

void TControl::SetFontColor(uint32_t color) {
    if (s_.color == color) return;
    s_.color = color;
    Push();
}

void TControl::SetBold(bool bold) {
    if (s_.bold == bold) return;
    s_.bold = bold;
    Push();
}

TLabel::TLabel(std::string name, int left, int top, const std::string& caption, bool visible, uint32_t color, bool bold)
    : TControl(UiKind::Label, std::move(name), left, top, 0, 16, visible) {
    s_.text = caption;
    s_.color = color;
    s_.bold = bold;
}

void TLabel::Resize() {
    if (ui_ == nullptr) return;
    const UiSize size = ui_->MeasureText(s_.text, s_.bold);
    s_.width = size.cx;
    s_.height = size.cy;
}

void TLabel::SetCaption(const std::string& text) {
    if (s_.text == text) return;
    s_.text = text;
    Resize();
    Push();
}

TComboBox::TComboBox(std::string name, int left, int top, int width, int itemHeight, bool visible, bool enabled)
    : TControl(UiKind::ComboBox, std::move(name), left, top, width, itemHeight + 6, visible) {
    s_.itemHeight = itemHeight;
    s_.enabled = enabled;
}

void TComboBox::Clear() {
    if (s_.items.empty() && s_.itemIndex == -1) return;
    s_.items.clear();
    s_.itemIndex = -1;
    s_.text.clear();
    Push();
}

int TComboBox::AddItem(const std::string& text) {
    s_.items.push_back(text);
    Push();
    return static_cast<int>(s_.items.size()) - 1;
}

void TComboBox::SetItemIndex(int index) {
    if (index < 0 || index >= ItemCount()) index = -1;
    s_.itemIndex = index;
    s_.text = index < 0 ? std::string() : s_.items[static_cast<size_t>(index)];
    Push();
}

std::string TComboBox::Text() const { return s_.itemIndex < 0 ? std::string() : s_.items[static_cast<size_t>(s_.itemIndex)]; }

TProgressBar::TProgressBar(std::string name, int left, int top, int width, int height, bool visible)
    : TControl(UiKind::ProgressBar, std::move(name), left, top, width, height, visible) {}

void TProgressBar::SetPosition(int position) {
    position = std::clamp(position, s_.min, s_.max);
    if (position == s_.position) return;
    s_.position = position;
    Push();
}

TButton::TButton(std::string name, int left, int top, int width, int height, const std::string& caption, bool visible)
    : TControl(UiKind::Button, std::move(name), left, top, width, height, visible) {
    s_.text = caption;
}

TPanel::TPanel(std::string name, int left, int top, int width, int height, bool visible)
    : TControl(UiKind::Panel, std::move(name), left, top, width, height, visible) {}

TImage::TImage(std::string name, int left, int top, int width, int height)
    : TControl(UiKind::Picture, std::move(name), left, top, width, height) {}

void TTimer::Attach(IUi* ui, std::function<void()> onTimer) {
    ui_ = ui;
    onTimer_ = std::move(onTimer);
}

void TTimer::SetEnabled(bool enabled) {
    enabled_ = enabled;
    if (ui_ == nullptr) return;
    if (enabled)
        ui_->SetTimer(id_, interval_, onTimer_);
    else
        ui_->KillTimer(id_);
}

void TTimer::SetInterval(uint32_t intervalMs) {
    interval_ = intervalMs;
    if (enabled_) SetEnabled(true);
}

}  // namespace kestrel
