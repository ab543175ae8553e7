// USB target. Not backed by a simulated device yet: creation and transfers fail, so
// nothing ever hands the driver a USB handle; getters report nothing.
#include <cstring>

#include "framework.h"

void WDF_USB_DEVICE_SELECT_CONFIG_PARAMS_INIT_SINGLE_INTERFACE(PWDF_USB_DEVICE_SELECT_CONFIG_PARAMS params) {
    std::memset(params, 0, sizeof *params);
    params->Size = sizeof *params;
    params->Type = WdfUsbTargetDeviceSelectConfigTypeSingleInterface;
}

void WDF_USB_CONTINUOUS_READER_CONFIG_INIT(PWDF_USB_CONTINUOUS_READER_CONFIG config,
                                           PFN_WDF_USB_READER_COMPLETION_ROUTINE evtUsbTargetPipeReadComplete,
                                           WDFOBJECT evtUsbTargetPipeReadCompleteContext, size_t transferLength) {
    std::memset(config, 0, sizeof *config);
    config->Size = sizeof *config;
    config->EvtUsbTargetPipeReadComplete = evtUsbTargetPipeReadComplete;
    config->EvtUsbTargetPipeReadCompleteContext = evtUsbTargetPipeReadCompleteContext;
    config->TransferLength = transferLength;
}

void WDF_USB_CONTROL_SETUP_PACKET_INIT_VENDOR(PWDF_USB_CONTROL_SETUP_PACKET packet,
                                              WDF_USB_BMREQUEST_DIRECTION direction,
                                              WDF_USB_BMREQUEST_RECIPIENT recipient, UCHAR request, USHORT value,
                                              USHORT index) {
    std::memset(packet, 0, sizeof *packet);
    // bmRequestType: recipient in bits 0-4, type in bits 5-6, direction in bit 7.
    packet->Packet.Bm = static_cast<UCHAR>((recipient & 0x1F) | (BmRequestVendor << 5) | ((direction & 1) << 7));
    packet->Packet.bRequest = request;
    packet->Packet.wValue = value;
    packet->Packet.wIndex = index;
}

void WDF_REQUEST_SEND_OPTIONS_INIT(PWDF_REQUEST_SEND_OPTIONS options, ULONG flags) {
    std::memset(options, 0, sizeof *options);
    options->Size = sizeof *options;
    options->Flags = flags;
}

void WDF_REQUEST_SEND_OPTIONS_SET_TIMEOUT(PWDF_REQUEST_SEND_OPTIONS options, LONGLONG timeout) {
    options->Flags |= WDF_REQUEST_SEND_OPTION_TIMEOUT;
    options->Timeout = timeout;
}

NTSTATUS WdfUsbTargetDeviceCreate(WDFDEVICE /*device*/, PWDF_OBJECT_ATTRIBUTES /*attributes*/,
                                  WDFUSBDEVICE* usbDevice) {
    if (usbDevice != nullptr) *usbDevice = nullptr;
    return STATUS_NOT_IMPLEMENTED;
}

NTSTATUS WdfUsbTargetDeviceSelectConfig(WDFUSBDEVICE /*usbDevice*/, PWDF_OBJECT_ATTRIBUTES /*pipeAttributes*/,
                                        PWDF_USB_DEVICE_SELECT_CONFIG_PARAMS params) {
    if (params != nullptr) {
        params->SingleInterface.NumberConfiguredPipes = 0;
        params->SingleInterface.ConfiguredUsbInterface = nullptr;
    }
    return STATUS_NOT_IMPLEMENTED;
}

void WdfUsbTargetDeviceGetDeviceDescriptor(WDFUSBDEVICE /*usbDevice*/, PUSB_DEVICE_DESCRIPTOR usbDeviceDescriptor) {
    // No device: report an empty descriptor rather than leave the caller's garbage.
    if (usbDeviceDescriptor != nullptr) std::memset(usbDeviceDescriptor, 0, sizeof *usbDeviceDescriptor);
}

WDFUSBPIPE WdfUsbInterfaceGetConfiguredPipe(WDFUSBINTERFACE /*usbInterface*/, UCHAR /*pipeIndex*/,
                                            PWDF_USB_PIPE_INFORMATION pipeInfo) {
    if (pipeInfo != nullptr) {
        const ULONG size = pipeInfo->Size;
        std::memset(pipeInfo, 0, sizeof *pipeInfo);
        pipeInfo->Size = size;
    }
    return nullptr;
}

void WdfUsbTargetPipeSetNoMaximumPacketSizeCheck(WDFUSBPIPE /*pipe*/) {}

NTSTATUS WdfUsbTargetPipeConfigContinuousReader(WDFUSBPIPE /*pipe*/, PWDF_USB_CONTINUOUS_READER_CONFIG /*config*/) {
    return STATUS_NOT_IMPLEMENTED;
}

NTSTATUS WdfUsbTargetDeviceSendControlTransferSynchronously(WDFUSBDEVICE /*usbDevice*/, WDFREQUEST /*request*/,
                                                            PWDF_REQUEST_SEND_OPTIONS /*requestOptions*/,
                                                            PWDF_USB_CONTROL_SETUP_PACKET /*setupPacket*/,
                                                            PWDF_MEMORY_DESCRIPTOR /*memoryDescriptor*/,
                                                            PULONG bytesTransferred) {
    if (bytesTransferred != nullptr) *bytesTransferred = 0;
    return STATUS_NOT_IMPLEMENTED;
}

WDFIOTARGET WdfUsbTargetPipeGetIoTarget(WDFUSBPIPE /*pipe*/) {
    return nullptr;
}

NTSTATUS WdfIoTargetStart(WDFIOTARGET /*ioTarget*/) {
    return STATUS_NOT_IMPLEMENTED;
}

void WdfIoTargetStop(WDFIOTARGET /*ioTarget*/, WDF_IO_TARGET_SENT_IO_ACTION /*action*/) {}
