// The Wine tests' second KavLib client and their hand on KavCpl's main window:
//   kavcpl_probe count | region N | set-region N VALUE
//   kavcpl_probe window TITLE | select TITLE ROW | press TITLE CONTROL_ID | foreground
//   kavcpl_probe session [BUTTON_TEXT]
// count and region print what KavLib reads; window prints the list's rows and the buttons'
// states of the window titled TITLE in another process; select and press act on it as the
// user would; foreground prints the title of the foreground window; session prints the
// texts shown by a running calibration's window, or clicks its button of that text. Exits 1 when the
// screen or the window cannot be reached, 2 on bad usage.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "controlpanel/kavlib_touch_screens.h"
#include "controlpanel/resource.h"
#include "controlpanel/screen_access.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: kavcpl_probe count | region N | set-region N VALUE\n"
                 "       kavcpl_probe window TITLE | select TITLE ROW | press TITLE CONTROL_ID | foreground\n"
                 "       kavcpl_probe session [BUTTON_TEXT]\n");
    return 2;
}

int Screens(const std::string& command, char** argv) {
    kav::cpl::KavLibTouchScreens screens;
    kav::cpl::ScreenAccess access(screens);
    if (command == "count") {
        std::printf("%d\n", screens.GetTouchScreenCount());
        return 0;
    }
    const int index = std::atoi(argv[2]);
    kav::DEVICE_CONFIG record{};
    const bool done = access.WithScreen(index, [&](kav::cpl::ScreenHandle screen) {
        if (!screens.GetDeviceConfig(screen, record)) return false;
        if (command == "region") return true;
        record.RegionByte = static_cast<std::uint8_t>(std::atoi(argv[3]));
        return screens.SetDeviceConfig(screen, record);
    });
    if (!done) {
        std::fprintf(stderr, "kavcpl_probe: screen %d could not be read\n", index);
        return 1;
    }
    std::printf("%d\n", record.RegionByte);
    return 0;
}

// Memory in the window's process, where its list view can read and write an LVITEMA.
class RemoteItem {
public:
    explicit RemoteItem(HWND window) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, process);
        if (process_ != nullptr)
            memory_ =
                static_cast<char*>(VirtualAllocEx(process_, nullptr, kSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    }
    ~RemoteItem() {
        if (memory_ != nullptr) VirtualFreeEx(process_, memory_, 0, MEM_RELEASE);
        if (process_ != nullptr) CloseHandle(process_);
    }
    RemoteItem(const RemoteItem&) = delete;
    RemoteItem& operator=(const RemoteItem&) = delete;

    bool Ok() const { return memory_ != nullptr; }
    // The item lives at the start, its text buffer after it.
    LPARAM Item() const { return reinterpret_cast<LPARAM>(memory_); }
    char* Text() const { return memory_ + sizeof(LVITEMA); }
    static constexpr int kTextSize = 256;

    bool Write(const LVITEMA& item) { return WriteProcessMemory(process_, memory_, &item, sizeof item, nullptr) != 0; }
    bool Read(LVITEMA& item, std::string& text) {
        char buffer[kTextSize] = {};
        if (!ReadProcessMemory(process_, memory_, &item, sizeof item, nullptr) ||
            !ReadProcessMemory(process_, Text(), buffer, sizeof buffer, nullptr))
            return false;
        buffer[kTextSize - 1] = '\0';
        text = buffer;
        return true;
    }

private:
    static constexpr SIZE_T kSize = sizeof(LVITEMA) + kTextSize;
    HANDLE process_ = nullptr;
    char* memory_ = nullptr;
};

// Row texts on one line: the list's line break shown as '|'.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\n') c = '|';
    return text;
}

