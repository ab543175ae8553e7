#include "controlpanel/screen_access.h"

#include <cstddef>
#include <vector>

namespace kav::cpl {
namespace {

void CloseAllBut(TouchScreens& screens, const std::vector<ScreenHandle>& handles, std::size_t kept) {
    for (std::size_t i = 0; i < handles.size(); ++i) {
        if (i != kept && handles[i] != kNoScreen) screens.Close(handles[i]);
    }
}

bool IsListed(const std::vector<ScreenHandle>& handles, int index) {
    return index >= 0 && static_cast<std::size_t>(index) < handles.size();
}

}  // namespace

bool ScreenAccess::WithScreen(int index, const Operation& operation) {
    const std::vector<ScreenHandle> handles = screens_.GetTouchScreenInformation();
    bool succeeded = false;
    if (IsListed(handles, index) && handles[static_cast<std::size_t>(index)] != kNoScreen) {
        succeeded = operation(handles[static_cast<std::size_t>(index)]);
    }
    CloseAllBut(screens_, handles, handles.size());
    return succeeded;
}

bool ScreenAccess::WithAttachedScreen(int index, const Operation& operation) {
    if (screens_.GetTouchScreenCount() < 1) return false;
    return WithScreen(index, operation);
}

ScreenHandle ScreenAccess::OpenTouchScreenByIndex(int index) {
    const std::vector<ScreenHandle> handles = screens_.GetTouchScreenInformation();
    if (!IsListed(handles, index)) {
        CloseAllBut(screens_, handles, handles.size());
        return kNoScreen;
    }
    const auto kept = static_cast<std::size_t>(index);
    CloseAllBut(screens_, handles, kept);
    return handles[kept];
}

}  // namespace kav::cpl
