// Pipeline entry: every completed transfer of the continuous reader comes through here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device_context.h"

namespace kav {

// The continuous reader's completion routine; `context` is the WDFDEVICE. Signals user
// presence, then processes the transfer under the device's spin lock.
void NerioUSBEvtUsbInterruptPipeReadComplete(WDFUSBPIPE pipe, WDFMEMORY buffer, size_t numBytesTransferred,
                                             WDFOBJECT context);

// One 1024-byte transfer; runs the output stage when it completed a touch frame.
// Returns ProcessPacket's status.
NTSTATUS ProcessTransfer(DEVICE_CONTEXT* context, const std::uint8_t* buffer);

// STATUS_SUCCESS when a touch frame went through the camera stages and the output stage
// must run; STATUS_UNSUCCESSFUL otherwise, also for packets handled completely here.
NTSTATUS ProcessPacket(const std::uint8_t* buffer, DEVICE_CONTEXT* context);

constexpr std::uint8_t kPacketCameraLine = 0x01;
constexpr std::uint8_t kPacketDeviceEvent = 0x02;
constexpr std::uint8_t kPacketDeviceEventAlt = 0x40;

}  // namespace kav