int ShowWindowState(HWND window) {
    const HWND list = GetDlgItem(window, IDC_TOUCHSCREEN_LIST);
    RemoteItem remote(window);
    if (!remote.Ok()) return 1;
    const int rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; ++row) {
        LVITEMA item{};
        item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_STATE;
        item.iItem = row;
        item.stateMask = LVIS_SELECTED;
        item.pszText = remote.Text();
        item.cchTextMax = RemoteItem::kTextSize;
        std::string text;
        if (!remote.Write(item) || !SendMessageA(list, LVM_GETITEMA, 0, remote.Item()) || !remote.Read(item, text))
            return 1;
        std::printf("row %d image %d%s %s\n", row, item.iImage, (item.state & LVIS_SELECTED) ? " selected" : "",
                    OneLine(text).c_str());
    }
    const struct {
        const char* name;
        int id;
    } kButtons[] = {{"mapping", IDC_MAPPING},
                    {"calibrate", IDC_CALIBRATE},
                    {"region-calibrate", IDC_REGION_CALIBRATE},
                    {"reset", IDC_RESET}};
    for (const auto& button : kButtons)
        std::printf("%s %s\n", button.name, IsWindowEnabled(GetDlgItem(window, button.id)) ? "on" : "off");
    std::printf("window %s\n", IsWindowEnabled(window) ? "on" : "off");
    return 0;
}

int SelectRow(HWND window, int row) {
    RemoteItem remote(window);
    LVITEMA item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    if (!remote.Ok() || !remote.Write(item)) return 1;
    const HWND list = GetDlgItem(window, IDC_TOUCHSCREEN_LIST);
    return SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), remote.Item()) ? 0 : 1;
}

// Posted, as a click is: the window may run a whole calibration before it answers.
int Press(HWND window, int controlId) {
    const HWND button = GetDlgItem(window, controlId);
    if (button == nullptr) return 1;
    return PostMessageA(window, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED), reinterpret_cast<LPARAM>(button)) ? 0
                                                                                                                 : 1;
}

// KavCalib's window: the visible dialog without a title.
HWND SessionWindow() {
    HWND found = nullptr;
    EnumWindows(
        [](HWND window, LPARAM result) -> BOOL {
            char className[16] = {};
            GetClassNameA(window, className, sizeof className);
            if (!IsWindowVisible(window) || GetWindowTextLengthA(window) != 0 || std::string(className) != "#32770")
                return TRUE;
            *reinterpret_cast<HWND*>(result) = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// Prints the visible texts of the session window, one "static TEXT" or "button TEXT" a
// line; with `press`, clicks the visible button of that text instead.
int Session(const char* press) {
    const HWND window = SessionWindow();
    if (window == nullptr) return 1;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child)) continue;
        char className[32] = {};
        char text[256] = {};
        GetClassNameA(child, className, sizeof className);
        GetWindowTextA(child, text, sizeof text);
        const bool button = std::string(className) == "Button";
        if (press == nullptr) {
            std::printf("%s %s\n", button ? "button" : "static", text);
        } else if (button && std::string(text) == press) {
            return PostMessageA(child, BM_CLICK, 0, 0) ? 0 : 1;
        }
    }
    return press == nullptr ? 0 : 1;
}

int Window(const std::string& command, int argc, char** argv) {
    const HWND window = FindWindowA("#32770", argv[2]);
    if (window == nullptr) {
        std::fprintf(stderr, "kavcpl_probe: no window titled %s\n", argv[2]);
        return 1;
    }
    if (command == "window" && argc == 3) return ShowWindowState(window);
    if (command == "select" && argc == 4) return SelectRow(window, std::atoi(argv[3]));
    if (command == "press" && argc == 4) return Press(window, std::atoi(argv[3]));
    return Usage();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if ((command == "count" && argc == 2) || (command == "region" && argc == 3) ||
        (command == "set-region" && argc == 4))
        return Screens(command, argv);
    if ((command == "window" || command == "select" || command == "press") && argc >= 3)
        return Window(command, argc, argv);
    if (command == "session" && (argc == 2 || argc == 3)) return Session(argc == 3 ? argv[2] : nullptr);
    if (command == "foreground" && argc == 2) {
        char title[256] = {};
        GetWindowTextA(GetForegroundWindow(), title, sizeof title);
        std::printf("%s\n", title);
        return 0;
    }
    return Usage();
}
