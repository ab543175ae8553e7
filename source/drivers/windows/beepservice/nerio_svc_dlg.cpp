#include "beepservice/nerio_svc_dlg.h"

#include "beepservice/resource.h"

namespace kav::beep {
namespace {

// The system menu's command identifiers keep their low four bits for the system.
constexpr std::uint32_t kSysCommandMask = 0xFFF0;

}  // namespace

CNerioSvcDlg::CNerioSvcDlg(NerioSvcView& view, RawInputSource& rawInput, DriverConfigSource& configSource,
                           SoundOutput& sound)
    : view_(view), rawInput_(rawInput), configSource_(configSource), sound_(sound) {}

void CNerioSvcDlg::OnInitDialog() {
    const std::u16string about = view_.LoadString(IDS_ABOUTBOX);
    if (!about.empty()) {
        view_.AppendSystemMenuSeparator();
        view_.AppendSystemMenuItem(IDM_ABOUTBOX, about);
    }
    view_.SetIcons();

    // Without raw input there is nothing to beep for; the dialog stays as it is, so that
    // the user sees that KavSvc could not start listening.
    if (!rawInput_.Register(kRawInputDevices)) {
        view_.Show();
        return;
    }
    ReadConfiguration();
    const OsVersion version = view_.GetOsVersion();
    isWindows7_ = IsWindows7OrLater(version.major, version.minor);
    view_.MakeInvisible();
}

void CNerioSvcDlg::OnBeepChanged() {
    ReadConfiguration();
}

void CNerioSvcDlg::OnRawInput(RawInputHandle handle) {
    if (config_.EnableBeep == 0) return;
    const std::optional<RawInputRecord> record = rawInput_.Read(handle);
    if (!record || !DeviceNameMatches(record->deviceName)) return;
    if (DecideBeep(config_, isWindows7_, *record, state_)) sound_.Play(ChooseSound(config_));
}

bool CNerioSvcDlg::OnSysCommand(std::uint32_t command) {
    if ((command & kSysCommandMask) != IDM_ABOUTBOX) return false;
    view_.ShowAbout();
    return true;
}

void CNerioSvcDlg::ReadConfiguration() {
    // A failed read keeps the settings KavSvc already had, which is all it could do anyway.
    (void)configSource_.Read(config_);
}

}  // namespace kav::beep
