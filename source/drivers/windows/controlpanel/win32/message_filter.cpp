#include "controlpanel/win32/message_filter.h"

namespace kav::cpl::win32 {
namespace {

thread_local DialogMessageFilter* t_innermost = nullptr;

}  // namespace

DialogMessageFilter::DialogMessageFilter(std::function<bool(MSG&)> takes)
    : takes_(std::move(takes)), outer_(t_innermost) {
    // One hook serves every nested filter, so each sees a message once.
    if (!outer_) hook_ = SetWindowsHookExA(WH_MSGFILTER, &DialogMessageFilter::Hook, nullptr, GetCurrentThreadId());
    t_innermost = this;
}

DialogMessageFilter::~DialogMessageFilter() {
    t_innermost = outer_;
    if (hook_) UnhookWindowsHookEx(hook_);
}

LRESULT CALLBACK DialogMessageFilter::Hook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == MSGF_DIALOGBOX) {
        auto& message = *reinterpret_cast<MSG*>(lParam);
        for (DialogMessageFilter* filter = t_innermost; filter; filter = filter->outer_) {
            if (filter->takes_(message)) return 1;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace kav::cpl::win32
