#include "hid_requests.h"

#include "kavusb/pipeline/device_context.h"

namespace kav {

void NerioUSBEvtIoInternalDeviceControl(WDFQUEUE queue, WDFREQUEST request, size_t /*outputBufferLength*/,
                                        size_t /*inputBufferLength*/, ULONG ioControlCode) {
    DEVICE_CONTEXT* context = NerioGetDeviceContext(WdfIoQueueGetDevice(queue));
    switch (ioControlCode) {
        case IOCTL_HID_READ_REPORT: {
            // Parked until the pipeline has a report for it.
            const NTSTATUS status = WdfRequestForwardToIoQueue(request, context->ReadQueue);
            if (!NT_SUCCESS(status)) WdfRequestComplete(request, status);
            return;
        }
        default:
            WdfRequestComplete(request, STATUS_NOT_SUPPORTED);
            return;
    }
}

}  // namespace kav
