#include "hid_requests.h"

#include <array>
#include <cstring>

#include "feature_relay.h"
#include "kavusb/pipeline/device_context.h"
#include "parameters.h"
#include "shared/hid_reports.h"

namespace kav {
namespace {

void CompleteWithCopy(WDFREQUEST request, const void* data, size_t size) {
    WDFMEMORY memory = nullptr;
    NTSTATUS status = WdfRequestRetrieveOutputMemory(request, &memory);
    if (NT_SUCCESS(status)) status = WdfMemoryCopyFromBuffer(memory, 0, const_cast<void*>(data), size);
    if (!NT_SUCCESS(status)) {
        WdfRequestComplete(request, status);
        return;
    }
    WdfRequestCompleteWithInformation(request, STATUS_SUCCESS, size);
}

// Patched per request on a copy, so that two devices asking at once each get their own
// screen size.
void GetReportDescriptor(DEVICE_CONTEXT* context, WDFREQUEST request) {
    USHORT width = 0;
    USHORT height = 0;
    if (!NT_SUCCESS(QueryScreenSizeOverride(&width, &height))) {
        width = static_cast<USHORT>(context->ScreenProperty.Width & 0xFFFF);
        height = static_cast<USHORT>(context->ScreenProperty.Height & 0xFFFF);
    }
    std::array<std::uint8_t, kReportDescriptor.size()> descriptor = kReportDescriptor;
    PatchReportDescriptorSize(descriptor.data(), width, height);
    CompleteWithCopy(request, descriptor.data(), descriptor.size());
}

NTSTATUS GetString(WDFREQUEST request, size_t outputLength, ULONG_PTR* information) {
    PIRP irp = WdfRequestWdmGetIrp(request);
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    // The language ID in the high word is ignored.
    const auto id =
        static_cast<USHORT>(reinterpret_cast<ULONG_PTR>(stack->Parameters.DeviceIoControl.Type3InputBuffer));
    const char16_t* text = nullptr;
    size_t bytes = 0;
    switch (id) {
        case HID_STRING_ID_IMANUFACTURER:
            text = kManufacturerString;
            bytes = sizeof(kManufacturerString);
            break;
        case HID_STRING_ID_IPRODUCT:
            text = kProductString;
            bytes = sizeof(kProductString);
            break;
        case HID_STRING_ID_ISERIALNUMBER:
            text = kSerialNumberString;
            bytes = sizeof(kSerialNumberString);
            break;
        default:
            return STATUS_INVALID_PARAMETER;
    }
    void* out = IrpUserBuffer(irp);
    if (outputLength < bytes || out == nullptr) return STATUS_BUFFER_TOO_SMALL;
    std::memcpy(out, text, bytes);
    *information = bytes;
    return STATUS_SUCCESS;
}

void GetAttributes(DEVICE_CONTEXT* context, WDFREQUEST request) {
    PVOID buffer = nullptr;
    const NTSTATUS status = WdfRequestRetrieveOutputBuffer(request, sizeof(HID_DEVICE_ATTRIBUTES), &buffer, nullptr);
    if (!NT_SUCCESS(status)) {
        WdfRequestComplete(request, status);
        return;
    }
    // The reserved part is not written.
    auto* attributes = static_cast<HID_DEVICE_ATTRIBUTES*>(buffer);
    attributes->Size = sizeof(HID_DEVICE_ATTRIBUTES);
    attributes->VendorID = context->DeviceDescriptor.idVendor;
    attributes->ProductID = context->DeviceDescriptor.idProduct;
    attributes->VersionNumber = context->DeviceDescriptor.bcdDevice;
    WdfRequestCompleteWithInformation(request, STATUS_SUCCESS, sizeof(HID_DEVICE_ATTRIBUTES));
}

}  // namespace

void NerioUSBEvtIoInternalDeviceControl(WDFQUEUE queue, WDFREQUEST request, size_t outputBufferLength,
                                        size_t /*inputBufferLength*/, ULONG ioControlCode) {
    WDFDEVICE device = WdfIoQueueGetDevice(queue);
    DEVICE_CONTEXT* context = NerioGetDeviceContext(device);
    switch (ioControlCode) {
        case IOCTL_HID_GET_DEVICE_DESCRIPTOR:
            CompleteWithCopy(request, kHidDescriptor.data(), kHidDescriptor.size());
            return;
        case IOCTL_HID_GET_REPORT_DESCRIPTOR:
            GetReportDescriptor(context, request);
            return;
        case IOCTL_HID_READ_REPORT: {
            // Parked until the pipeline has a report for it.
            const NTSTATUS status = WdfRequestForwardToIoQueue(request, context->ReadQueue);
            if (!NT_SUCCESS(status)) WdfRequestComplete(request, status);
            return;
        }
        case IOCTL_HID_GET_STRING: {
            ULONG_PTR information = 0;
            const NTSTATUS status = GetString(request, outputBufferLength, &information);
            WdfRequestCompleteWithInformation(request, status, information);
            return;
        }
        case IOCTL_HID_GET_DEVICE_ATTRIBUTES:
            GetAttributes(context, request);
            return;
        case IOCTL_HID_SET_FEATURE:
            WdfRequestComplete(request, HandleSetFeature(device, request));
            return;
        case IOCTL_HID_GET_FEATURE:
            WdfRequestComplete(request, HandleGetFeature(device, request));
            return;
        case IOCTL_HID_SET_OUTPUT_REPORT:
        case IOCTL_HID_GET_INPUT_REPORT:
            WdfRequestComplete(request, STATUS_SUCCESS);
            return;
        default:
            // Writes, activation, deactivation and idle notification among them.
            WdfRequestComplete(request, STATUS_NOT_SUPPORTED);
            return;
    }
}

}  // namespace kav
