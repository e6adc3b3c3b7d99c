// The simulated main window: the controls the program created, painted as text for a person and
// readable by tests.
#include <algorithm>
#include <cstdio>

#include "sim/SimUi.h"

namespace kestrel::sim {

void SimUi::SetClientSize(int width, int height) {
    clientWidth_ = width;
    clientHeight_ = height;
}

void SimUi::SetWindowHeight(int height) { clientHeight_ = std::max(0, height - kNonClientHeight); }

void SimUi::UpdateControl(const UiControlState& control) {
    if (controls_.find(control.id) == controls_.end()) order_.push_back(control.id);
    controls_[control.id] = control;
}

UiSize SimUi::MeasureText(const std::string& text, bool bold) {
    // A fixed metric close to 13-pixel Tahoma: 6 pixels a Latin character (7 bold), 13 an ideograph.
    int width = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80)
            width += bold ? 7 : 6;
        else if (c >= 0xC0)
            width += 13;  // lead byte of a UTF-8 sequence; continuation bytes add nothing
    }
    return UiSize{width, 16};
}

int16_t SimUi::GetKeyState(int virtualKey) { return keysDown_.count(virtualKey) ? static_cast<int16_t>(-128) : 0; }

void SimUi::HoldKey(int virtualKey, bool down) {
    if (down)
        keysDown_.insert(virtualKey);
    else
        keysDown_.erase(virtualKey);
}

std::optional<std::string> SimUi::OpenFileDialog(const std::string& title, const std::string& /*filter*/) {
    if (echo_) std::fprintf(stderr, "[sim] file-open dialog \"%s\" -> %s\n", title.c_str(), openFile_ ? openFile_->c_str() : "(cancelled)");
    return openFile_;
}

bool SimUi::CloseWindowTitled(const std::string& caption) {
    closedTitles_.push_back(caption);
    return false;  // no other window of the machine carries a title
}

const UiControlState* SimUi::Control(const std::string& name) const {
    for (const auto& [id, c] : controls_)
        if (c.name == name) return &c;
    return nullptr;
}

UiRect SimUi::SelectionFieldRect(const UiControlState& list) {
    // Inside the 3-pixel border, left of the 17-pixel drop-down button.
    return UiRect{3, 3, list.width - 3 - 17, list.height - 3};
}

std::vector<UiDrawOp> SimUi::DrawListItem(const std::string& name, int item, bool selected) {
    const UiControlState* c = Control(name);
    if (c == nullptr || !draw_) return {};
    return draw_(UiDrawItem{c->id, item, SelectionFieldRect(*c), selected});
}

namespace {

// Visible on screen: the control and the panel holding it.
bool Shown(const std::map<int, UiControlState>& all, const UiControlState& c) {
    if (!c.visible) return false;
    if (c.parent == 0) return true;
    const auto it = all.find(c.parent);
    return it != all.end() && Shown(all, it->second);
}

// Columns a text takes on a terminal: ideographs two, other characters one.
size_t Columns(const std::string& s) {
    size_t n = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80)
            ++n;
        else if (c >= 0xE0)
            n += 2;
        else if (c >= 0xC0)
            ++n;
    }
    return n;
}

struct Box {
    int left, top, right, bottom;
};

}  // namespace

bool SimUi::Click(const std::string& name) {
    const UiControlState* c = Control(name);
    if (c == nullptr || !Shown(controls_, *c) || !c->enabled || !event_) return false;
    event_(c->id, UiEvent::Click, 0);
    return true;
}

bool SimUi::Choose(const std::string& name, int item) {
    const UiControlState* c = Control(name);
    if (c == nullptr || !Shown(controls_, *c) || !c->enabled || !event_) return false;
    if (item < 0 || item >= static_cast<int>(c->items.size())) return false;
    event_(c->id, UiEvent::SelectionChange, item);
    return true;
}

