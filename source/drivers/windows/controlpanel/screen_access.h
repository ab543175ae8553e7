// Reaching one touch screen by its list index. KavCpl keeps no handles between operations:
// every operation opens all screens, uses the one it wants and closes them all again.
#pragma once

#include <functional>

#include "controlpanel/touch_screens.h"

namespace kav::cpl {

class ScreenAccess {
public:
    using Operation = std::function<bool(ScreenHandle)>;

    explicit ScreenAccess(TouchScreens& screens) : screens_(screens) {}

    // Applies `operation` to screen `index` among freshly opened handles and closes them all.
    // False when there is no such screen, its handle did not open, or the operation failed.
    bool WithScreen(int index, const Operation& operation);

    // The same, but fails without opening anything when no touch screen is attached.
    bool WithAttachedScreen(int index, const Operation& operation);

    // The handle of screen `index`, left open (all others closed), or kNoScreen when there is
    // no such screen. The caller closes it.
    ScreenHandle OpenTouchScreenByIndex(int index);

private:
    TouchScreens& screens_;
};

// Closes the handle it holds when it goes.
class OpenScreen {
public:
    OpenScreen(TouchScreens& screens, ScreenHandle handle) : screens_(screens), handle_(handle) {}
    OpenScreen(const OpenScreen&) = delete;
    OpenScreen& operator=(const OpenScreen&) = delete;
    ~OpenScreen() {
        if (handle_ != kNoScreen) screens_.Close(handle_);
    }

    ScreenHandle get() const { return handle_; }
    explicit operator bool() const { return handle_ != kNoScreen; }

private:
    TouchScreens& screens_;
    ScreenHandle handle_;
};

}  // namespace kav::cpl
