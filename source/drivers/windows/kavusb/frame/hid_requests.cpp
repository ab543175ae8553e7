#include "hid_requests.h"

#include "feature_relay.h"
#include "kavusb/pipeline/device_context.h"

namespace kav {

void NerioUSBEvtIoInternalDeviceControl(WDFQUEUE queue, WDFREQUEST request, size_t /*outputBufferLength*/,
                                        size_t /*inputBufferLength*/, ULONG ioControlCode) {
    WDFDEVICE device = WdfIoQueueGetDevice(queue);
    DEVICE_CONTEXT* context = NerioGetDeviceContext(device);
    switch (ioControlCode) {
        case IOCTL_HID_READ_REPORT: {
            // Parked until the pipeline has a report for it.
            const NTSTATUS status = WdfRequestForwardToIoQueue(request, context->ReadQueue);
            if (!NT_SUCCESS(status)) WdfRequestComplete(request, status);
            return;
        }
        case IOCTL_HID_SET_FEATURE:
            WdfRequestComplete(request, HandleSetFeature(device, request));
            return;
        case IOCTL_HID_GET_FEATURE:
            WdfRequestComplete(request, HandleGetFeature(device, request));
            return;
        default:
            WdfRequestComplete(request, STATUS_NOT_SUPPORTED);
            return;
    }
}

}  // namespace kav
