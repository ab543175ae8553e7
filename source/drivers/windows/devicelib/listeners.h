// KavLib's listeners: touch and image reports read from a caller's handle, touch reports
// from raw input, and device arrival and removal handed to the registering thread. One
// registration of each kind per process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "devicelib/platform/platform.h"
#include "shared/device_packet.h"

namespace kav::devicelib {

// The controller whose raw input the raw-input listener takes, as its interface names show it.
inline constexpr char16_t kRawInputTouchDeviceName[] = u"HID#VID_4B1D&PID_0A31";

constexpr std::size_t kTouchDataReportLength = 22;
constexpr std::size_t kImageReportLength = 64;
constexpr uint32_t kTouchDataWaitSliceMs = 60;
constexpr uint32_t kImageWaitSliceMs = 100;

// The callbacks as the exports take them.
using TouchDataCallback = void (*)(unsigned char* report);
using ImageDataCallback = void (*)(unsigned char* blockA, int lengthA, unsigned char* blockB, int lengthB);
using DeviceNotifyCallback = void (*)(uint32_t event, uint32_t parameter);

// Each start is refused (false) when its kind is already registered, the handle is not
// valid, the callback is null or the platform cannot read the handle. Each stop returns
// false when nothing is registered; otherwise it ends the listener and waits for its thread,
// so no callback runs once it has returned. Called from inside the listener's own callback,
// a stop cannot wait for itself: it returns at once and the thread ends after the callback.
// A raw-input start waits for such a stop to finish; from inside that callback it is refused.
bool StartTouchDataListener(platform::Handle handle, TouchDataCallback callback);
bool StopTouchDataListener();
bool StartImageDataListener(platform::Handle handle, ImageDataCallback callback);
bool StopImageDataListener();
bool StartRawInputTouchListener(TouchDataCallback callback);
bool StopRawInputTouchListener();

// Pairs the image device's blocks: sub-code 0 fills A, sub-code 1 fills B, and every packet
// that finds both held delivers the pair and releases B; A stays for the next B.
class ImageBlockPairer {
public:
    static constexpr std::size_t kBlockSize = kMaxPacketPayload;
    using Deliver = std::function<void(uint8_t* a, int lengthA, uint8_t* b, int lengthB)>;

    // A report of exactly 64 bytes whose frame checks (byte 0 counted as 0xAA); anything
    // else is dropped. Type and command are not examined.
    void Take(std::span<const uint8_t> report, const Deliver& deliver);
    void Clear();

private:
    struct Block {
        uint8_t bytes[kBlockSize] = {};
        int length = 0;
        bool held = false;
    };
    Block a_, b_;
};

// --- Device arrival and removal ---

// The registering thread's end: a window whose message loop runs `deliver` for each posted
// event. Created and destroyed on the registering thread; Post is called from the
// platform's thread.
class NotifyWindow {
public:
    virtual ~NotifyWindow() = default;
    virtual void Post(uint32_t event) = 0;
};
using NotifyWindowFactory = std::function<std::unique_ptr<NotifyWindow>(std::function<void(uint32_t)> deliver)>;

// On Windows a hidden "MsgWnd" window; elsewhere none unless a test installs a factory.
// nullptr restores the default.
void SetNotifyWindowFactory(NotifyWindowFactory factory);
NotifyWindowFactory DefaultNotifyWindowFactory();

// Refused (false, nothing kept) when a callback is registered, the callback is null, or
// the window or the platform's registration cannot be made. Register and unregister on
// the thread that pumps the window's messages.
bool StartDeviceNotify(DeviceNotifyCallback callback);
bool StopDeviceNotify();

}  // namespace kav::devicelib
