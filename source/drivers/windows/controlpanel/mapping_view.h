// What the Mapping dialog's and the identification window's presenters ask of their
// windows. The Win32 views do each with the obvious calls and decide nothing.
#pragma once

#include <optional>
#include <string>

#include "controlpanel/display_layout.h"
#include "controlpanel/kavcpl_dlg.h"
#include "controlpanel/main_view.h"

namespace kav::cpl {

class MappingView : public ScreenListView {
public:
    // The sorted drop-down lists 1179 and 1170; a position counts in sorted order.
    virtual void ClearNumbers(int listId) = 0;
    virtual void AddNumber(int listId, const std::string& text) = 0;
    // False when the list has no such position (the list then shows no selection).
    virtual bool SelectNumber(int listId, int position) = 0;
    // nullopt when nothing is selected.
    virtual std::optional<int> SelectedNumber(int listId) = 0;

    // ShowCursor(TRUE) until the display count is not negative.
    virtual void ShowCursorUntilVisible() = 0;

    // UM_MAPPINGCLOSED posted to the main window.
    virtual void PostMappingClosed(MappingResult result) = 0;
    // Ends the dialog; the main window destroys it when told.
    virtual void Close() = 0;

    // GetSystemMetrics(SM_CXSCREEN) and (SM_CYSCREEN).
    virtual int PrimaryScreenWidth() = 0;
    virtual int PrimaryScreenHeight() = 0;
    // Creates an identification window (template 146) owned by the dialog, showing `text`,
    // moves it onto `area` and shows it. It lives on its own until it closes itself.
    virtual void OpenIdentifyWindow(const std::string& text, const MonitorRect& area) = 0;
};

// What the identification window's presenter asks of its window.
class MonitorShowView {
public:
    virtual ~MonitorShowView() = default;
    virtual void SetTimer(unsigned id, unsigned intervalMs) = 0;
    virtual void KillTimer(unsigned id) = 0;
    virtual void Close() = 0;
    // WM_CLOSE posted to the window itself.
    virtual void PostClose() = 0;
};

}  // namespace kav::cpl
