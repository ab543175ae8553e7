// Failed calls traced for the kernel debugger: which callback, which call, which status.
// The system event log keeps only what an administrator should see.
#pragma once

#include "kavusb/kmdf/wdf.h"

namespace kav {

// Returns `status`, so that a failure path reads `return TraceFailure(...)`.
inline NTSTATUS TraceFailure(PCSTR callback, PCSTR call, NTSTATUS status) {
    DbgPrintEx(DPFLTR_IHVDRIVER_ID, DPFLTR_ERROR_LEVEL, "KavUSB: %s: %s failed with status 0x%08X\n", callback, call,
               static_cast<ULONG>(status));
    return status;
}

}  // namespace kav
