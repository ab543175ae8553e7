#include "controlpanel/win32/mapping_dialog.h"

#include <commctrl.h>

#include "controlpanel/program_start.h"
#include "controlpanel/resource.h"
#include "controlpanel/win32/dialog_window.h"
#include "controlpanel/win32/screen_list.h"
#include "controlpanel/win32/unique_resource.h"
#include "controlpanel/win32/win32_system.h"

namespace kav::cpl::win32 {
namespace {

// An identification window: owns itself and goes with its window.
class MonitorShowDialog : public MonitorShowView, private DialogWindow {
public:
    explicit MonitorShowDialog(std::string text) : presenter_(*this, std::move(text)) {}

    // Creates the window owned by `owner` over `area`; deletes itself when it fails.
    static void Open(HINSTANCE module, HWND owner, std::string text, const MonitorRect& area) {
        auto* dialog = new MonitorShowDialog(std::move(text));
        const HWND window =
            CreateDialogParamA(module, MAKEINTRESOURCEA(IDD_MONITOR_SHOW), owner, &DialogProc, dialog->Self());
        if (!window) {
            delete dialog;
            return;
        }
        SetWindowPos(window, HWND_TOPMOST, area.left, area.top, area.right - area.left, area.bottom - area.top,
                     SWP_SHOWWINDOW);
        SetForegroundWindow(window);
        SetFocus(window);
    }

    void SetTimer(unsigned id, unsigned intervalMs) override { ::SetTimer(window_, id, intervalMs, nullptr); }
    void KillTimer(unsigned id) override { ::KillTimer(window_, id); }
    void Close() override { DestroyWindow(window_); }
    void PostClose() override { PostMessageA(window_, WM_CLOSE, 0, 0); }

private:
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM) override {
        switch (message) {
            case WM_INITDIALOG:
                presenter_.OnInitDialog();
                return TRUE;
            case WM_TIMER:
                presenter_.OnTimer(static_cast<unsigned>(wParam));
                return TRUE;
            case WM_KEYDOWN:
                presenter_.OnKeyDown(static_cast<unsigned>(wParam));
                return TRUE;
            case WM_GETDLGCODE:
                // Escape comes here as a key, not as the dialog manager's IDCANCEL.
                SetWindowLongPtrA(window_, DWLP_MSGRESULT, DLGC_WANTALLKEYS);
                return TRUE;
            case WM_CLOSE:
                DestroyWindow(window_);
                return TRUE;
            case WM_PAINT:
                Paint();
                return TRUE;
            case WM_NCDESTROY:
                SetWindowLongPtrA(window_, DWLP_USER, 0);
                delete this;
                return FALSE;
            default:
                return FALSE;
        }
    }

    void Paint() {
        PAINTSTRUCT paint;
        const HDC dc = BeginPaint(window_, &paint);
        RECT client;
        GetClientRect(window_, &client);
        const UniqueResource<HFONT, &DeleteObject> font(
            CreateFontA(CMonitorShowDlg::FontHeight(client.right - client.left), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE,
                        DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, PROOF_QUALITY,
                        DEFAULT_PITCH | FF_DONTCARE, "Arial"));
        const HGDIOBJ previous = SelectObject(dc, font.get());
        SetBkMode(dc, TRANSPARENT);
        const std::string& text = presenter_.text();
        DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &client, DT_CENTER | DT_TOP | DT_SINGLELINE);
        SelectObject(dc, previous);
        EndPaint(window_, &paint);
    }

    CMonitorShowDlg presenter_;
};

}  // namespace

MappingDialog::MappingDialog(HINSTANCE module, TouchScreens& screens, SystemServices& system,
                             std::shared_ptr<DisplayLayout> layout, MappingInput input)
    : ScreenListDialog(module, IDC_MAPPING_LIST),
      presenter_(*this, screens, system, std::move(layout), std::move(input), ApplicationNameFromPath(ModulePath())) {}

MappingDialog::~MappingDialog() {
    if (window_) DestroyWindow(window_);
}

bool MappingDialog::Create(HWND parent) {
    parent_ = parent;
    CreateDialogParamA(module_, MAKEINTRESOURCEA(IDD_MAPPING_DIALOG), parent, &DialogProc, Self());
    return window_ && initialised_;
}

