// The Win32 side of what the main window and the Mapping dialog share: a dialog with a
// touch screen list, its texts, message boxes and busy cursor.
#pragma once

#include <windows.h>

#include <string>

#include "controlpanel/main_view.h"
#include "controlpanel/win32/dialog_window.h"
#include "controlpanel/win32/screen_list.h"

namespace kav::cpl::win32 {

// `View` is a ScreenListView; the list is the dialog's control `listId`.
template <typename View>
class ScreenListDialog : public View, protected DialogWindow {
public:
    void SetCaption(const std::string& text) override { SetWindowTextA(window_, text.c_str()); }
    void SetControlText(int controlId, const std::string& text) override {
        SetDlgItemTextA(window_, controlId, text.c_str());
    }
    void EnableControl(int controlId, bool enabled) override {
        ::EnableWindow(GetDlgItem(window_, controlId), enabled ? TRUE : FALSE);
    }
    void EnableWindow(bool enabled) override { ::EnableWindow(window_, enabled ? TRUE : FALSE); }
    void AttachScreenImages() override { List().AttachImages(module_); }
    void DeleteAllRows() override { List().DeleteAllRows(); }
    void InsertRow(int row, const std::string& text, ScreenImage image) override { List().InsertRow(row, text, image); }
    void SelectRow(int row) override { List().SelectRow(row); }
    void SetListRedraw(bool enabled) override { List().SetRedraw(enabled); }
    void PostSetCursor() override { PostMessageA(window_, WM_SETCURSOR, 0, 0); }
    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override {
        ShowMessageBox(text, caption, icon);
    }
    void BeginWaitCursor() override { BeginWait(); }
    void EndWaitCursor() override { EndWait(); }

protected:
    ScreenListDialog(HINSTANCE module, int listId) : module_(module), listId_(listId) {}

    HINSTANCE module_;

private:
    ScreenList List() const { return ScreenList(GetDlgItem(window_, listId_)); }

    int listId_;
};

}  // namespace kav::cpl::win32
