#include "feature_relay.h"

#include <cstring>

#include "config_cache.h"
#include "kavusb/pipeline/driver_context.h"
#include "kavusb/pipeline/output_stage.h"
#include "kavusb/pipeline/regions.h"
#include "kavusb/pipeline/spin_lock_guard.h"
#include "parameters.h"
#include "shared/device_commands.h"
#include "shared/driver_request.h"
#include "shared/hid_reports.h"
#include "shared/work_modes.h"

namespace kav {
namespace {

constexpr ULONG kSendTimeoutMs = 2000;
constexpr size_t kRecordOffset = 5;  // payload of a framed packet in a command report

constexpr UCHAR kCommandSetCamera = protocol::kSetCameraPropertys.code;
constexpr UCHAR kCommandSetCalibration = protocol::kSetCalibParams.code;
constexpr UCHAR kCommandSetToolbar = protocol::kSetToolbarParams.code;
constexpr UCHAR kCommandSetScreen = protocol::kSetScreenProperty.code;
constexpr UCHAR kCommandGetCamera = protocol::kGetCameraPropertys.code;
constexpr UCHAR kCommandGetScreen = protocol::kGetScreenProperty.code;

// The HID class's transfer packet, from the request's user buffer.
HID_XFER_PACKET* TransferPacket(WDFREQUEST request) {
    return static_cast<HID_XFER_PACKET*>(IrpUserBuffer(WdfRequestWdmGetIrp(request)));
}

// Reports 0xAA and 0x55 are 64 bytes; a shorter buffer is never read or written past
// its end, and such a request is refused.
bool HoldsVendorReport(const HID_XFER_PACKET& packet) {
    return packet.reportBuffer != nullptr && packet.reportBufferLen >= kFeatureReportSize;
}

template <typename Record>
void StoreRecord(Record* record, const UCHAR* report) {
    std::memcpy(record, report + kRecordOffset, sizeof(Record));
}

void SetCommandReport(DEVICE_CONTEXT* context, const HID_XFER_PACKET& packet) {
    const UCHAR* report = packet.reportBuffer;
    const UCHAR command = report[2];
    const UCHAR subCode = report[4];
    {
        // What the pipeline reads is changed under the device's spin lock: record copies and
        // the rebuilds from them are bounded and never wait, so they run under it too.
        SpinLockGuard lock(context->SpinLock);
        switch (command) {
            case kCommandSetCamera:
                if (subCode <= 1) StoreRecord(&context->CameraProperties[subCode], report);
                LoadCameraModel(context);
                break;
            case kCommandSetCalibration:
                if (subCode <= 1) StoreRecord(&context->CalibParams[subCode], report);
                SetupRegions(context, false);
                break;
            case kCommandSetToolbar:
                if (subCode == 0) StoreRecord(&context->ToolbarParams, report);
                break;
            case kCommandSetScreen:
                if (subCode == 0) StoreRecord(&context->ScreenProperty, report);
                if (subCode == 1) StoreRecord(&context->DeviceConfig, report);
                SetupRegions(context, false);
                break;
            default:
                break;
        }
    }
    // The frame's own length, but never more than the report holds.
    ULONG length = static_cast<UCHAR>(report[3] + kPacketHeaderSize);
    if (length > packet.reportBufferLen) length = packet.reportBufferLen;
    SendDeviceCommand(context, report, static_cast<UCHAR>(length));
}

void SetDriverRequest(WDFDEVICE device, DEVICE_CONTEXT* context, const HID_XFER_PACKET& packet) {
    const UCHAR* report = packet.reportBuffer;
    WDFDRIVER driver = WdfDeviceGetDriver(device);
    switch (report[kDriverRequestCodeOffset]) {
        case kDriverRequestWorkMode: {
            SpinLockGuard lock(context->SpinLock);
            context->WorkMode = report[kDriverRequestWorkModeOffset];
            return;
        }
        case kDriverRequestSetConfig: {
            _NERIO_DRIVER_CONFIG config;
            std::memcpy(&config, report + kDriverRequestSetDataOffset, sizeof(config));
            ReplaceDriverConfig(driver, config);
            WriteDriverParameters(&config, driver);
            SpinLockGuard lock(context->SpinLock);
            InitTapStabilizer(context, config.DoubleClickTime, config.DoubleClickArea, context->ScreenProperty.Width,
                              context->ScreenProperty.Height);
            SetSmoothnessScale(context, config.Smoothness);
            return;
        }
        case kDriverRequestSetSpeed: {
            ULONG maxSpeed = 0;
            std::memcpy(&maxSpeed, report + kDriverRequestSetDataOffset, sizeof(maxSpeed));
            const UCHAR refCount = report[kDriverRequestSetDataOffset + 4];
            const UCHAR weight = report[kDriverRequestSetDataOffset + 5];
            ReplaceSpeedParameters(driver, maxSpeed, refCount, weight);
            WriteSpeedParameters(driver, maxSpeed, refCount, weight);
            SpinLockGuard lock(context->SpinLock);
            StoreSpeedParameters(context, maxSpeed, refCount, weight, SpeedPrecision::Single);
            LoadCameraModel(context);
            return;
        }
        default:
            SendDeviceCommand(context, report, static_cast<UCHAR>(packet.reportBufferLen & 0xFF));
            return;
    }
}

template <typename Record>
void CopyRecord(UCHAR* report, const Record& record) {
    std::memcpy(report, &record, sizeof(Record));
}

void GetCommandReport(DEVICE_CONTEXT* context, const HID_XFER_PACKET& packet) {
    UCHAR* report = packet.reportBuffer;
    const UCHAR command = report[2];
    const UCHAR subCode = report[4];
    if (command == kCommandGetCamera || command == kCommandGetScreen) {
        SpinLockGuard lock(context->SpinLock);
        if (command == kCommandGetCamera && subCode <= 1) CopyRecord(report, context->CameraProperties[subCode]);
        if (command == kCommandGetScreen && subCode == 0) CopyRecord(report, context->ScreenProperty);
        if (command == kCommandGetScreen && subCode == 1) CopyRecord(report, context->DeviceConfig);
        return;
    }
    ReadDeviceReply(context, report);
}

void GetDriverRequest(WDFDEVICE device, DEVICE_CONTEXT* context, const HID_XFER_PACKET& packet) {
    UCHAR* report = packet.reportBuffer;
    switch (report[kDriverRequestCodeOffset]) {
        case kDriverRequestWorkMode:
            report[kDriverRequestWorkModeOffset] = context->WorkMode;
            return;
        case kDriverRequestGetConfig:
        case kDriverRequestGetSpeed: {
            DRIVER_CONFIG_SNAPSHOT snapshot;
            SnapshotDriverConfig(WdfDeviceGetDriver(device), &snapshot);
            if (report[kDriverRequestCodeOffset] == kDriverRequestGetConfig) {
                std::memcpy(report, &snapshot.Config, sizeof(snapshot.Config));
            } else {
                const ULONG maxSpeed = snapshot.MaxSpeed;
                std::memcpy(report, &maxSpeed, sizeof(maxSpeed));
                report[4] = snapshot.VelocityRefCount;
                report[5] = snapshot.VelocityWeight;
            }
            return;
        }
        default:
            return;
    }
}

}  // namespace

NTSTATUS HandleSetFeature(WDFDEVICE device, WDFREQUEST request) {
    WDF_REQUEST_PARAMETERS parameters;
    WDF_REQUEST_PARAMETERS_INIT(&parameters);
    WdfRequestGetParameters(request, &parameters);
    if (parameters.Parameters.DeviceIoControl.InputBufferLength < sizeof(HID_XFER_PACKET))
        return STATUS_BUFFER_TOO_SMALL;
    const HID_XFER_PACKET* packet = TransferPacket(request);
    if (packet == nullptr) return STATUS_INVALID_DEVICE_REQUEST;
    const UCHAR reportId = packet->reportId;
    if (reportId != kCommandFeatureId && reportId != kDriverRequestFeatureId) return STATUS_SUCCESS;
    if (!HoldsVendorReport(*packet)) return STATUS_BUFFER_TOO_SMALL;

    DEVICE_CONTEXT* context = NerioGetDeviceContext(device);
    if (reportId == kCommandFeatureId)
        SetCommandReport(context, *packet);
    else
        SetDriverRequest(device, context, *packet);
    return STATUS_SUCCESS;
}

NTSTATUS HandleGetFeature(WDFDEVICE device, WDFREQUEST request) {
    const HID_XFER_PACKET* packet = TransferPacket(request);
    if (packet == nullptr) return STATUS_INVALID_DEVICE_REQUEST;
    DEVICE_CONTEXT* context = NerioGetDeviceContext(device);
    switch (packet->reportId) {
        case kContactCountMaxFeatureId:
            if (packet->reportBuffer != nullptr && packet->reportBufferLen >= sizeof(CONTACT_COUNT_MAX_FEATURE)) {
                packet->reportBuffer[1] = 2;
                SpinLockGuard lock(context->SpinLock);
                context->WorkMode = kWorkModeDigitizer;
            }
            return STATUS_SUCCESS;
        case kCommandFeatureId:
            if (!HoldsVendorReport(*packet)) return STATUS_BUFFER_TOO_SMALL;
            GetCommandReport(context, *packet);
            return STATUS_SUCCESS;
        case kDriverRequestFeatureId:
            if (!HoldsVendorReport(*packet)) return STATUS_BUFFER_TOO_SMALL;
            GetDriverRequest(device, context, *packet);
            return STATUS_SUCCESS;
        default:
            return STATUS_SUCCESS;
    }
}

NTSTATUS SendDeviceCommand(DEVICE_CONTEXT* context, const UCHAR* buffer, UCHAR length) {
    WDFUSBDEVICE usbDevice = context->UsbDevice;
    if (usbDevice == nullptr) return STATUS_DEVICE_NOT_CONNECTED;
    UCHAR frame[256];
    std::memcpy(frame, buffer, length);
    WDF_USB_CONTROL_SETUP_PACKET setup;
    WDF_USB_CONTROL_SETUP_PACKET_INIT_VENDOR(&setup, BmRequestHostToDevice, BmRequestToDevice, 0, 0, 0);
    WDF_MEMORY_DESCRIPTOR memory;
    WDF_MEMORY_DESCRIPTOR_INIT_BUFFER(&memory, frame, length);
    WDF_REQUEST_SEND_OPTIONS options;
    WDF_REQUEST_SEND_OPTIONS_INIT(&options, WDF_REQUEST_SEND_OPTION_TIMEOUT);
    WDF_REQUEST_SEND_OPTIONS_SET_TIMEOUT(&options, WDF_REL_TIMEOUT_IN_MS(kSendTimeoutMs));
    ULONG sent = 0;
    return WdfUsbTargetDeviceSendControlTransferSynchronously(usbDevice, WDF_NO_HANDLE, &options, &setup,
                                                              length != 0 ? &memory : nullptr, &sent);
}

NTSTATUS ReadDeviceReply(DEVICE_CONTEXT* context, UCHAR* buffer) {
    WDFUSBDEVICE usbDevice = context->UsbDevice;
    if (usbDevice == nullptr) return STATUS_DEVICE_NOT_CONNECTED;
    WDF_USB_CONTROL_SETUP_PACKET setup;
    WDF_USB_CONTROL_SETUP_PACKET_INIT_VENDOR(&setup, BmRequestDeviceToHost, BmRequestToDevice, 0, 0, 0);
    WDF_MEMORY_DESCRIPTOR memory;
    WDF_MEMORY_DESCRIPTOR_INIT_BUFFER(&memory, buffer, kFeatureReportSize);
    ULONG read = 0;
    return WdfUsbTargetDeviceSendControlTransferSynchronously(usbDevice, WDF_NO_HANDLE, nullptr, &setup, &memory,
                                                              &read);
}

}  // namespace kav
