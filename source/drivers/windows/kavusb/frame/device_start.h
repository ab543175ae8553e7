// Device start: USB set-up, the continuous reader, the controller's configuration read
// through the command protocol, and the pipeline state built from it; D0 entry and exit.
#pragma once

#include "kavusb/kmdf/wdf.h"
#include "kavusb/pipeline/device_context.h"

namespace kav {

NTSTATUS NerioUSBEvtDevicePrepareHardware(WDFDEVICE device, WDFCMRESLIST resourcesRaw,
                                          WDFCMRESLIST resourcesTranslated);
NTSTATUS NerioUSBEvtDeviceD0Entry(WDFDEVICE device, WDF_POWER_DEVICE_STATE previousState);
NTSTATUS NerioUSBEvtDeviceD0Exit(WDFDEVICE device, WDF_POWER_DEVICE_STATE targetState);

// Frames a packet (the one framing the system has); n + 6 bytes.
void BuildDevicePacket(UCHAR type, UCHAR command, UCHAR subCode, const UCHAR* payload, ULONG n, UCHAR* packet);

// Sends `length` bytes of `packet` and polls for its reply: up to 16 attempts, each a
// 20 ms wait, the send, a 30 ms wait and a 64-byte read; a reply is taken when it starts
// with 0xAA, has the request's sub-code and a type whose high nibble is 1.
NTSTATUS TransactDeviceCommand(DEVICE_CONTEXT* context, const UCHAR* packet, UCHAR length, UCHAR* reply);

// The eleven transactions of a start, the records cached, the failures logged.
NTSTATUS ReadDeviceConfiguration(DEVICE_CONTEXT* context);

constexpr ULONG kTransactAttempts = 16;
constexpr LONGLONG kStartWait100ns = 50'000'000;

}  // namespace kav
