#include "beepservice/win32/nerio_svc_window.h"

#include "beepservice/resource.h"
#include "beepservice/win32/about_dlg.h"
#include "beepservice/win32/simulated_raw_input.h"
#include "beepservice/win32/win32_raw_input.h"

namespace kav::beep::win32 {
namespace {

const wchar_t* Wide(std::u16string_view text, std::wstring& storage) {
    storage.assign(text.begin(), text.end());
    return storage.c_str();
}

}  // namespace

NerioSvcWindow::NerioSvcWindow(HINSTANCE instance, UINT beepChangedMessage, Services services)
    : instance_(instance), beepChangedMessage_(beepChangedMessage), services_(services) {}

NerioSvcWindow::~NerioSvcWindow() {
    if (dialog_ != nullptr) DestroyWindow(dialog_);
}

bool NerioSvcWindow::Run() {
    if (CreateDialogParamW(instance_, MAKEINTRESOURCEW(IDD_KAVSVC_DIALOG), nullptr, DialogProc,
                           reinterpret_cast<LPARAM>(this)) == nullptr) {
        return false;
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        // A "BeepChanged" posted to the thread rather than to a window reaches no window
        // procedure; the ones posted or broadcast to the dialog arrive in OnMessage.
        if (message.hwnd == nullptr && beepChangedMessage_ != 0 && message.message == beepChangedMessage_ &&
            presenter_) {
            presenter_->OnBeepChanged();
            continue;
        }
        if (dialog_ != nullptr && IsDialogMessageW(dialog_, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return true;
}

INT_PTR CALLBACK NerioSvcWindow::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<NerioSvcWindow*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        self->OnInitDialog(dialog);
        return TRUE;
    }
    auto* self = reinterpret_cast<NerioSvcWindow*>(GetWindowLongPtrW(dialog, DWLP_USER));
    return self != nullptr ? self->OnMessage(message, wParam, lParam) : FALSE;
}

void NerioSvcWindow::OnInitDialog(HWND dialog) {
    dialog_ = dialog;
    rawInput_ = std::make_unique<DialogRawInput>(dialog);
    RawInputSource* rawInput = rawInput_.get();
    if (services_.trace != nullptr) {
        tracedRawInput_ = std::make_unique<TracedRawInput>(*rawInput_, *services_.trace);
        rawInput = tracedRawInput_.get();
    }
    presenter_ = std::make_unique<CNerioSvcDlg>(*this, *rawInput, services_.config, services_.sound);
    presenter_->OnInitDialog();
}

INT_PTR NerioSvcWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (beepChangedMessage_ != 0 && message == beepChangedMessage_) {
        presenter_->OnBeepChanged();
        return TRUE;
    }
    switch (message) {
        case WM_INPUT:
            rawInput_->SetOrigin(DialogRawInput::Origin::System);
            presenter_->OnRawInput(static_cast<RawInputHandle>(lParam));
            return FALSE;  // the default handling releases the record
        case kSimulatedRawInputMessage: {
            const std::unique_ptr<RawInputRecord> record = SimulatedRawInput::AdoptRecord(lParam);
            rawInput_->SetOrigin(DialogRawInput::Origin::Simulation);
            presenter_->OnRawInput(static_cast<RawInputHandle>(lParam));
            return TRUE;
        }
        case WM_SYSCOMMAND:
            if (!presenter_->OnSysCommand(static_cast<std::uint32_t>(wParam))) return FALSE;
            SetWindowLongPtrW(dialog_, DWLP_MSGRESULT, 0);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                DestroyWindow(dialog_);
                return TRUE;
            }
            return FALSE;
        case WM_DESTROY:
            dialog_ = nullptr;
            PostQuitMessage(0);
            return FALSE;
    }
    return FALSE;
}

std::u16string NerioSvcWindow::LoadString(std::uint32_t id) {
    const wchar_t* text = nullptr;
    // Zero as the size asks for a pointer into the resource itself.
    const int length = LoadStringW(instance_, id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || text == nullptr) return {};
    return std::u16string(reinterpret_cast<const char16_t*>(text), static_cast<std::size_t>(length));
}

void NerioSvcWindow::AppendSystemMenuSeparator() {
    HMENU menu = GetSystemMenu(dialog_, FALSE);
    if (menu != nullptr) AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
}

void NerioSvcWindow::AppendSystemMenuItem(std::uint32_t command, std::u16string_view text) {
    HMENU menu = GetSystemMenu(dialog_, FALSE);
    std::wstring storage;
    if (menu != nullptr) AppendMenuW(menu, MF_STRING, command, Wide(text, storage));
}

void NerioSvcWindow::SetIcons() {
    // Shared icons belong to the system's cache; nobody destroys them.
    auto load = [this](int metricX, int metricY) {
        return static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                             GetSystemMetrics(metricX), GetSystemMetrics(metricY), LR_SHARED));
    };
    SendMessageW(dialog_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(load(SM_CXICON, SM_CYICON)));
    SendMessageW(dialog_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(load(SM_CXSMICON, SM_CYSMICON)));
}

OsVersion NerioSvcWindow::GetOsVersion() {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExW(&info)) return {};
    return OsVersion{info.dwMajorVersion, info.dwMinorVersion};
}

void NerioSvcWindow::MakeInvisible() {
    SetWindowPos(dialog_, nullptr, 0, 0, 0, 0, SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(dialog_, SW_HIDE);
    const LONG_PTR style = GetWindowLongPtrW(dialog_, GWL_EXSTYLE);
    SetWindowLongPtrW(dialog_, GWL_EXSTYLE, (style & ~LONG_PTR{WS_EX_APPWINDOW}) | WS_EX_TOOLWINDOW);
}

void NerioSvcWindow::Show() {
    ShowWindow(dialog_, SW_SHOW);
}

void NerioSvcWindow::ShowAbout() {
    CAboutDlg::DoModal(instance_, dialog_);
}

}  // namespace kav::beep::win32
