#include "driver_entry.h"

#include "device_add.h"
#include "kavusb/pipeline/clicks.h"
#include "kavusb/pipeline/driver_context.h"
#include "parameters.h"

using kav::DRIVER_CONTEXT;
using kav::WDF_DRIVER_CONTEXT_TYPE_INFO;

NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
    WDF_DRIVER_CONFIG config;
    WDF_DRIVER_CONFIG_INIT(&config, kav::NerioUSBEvtDeviceAdd);
    WDF_OBJECT_ATTRIBUTES attributes;
    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    WDF_OBJECT_ATTRIBUTES_SET_CONTEXT_TYPE(&attributes, DRIVER_CONTEXT);
    WDFDRIVER driver = nullptr;
    const NTSTATUS status = WdfDriverCreate(driverObject, registryPath, &attributes, &config, &driver);
    if (!NT_SUCCESS(status)) return status;

    // The locks exist before the first device can process a packet. Without them the
    // driver still runs: readers copy the record directly and the click state falls back
    // to its own flag.
    kav::LoadDriverParameters(driver);
    kav::InitClickState(driver);
    return status;
}

NTSTATUS DllInitialize(PUNICODE_STRING /*registryPath*/) {
    return STATUS_SUCCESS;
}

NTSTATUS DllUnload() {
    return STATUS_SUCCESS;
}
