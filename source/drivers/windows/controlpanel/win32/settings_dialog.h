// The Settings dialog from template 130, run modally over the main window.
#pragma once

#include <windows.h>

#include <functional>

#include "controlpanel/settings_dlg.h"
#include "controlpanel/win32/dialog_window.h"

namespace kav::cpl::win32 {

// The registered message "BeepChanged", the same number in every process.
UINT BeepChangedMessage();

class SettingsDialog : public SettingsView, private DialogWindow {
public:
    // `endOwnerWaitCursor` ends the busy cursor of the window that opened the dialog.
    SettingsDialog(HINSTANCE module, TouchScreens& screens, SystemServices& system, CursorSystem& cursors,
                   int screenIndex, std::function<void()> endOwnerWaitCursor);

    void Run(HWND parent);

    // SettingsView.
    void SetCaption(const std::string& text) override;
    void SetControlText(int controlId, const std::string& text) override;
    void EnableControl(int controlId, bool enabled) override;
    void SetCheck(int controlId, bool checked) override;
    void ConfigureTrackbar(int controlId, const TrackbarScale& scale) override;
    void SetTrackbarPosition(int controlId, int position) override;
    int PrimaryScreenWidth() override;
    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    void EndOwnerWaitCursor() override;
    void FocusDialog() override;
    void EndDialog(bool confirmed) override;
    void PostBeepChanged() override;

private:
    // True when the key filter keeps Enter from the dialog manager: Enter acts only on
    // the buttons.
    bool TakesEnter(const MSG& message) const;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnCommand(int controlId, int notification);

    HINSTANCE module_;
    CSettingsDlg presenter_;
    std::function<void()> endOwnerWaitCursor_;
};

}  // namespace kav::cpl::win32
