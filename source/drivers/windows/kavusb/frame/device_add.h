// Device add: the device object with its context, queues and spin lock.
#pragma once

#include "kavusb/kmdf/wdf.h"

namespace kav {

// The framework's device-add callback.
NTSTATUS NerioUSBEvtDeviceAdd(WDFDRIVER driver, PWDFDEVICE_INIT deviceInit);

// Creates the device from its init record and returns it; what NerioUSBEvtDeviceAdd does.
NTSTATUS NerioUSBCreateDevice(PWDFDEVICE_INIT deviceInit, WDFDEVICE* device);

}  // namespace kav
