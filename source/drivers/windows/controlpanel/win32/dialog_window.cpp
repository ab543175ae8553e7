#include "controlpanel/win32/dialog_window.h"

namespace kav::cpl::win32 {
namespace {

const char* const kWaitCursor = MAKEINTRESOURCEA(32514);   // IDC_WAIT
const char* const kArrowCursor = MAKEINTRESOURCEA(32512);  // IDC_ARROW

}  // namespace

INT_PTR CALLBACK DialogWindow::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        reinterpret_cast<DialogWindow*>(lParam)->window_ = window;
    }
    auto* self = reinterpret_cast<DialogWindow*>(GetWindowLongPtrA(window, DWLP_USER));
    return self ? self->OnMessage(message, wParam, lParam) : FALSE;
}

void DialogWindow::ShowMessageBox(const std::string& text, const std::string& caption, MessageIcon icon) const {
    const UINT style = icon == MessageIcon::kError ? MB_ICONERROR : MB_ICONINFORMATION;
    MessageBoxA(window_, text.c_str(), caption.c_str(), MB_OK | style);
}

void DialogWindow::BeginWait() {
    ++waitCursors_;
    SetCursor(LoadCursorA(nullptr, kWaitCursor));
}

void DialogWindow::EndWait() {
    if (waitCursors_ > 0) --waitCursors_;
    if (waitCursors_ == 0) SetCursor(LoadCursorA(nullptr, kArrowCursor));
}

bool DialogWindow::KeepWaitCursor() const {
    if (waitCursors_ <= 0) return false;
    SetCursor(LoadCursorA(nullptr, kWaitCursor));
    SetWindowLongPtrA(window_, DWLP_MSGRESULT, TRUE);
    return true;
}

}  // namespace kav::cpl::win32
