// The simulated screen's raw input, from the service's raw-input events through KavLib's
// platform layer, posted to the dialog so that it is handled on the dialog's thread in
// order with everything else, as WM_INPUT is.
#pragma once

#include <windows.h>

#include <memory>

#include "beepservice/nerio_svc_dlg.h"

namespace kav::beep::win32 {

// The message that carries a simulated record: its lParam is the handle that Read takes,
// which owns the record; whoever takes the message adopts it with AdoptRecord.
inline constexpr UINT kSimulatedRawInputMessage = WM_APP + 1;

class SimulatedRawInput : public RawInputSource {
public:
    explicit SimulatedRawInput(HWND target);
    ~SimulatedRawInput() override;
    bool Register(const std::array<RawInputDevice, 2>& devices) override;
    std::optional<RawInputRecord> Read(RawInputHandle handle) override;

    static std::unique_ptr<RawInputRecord> AdoptRecord(LPARAM handle);

private:
    struct Registration;
    HWND target_;
    std::unique_ptr<Registration> registration_;
};

}  // namespace kav::beep::win32
