// The main window from dialog template 102: translates messages into the presenter's calls
// and the presenter's requests into Win32 calls.
#pragma once

#include <windows.h>

#include <memory>

#include "controlpanel/kavcpl_dlg.h"
#include "controlpanel/win32/mapping_dialog.h"
#include "controlpanel/win32/screen_list_dialog.h"

namespace kav::cpl::win32 {

class MainDialog : public ScreenListDialog<MainView> {
public:
    MainDialog(HINSTANCE module, TouchScreens& screens, SystemServices& system);
    ~MainDialog() override;

    // Runs the window modally; IDOK when it was closed as confirmed.
    INT_PTR Run();

    HWND window() const { return window_; }

    // MainView.
    void EndDialog(bool confirmed) override;
    void PostClose() override;
    void PostDeviceChanged(std::uint32_t event, std::uint32_t parameter) override;
    void RunSettingsDialog(int screenIndex) override;
    void RunAboutDialog(int screenIndex) override;
    bool CreateMappingDialog(const MappingInput& input) override;
    void ShowMappingDialog() override;
    void DestroyMappingDialog() override;
    void PostCloseMappingDialog() override;

private:
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    // True when the key filter keeps the message from the dialog manager.
    bool TakesKey(MSG& message);
    void OnInitDialog();
    bool OnCommand(int controlId);
    void OnNotify(const NMHDR& header);
    bool OnPaintMinimised();

    TouchScreens& screens_;
    SystemServices& system_;
    CKavCplDlg presenter_;
    std::unique_ptr<MappingDialog> mapping_;
    HICON largeIcon_ = nullptr;
    HICON smallIcon_ = nullptr;
};

}  // namespace kav::cpl::win32
