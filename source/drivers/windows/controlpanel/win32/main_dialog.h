// The main window from dialog template 102: translates messages into the presenter's calls
// and the presenter's requests into Win32 calls.
#pragma once

#include <windows.h>

#include <memory>

#include "controlpanel/kavcpl_dlg.h"
#include "controlpanel/win32/dialog_window.h"
#include "controlpanel/win32/mapping_dialog.h"
#include "controlpanel/win32/screen_list.h"

namespace kav::cpl::win32 {

class MainDialog : public MainView, private DialogWindow {
public:
    MainDialog(HINSTANCE module, TouchScreens& screens, SystemServices& system);
    ~MainDialog() override;

    // Runs the window modally; IDOK when it was closed as confirmed.
    INT_PTR Run();

    HWND window() const { return window_; }

    // MainView.
    void SetCaption(const std::string& text) override;
    void SetControlText(int controlId, const std::string& text) override;
    void EnableControl(int controlId, bool enabled) override;
    void EnableWindow(bool enabled) override;
    void AttachScreenImages() override;
    void DeleteAllRows() override;
    void InsertRow(int row, const std::string& text, ScreenImage image) override;
    void SelectRow(int row) override;
    void SetListRedraw(bool enabled) override;
    void PostSetCursor() override;
    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
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
    ScreenList List() const;

    HINSTANCE module_;
    TouchScreens& screens_;
    SystemServices& system_;
    CKavCplDlg presenter_;
    std::unique_ptr<MappingDialog> mapping_;
    HICON largeIcon_ = nullptr;
    HICON smallIcon_ = nullptr;
};

}  // namespace kav::cpl::win32
