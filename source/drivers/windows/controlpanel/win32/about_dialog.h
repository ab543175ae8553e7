// The About dialog from template 140, run modally over the main window.
#pragma once

#include <windows.h>

#include <functional>

#include "controlpanel/about_dlg.h"
#include "controlpanel/win32/dialog_window.h"

namespace kav::cpl::win32 {

class AboutDialog : public AboutView, private DialogWindow {
public:
    // `endWaitCursor` ends the busy cursor of the window that opened the dialog.
    AboutDialog(HINSTANCE module, TouchScreens& screens, LanguageFiles& languages, int screenIndex,
                std::function<void()> endWaitCursor);

    void Run(HWND parent);

    // AboutView.
    void SetCaption(const std::string& text) override;
    void SetControlText(int controlId, const std::string& text) override;
    void EndWaitCursor() override;

private:
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    HINSTANCE module_;
    CAboutDlg presenter_;
    std::function<void()> endWaitCursor_;
};

}  // namespace kav::cpl::win32
