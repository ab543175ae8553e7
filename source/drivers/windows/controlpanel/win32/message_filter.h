// Keys the dialog manager's own modal loops must not see. DialogBox runs its loop itself, so
// a dialog filters by a WH_MSGFILTER hook before the loop hands a message to IsDialogMessage.
#pragma once

#include <windows.h>

#include <functional>

namespace kav::cpl::win32 {

// Filters this thread's modal dialog loops while it lives. Filters nest as their dialogs
// do: the innermost sees a message first. Made and destroyed on the thread it filters.
class DialogMessageFilter {
public:
    // `takes` is true when the message was dealt with and the loop must drop it.
    explicit DialogMessageFilter(std::function<bool(MSG&)> takes);
    ~DialogMessageFilter();
    DialogMessageFilter(const DialogMessageFilter&) = delete;
    DialogMessageFilter& operator=(const DialogMessageFilter&) = delete;

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);

    std::function<bool(MSG&)> takes_;
    DialogMessageFilter* outer_;
    HHOOK hook_ = nullptr;  // the outermost filter's only
};

}  // namespace kav::cpl::win32
