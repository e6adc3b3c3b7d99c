// The drive list: its items from the drive table, and the owner drawing of the drive list and the
// status line.
#include "app/DriveList.h"

#include "app/KestrelMain.h"

#include <cstring>

#include "package/PackageView.h"
#include "package/RevisionRules.h"
#include "support/Format.h"

namespace kestrel {
namespace {

// Selected item.
constexpr GradientColors kSelectedGradient{0xFFF2F2, 0xFCF1DC, 0xFFDFC8, 0xFFCBA4};
// Any item of a disabled list.
constexpr GradientColors kDisabledGradient{0xE0F2FF, 0x5BEAFF, 0x5BD7FF, 0x00CCFF};
constexpr uint32_t kOddBackground = 0xEEEEEE;

bool Eligible(const DEV_INFO& d) { return d.bExisted == 1 && d.bEnabled == 1; }

}  // namespace

std::string DriveItemText(const DEV_INFO& d) {
    const std::string model = TrimText(std::string_view(d.szModel, strnlen(d.szModel, sizeof d.szModel)));
    const std::string rev(d.szFwRev, strnlen(d.szFwRev, sizeof d.szFwRev));
    return Fmt("(%c) %2d-%d-%d-%d %s %.8s", d.bIsSystemDrive == 1 ? 'M' : 'S', d.HA, d.PathId, d.Target, d.Lun, model.c_str(),
               rev.c_str());
}

void TKestrelMain::RefreshComboBox() {
    cboDrives.Clear();
    sDetectedDrives.clear();
    ChkConstraint(*this, pkg_, *this, [this](std::string_view line) { WriteLog(line); });
    WriteLog(Fmt("RefreshComboBox: bHiddenDrives:%d  gCount:%d ", bHiddenDrives ? 1 : 0, gCount));
    std::string str;
    for (size_t i = 0; i < Count(); ++i) {
        const DEV_INFO& d = m_DevInfo[i];
        if (!bHiddenDrives || Eligible(d)) {
            str = DriveItemText(d);
            sDetectedDrives += str + "\n";
            iItemDrive[static_cast<size_t>(cboDrives.ItemCount())] = static_cast<int32_t>(i);
            cboDrives.AddItem(str);
        }
        WriteLog(Fmt("cboDrives: str:%s ", str.c_str()));
    }
    if (cboDrives.ItemCount() > 0) cboDrives.SetEnabled(true);
    cboDrives.SetItemIndex(0);
    for (int pos = 0; pos < cboDrives.ItemCount(); ++pos) {
        const int32_t idx = iItemDrive[static_cast<size_t>(pos)];
        if (idx >= 0 && idx < static_cast<int32_t>(kMaxDrives) && Eligible(m_DevInfo[static_cast<size_t>(idx)]))
            cboDrives.SetItemIndex(pos);
    }
}

std::vector<UiDrawOp> GradientBands(const UiRect& r, const GradientColors& g) {
    std::vector<UiDrawOp> ops;
    const int bands = r.Height() / 3;
    const int firstHalf = bands / 2;
    auto channel = [](uint32_t c, int shift) { return static_cast<int>((c >> shift) & 0xFF); };
    auto blend = [&](uint32_t s, uint32_t e, int i) {
        uint32_t out = 0;
        for (int shift : {0, 8, 16}) {
            const int a = channel(s, shift), b = channel(e, shift);
            // bands > 0 here: a rectangle under 3 pixels high has no band.
            const int v = a + (b - a) * 2 * i / bands;
            out |= static_cast<uint32_t>(v & 0xFF) << shift;
        }
        return out;
    };
    for (int band = 0; band < bands; ++band) {
        const bool top = band < firstHalf;
        const int i = top ? band : band - firstHalf;
        const uint32_t color = top ? blend(g.topStart, g.topEnd, i) : blend(g.bottomStart, g.bottomEnd, i);
        UiDrawOp op;
        op.kind = UiDrawOp::Kind::Fill;
        op.rect = UiRect{r.left, r.top + band * 3, r.right, r.top + band * 3 + 3};
        // The last band also takes the one or two rows that do not make a whole band, so no
        // stale pixels remain below it.
        if (band == bands - 1) op.rect.bottom = r.bottom;
        op.color = color;
        ops.push_back(op);
    }
    return ops;
}

std::vector<UiDrawOp> TKestrelMain::ListItemOps(const TComboBox& list, int n, const UiRect& rect, bool selected,
                                                const std::string& text, int icon) {
    std::vector<UiDrawOp> ops;
    if (selected) {
        ops = GradientBands(rect, kSelectedGradient);
    } else if (!list.Enabled()) {
        ops = GradientBands(rect, kDisabledGradient);
    } else {
        UiDrawOp fill;
        fill.kind = UiDrawOp::Kind::Fill;
        fill.rect = rect;
        fill.color = (n % 2 == 0) ? clWhite : kOddBackground;
        ops.push_back(fill);
    }
    UiDrawOp t;
    t.kind = UiDrawOp::Kind::Text;
    t.color = clBlack;
    t.text = text;
    if (list.Enabled() && icon >= 0) {
        UiDrawOp i;
        i.kind = UiDrawOp::Kind::Icon;
        i.icon = icon;
        i.x = rect.left + 10;
        i.y = rect.top;
        ops.push_back(i);
        t.x = rect.left + 45;
        t.y = rect.top + 6;
    } else {
        // Centred in the whole control.
        const UiSize size = p_.ui != nullptr ? p_.ui->MeasureText(text, false) : UiSize{};
        t.x = (list.Width() - size.cx) / 2;
        t.y = (list.Height() - size.cy) / 2;
    }
    ops.push_back(t);
    return ops;
}

std::vector<UiDrawOp> TKestrelMain::cboDrivesDrawItem(int n, const UiRect& rect, bool selected) {
    if (n < 0 || n >= cboDrives.ItemCount()) return {};
    const int32_t idx = iItemDrive[static_cast<size_t>(n)];
    const bool enabled = idx >= 0 && idx < static_cast<int32_t>(kMaxDrives) && m_DevInfo[static_cast<size_t>(idx)].bEnabled == 1;
    return ListItemOps(cboDrives, n, rect, selected, cboDrives.Items()[static_cast<size_t>(n)],
                       enabled ? kIconEligible : kIconNotEligible);
}

std::vector<UiDrawOp> TKestrelMain::cbMsgDrawItem(int n, const UiRect& rect, bool /*selected*/) {
    // No selection look and no icon: the background, then the list's current text centred.
    return ListItemOps(cbMsg, n < 0 ? 0 : n, rect, false, cbMsg.Text(), -1);
}

}  // namespace kestrel
