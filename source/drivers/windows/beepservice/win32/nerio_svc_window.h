// The Win32 face of CNerioSvcDlg: the dialog of template 102, its system menu and icons,
// and the message switch that hands raw input and "BeepChanged" to the presenter.
#pragma once

#include <windows.h>

#include <memory>

#include "beepservice/event_trace.h"
#include "beepservice/nerio_svc_dlg.h"

namespace kav::beep::win32 {

class DialogRawInput;

// The program's services, chosen once at start.
struct Services {
    DriverConfigSource& config;
    SoundOutput& sound;
    LineSink* trace;  // the raw input heard is traced here when set
};

class NerioSvcWindow : public NerioSvcView {
public:
    NerioSvcWindow(HINSTANCE instance, UINT beepChangedMessage, Services services);
    ~NerioSvcWindow() override;
    NerioSvcWindow(const NerioSvcWindow&) = delete;
    NerioSvcWindow& operator=(const NerioSvcWindow&) = delete;

    // Creates the dialog and runs its thread's messages until the dialog ends. False when
    // the dialog could not be created.
    bool Run();

    std::u16string LoadString(std::uint32_t id) override;
    void AppendSystemMenuSeparator() override;
    void AppendSystemMenuItem(std::uint32_t command, std::u16string_view text) override;
    void SetIcons() override;
    OsVersion GetOsVersion() override;
    void MakeInvisible() override;
    void Show() override;
    void ShowAbout() override;

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog(HWND dialog);

    HINSTANCE instance_;
    UINT beepChangedMessage_;
    Services services_;
    HWND dialog_ = nullptr;
    std::unique_ptr<DialogRawInput> rawInput_;
    std::unique_ptr<TracedRawInput> tracedRawInput_;
    std::unique_ptr<CNerioSvcDlg> presenter_;
};

}  // namespace kav::beep::win32
