#include "beepservice/win32/simulated_raw_input.h"

#include "devicelib/platform/platform.h"

namespace kav::beep::win32 {
namespace {

RawInputRecord ToRecord(const platform::RawInputEvent& event) {
    RawInputRecord record;
    record.deviceName = event.deviceName;
    switch (event.kind) {
        case platform::RawInputEvent::Kind::Hid:
            record.type = RawInputRecord::Type::Hid;
            record.hidReport = event.report;
            break;
        case platform::RawInputEvent::Kind::Mouse:
            record.type = RawInputRecord::Type::Mouse;
            record.mouseButtonFlags = event.mouseButtonFlags;
            break;
        case platform::RawInputEvent::Kind::Keyboard:
            break;
    }
    return record;
}

}  // namespace

struct SimulatedRawInput::Registration {
    std::unique_ptr<platform::Registration> sink;
};

SimulatedRawInput::SimulatedRawInput(HWND target) : target_(target) {}

// Ends the sink first, which waits for a callback in progress, so none posts afterwards.
SimulatedRawInput::~SimulatedRawInput() = default;

bool SimulatedRawInput::Register(const std::array<RawInputDevice, 2>& devices) {
    platform::RawInputUsage usages[2];
    for (std::size_t i = 0; i < devices.size(); ++i) usages[i] = {devices[i].usagePage, devices[i].usage};
    const HWND target = target_;
    auto sink = platform::CurrentPlatform().RegisterRawInput(usages, [target](const platform::RawInputEvent& event) {
        // The sink runs on the platform's thread; the dialog hears the event on its own,
        // in order with everything else in its queue.
        auto record = std::make_unique<RawInputRecord>(ToRecord(event));
        if (PostMessageW(target, kSimulatedRawInputMessage, 0, reinterpret_cast<LPARAM>(record.get()))) {
            (void)record.release();  // the dialog owns it now
        }
    });
    if (!sink) return false;
    registration_ = std::make_unique<Registration>(Registration{std::move(sink)});
    return true;
}

std::optional<RawInputRecord> SimulatedRawInput::Read(RawInputHandle handle) {
    if (handle == 0) return std::nullopt;
    return *reinterpret_cast<const RawInputRecord*>(handle);
}

std::unique_ptr<RawInputRecord> SimulatedRawInput::AdoptRecord(LPARAM handle) {
    return std::unique_ptr<RawInputRecord>(reinterpret_cast<RawInputRecord*>(handle));
}

}  // namespace kav::beep::win32
