// The driver's entry points.
#pragma once

#include "kavusb/kmdf/wdf.h"

// Creates the driver object with its context and loads the parameters.
NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);

// Exported by the driver image; nothing to do in either.
NTSTATUS DllInitialize(PUNICODE_STRING registryPath);
NTSTATUS DllUnload();
