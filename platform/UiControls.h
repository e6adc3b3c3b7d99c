#pragma once
// The main window's controls as plain data, as the window logic hands them to the ui port, and the
// operations an owner-drawn list item is painted with. Positions and sizes are logical pixels at
// 96 dpi within the client area (or within the parent panel); the Windows adapter scales them.
// Colours are 0x00BBGGRR, the layout of a Windows COLORREF.
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

enum class UiKind : uint8_t { Picture, Label, ComboBox, Button, ProgressBar, Panel };

struct UiControlState {
    int id = 0;             // unique within the window, never 0
    std::string name;       // the control's form name ("cboDrives")
    UiKind kind = UiKind::Label;
    int parent = 0;         // id of the panel holding it, 0 for the window itself
    int left = 0, top = 0, width = 0, height = 0;
    std::string text;       // caption (UTF-8); for a list: its current text
    int fontHeight = 13;    // Tahoma, pixels
    bool bold = false;
    uint32_t color = 0;     // text colour
    bool visible = true;
    bool enabled = true;
    // Lists.
    std::vector<std::string> items;
    int itemIndex = -1;
    int itemHeight = 0;     // above 0: an owner-drawn list with items this high
    // Progress bars.
    int min = 0, max = 100, position = 0;
};

struct UiRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const UiRect&) const = default;
};

struct UiSize {
    int cx = 0, cy = 0;
};

// One step of painting a list item, in the list control's own coordinates.
struct UiDrawOp {
    enum class Kind : uint8_t { Fill, Icon, Text };
    Kind kind = Kind::Fill;
    UiRect rect;          // Fill: the rectangle
    int x = 0, y = 0;     // Icon, Text: the top-left point
    int icon = 0;         // Icon: index in the 30 x 30 image list
    uint32_t color = 0;   // Fill: background; Text: text colour (drawn with a transparent background)
    std::string text;
    bool operator==(const UiDrawOp&) const = default;
};

// Why the draw handler is called for an item.
struct UiDrawItem {
    int control = 0;   // control id
    int item = -1;     // item index (-1: the empty list)
    UiRect rect;       // the item rectangle
    bool selected = false;
};

// Events the window reports to the logic.
// SelectionChange carries the new item position.
enum class UiEvent : uint8_t { Click, SelectionChange };

}  // namespace kestrel
