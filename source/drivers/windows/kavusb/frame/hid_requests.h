// The HID class's internal device-control requests: descriptors, strings and attributes
// answered here, reads parked for report composition, feature reports relayed.
#pragma once

#include "kavusb/kmdf/wdf.h"

namespace kav {

void NerioUSBEvtIoInternalDeviceControl(WDFQUEUE queue, WDFREQUEST request, size_t outputBufferLength,
                                        size_t inputBufferLength, ULONG ioControlCode);

// Strings by HID string ID, UTF-16 and terminated.
inline constexpr char16_t kManufacturerString[] = u"";
inline constexpr char16_t kProductString[] = u"Zandric USB TouchScreen";
inline constexpr char16_t kSerialNumberString[] = u"0";

}  // namespace kav
