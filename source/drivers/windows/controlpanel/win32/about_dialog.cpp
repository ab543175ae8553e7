#include "controlpanel/win32/about_dialog.h"

#include "controlpanel/resource.h"

namespace kav::cpl::win32 {

AboutDialog::AboutDialog(HINSTANCE module, TouchScreens& screens, LanguageFiles& languages, int screenIndex,
                         std::function<void()> endWaitCursor)
    : module_(module), presenter_(*this, screens, languages, screenIndex), endWaitCursor_(std::move(endWaitCursor)) {}

void AboutDialog::Run(HWND parent) {
    DialogBoxParamA(module_, MAKEINTRESOURCEA(IDD_ABOUTBOX), parent, &DialogProc, Self());
}

INT_PTR AboutDialog::OnMessage(UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        presenter_.OnInitDialog();
        return TRUE;
    }
    // OK, and Escape or the close box, which the dialog manager sends as IDCANCEL.
    if (message == WM_COMMAND && (LOWORD(wParam) == IDC_ABOUT_OK || LOWORD(wParam) == IDCANCEL)) {
        ::EndDialog(window_, IDOK);
        return TRUE;
    }
    return FALSE;
}

void AboutDialog::SetCaption(const std::string& text) {
    SetWindowTextA(window_, text.c_str());
}

void AboutDialog::SetControlText(int controlId, const std::string& text) {
    SetDlgItemTextA(window_, controlId, text.c_str());
}

void AboutDialog::EndWaitCursor() {
    if (endWaitCursor_) endWaitCursor_();
}

}  // namespace kav::cpl::win32
