// kavsvc_probe: what a test needs to do to a running KavSvc.exe from another process.
//
//   kavsvc_probe window              prints the "KavSvc" window's state; 0 when it exists and
//                                    shows nothing: hidden or empty, a tool window
//   kavsvc_probe click               a left click made with SendInput
//   kavsvc_probe broadcast           broadcasts "BeepChanged", as the Settings dialog does
//   kavsvc_probe close               asks KavSvc to end (WM_CLOSE)
//   kavsvc_probe about               opens the About box through the system menu's command,
//                                    prints its title and texts (UTF-8), and closes it with OK
//   kavsvc_probe set NAME VALUE ...  writes driver configuration fields through the driver
//                                    request report of the first touch screen, as the
//                                    Settings dialog does (BeepType, BeepMode, EnableBeep,
//                                    BeepFrequency, BeepDuration, Mode)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "KavLib.h"

namespace {

constexpr wchar_t kTitle[] = L"KavSvc";

int Usage() {
    std::fprintf(stderr, "usage: kavsvc_probe window | click | broadcast | close | about | set NAME VALUE ...\n");
    return 2;
}

int Window() {
    HWND window = FindWindowW(nullptr, kTitle);
    if (window == nullptr) {
        std::printf("no window\n");
        return 1;
    }
    RECT rect{};
    GetWindowRect(window, &rect);
    const LONG_PTR exStyle = GetWindowLongPtrW(window, GWL_EXSTYLE);
    const bool visible = IsWindowVisible(window) != FALSE;
    const bool empty = rect.right <= rect.left || rect.bottom <= rect.top;
    const bool tool = (exStyle & WS_EX_TOOLWINDOW) != 0 && (exStyle & WS_EX_APPWINDOW) == 0;
    std::printf("visible %d rect %ld %ld %ld %ld tool %d\n", visible, rect.left, rect.top, rect.right, rect.bottom,
                tool);
    return (!visible || empty) && tool ? 0 : 1;
}

int Click() {
    INPUT inputs[2]{};
    inputs[0].type = inputs[1].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    const UINT sent = SendInput(2, inputs, sizeof(INPUT));
    std::printf("sent %u\n", sent);
    return sent == 2 ? 0 : 1;
}

int Broadcast() {
    const UINT message = RegisterWindowMessageW(L"BeepChanged");
    return message != 0 && PostMessageW(HWND_BROADCAST, message, 0, 0) ? 0 : 1;
}

int Close() {
    HWND window = FindWindowW(nullptr, kTitle);
    return window != nullptr && PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
}

std::string Utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    return out;
}

std::string WindowText(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return Utf8(text);
}

// Controls with text; an icon's text is its resource ordinal (0xFFFF, then the number).
BOOL CALLBACK PrintChild(HWND child, LPARAM) {
    wchar_t text[256] = {};
    GetWindowTextW(child, text, 256);
    if (text[0] != L'\0' && text[0] != 0xFFFF) std::printf("text %s\n", Utf8(text).c_str());
    return TRUE;
}

// Waits up to about ten seconds for the condition.
template <typename Condition>
bool WaitFor(Condition condition) {
    for (int i = 0; i < 100; ++i) {
        if (condition()) return true;
        Sleep(100);
    }
    return false;
}

int About() {
    constexpr WPARAM kAboutCommand = 0x0010;
    const wchar_t kAboutTitle[] = L"\u5173\u4e8e KavSvc";  // as the resources give it
    HWND window = FindWindowW(nullptr, kTitle);
    if (window == nullptr || !PostMessageW(window, WM_SYSCOMMAND, kAboutCommand, 0)) return 1;
    HWND about = nullptr;
    if (!WaitFor([&] {
            about = FindWindowW(L"#32770", kAboutTitle);
            return about != nullptr && IsWindowVisible(about);
        })) {
        std::printf("no about box\n");
        return 1;
    }
    std::printf("title %s\n", WindowText(about).c_str());
    EnumChildWindows(about, PrintChild, 0);
    SendMessageW(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
    const bool closed = WaitFor([&] { return !IsWindow(about); });
    std::printf("%s\n", closed ? "closed" : "still open");
    return closed ? 0 : 1;
}

bool SetField(_NERIO_DRIVER_CONFIG& config, const char* name, unsigned long value) {
    const auto byte = static_cast<unsigned char>(value);
    if (std::strcmp(name, "Mode") == 0) return config.Mode = byte, true;
    if (std::strcmp(name, "EnableBeep") == 0) return config.EnableBeep = byte, true;
    if (std::strcmp(name, "BeepType") == 0) return config.BeepType = byte, true;
    if (std::strcmp(name, "BeepMode") == 0) return config.BeepMode = byte, true;
    if (std::strcmp(name, "BeepFrequency") == 0) return config.BeepFrequency = value, true;
    if (std::strcmp(name, "BeepDuration") == 0) return config.BeepDuration = value, true;
    return false;
}

int Set(int count, char** fields) {
    if (count == 0 || count % 2 != 0) return Usage();
    static KAVLIB_WCHAR buffers[KAVLIB_MAX_DEVICES][KAVLIB_MAX_PATH];
    KAVLIB_WCHAR* paths[KAVLIB_MAX_DEVICES];
    for (int i = 0; i < KAVLIB_MAX_DEVICES; ++i) paths[i] = buffers[i];
    int found = 0;
    if (!Nerio_EnumTouchScreen(paths, found) || found < 1) {
        std::fprintf(stderr, "kavsvc_probe: no touch screen\n");
        return 1;
    }
    KAVLIB_HANDLE device = nullptr;
    if (!Nerio_OpenTouchScreen(paths[0], device)) {
        std::fprintf(stderr, "kavsvc_probe: the touch screen does not open\n");
        return 1;
    }
    _NERIO_DRIVER_CONFIG config{};
    Nerio_GetDriverConfig(device, config);
    for (int i = 0; i < count; i += 2) {
        if (!SetField(config, fields[i], std::strtoul(fields[i + 1], nullptr, 0))) {
            std::fprintf(stderr, "kavsvc_probe: unknown field %s\n", fields[i]);
            Nerio_CloseTouchScreen(device);
            return 2;
        }
    }
    const unsigned char written = Nerio_SetDriverConfig(device, config);
    Nerio_CloseTouchScreen(device);
    if (!written) std::fprintf(stderr, "kavsvc_probe: the driver refused the configuration\n");
    return written ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    if (command == "window") return Window();
    if (command == "click") return Click();
    if (command == "broadcast") return Broadcast();
    if (command == "close") return Close();
    if (command == "about") return About();
    if (command == "set") return Set(argc - 2, argv + 2);
    return Usage();
}
