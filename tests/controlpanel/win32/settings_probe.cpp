// A second program beside KavCpl for the Settings test under Wine:
//   settings_probe config             the driver's record, through the driver request report
//   settings_probe registry           the driver's parameters, from its registry key
//   settings_probe control TITLE ID [PERCENT]
//                                     the screen point of control ID of the window TITLE,
//                                     PERCENT (default 50) of its width across, half-way down
//                                     ("*": of any visible window that has it)
//   settings_probe text TITLE ID      that control's text
//   settings_probe listen FILE SECS   a top-level window of its own that waits for
//                                     "BeepChanged"; writes "ready", then "BeepChanged W L"
// Exits 1 when what was asked for cannot be had, 2 on bad usage.
#include <windows.h>

#include <shellapi.h>

#include <KavLib.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void PrintConfig(const _NERIO_DRIVER_CONFIG& c) {
    std::printf(
        "Mode %u EnableTouch %u EnableRightClick %u CalibrateType %u EnableDoubleClick %u HideCursor %u "
        "EnableBeep %u BeepType %u BeepMode %u BeepFrequency %u BeepDuration %u Smoothness %u RightClickTime %u "
        "RightClickArea %u DoubleClickTime %u DoubleClickArea %u EnableAntishake %u\n",
        c.Mode, c.EnableTouch, c.EnableRightClick, c.CalibrateType, c.EnableDoubleClick, c.HideCursor, c.EnableBeep,
        c.BeepType, c.BeepMode, static_cast<unsigned>(c.BeepFrequency), static_cast<unsigned>(c.BeepDuration),
        static_cast<unsigned>(c.Smoothness), static_cast<unsigned>(c.RightClickTime),
        static_cast<unsigned>(c.RightClickArea), static_cast<unsigned>(c.DoubleClickTime),
        static_cast<unsigned>(c.DoubleClickArea), c.EnableAntishake);
}

int DriverRecord() {
    KAVLIB_HANDLE handles[KAVLIB_MAX_DEVICES] = {};
    unsigned char count = 0;
    Nerio_GetTouchScreenInformation(handles, count);
    _NERIO_DRIVER_CONFIG config{};
    const bool read = count > 0 && Nerio_GetDriverConfig(handles[0], config) != 0;
    for (unsigned i = 0; i < count && i < KAVLIB_MAX_DEVICES; ++i) Nerio_CloseTouchScreen(handles[i]);
    if (!read) return 1;
    PrintConfig(config);
    return 0;
}

int RegistryRecord() {
    _NERIO_DRIVER_CONFIG config{};
    if (!GetDriverConfig_Register(config)) return 1;
    PrintConfig(config);
    return 0;
}

// The title as typed, whatever the code page: the wide command line keeps Chinese intact.
std::wstring WideArgument(int index) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    std::wstring argument = arguments && index < count ? arguments[index] : L"";
    LocalFree(arguments);
    return argument;
}

struct ControlSearch {
    int id;
    HWND found;
};

BOOL CALLBACK FindInWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<ControlSearch*>(context);
    if (!IsWindowVisible(window)) return TRUE;
    search->found = GetDlgItem(window, search->id);
    return search->found ? FALSE : TRUE;
}

// TITLE "*" takes the first visible top-level window that has such a control, for titles
// that a command line cannot carry through an uninstalled locale.
HWND FindControl(const char* title, const char* id) {
    ControlSearch search{std::atoi(id), nullptr};
    if (std::string(title) == "*") {
        EnumWindows(&FindInWindow, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }
    const HWND window = FindWindowW(nullptr, WideArgument(2).c_str());
    return window ? GetDlgItem(window, search.id) : nullptr;
}

// `percent` of the way across, half-way down.
int ControlPoint(const char* title, const char* id, long percent) {
    const HWND control = FindControl(title, id);
    RECT rect;
    if (!control || !GetWindowRect(control, &rect)) return 1;
    std::printf("%ld %ld\n", rect.left + (rect.right - rect.left) * percent / 100, (rect.top + rect.bottom) / 2);
    return 0;
}

int ControlText(const char* title, const char* id) {
    const HWND control = FindControl(title, id);
    if (!control) return 1;
    char text[256] = {};
    SendMessageA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    std::printf("%s\n", text);
    return 0;
}

UINT g_beepChanged = 0;
FILE* g_out = nullptr;

LRESULT CALLBACK ListenerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == g_beepChanged && g_beepChanged != 0) {
        std::fprintf(g_out, "BeepChanged %llu %lld\n", static_cast<unsigned long long>(wParam),
                     static_cast<long long>(lParam));
        std::fflush(g_out);
        PostQuitMessage(0);
        return 0;
    }
    if (message == WM_TIMER) {
        PostQuitMessage(1);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int Listen(const char* path, const char* seconds) {
    g_out = std::fopen(path, "w");
    if (!g_out) return 1;
    g_beepChanged = RegisterWindowMessageA("BeepChanged");
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = ListenerProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KavSettingsProbeListener";
    RegisterClassA(&windowClass);
    // A top-level window that is never shown still receives broadcasts.
    const HWND window = CreateWindowExA(0, windowClass.lpszClassName, "settings probe", WS_OVERLAPPEDWINDOW, 0, 0, 10,
                                        10, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!window) return 1;
    SetTimer(window, 1, static_cast<UINT>(std::atoi(seconds)) * 1000, nullptr);
    std::fprintf(g_out, "ready\n");
    std::fflush(g_out);
    MSG message;
    int result = 1;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
    if (message.message == WM_QUIT) result = static_cast<int>(message.wParam);
    std::fclose(g_out);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "config" && argc == 2) return DriverRecord();
    if (command == "registry" && argc == 2) return RegistryRecord();
    if (command == "control" && (argc == 4 || argc == 5)) {
        return ControlPoint(argv[2], argv[3], argc == 5 ? std::atol(argv[4]) : 50);
    }
    if (command == "text" && argc == 4) return ControlText(argv[2], argv[3]);
    if (command == "listen" && argc == 4) return Listen(argv[2], argv[3]);
    std::fprintf(stderr,
                 "usage: settings_probe config | registry | control TITLE ID [PERCENT] | text TITLE ID | listen FILE "
                 "SECONDS\n");
    return 2;
}
