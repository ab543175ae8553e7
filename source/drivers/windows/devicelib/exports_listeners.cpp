// The C entry points of the listeners and of the device notification.
#include "devicelib/guarded.h"
#include "devicelib/include/KavLib.h"
#include "devicelib/listeners.h"

using kav::devicelib::Guarded;

extern "C" {

unsigned char Nerio_RegisterTouchDataCallback(KAVLIB_HANDLE device, NERIO_TOUCH_DATA_CALLBACK callback) {
    return Guarded([&] { return kav::devicelib::StartTouchDataListener(device, callback); });
}

unsigned char Nerio_UnRegisterTouchDataCallback(void) {
    return Guarded([] { return kav::devicelib::StopTouchDataListener(); });
}

unsigned char Nerio_RegisterTouchCallback(NERIO_TOUCH_DATA_CALLBACK callback) {
    return Guarded([&] { return kav::devicelib::StartRawInputTouchListener(callback); });
}

unsigned char Nerio_UnRegisterTouchCallback(void) {
    return Guarded([] { return kav::devicelib::StopRawInputTouchListener(); });
}

unsigned char Nerio_RegisterImageDataCallback(KAVLIB_HANDLE device, NERIO_IMAGE_DATA_CALLBACK callback) {
    return Guarded([&] { return kav::devicelib::StartImageDataListener(device, callback); });
}

unsigned char Nerio_UnRegisterImageDataCallback(void) {
    return Guarded([] { return kav::devicelib::StopImageDataListener(); });
}

unsigned char Nerio_RegisterDeviceNotifyCallback(NERIO_DEVICE_NOTIFY_CALLBACK callback) {
    return Guarded([&] { return kav::devicelib::StartDeviceNotify(callback); });
}

unsigned char Nerio_UnRegisterDeviceNotifyCallback(void) {
    return Guarded([] { return kav::devicelib::StopDeviceNotify(); });
}

}  // extern "C"
