#include "controlpanel/win32/settings_dialog.h"

#include <commctrl.h>

#include "controlpanel/resource.h"
#include "controlpanel/win32/message_filter.h"

namespace kav::cpl::win32 {

UINT BeepChangedMessage() {
    static const UINT message = RegisterWindowMessageA("BeepChanged");
    return message;
}

SettingsDialog::SettingsDialog(HINSTANCE module, TouchScreens& screens, SystemServices& system, CursorSystem& cursors,
                               int screenIndex, std::function<void()> endOwnerWaitCursor)
    : module_(module),
      presenter_(*this, screens, system, cursors, screenIndex),
      endOwnerWaitCursor_(std::move(endOwnerWaitCursor)) {}

void SettingsDialog::Run(HWND parent) {
    BeepChangedMessage();
    const DialogMessageFilter enter([this](MSG& message) { return TakesEnter(message); });
    const INT_PTR result = DialogBoxParamA(module_, MAKEINTRESOURCEA(IDD_SETTINGS_DIALOG), parent, &DialogProc, Self());
    // A dialog that never initialised cannot end the owner's busy cursor itself.
    if (result == -1) EndOwnerWaitCursor();
}

bool SettingsDialog::TakesEnter(const MSG& message) const {
    if (!window_ || message.message != WM_KEYDOWN || message.wParam != VK_RETURN) return false;
    if (message.hwnd != window_ && !IsChild(window_, message.hwnd)) return false;
    const HWND focus = GetFocus();
    return !CSettingsDlg::GivesEnterToDialog(focus ? GetDlgCtrlID(focus) : 0);
}

INT_PTR SettingsDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            presenter_.OnInitDialog();
            return TRUE;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_HSCROLL: {
            const auto trackbar = reinterpret_cast<HWND>(lParam);
            if (!trackbar) return FALSE;
            const auto position = static_cast<int>(SendMessageA(trackbar, TBM_GETPOS, 0, 0));
            presenter_.OnTrackbarMoved(GetDlgCtrlID(trackbar), position);
            return TRUE;
        }
        case WM_CLOSE:
            presenter_.OnCancel();
            return TRUE;
        case WM_SETCURSOR:
            return KeepWaitCursor();
        default:
            return FALSE;
    }
}

void SettingsDialog::OnCommand(int controlId, int notification) {
    if (notification != BN_CLICKED) return;
    switch (controlId) {
        case IDC_SETTINGS_OK:
        case IDOK:  // Enter, which the key filter lets through only on the three buttons
            presenter_.OnOk();
            return;
        case IDC_SETTINGS_APPLY:
            presenter_.OnApply();
            return;
        case IDC_SETTINGS_CANCEL:
        case IDCANCEL:  // Escape
            presenter_.OnCancel();
            return;
        default:
            presenter_.OnClicked(controlId, IsDlgButtonChecked(window_, controlId) == BST_CHECKED);
    }
}

void SettingsDialog::SetCaption(const std::string& text) {
    SetWindowTextA(window_, text.c_str());
}

void SettingsDialog::SetControlText(int controlId, const std::string& text) {
    SetDlgItemTextA(window_, controlId, text.c_str());
}

void SettingsDialog::EnableControl(int controlId, bool enabled) {
    ::EnableWindow(GetDlgItem(window_, controlId), enabled ? TRUE : FALSE);
}

void SettingsDialog::SetCheck(int controlId, bool checked) {
    CheckDlgButton(window_, controlId, checked ? BST_CHECKED : BST_UNCHECKED);
}

void SettingsDialog::ConfigureTrackbar(int controlId, const TrackbarScale& scale) {
    const HWND trackbar = GetDlgItem(window_, controlId);
    SendMessageA(trackbar, TBM_SETPAGESIZE, 0, scale.page);
    SendMessageA(trackbar, TBM_SETTICFREQ, static_cast<WPARAM>(scale.tick), 0);
    SendMessageA(trackbar, TBM_SETLINESIZE, 0, scale.line);
    SendMessageA(trackbar, TBM_SETRANGEMIN, FALSE, scale.minimum);
    SendMessageA(trackbar, TBM_SETRANGEMAX, TRUE, scale.maximum);
}

void SettingsDialog::SetTrackbarPosition(int controlId, int position) {
    SendMessageA(GetDlgItem(window_, controlId), TBM_SETPOS, TRUE, position);
}

int SettingsDialog::PrimaryScreenWidth() {
    return GetSystemMetrics(SM_CXSCREEN);
}

void SettingsDialog::ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) {
    ShowMessageBox(text, caption, icon);
}

void SettingsDialog::BeginWaitCursor() {
    BeginWait();
}

void SettingsDialog::EndWaitCursor() {
    EndWait();
}

void SettingsDialog::EndOwnerWaitCursor() {
    if (endOwnerWaitCursor_) endOwnerWaitCursor_();
}

void SettingsDialog::FocusDialog() {
    SetFocus(window_);
}

void SettingsDialog::EndDialog(bool confirmed) {
    ::EndDialog(window_, confirmed ? IDOK : IDCANCEL);
}

// Posted, not sent: no other program can hold the dialog up.
void SettingsDialog::PostBeepChanged() {
    PostMessageA(HWND_BROADCAST, BeepChangedMessage(), 0, 0);
}

}  // namespace kav::cpl::win32
