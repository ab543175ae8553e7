#include "kavusb/eventlog/event_log.h"

#include <cstring>

namespace kav {
namespace {

// Bytes of the string with its terminator, counted no further than an entry can hold.
ULONG StringBytes(PCWSTR string) {
    if (string == nullptr) return 0;
    ULONG chars = 0;
    while (string[chars] != 0) {
        if (++chars > ERROR_LOG_MAXIMUM_SIZE) return ERROR_LOG_MAXIMUM_SIZE * 2;
    }
    return (chars + 1) * sizeof(WCHAR);
}

}  // namespace

void WriteEventLogEntry(ULONG code, NTSTATUS /*status*/, PCWSTR insertionString) {
    const ULONG stringBytes = StringBytes(insertionString);
    ULONG size = kEventLogStringOffset + stringBytes;
    if (size < sizeof(IO_ERROR_LOG_PACKET) + sizeof(ULONG)) size = sizeof(IO_ERROR_LOG_PACKET) + sizeof(ULONG);
    if (size > ERROR_LOG_MAXIMUM_SIZE || stringBytes > size) return;

    WDFDRIVER driver = WdfGetDriver();
    if (driver == nullptr) return;
    auto* entry = static_cast<PIO_ERROR_LOG_PACKET>(
        IoAllocateErrorLogEntry(WdfDriverWdmGetDriverObject(driver), static_cast<UCHAR>(size)));
    if (entry == nullptr) return;

    std::memset(entry, 0, size);
    entry->NumberOfStrings = insertionString != nullptr ? 1 : 0;
    entry->StringOffset = static_cast<USHORT>(kEventLogStringOffset);
    entry->ErrorCode = static_cast<NTSTATUS>(code);
    entry->FinalStatus = STATUS_UNSUCCESSFUL;
    entry->DumpDataSize = 0;
    if (stringBytes != 0)
        std::memcpy(reinterpret_cast<UCHAR*>(entry) + kEventLogStringOffset, insertionString, stringBytes);
    IoWriteErrorLogEntry(entry);
}

}  // namespace kav
