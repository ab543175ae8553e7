// What every dialog of the program does the same way: it finds itself from its window,
// keeps its busy cursor and shows its message boxes.
#pragma once

#include <windows.h>

#include <string>

#include "controlpanel/main_view.h"

namespace kav::cpl::win32 {

class DialogWindow {
public:
    DialogWindow(const DialogWindow&) = delete;
    DialogWindow& operator=(const DialogWindow&) = delete;

protected:
    DialogWindow() = default;
    virtual ~DialogWindow() = default;

    // The dialog procedure to give with Self(): from WM_INITDIALOG on, the dialog's messages
    // go to OnMessage; before it, and once the window's user data is cleared, they go nowhere.
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LPARAM Self() { return reinterpret_cast<LPARAM>(this); }
    virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;

    void ShowMessageBox(const std::string& text, const std::string& caption, MessageIcon icon) const;

    // Counted, so that nested waits end with the outermost.
    void BeginWait();
    void EndWait();
    // For WM_SETCURSOR: true, with the busy cursor set, while a wait lasts.
    bool KeepWaitCursor() const;

    HWND window_ = nullptr;

private:
    int waitCursors_ = 0;
};

}  // namespace kav::cpl::win32