std::string SimUi::RenderFrame(bool forComparison) const {
    struct Token {
        int top, left;
        std::string text;
        std::vector<std::string> below;
    };
    // Where each shown control lies in the client area.
    auto boxOf = [this](const UiControlState& c) {
        int top = c.top, left = c.left;
        if (c.parent != 0) {
            const UiControlState& p = controls_.at(c.parent);
            top += p.top;
            left += p.left;
        }
        return Box{left, top, left + c.width, top + c.height};
    };
    std::vector<Token> tokens;
    for (size_t k = 0; k < order_.size(); ++k) {
        const UiControlState& c = controls_.at(order_[k]);
        if (!Shown(controls_, c) || c.kind == UiKind::Panel) continue;
        const Box box = boxOf(c);
        // Outside the client area, or under a later (upper) opaque control: not seen.
        if (box.top >= clientHeight_ || box.left >= clientWidth_) continue;
        const int cx = (box.left + box.right) / 2, cy = (box.top + box.bottom) / 2;
        bool covered = false;
        for (size_t u = k + 1; u < order_.size() && !covered; ++u) {
            const UiControlState& upper = controls_.at(order_[u]);
            if (!Shown(controls_, upper) || upper.kind == UiKind::Label || upper.kind == UiKind::Button) continue;
            if (c.parent != 0 && upper.id == c.parent) continue;
            const Box b = boxOf(upper);
            covered = cx >= b.left && cx < b.right && cy >= b.top && cy < b.bottom;
        }
        if (covered) continue;
        const int top = box.top, left = box.left;
        Token t{top, left, {}, {}};
        switch (c.kind) {
        case UiKind::Picture: t.text = "~~~~~~~~ Kestrel ~~~~~~~~"; break;
        case UiKind::Label:
            if (c.text.empty()) continue;
            // Progress figures change on every step; the comparison sees the bar's tens instead.
            if (forComparison && (c.name == "lblPercent" || c.name == "Label8")) continue;
            t.text = c.color == 0x000080 ? "!" + c.text + "!" : c.bold ? "*" + c.text + "*" : c.text;
            break;
        case UiKind::Button: t.text = c.enabled ? "[ " + c.text + " ]" : "[ (" + c.text + ") ]"; break;
        case UiKind::ProgressBar: {
            const int span = std::max(1, c.max - c.min);
            const int tens = (c.position - c.min) * 10 / span;
            t.text = "[" + std::string(static_cast<size_t>(tens) * 2, '#') + std::string(static_cast<size_t>(10 - tens) * 2, '.') + "]";
            break;
        }
        case UiKind::ComboBox: {
            t.text = "[" + (c.text.empty() ? std::string("          ") : c.text) + (c.enabled ? " v]" : "  ]");
            if (c.name == "cboDrives" && draw_) {
                for (size_t i = 0; i < c.items.size(); ++i) {
                    int icon = -1;
                    for (const UiDrawOp& op : draw_(UiDrawItem{c.id, static_cast<int>(i), SelectionFieldRect(c), false}))
                        if (op.kind == UiDrawOp::Kind::Icon) icon = op.icon;
                    const char* mark = icon == 1 ? "[ok]" : icon == 0 ? "[--]" : "    ";
                    t.below.push_back(std::string(static_cast<int>(i) == c.itemIndex ? "  > " : "    ") + mark + " " + c.items[i]);
                }
            }
            break;
        }
        case UiKind::Panel: break;
        }
        tokens.push_back(std::move(t));
    }
    std::stable_sort(tokens.begin(), tokens.end(), [](const Token& a, const Token& b) { return a.top < b.top; });
    // Controls whose tops lie within 12 pixels make one row, left to right.
    std::vector<std::string> lines;
    for (size_t i = 0; i < tokens.size();) {
        size_t j = i;
        while (j < tokens.size() && tokens[j].top - tokens[i].top < 12) ++j;
        std::vector<Token> row(tokens.begin() + static_cast<std::ptrdiff_t>(i), tokens.begin() + static_cast<std::ptrdiff_t>(j));
        std::stable_sort(row.begin(), row.end(), [](const Token& a, const Token& b) { return a.left < b.left; });
        std::string line;
        std::vector<std::string> below;
        for (const Token& t : row) {
            // Place each control at its column (about 6 pixels a character), never overlapping.
            const size_t col = static_cast<size_t>(std::max(0, t.left / 6));
            if (Columns(line) < col) line.append(col - Columns(line), ' ');
            else if (!line.empty()) line += "  ";
            line += t.text;
            below.insert(below.end(), t.below.begin(), t.below.end());
        }
        lines.push_back(line);
        lines.insert(lines.end(), below.begin(), below.end());
        i = j;
    }
    size_t width = 72;
    for (const std::string& l : lines) width = std::max(width, Columns(l) + 2);
    std::string title = " " + caption_ + " ";
    std::string out = "+-" + title + std::string(width > Columns(title) + 1 ? width - Columns(title) - 1 : 0, '-') + "+\n";
    for (const std::string& l : lines) out += "| " + l + std::string(width - Columns(l) - 1, ' ') + "|\n";
    out += "+" + std::string(width, '-') + "+\n";
    return out;
}

std::string SimUi::Render() const { return RenderFrame(false); }

void SimUi::ShowIfChanged() {
    if (!show_ || !visible_) return;
    const std::string now = RenderFrame(true);
    if (now == lastShown_) return;
    lastShown_ = now;
    std::fputs(Render().c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace kestrel::sim
