// Feature reports: the command report 0xAA relayed to the controller (with copies of
// the records that pass), the driver request report 0x55 answered here, the contact
// count maximum 0x03 and the device mode 0x02.
#pragma once

#include "kavusb/kmdf/wdf.h"
#include "kavusb/pipeline/device_context.h"

namespace kav {

// IOCTL_HID_SET_FEATURE / IOCTL_HID_GET_FEATURE at PASSIVE_LEVEL; the dispatcher
// completes the request with the returned status.
NTSTATUS HandleSetFeature(WDFDEVICE device, WDFREQUEST request);
NTSTATUS HandleGetFeature(WDFDEVICE device, WDFREQUEST request);

// Vendor control transfers on the default pipe: a frame of 0..255 bytes to the
// controller (2 s time-out), and its next 64-byte reply.
NTSTATUS SendDeviceCommand(DEVICE_CONTEXT* context, const UCHAR* buffer, UCHAR length);
NTSTATUS ReadDeviceReply(DEVICE_CONTEXT* context, UCHAR* buffer);

}  // namespace kav
