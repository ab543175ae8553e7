#include "packet_entry.h"

#include <cstring>

#include "camera_stages.h"
#include "clicks.h"
#include "driver_context.h"
#include "output_stage.h"
#include "report_composition.h"
#include "shadows.h"
#include "shared/work_modes.h"
#include "spin_lock_guard.h"

namespace kav {
namespace {

constexpr std::size_t kCommandByte = 2;
constexpr std::size_t kLengthByte = 3;
constexpr std::size_t kSubCodeByte = 4;

// The payload of a line packet is L - 1 bytes; L = 0 gives an empty (all-lit) line.
int LinePayloadLength(const std::uint8_t* packet) {
    return static_cast<int>(packet[kLengthByte]) - 1;
}

NTSTATUS ProcessImageTransfer(const std::uint8_t* buffer, DEVICE_CONTEXT* context) {
    BackgroundStep(buffer, &context->Background[0], context->ImageLine[0]);
    BackgroundStep(buffer + kImageSamples, &context->Background[1], context->ImageLine[1]);
    const int line = static_cast<int>(kLinePixels);
    if (context->SwapCameras == 0)
        RunCameraStages(context, context->ImageLine[0], line, context->ImageLine[1], line);
    else
        RunCameraStages(context, context->ImageLine[1], line, context->ImageLine[0], line);
    return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS ProcessPacket(const std::uint8_t* buffer, DEVICE_CONTEXT* context) {
    SnapshotDriverConfig(WdfGetDriver(), &context->DriverConfig);
    if (context->DriverConfig.Config.EnableTouch == 0) return STATUS_UNSUCCESSFUL;
    if (IsImageDevice(context)) return ProcessImageTransfer(buffer, context);
    if (buffer[0] != kPacketStart) return STATUS_UNSUCCESSFUL;

    if (context->WorkMode == kWorkModeRawPacket) {
        SendRawPacketReport(context, buffer);
        return STATUS_UNSUCCESSFUL;
    }

    const std::uint8_t command = buffer[kCommandByte];
    if (command != kPacketCameraLine) {
        if ((command == kPacketDeviceEvent || command == kPacketDeviceEventAlt) &&
            context->WorkMode != kWorkModeCalibrate) {
            DeviceButtons(context, buffer);
            SendDeviceEventReport(context, buffer);
        }
        return STATUS_UNSUCCESSFUL;
    }

    const std::uint8_t subCode = buffer[kSubCodeByte];
    if (subCode == 0) {
        std::memcpy(context->HalfFrame, buffer, kUsbTransferSize);
        context->HalfFramePending = 1;
        return STATUS_UNSUCCESSFUL;
    }
    if (subCode != 1 || context->HalfFramePending != 1) return STATUS_UNSUCCESSFUL;

    const std::uint8_t* stored = context->HalfFrame;
    const std::uint8_t* payloadStored = stored + kPacketHeaderSize;
    const std::uint8_t* payloadCurrent = buffer + kPacketHeaderSize;
    if (context->SwapCameras == 0)
        RunCameraStages(context, payloadCurrent, LinePayloadLength(buffer), payloadStored, LinePayloadLength(stored));
    else
        RunCameraStages(context, payloadStored, LinePayloadLength(stored), payloadCurrent, LinePayloadLength(buffer));
    context->HalfFramePending = 0;
    return STATUS_SUCCESS;
}

NTSTATUS ProcessTransfer(DEVICE_CONTEXT* context, const std::uint8_t* buffer) {
    const NTSTATUS status = ProcessPacket(buffer, context);
    if (NT_SUCCESS(status)) RunOutputStage(context);
    return status;
}

void NerioUSBEvtUsbInterruptPipeReadComplete(WDFUSBPIPE /*pipe*/, WDFMEMORY buffer, size_t /*numBytesTransferred*/,
                                             WDFOBJECT context) {
    PoSetSystemState(ES_USER_PRESENT);
    DEVICE_CONTEXT* device = NerioGetDeviceContext(context);
    size_t size = 0;
    const auto* data = static_cast<const std::uint8_t*>(WdfMemoryGetBuffer(buffer, &size));
    // The pipeline reads whole transfers; a shorter buffer is not one the reader made.
    if (device == nullptr || data == nullptr || size < kUsbTransferSize) return;

    SpinLockGuard lock(device->SpinLock);
    ProcessTransfer(device, data);
}

}  // namespace kav
