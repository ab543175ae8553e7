#include "controlpanel/win32/main_dialog.h"

#include <commctrl.h>

#include "controlpanel/resource.h"
#include "controlpanel/win32/about_dialog.h"
#include "controlpanel/win32/message_filter.h"
#include "controlpanel/win32/settings_dialog.h"
#include "controlpanel/win32/win32_system.h"

namespace kav::cpl::win32 {

MainDialog::MainDialog(HINSTANCE module, TouchScreens& screens, SystemServices& system)
    : ScreenListDialog(module, IDC_TOUCHSCREEN_LIST),
      screens_(screens),
      system_(system),
      presenter_(*this, screens, system) {}

MainDialog::~MainDialog() = default;

INT_PTR MainDialog::Run() {
    const DialogMessageFilter keys([this](MSG& message) { return TakesKey(message); });
    return DialogBoxParamA(module_, MAKEINTRESOURCEA(IDD_KAVCPL_DIALOG), nullptr, &DialogProc, Self());
}

bool MainDialog::TakesKey(MSG& message) {
    // The modeless Mapping dialog has no loop of its own; this one serves its keys too.
    if (mapping_ && mapping_->PreTranslateMessage(message)) return true;
    return message.message == WM_KEYDOWN && (message.hwnd == window_ || IsChild(window_, message.hwnd)) &&
           CKavCplDlg::SwallowsKey(static_cast<unsigned>(message.wParam));
}

INT_PTR MainDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            OnInitDialog();
            return TRUE;
        case WM_COMMAND:
            return OnCommand(LOWORD(wParam));
        case WM_NOTIFY:
            OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
            return FALSE;
        case WM_CLOSE:
            presenter_.OnClose();
            return TRUE;
        case WM_HELP:
            SetWindowLongPtrA(window_, DWLP_MSGRESULT, TRUE);
            return TRUE;
        case WM_SETCURSOR:
            return KeepWaitCursor();
        case WM_PAINT:
            return OnPaintMinimised();
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(smallIcon_);
        case WM_DESTROY:
            presenter_.OnDestroy();
            return FALSE;
        default:
            break;
    }
    if (message == UM_DEVICECHANGED) {
        presenter_.OnDeviceChanged(static_cast<std::uint32_t>(wParam), static_cast<std::uint32_t>(lParam));
        return TRUE;
    }
    if (message == UM_MAPPINGCLOSED) {
        presenter_.OnMappingClosed(static_cast<int>(wParam));
        return TRUE;
    }
    return FALSE;
}

void MainDialog::OnInitDialog() {
    largeIcon_ = LoadIconA(module_, MAKEINTRESOURCEA(IDR_MAINFRAME));
    smallIcon_ = static_cast<HICON>(LoadImageA(module_, MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(largeIcon_));
    SendMessageA(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
    presenter_.OnInitDialog();
}

bool MainDialog::OnCommand(int controlId) {
    switch (controlId) {
        case IDC_CALIBRATE:
            presenter_.OnCalibrate();
            return true;
        case IDC_REGION_CALIBRATE:
            presenter_.OnRegionCalibrate();
            return true;
        case IDC_RESET:
            presenter_.OnReset();
            return true;
        case IDC_SETTINGS:
            presenter_.OnSettings();
            return true;
        case IDC_ABOUT:
            presenter_.OnAbout();
            return true;
        case IDC_MAPPING:
            presenter_.OnMapping();
            return true;
        case IDC_HELP_MANUAL:
            presenter_.OnHelp();
            return true;
        case IDC_EXIT:
            presenter_.OnExit();
            return true;
        case IDCANCEL:  // Escape is filtered before it gets here; nothing else sends it
            return true;
        default:
            return false;
    }
}

void MainDialog::OnNotify(const NMHDR& header) {
    if (const auto row = ScreenList::ChangedRow(header, IDC_TOUCHSCREEN_LIST)) presenter_.OnRowChanged(*row);
}

bool MainDialog::OnPaintMinimised() {
    if (!IsIconic(window_)) return false;
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(window_, &paint);
    SendMessageA(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(window_, &client);
    const int x = (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, largeIcon_);
    EndPaint(window_, &paint);
    return true;
}

void MainDialog::EndDialog(bool confirmed) {
    ::EndDialog(window_, confirmed ? IDOK : IDCANCEL);
}

void MainDialog::PostClose() {
    PostMessageA(window_, WM_CLOSE, 0, 0);
}

void MainDialog::PostDeviceChanged(std::uint32_t event, std::uint32_t parameter) {
    PostMessageA(window_, UM_DEVICECHANGED, event, parameter);
}

void MainDialog::RunSettingsDialog(int screenIndex) {
    Win32CursorSystem cursors(module_);
    SettingsDialog settings(module_, screens_, system_, cursors, screenIndex, [this] { EndWaitCursor(); });
    settings.Run(window_);
}

void MainDialog::RunAboutDialog(int screenIndex) {
    AboutDialog about(module_, screens_, system_, screenIndex, [this] { EndWaitCursor(); });
    about.Run(window_);
}

// A dialog that closed itself while it initialised (the screens changed) is gone at once,
// and the window is usable again.
bool MainDialog::CreateMappingDialog(const MappingInput& input) {
    mapping_ = std::make_unique<MappingDialog>(module_, screens_, system_, presenter_.sharedLayout(), input);
    if (!mapping_->Create(window_)) mapping_.reset();
    return mapping_ != nullptr;
}

void MainDialog::ShowMappingDialog() {
    if (mapping_) mapping_->Show();
}

void MainDialog::DestroyMappingDialog() {
    mapping_.reset();
}

void MainDialog::PostCloseMappingDialog() {
    if (mapping_) mapping_->PostClose();
}

}  // namespace kav::cpl::win32
