// The modeless Mapping dialog from template 142 and the identification windows it opens
// from template 146.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "controlpanel/mapping_dlg.h"
#include "controlpanel/win32/screen_list_dialog.h"

namespace kav::cpl::win32 {

class MappingDialog : public ScreenListDialog<MappingView> {
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
    void ClearNumbers(int listId) override;
    void AddNumber(int listId, const std::string& text) override;
    bool SelectNumber(int listId, int position) override;
    std::optional<int> SelectedNumber(int listId) override;
    void ShowCursorUntilVisible() override;
    void PostMappingClosed(MappingResult result) override;
    void Close() override;
    int PrimaryScreenWidth() override;
    int PrimaryScreenHeight() override;
    void OpenIdentifyWindow(const std::string& text, const MonitorRect& area) override;

private:
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnCommand(int controlId, int code);

    CMappingDlg presenter_;
    HWND parent_ = nullptr;
    bool initialised_ = false;
    bool closed_ = false;
    bool translating_ = false;
};

}  // namespace kav::cpl::win32