void MappingDialog::Show() {
    if (window_ && !closed_) ShowWindow(window_, SW_SHOW);
}

void MappingDialog::PostClose() {
    if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
}

bool MappingDialog::PreTranslateMessage(MSG& message) {
    if (translating_ || !window_ || closed_) return false;
    if (message.hwnd != window_ && !IsChild(window_, message.hwnd)) return false;
    if (message.message == WM_KEYDOWN && !CMappingDlg::GivesKeyToDialogManager(static_cast<unsigned>(message.wParam))) {
        return false;
    }
    // The dialog manager calls the message filters again, which must let it through.
    translating_ = true;
    const bool taken = IsDialogMessageA(window_, &message) != FALSE;
    translating_ = false;
    return taken;
}

INT_PTR MappingDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            initialised_ = presenter_.OnInitDialog();
            return TRUE;
        case WM_COMMAND:
            return OnCommand(LOWORD(wParam), HIWORD(wParam));
        case WM_NOTIFY:
            if (const auto row = ScreenList::ChangedRow(*reinterpret_cast<const NMHDR*>(lParam), IDC_MAPPING_LIST)) {
                presenter_.OnRowChanged(*row);
            }
            return FALSE;
        case WM_CLOSE:
            if (!closed_) presenter_.OnClose();
            return TRUE;
        case WM_SETCURSOR:
            return KeepWaitCursor();
        case WM_DESTROY:
            SetWindowLongPtrA(window_, DWLP_USER, 0);
            window_ = nullptr;
            return FALSE;
        default:
            return FALSE;
    }
}

bool MappingDialog::OnCommand(int controlId, int code) {
    switch (controlId) {
        case IDC_MAPPING_OK:
            presenter_.OnOk();
            return true;
        // Escape reaches the dialog as IDCANCEL: it cancels, so the main window hears of it.
        case IDC_MAPPING_CANCEL:
        case IDCANCEL:
            presenter_.OnCancel();
            return true;
        case IDC_MAPPING_APPLY:
            presenter_.OnApply();
            return true;
        case IDC_IDENTIFY:
            presenter_.OnIdentify();
            return true;
        case IDC_MONITOR_NO:
        case IDC_TOUCHSCREEN_NO:
            if (code != CBN_SELCHANGE) return false;
            presenter_.OnNumberChosen(controlId);
            return true;
        default:
            return false;
    }
}

void MappingDialog::ClearNumbers(int listId) {
    SendDlgItemMessageA(window_, listId, CB_RESETCONTENT, 0, 0);
}

void MappingDialog::AddNumber(int listId, const std::string& text) {
    SendDlgItemMessageA(window_, listId, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

bool MappingDialog::SelectNumber(int listId, int position) {
    return SendDlgItemMessageA(window_, listId, CB_SETCURSEL, static_cast<WPARAM>(position), 0) != CB_ERR;
}

std::optional<int> MappingDialog::SelectedNumber(int listId) {
    const LRESULT position = SendDlgItemMessageA(window_, listId, CB_GETCURSEL, 0, 0);
    if (position == CB_ERR) return std::nullopt;
    return static_cast<int>(position);
}

void MappingDialog::ShowCursorUntilVisible() {
    while (ShowCursor(TRUE) < 0) {
    }
}

void MappingDialog::PostMappingClosed(MappingResult result) {
    PostMessageA(parent_, UM_MAPPINGCLOSED, static_cast<WPARAM>(result), 0);
}

// The main window destroys the dialog when it hears that it closed.
void MappingDialog::Close() {
    closed_ = true;
    if (window_) ShowWindow(window_, SW_HIDE);
}

int MappingDialog::PrimaryScreenWidth() {
    return GetSystemMetrics(SM_CXSCREEN);
}

int MappingDialog::PrimaryScreenHeight() {
    return GetSystemMetrics(SM_CYSCREEN);
}

void MappingDialog::OpenIdentifyWindow(const std::string& text, const MonitorRect& area) {
    MonitorShowDialog::Open(module_, window_, text, area);
}

}  // namespace kav::cpl::win32
