// The modeless Mapping dialog from template 142 and the identification windows it opens
// from template 146.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "controlpanel/mapping_dlg.h"
#include "controlpanel/win32/dialog_window.h"
#include "controlpanel/win32/screen_list.h"

namespace kav::cpl::win32 {

class MappingDialog : public MappingView, private DialogWindow {
public:
    MappingDialog(HINSTANCE module, TouchScreens& screens, SystemServices& system,
                  std::shared_ptr<DisplayLayout> layout, MappingInput input);
    ~MappingDialog() override;

    // Creates the hidden dialog owned by `parent`; false when it could not be created or
    // closed itself while it initialised.
    bool Create(HWND parent);
    void Show();
    // WM_CLOSE posted to the dialog.
    void PostClose();
    // Gives a message of the dialog to its dialog manager, Enter excepted. True when the
    // dialog manager took it.
    bool PreTranslateMessage(MSG& message);

    // MappingView.
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
    void ClearNumbers(int listId) override;
    void AddNumber(int listId, const std::string& text) override;
    bool SelectNumber(int listId, int position) override;
    std::optional<int> SelectedNumber(int listId) override;
    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    void ShowCursorUntilVisible() override;
    void PostMappingClosed(MappingResult result) override;
    void Close() override;
    int PrimaryScreenWidth() override;
    int PrimaryScreenHeight() override;
    void OpenIdentifyWindow(const std::string& text, const MonitorRect& area) override;

private:
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnCommand(int controlId, int code);
    ScreenList List() const;

    HINSTANCE module_;
    CMappingDlg presenter_;
    HWND parent_ = nullptr;
    bool initialised_ = false;
    bool closed_ = false;
    bool translating_ = false;
};

}  // namespace kav::cpl::win32
