// The main window's controls: creation, events, owner drawing, and the layout operations.
#include "app/KestrelMain.h"

#include "support/Format.h"

namespace kestrel {

std::vector<TControl*> TKestrelMain::AllControls() {
    // Creation order is z order: the later control lies on top where two share a place, so the
    // progress bar covers the update line it replaces and the status line covers the drive list.
    return {&Image1,      &Label1,       &lblUpdateMsg, &lblOldFW,   &lblTo,           &lblNewFW,
            &lblFWExt,    &cboDrives,    &cbMsg,        &lblMsg,     &ProgressBar2,    &lblPercent,
            &cmdUpdate,   &cmdClose,     &lblFwSlot,    &cboFwSlot,  &lblCommitAction, &cboCommitAction,
            &Panel1,      &Label2,       &Label3,       &Label4,     &Label5,          &Label6,
            &Label7,      &Label8,       &ProgressBar1};
}

void TKestrelMain::BuildWindow() {
    IUi* ui = p_.ui;
    if (ui == nullptr) return;
    ui->SetClientSize(kClientWidth, kClientHeight);
    int id = 1;
    for (TControl* c : AllControls()) {
        const bool inPanel = c == &Label2 || c == &Label3 || c == &Label4 || c == &Label5 || c == &Label6 || c == &Label7 ||
                             c == &Label8 || c == &ProgressBar1;
        c->Attach(ui, id, inPanel ? Panel1.Id() : 0);
        ++id;
    }
    Timer1.Attach(ui, [this] { Timer1Timer(); });
    Timer2.Attach(ui, [this] { Timer2Timer(); });
    tmrAutoFlash.Attach(ui, [this] { tmrAutoFlashTimer(); });
    tmrCloseMsg.Attach(ui, [this] { tmrCloseMsgTimer(); });
    ui->SetEventHandler([this](int control, UiEvent event, int value) { OnControlEvent(control, event, value); });
    ui->SetDrawHandler([this](const UiDrawItem& item) { return OnDrawItem(item); });
}

void TKestrelMain::OnControlEvent(int control, UiEvent event, int value) {
    if (control == cmdUpdate.Id() && event == UiEvent::Click) {
        if (cmdUpdate.Enabled() && cmdUpdate.Visible()) cmdUpdateClick();
    } else if (control == cboDrives.Id() && event == UiEvent::SelectionChange) {
        cboDrives.SetItemIndex(value);
        cboDrivesChange();
    } else if (control == cboFwSlot.Id() && event == UiEvent::SelectionChange) {
        cboFwSlot.SetItemIndex(value);
    } else if (control == cboCommitAction.Id() && event == UiEvent::SelectionChange) {
        cboCommitAction.SetItemIndex(value);
    }
}

std::vector<UiDrawOp> TKestrelMain::OnDrawItem(const UiDrawItem& item) {
    if (item.control == cboDrives.Id()) return cboDrivesDrawItem(item.item, item.rect, item.selected);
    if (item.control == cbMsg.Id()) return cbMsgDrawItem(item.item, item.rect, item.selected);
    return {};
}

void TKestrelMain::SetWindowHeight(int height) {
    const int client = height - (p_.ui != nullptr ? p_.ui->NonClientHeight() : 0);
    iClientHeight = client > 0 ? client : 0;
    if (p_.ui != nullptr) p_.ui->SetWindowHeight(height);
}

void TKestrelMain::ShowProgressPanel() {
    Image1.Hide();
    SetWindowHeight(160);
    Panel1.SetBounds(0, 0, kClientWidth, iClientHeight);
    Panel1.Show();
    Label2.SetLeft(Label3.Width() - Label2.Width() + 16);
    Label4.SetLeft(Label3.Width() - Label4.Width() + 16);
}

void TKestrelMain::FormShow() {
    // Each label follows the previous one, centred on lblUpdateMsg's middle.
    const int middle = lblUpdateMsg.Top() + lblUpdateMsg.Height() / 2;
    const TLabel* previous = &lblUpdateMsg;
    for (TLabel* l : {&lblOldFW, &lblTo, &lblNewFW}) {
        l->SetBounds(previous->Left() + previous->Width() + 10, middle - l->Height() / 2, l->Width(), l->Height());
        previous = l;
    }
    iFlashStage = 0;
    if (bDeployMode) {
        WriteLog("FormShow: 1");
        ShowProgressPanel();
        cboDrives.Hide();
        Timer1.SetEnabled(true);
    } else {
        WriteLog("FormShow: 2");
        ProgressBar2.SetPosition(0);
        lblPercent.SetCaption("0%");
        iTickInterval = 100;
        cboDrives.Show();
    }
}

void TKestrelMain::FormActivate() {
    WriteLog("FormActivate");
    if (bAutoMode && !bDeployMode) {
        WriteLog("bAutoMode");
        tmrAutoFlash.SetEnabled(true);
        cmdUpdate.SetEnabled(false);
    }
}

void TKestrelMain::tmrCloseMsgTimer() {
    tmrCloseMsg.SetEnabled(false);
    if (p_.ui != nullptr) p_.ui->CloseWindowTitled(sMsgTitle);
}

void TKestrelMain::ShowStatus(const std::string& text) {
    if (bDeployMode) return;
    cbMsg.Show();
    cbMsg.SetEnabled(false);
    cbMsg.Clear();
    cbMsg.AddItem(text);
    cbMsg.SetItemIndex(0);
}

}  // namespace kestrel
