// The touch screen lists of the main window and the Mapping dialog: the same list view with
// the same images and rows.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <optional>
#include <string>

#include "controlpanel/main_view.h"

namespace kav::cpl::win32 {

// A touch screen list view that its dialog owns.
class ScreenList {
public:
    explicit ScreenList(HWND list) : list_(list) {}

    // The row an LVN_ITEMCHANGED notification from list `listId` reports; nullopt for any
    // other notification.
    static std::optional<int> ChangedRow(const NMHDR& header, int listId);

    // Gives the list its images: 72 x 58 pixels, image 0 a screen with a prohibition sign
    // (bitmap 137), image 1 a screen with a check mark (bitmap 138). The list destroys them
    // with itself.
    void AttachImages(HINSTANCE module) const;
    void DeleteAllRows() const;
    // The row keeps its own index as its item data.
    void InsertRow(int row, const std::string& text, ScreenImage image) const;
    // Selected and focused, so the list notifies the change.
    void SelectRow(int row) const;
    void SetRedraw(bool enabled) const;

private:
    HWND list_;
};

}  // namespace kav::cpl::win32
