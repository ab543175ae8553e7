// The HID class's internal device-control requests.
#pragma once

#include "kavusb/kmdf/wdf.h"

namespace kav {

void NerioUSBEvtIoInternalDeviceControl(WDFQUEUE queue, WDFREQUEST request, size_t outputBufferLength,
                                        size_t inputBufferLength, ULONG ioControlCode);

}  // namespace kav
