// Raw input for the dialog: the system's (RegisterRawInputDevices and WM_INPUT) and, when
// KAVLIB_PLATFORM=sim asks for the simulation, the simulated screen's besides
// (simulated_raw_input.h), as a real screen would join the system's mouse and keyboard.
#pragma once

#include <windows.h>

#include <memory>

#include "beepservice/nerio_svc_dlg.h"

namespace kav::beep::win32 {

class Win32RawInput : public RawInputSource {
public:
    explicit Win32RawInput(HWND target) : target_(target) {}
    bool Register(const std::array<RawInputDevice, 2>& devices) override;
    // The handle is WM_INPUT's HRAWINPUT.
    std::optional<RawInputRecord> Read(RawInputHandle handle) override;

private:
    HWND target_;
};

// Both sources behind one; the dialog says which message it is handling before the
// presenter reads the record.
class DialogRawInput : public RawInputSource {
public:
    enum class Origin { System, Simulation };

    explicit DialogRawInput(HWND target);
    ~DialogRawInput() override;
    // Both must take the registration.
    bool Register(const std::array<RawInputDevice, 2>& devices) override;
    std::optional<RawInputRecord> Read(RawInputHandle handle) override;
    void SetOrigin(Origin origin) { origin_ = origin; }

private:
    Win32RawInput system_;
    std::unique_ptr<RawInputSource> simulation_;  // null without KAVLIB_PLATFORM=sim
    Origin origin_ = Origin::System;
};

}  // namespace kav::beep::win32
