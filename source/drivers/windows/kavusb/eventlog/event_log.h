// Entries in the system event log, with the driver image as the message source.
#pragma once

#include "kavusb/kmdf/wdf.h"

namespace kav {

// Event codes the driver writes.
constexpr ULONG KAV_EVENT_START_FAILED = 0xC0040004;  // also: report without an output buffer
constexpr ULONG KAV_EVENT_COMMAND_FAILED = 0xC0050001;
constexpr ULONG KAV_EVENT_CALIBRATION_Y_FAILED = 0x80050006;

// The header of an entry; the insertion string follows it.
constexpr ULONG kEventLogStringOffset = 40;

// Writes one entry with an optional insertion string (UTF-16, terminated). An entry that
// does not fit the 255 bytes the system allows, or for which the system has no entry
// free, is dropped. `status` is not recorded. Callable at PASSIVE_LEVEL and DISPATCH_LEVEL.
void WriteEventLogEntry(ULONG code, NTSTATUS status, PCWSTR insertionString);

}  // namespace kav
