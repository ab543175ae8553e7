// A second KavLib client and a window reader for the Mapping and About Wine test:
//   mapping_probe numbers N               touch screen and monitor number of screen N
//   mapping_probe set-numbers N TS MON    writes them (0-based), the rest of the record kept
//   mapping_probe device N                firmware version, USB version, serial number
//   mapping_probe text TITLE ID           the text of control ID in the window titled TITLE
//   mapping_probe center TITLE ID         screen position of the control's centre
//                                         (TITLE "*": any visible window with that control)
//   mapping_probe enabled TITLE ID        1 when the control is enabled, else 0
// Exits 1 when the screen or window cannot be reached, 2 on bad usage.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "controlpanel/about_dlg.h"
#include "controlpanel/kavlib_touch_screens.h"
#include "controlpanel/screen_access.h"
#include "controlpanel/screen_record.h"

namespace {

int Numbers(int index, int touchScreenNo, int monitorNo, bool write) {
    kav::cpl::KavLibTouchScreens screens;
    kav::cpl::ScreenAccess access(screens);
    kav::DEVICE_CONFIG record{};
    const bool done = access.WithScreen(index, [&](kav::cpl::ScreenHandle screen) {
        if (!screens.GetDeviceConfig(screen, record)) return false;
        if (!write) return true;
        kav::cpl::TouchScreenNo(record) = static_cast<std::uint8_t>(touchScreenNo);
        kav::cpl::MonitorNo(record) = static_cast<std::uint8_t>(monitorNo);
        return screens.SetDeviceConfig(screen, record);
    });
    if (!done) {
        std::fprintf(stderr, "mapping_probe: screen %d could not be reached\n", index);
        return 1;
    }
    std::printf("%d %d\n", kav::cpl::TouchScreenNo(record), kav::cpl::MonitorNo(record));
    return 0;
}

int Device(int index) {
    kav::cpl::KavLibTouchScreens screens;
    kav::cpl::ScreenAccess access(screens);
    std::string firmware = "?", serial = "?", usb = "?";
    access.WithScreen(index, [&](kav::cpl::ScreenHandle screen) {
        if (auto text = screens.GetFirmwareVersion(screen)) firmware = *text;
        if (auto text = screens.GetProductSerialNumber(screen)) serial = *text;
        if (auto version = screens.GetUsbCableVersion(screen)) usb = kav::cpl::CAboutDlg::UsbVersionText(*version);
        return true;
    });
    std::printf("%s\n%s\n%s\n", firmware.c_str(), usb.c_str(), serial.c_str());
    return 0;
}

struct ControlSearch {
    int id;
    HWND found;
};

BOOL CALLBACK FindVisibleControl(HWND window, LPARAM lParam) {
    auto& search = *reinterpret_cast<ControlSearch*>(lParam);
    const HWND control = IsWindowVisible(window) ? GetDlgItem(window, search.id) : nullptr;
    if (!control) return TRUE;
    search.found = control;
    return FALSE;
}

// TITLE "*" takes the first visible window that has the control, for titles that do not
// survive the trip through the command line's code page.
HWND Control(const char* title, int id) {
    if (std::string(title) == "*") {
        ControlSearch search{id, nullptr};
        EnumWindows(&FindVisibleControl, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }
    const HWND window = FindWindowA(nullptr, title);
    return window ? GetDlgItem(window, id) : nullptr;
}

int WindowQuery(const std::string& command, const char* title, int id) {
    const HWND control = Control(title, id);
    if (!control) {
        std::fprintf(stderr, "mapping_probe: no control %d in a window titled %s\n", id, title);
        return 1;
    }
    char text[256] = {};
    if (command == "text") {
        // Sent, not GetWindowText, which would not ask another process's window; a drop-down
        // list answers with its selected item.
        SendMessageA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    } else if (command == "enabled") {
        std::snprintf(text, sizeof text, "%d", IsWindowEnabled(control) ? 1 : 0);
    } else {
        RECT rect;
        GetWindowRect(control, &rect);
        std::snprintf(text, sizeof text, "%ld %ld", (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    }
    std::printf("%s\n", text);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "numbers" && argc == 3) return Numbers(std::atoi(argv[2]), 0, 0, false);
    if (command == "set-numbers" && argc == 5) {
        return Numbers(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), true);
    }
    if (command == "device" && argc == 3) return Device(std::atoi(argv[2]));
    if ((command == "text" || command == "center" || command == "enabled") && argc == 4) {
        return WindowQuery(command, argv[2], std::atoi(argv[3]));
    }
    std::fprintf(stderr,
                 "usage: mapping_probe numbers N | set-numbers N TS MON | device N | text|center|enabled TITLE ID\n");
    return 2;
}
