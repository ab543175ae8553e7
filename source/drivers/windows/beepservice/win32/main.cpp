// KavSvc.exe: the touch beep, heard in the background.
//
// KAVSVC_TRACE=FILE appends what the program heard and played to FILE, one line an event,
// for tests of the real program; the sounds are played as well.

#include <windows.h>
// After <windows.h>, which it relies on.
#include <commctrl.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "beepservice/event_trace.h"
#include "beepservice/nerio_svc_app.h"
#include "beepservice/win32/kavlib_config.h"
#include "beepservice/win32/nerio_svc_window.h"
#include "beepservice/win32/win32_sound.h"

namespace kav::beep::win32 {
namespace {

constexpr DWORD kAllCommonControlClasses = 0xFF;

std::wstring Wide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

// Each line is appended and written through at once, so that a test reads it while the
// program runs.
class FileTrace : public LineSink {
public:
    explicit FileTrace(const wchar_t* path)
        : file_(CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    FileTrace(const FileTrace&) = delete;
    FileTrace& operator=(const FileTrace&) = delete;
    ~FileTrace() override {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    }
    void WriteLine(const std::string& line) override {
        if (file_ == INVALID_HANDLE_VALUE) return;
        const std::string text = line + "\n";
        DWORD written = 0;
        (void)WriteFile(file_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }

private:
    HANDLE file_;
};

// The instance mutex lives as long as the process: it is what the next start finds.
class Win32AppHost : public AppHost {
public:
    Win32AppHost(HINSTANCE instance, UINT beepChangedMessage, LineSink* trace)
        : instance_(instance), beepChangedMessage_(beepChangedMessage), trace_(trace) {}

    void InitCommonControls() override {
        INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), kAllCommonControlClasses};
        InitCommonControlsEx(&controls);
    }
    void SetRegistryKey(std::u16string_view name) override { registryKey_ = Wide(name); }
    bool CreateInstanceMutex(std::u16string_view name) override {
        HANDLE mutex = CreateMutexW(nullptr, TRUE, Wide(name).c_str());
        return mutex != nullptr && GetLastError() != ERROR_ALREADY_EXISTS;
    }
    void BringToFront(std::u16string_view windowTitle) override {
        HWND window = FindWindowW(nullptr, Wide(windowTitle).c_str());
        if (window != nullptr) SetForegroundWindow(window);
    }
    void RunMainDialog() override;

private:
    HINSTANCE instance_;
    UINT beepChangedMessage_;
    LineSink* trace_;
    std::wstring registryKey_;  // KavSvc stores no settings of its own under it
};

void Win32AppHost::RunMainDialog() {
    KavLibConfigSource kavLib;
    Win32Sound speaker;
    std::unique_ptr<TracedConfigSource> tracedConfig;
    std::unique_ptr<TracedSound> tracedSound;
    DriverConfigSource* config = &kavLib;
    SoundOutput* sound = &speaker;
    if (trace_ != nullptr) {
        tracedConfig = std::make_unique<TracedConfigSource>(kavLib, *trace_);
        tracedSound = std::make_unique<TracedSound>(speaker, *trace_);
        config = tracedConfig.get();
        sound = tracedSound.get();
    }
    NerioSvcWindow window(instance_, beepChangedMessage_, Services{*config, *sound, trace_});
    if (!window.Run() && trace_ != nullptr) trace_->WriteLine("dialog not created");
}

}  // namespace
}  // namespace kav::beep::win32

// Registered before the application starts, as every process that broadcasts it does.
static const UINT g_beepChangedMessage = RegisterWindowMessageW(L"BeepChanged");

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    using namespace kav::beep;
    std::unique_ptr<win32::FileTrace> trace;
    if (const wchar_t* path = _wgetenv(L"KAVSVC_TRACE"); path != nullptr && *path != L'\0') {
        trace = std::make_unique<win32::FileTrace>(path);
    }
    win32::Win32AppHost host(instance, g_beepChangedMessage, trace.get());
    CNerioSvcApp app;
    if (!app.InitInstance(host)) {
        if (trace) trace->WriteLine("another instance runs");
        return 0;
    }
    return 0;
}
