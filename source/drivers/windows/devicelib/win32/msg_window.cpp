// The device notification's window on the registering thread: the platform's thread posts
// each arrival or removal here, so the callback runs inside this thread's dispatch.
#include "devicelib/listeners.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace kav::devicelib {
namespace {

constexpr wchar_t kMsgWndClass[] = L"MsgWnd";
// Private to the class: the system broadcasts WM_DEVICECHANGE for volumes and ports to
// every top-level window, and those must not reach the callback.
constexpr UINT kDeviceEventMessage = WM_APP + 0x31;

class MsgWindow final : public NotifyWindow {
public:
    explicit MsgWindow(std::function<void(uint32_t)> deliver) : deliver_(std::move(deliver)) {}
    ~MsgWindow() override {
        if (window_ != nullptr) DestroyWindow(window_);
    }

    // The class stays registered after the window goes; the next registration reuses it.
    bool Create() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = &MsgWindow::Procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kMsgWndClass;
        if (RegisterClassW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
        window_ = CreateWindowExW(0, kMsgWndClass, L"", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), this);
        if (window_ != nullptr) ShowWindow(window_, SW_HIDE);
        return window_ != nullptr;
    }

    void Post(uint32_t event) override { PostMessageW(window_, kDeviceEventMessage, event, 0); }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<MsgWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self != nullptr && message == kDeviceEventMessage) {
            try {
                self->deliver_(static_cast<uint32_t>(wParam));
            } catch (...) {
                // Nothing may unwind through the system's dispatch.
            }
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    std::function<void(uint32_t)> deliver_;
    HWND window_ = nullptr;
};

}  // namespace

NotifyWindowFactory DefaultNotifyWindowFactory() {
    return [](std::function<void(uint32_t)> deliver) -> std::unique_ptr<NotifyWindow> {
        auto window = std::make_unique<MsgWindow>(std::move(deliver));
        if (!window->Create()) return nullptr;
        return window;
    };
}

}  // namespace kav::devicelib
