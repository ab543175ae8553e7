#include "device_add.h"

#include "device_start.h"
#include "hid_requests.h"
#include "kavusb/pipeline/device_context.h"
#include "shared/work_modes.h"
#include "trace.h"

namespace kav {
namespace {
constexpr PCSTR kDeviceAdd = "NerioUSBEvtDeviceAdd";
}  // namespace

NTSTATUS NerioUSBCreateDevice(PWDFDEVICE_INIT deviceInit, WDFDEVICE* device) {
    // A lower filter below the HID class, which owns power policy.
    WdfFdoInitSetFilter(deviceInit);
    WdfDeviceInitSetPowerPolicyOwnership(deviceInit, FALSE);

    WDF_PNPPOWER_EVENT_CALLBACKS pnpPower;
    WDF_PNPPOWER_EVENT_CALLBACKS_INIT(&pnpPower);
    pnpPower.EvtDeviceD0Entry = NerioUSBEvtDeviceD0Entry;
    pnpPower.EvtDeviceD0Exit = NerioUSBEvtDeviceD0Exit;
    pnpPower.EvtDevicePrepareHardware = NerioUSBEvtDevicePrepareHardware;
    WdfDeviceInitSetPnpPowerEventCallbacks(deviceInit, &pnpPower);

    WDF_OBJECT_ATTRIBUTES attributes;
    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    WDF_OBJECT_ATTRIBUTES_INIT_CONTEXT_TYPE(&attributes, DEVICE_CONTEXT);
    WDFDEVICE created = nullptr;
    NTSTATUS status = WdfDeviceCreate(&deviceInit, &attributes, &created);
    if (!NT_SUCCESS(status)) return TraceFailure(kDeviceAdd, "WdfDeviceCreate", status);

    WDF_DEVICE_PNP_CAPABILITIES caps;
    WDF_DEVICE_PNP_CAPABILITIES_INIT(&caps);
    caps.EjectSupported = WdfFalse;
    caps.Removable = WdfTrue;
    caps.SilentInstall = WdfTrue;
    caps.SurpriseRemovalOK = WdfTrue;
    caps.NoDisplayInUI = WdfFalse;
    caps.Address = 0xFFFFFFFF;
    caps.UINumber = 0xFFFFFFFF;
    WdfDeviceSetPnpCapabilities(created, &caps);

    DEVICE_CONTEXT* context = NerioGetDeviceContext(created);
    context->WorkMode = kWorkModeMouse;

    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    attributes.ParentObject = created;
    // The context is packed: handles are created into locals, never through a pointer
    // to a context field.
    WDFSPINLOCK spinLock = nullptr;
    status = WdfSpinLockCreate(&attributes, &spinLock);
    if (!NT_SUCCESS(status)) return TraceFailure(kDeviceAdd, "WdfSpinLockCreate", status);
    context->SpinLock = spinLock;

    // Neither queue is power-managed: HID requests are served in any power state.
    WDF_IO_QUEUE_CONFIG queueConfig;
    WDF_IO_QUEUE_CONFIG_INIT_DEFAULT_QUEUE(&queueConfig, WdfIoQueueDispatchParallel);
    queueConfig.PowerManaged = WdfFalse;
    queueConfig.EvtIoInternalDeviceControl = NerioUSBEvtIoInternalDeviceControl;
    WDFQUEUE defaultQueue = nullptr;
    status = WdfIoQueueCreate(created, &queueConfig, WDF_NO_OBJECT_ATTRIBUTES, &defaultQueue);
    if (!NT_SUCCESS(status)) return TraceFailure(kDeviceAdd, "WdfIoQueueCreate (default queue)", status);

    WDF_IO_QUEUE_CONFIG_INIT(&queueConfig, WdfIoQueueDispatchManual);
    queueConfig.PowerManaged = WdfFalse;
    WDFQUEUE readQueue = nullptr;
    status = WdfIoQueueCreate(created, &queueConfig, WDF_NO_OBJECT_ATTRIBUTES, &readQueue);
    if (!NT_SUCCESS(status)) return TraceFailure(kDeviceAdd, "WdfIoQueueCreate (read queue)", status);
    context->ReadQueue = readQueue;
    *device = created;
    return status;
}

NTSTATUS NerioUSBEvtDeviceAdd(WDFDRIVER /*driver*/, PWDFDEVICE_INIT deviceInit) {
    WDFDEVICE device = nullptr;
    return NerioUSBCreateDevice(deviceInit, &device);
}

}  // namespace kav
