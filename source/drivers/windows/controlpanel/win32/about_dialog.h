// The About dialog from template 140, run modally over the main window.
#pragma once

#include <windows.h>

#include <functional>

#include "controlpanel/about_dlg.h"

namespace kav::cpl::win32 {

class AboutDialog : public AboutView {
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
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE module_;
    CAboutDlg presenter_;
    std::function<void()> endWaitCursor_;
    HWND window_ = nullptr;
};

}  // namespace kav::cpl::win32
