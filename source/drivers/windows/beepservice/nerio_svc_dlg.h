// CNerioSvcDlg: KavSvc's main dialog, which nobody sees. It registers for the touch
// screen's raw input, keeps the beep settings and the touch state, and beeps.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "beepservice/beep_decision.h"
#include "beepservice/driver_config_source.h"
#include "beepservice/sound.h"
#include "shared/driver_config.h"

namespace kav::beep {

struct RawInputDevice {
    std::uint16_t usagePage;
    std::uint16_t usage;
};

// Generic Desktop / Mouse and Digitizer / Touch Screen, both heard in the background.
inline constexpr std::array<RawInputDevice, 2> kRawInputDevices = {{{0x01, 0x02}, {0x0D, 0x04}}};

// What WM_INPUT carries: a handle to read the record with.
using RawInputHandle = std::uintptr_t;

// Where the dialog's raw input comes from: the system's, or the simulated screen's.
class RawInputSource {
public:
    RawInputSource() = default;
    RawInputSource(const RawInputSource&) = delete;
    RawInputSource& operator=(const RawInputSource&) = delete;
    virtual ~RawInputSource() = default;

    // Registers the devices as input sinks of the dialog. False when the system refused.
    virtual bool Register(const std::array<RawInputDevice, 2>& devices) = 0;

    // The record behind a handle, with its device name; nullopt when the record or the
    // name cannot be read (that one event is dropped).
    virtual std::optional<RawInputRecord> Read(RawInputHandle handle) = 0;
};

struct OsVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
};

// The dialog window. Every call is on the dialog's thread; none fails in a way the
// dialog could act on.
class NerioSvcView {
public:
    NerioSvcView() = default;
    NerioSvcView(const NerioSvcView&) = delete;
    NerioSvcView& operator=(const NerioSvcView&) = delete;
    virtual ~NerioSvcView() = default;

    // Empty when the string resource is missing.
    virtual std::u16string LoadString(std::uint32_t id) = 0;
    virtual void AppendSystemMenuSeparator() = 0;
    virtual void AppendSystemMenuItem(std::uint32_t command, std::u16string_view text) = 0;
    // The application icon, big and small.
    virtual void SetIcons() = 0;
    virtual OsVersion GetOsVersion() = 0;
    // At (0, 0) with zero size, hidden, a tool window: no visible area, no taskbar button.
    virtual void MakeInvisible() = 0;
    virtual void Show() = 0;
    // Modal; returns when the About box is closed.
    virtual void ShowAbout() = 0;
};

class CNerioSvcDlg {
public:
    CNerioSvcDlg(NerioSvcView& view, RawInputSource& rawInput, DriverConfigSource& configSource, SoundOutput& sound);

    void OnInitDialog();
    // The registered message "BeepChanged": the settings changed.
    void OnBeepChanged();
    void OnRawInput(RawInputHandle handle);
    // True when the command was the dialog's own; false leaves it to the default handling.
    bool OnSysCommand(std::uint32_t command);

    const _NERIO_DRIVER_CONFIG& Configuration() const { return config_; }
    const BeepState& State() const { return state_; }
    bool IsWindows7() const { return isWindows7_; }

private:
    void ReadConfiguration();

    NerioSvcView& view_;
    RawInputSource& rawInput_;
    DriverConfigSource& configSource_;
    SoundOutput& sound_;
    // Zero until the first read, so nothing beeps before the settings are known.
    _NERIO_DRIVER_CONFIG config_{};
    bool isWindows7_ = false;
    BeepState state_;
};

}  // namespace kav::beep
