#include "device_start.h"

#include <cstring>

#include "feature_relay.h"
#include "kavusb/eventlog/event_log.h"
#include "kavusb/pipeline/driver_context.h"
#include "kavusb/pipeline/packet_entry.h"
#include "pipeline_start.h"
#include "shared/device_commands.h"
#include "shared/device_packet.h"
#include "trace.h"

namespace kav {
namespace {

constexpr ULONG kSendWaitMs = 20;
constexpr ULONG kReplyWaitMs = 30;

void Delay(LONGLONG interval100ns) {
    LARGE_INTEGER interval;
    interval.QuadPart = interval100ns;
    KeDelayExecutionThread(KernelMode, FALSE, &interval);
}

bool ReplyAccepted(const UCHAR* reply, const UCHAR* packet) {
    return reply[0] == kPacketStart && reply[4] == packet[4] && protocol::IsReplyType(reply[1]);
}

struct ConfigurationRow {
    UCHAR type, command, subCode;
    bool hasPayload;
    UCHAR payload;
    void* (*record)(DEVICE_CONTEXT*);
    ULONG failureCode;  // 0: no entry
    PCWSTR failureText;
};

template <typename Record, Record DEVICE_CONTEXT::*Field>
void* RecordOf(DEVICE_CONTEXT* c) {
    return &(c->*Field);
}
void* Camera0(DEVICE_CONTEXT* c) {
    return &c->CameraProperties[0];
}
void* Camera1(DEVICE_CONTEXT* c) {
    return &c->CameraProperties[1];
}
void* Calib0(DEVICE_CONTEXT* c) {
    return &c->CalibParams[0];
}
void* Calib1(DEVICE_CONTEXT* c) {
    return &c->CalibParams[1];
}

// The access bracket around the record queries switches both sub-units on and off.
const ConfigurationRow kConfigurationRows[] = {
    {protocol::kTypeSet, protocol::kSetMode.code, protocol::kBracketSubCodes[0], true, protocol::kAccessOn, nullptr, 0,
     nullptr},
    {protocol::kTypeSet, protocol::kSetMode.code, protocol::kBracketSubCodes[1], true, protocol::kAccessOn, nullptr, 0,
     nullptr},
    {protocol::kTypeGet, protocol::kGetCameraPropertys.code, 0x00, false, 0, Camera0, KAV_EVENT_COMMAND_FAILED,
     u"读取主摄像头参数失败."},
    {protocol::kTypeGet, protocol::kGetCameraPropertys.code, 0x01, false, 0, Camera1, KAV_EVENT_COMMAND_FAILED,
     u"读取辅摄像头参数失败."},
    {protocol::kTypeGet, protocol::kGetScreenProperty.code, protocol::kSubScreenProperty, false, 0,
     RecordOf<SCREEN_PROPERTY, &DEVICE_CONTEXT::ScreenProperty>, KAV_EVENT_COMMAND_FAILED, u"读取屏幕参数失败."},
    {protocol::kTypeGet, protocol::kGetDeviceConfig.code, protocol::kSubDeviceConfig, false, 0,
     RecordOf<DEVICE_CONFIG, &DEVICE_CONTEXT::DeviceConfig>, KAV_EVENT_COMMAND_FAILED, u"读取设备配置参数失败."},
    {protocol::kTypeGet, protocol::kGetCalibParams.code, protocol::kSubCalibX, false, 0, Calib0,
     KAV_EVENT_COMMAND_FAILED, u"读取X校准参数失败."},
    {protocol::kTypeGet, protocol::kGetCalibParams.code, protocol::kSubCalibY, false, 0, Calib1,
     KAV_EVENT_CALIBRATION_Y_FAILED, u"读取Y校准参数失败."},
    {protocol::kTypeGet, protocol::kGetToolbarParams.code, protocol::kSubToolbar, false, 0,
     RecordOf<TOOLBAR_PARAMS, &DEVICE_CONTEXT::ToolbarParams>, KAV_EVENT_COMMAND_FAILED, u"读取按键配置信息失败."},
    {protocol::kTypeSet, protocol::kSetMode.code, protocol::kBracketSubCodes[0], true, protocol::kAccessOff, nullptr, 0,
     nullptr},
    {protocol::kTypeSet, protocol::kSetMode.code, protocol::kBracketSubCodes[1], true, protocol::kAccessOff, nullptr, 0,
     nullptr},
};

constexpr PCWSTR kStartFailure =
    u"NerioUSBEvtDevicePrepareHardware: Zandric USB Touchscreen Driver Init Kavcore failed.";

}  // namespace

void BuildDevicePacket(UCHAR type, UCHAR command, UCHAR subCode, const UCHAR* payload, ULONG n, UCHAR* packet) {
    BuildFramedPacket(type, command, subCode, payload, n, packet);
}

NTSTATUS TransactDeviceCommand(DEVICE_CONTEXT* context, const UCHAR* packet, UCHAR length, UCHAR* reply) {
    UCHAR buffer[kFeatureReportSize] = {};
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    for (ULONG attempt = 0; attempt < kTransactAttempts; ++attempt) {
        Delay(WDF_REL_TIMEOUT_IN_MS(kSendWaitMs));
        status = SendDeviceCommand(context, packet, length);
        if (!NT_SUCCESS(status)) continue;
        Delay(WDF_REL_TIMEOUT_IN_MS(kReplyWaitMs));
        status = ReadDeviceReply(context, buffer);
        if (!NT_SUCCESS(status)) continue;
        if (ReplyAccepted(buffer, packet)) {
            std::memcpy(reply, buffer, sizeof(buffer));
            return status;
        }
        status = STATUS_UNSUCCESSFUL;
    }
    return status;
}

NTSTATUS ReadDeviceConfiguration(DEVICE_CONTEXT* context) {
    UCHAR reply[kFeatureReportSize] = {};
    for (const ConfigurationRow& row : kConfigurationRows) {
        UCHAR packet[kFeatureReportSize] = {};
        const ULONG n = row.hasPayload ? 1 : 0;
        BuildDevicePacket(row.type, row.command, row.subCode, &row.payload, n, packet);
        const NTSTATUS status = TransactDeviceCommand(context, packet, static_cast<UCHAR>(n + 6), reply);
        if (!NT_SUCCESS(status)) {
            DbgPrintEx(DPFLTR_IHVDRIVER_ID, DPFLTR_ERROR_LEVEL,
                       "KavUSB: ReadDeviceConfiguration: TransactDeviceCommand (type 0x%02X, command 0x%02X, "
                       "sub-code 0x%02X) failed with status 0x%08X\n",
                       row.type, row.command, row.subCode, static_cast<ULONG>(status));
            if (row.failureCode != 0) WriteEventLogEntry(row.failureCode, status, row.failureText);
            return status;
        }
        if (row.record != nullptr) {
            std::memcpy(row.record(context), reply + kPacketHeaderSize, kDeviceRecordSize);
            std::memset(reply, 0, sizeof(reply));
        }
    }
    DRIVER_CONFIG_SNAPSHOT driver;
    SnapshotDriverConfig(WdfGetDriver(), &driver);
    InitializePipelineState(context, driver);
    return STATUS_SUCCESS;
}

namespace {

constexpr PCSTR kPrepareHardware = "NerioUSBEvtDevicePrepareHardware";

// The USB target, its configuration, the device descriptor, pipe 0 and its continuous
// reader (started only at D0 entry). A failure returns the framework's status, traced.
NTSTATUS ConfigureUsb(WDFDEVICE device, DEVICE_CONTEXT* context) {
    NTSTATUS status = STATUS_SUCCESS;
    // A restarted device keeps its USB target.
    if (context->UsbDevice == nullptr) {
        WDFUSBDEVICE usbDevice = nullptr;
        status = WdfUsbTargetDeviceCreate(device, WDF_NO_OBJECT_ATTRIBUTES, &usbDevice);
        if (!NT_SUCCESS(status)) return TraceFailure(kPrepareHardware, "WdfUsbTargetDeviceCreate", status);
        context->UsbDevice = usbDevice;
    }

    WDF_USB_DEVICE_SELECT_CONFIG_PARAMS config;
    WDF_USB_DEVICE_SELECT_CONFIG_PARAMS_INIT_SINGLE_INTERFACE(&config);
    status = WdfUsbTargetDeviceSelectConfig(context->UsbDevice, WDF_NO_OBJECT_ATTRIBUTES, &config);
    if (!NT_SUCCESS(status)) return TraceFailure(kPrepareHardware, "WdfUsbTargetDeviceSelectConfig", status);
    context->UsbInterface = config.SingleInterface.ConfiguredUsbInterface;

    WDF_OBJECT_ATTRIBUTES attributes;
    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    attributes.ParentObject = device;
    WDFMEMORY memory = nullptr;
    PVOID buffer = nullptr;
    status = WdfMemoryCreate(&attributes, NonPagedPool, 0, sizeof(USB_DEVICE_DESCRIPTOR), &memory, &buffer);
    if (!NT_SUCCESS(status)) return TraceFailure(kPrepareHardware, "WdfMemoryCreate", status);
    WdfUsbTargetDeviceGetDeviceDescriptor(context->UsbDevice, static_cast<PUSB_DEVICE_DESCRIPTOR>(buffer));
    std::memcpy(&context->DeviceDescriptor, buffer, sizeof(USB_DEVICE_DESCRIPTOR));

    WDFUSBPIPE pipe = WdfUsbInterfaceGetConfiguredPipe(context->UsbInterface, 0, nullptr);
    if (pipe == nullptr)
        return TraceFailure(kPrepareHardware, "WdfUsbInterfaceGetConfiguredPipe (pipe 0)", STATUS_INVALID_DEVICE_STATE);
    context->InterruptPipe = pipe;
    WdfUsbTargetPipeSetNoMaximumPacketSizeCheck(pipe);

    WDF_USB_CONTINUOUS_READER_CONFIG reader;
    WDF_USB_CONTINUOUS_READER_CONFIG_INIT(&reader, NerioUSBEvtUsbInterruptPipeReadComplete, device, kUsbTransferSize);
    WdfUsbTargetPipeConfigContinuousReader(pipe, &reader);
    return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS NerioUSBEvtDevicePrepareHardware(WDFDEVICE device, WDFCMRESLIST /*resourcesRaw*/,
                                          WDFCMRESLIST /*resourcesTranslated*/) {
    DEVICE_CONTEXT* context = NerioGetDeviceContext(device);
    NTSTATUS status = ConfigureUsb(device, context);
    if (!NT_SUCCESS(status)) return status;

    Delay(-kStartWait100ns);
    std::memset(&context->CameraProperties, 0, sizeof(context->CameraProperties));
    std::memset(&context->ScreenProperty, 0, sizeof(context->ScreenProperty));

    status = ReadDeviceConfiguration(context);
    if (NT_SUCCESS(status)) return status;
    TraceFailure(kPrepareHardware, "ReadDeviceConfiguration", status);
    WriteEventLogEntry(KAV_EVENT_START_FAILED, status, kStartFailure);
    return STATUS_UNSUCCESSFUL;
}

NTSTATUS NerioUSBEvtDeviceD0Entry(WDFDEVICE device, WDF_POWER_DEVICE_STATE /*previousState*/) {
    DEVICE_CONTEXT* context = NerioGetDeviceContext(device);
    const NTSTATUS status = WdfIoTargetStart(WdfUsbTargetPipeGetIoTarget(context->InterruptPipe));
    if (NT_SUCCESS(status)) return status;
    TraceFailure("NerioUSBEvtDeviceD0Entry", "WdfIoTargetStart", status);
    return STATUS_UNSUCCESSFUL;
}

NTSTATUS NerioUSBEvtDeviceD0Exit(WDFDEVICE device, WDF_POWER_DEVICE_STATE /*targetState*/) {
    DEVICE_CONTEXT* context = NerioGetDeviceContext(device);
    WDFIOTARGET target = WdfUsbTargetPipeGetIoTarget(context->InterruptPipe);
    WdfIoTargetStop(target, WdfIoTargetLeaveSentIoPending);
    WdfIoTargetStop(target, WdfIoTargetCancelSentIo);
    return STATUS_SUCCESS;
}

}  // namespace kav
