// The kernel routines the driver calls outside the framework.
#pragma once

#include "ntdef.h"

struct DRIVER_OBJECT;
using PDRIVER_OBJECT = DRIVER_OBJECT*;
struct DEVICE_OBJECT;
using PDEVICE_OBJECT = DEVICE_OBJECT*;
struct IRP;
using PIRP = IRP*;

constexpr KIRQL PASSIVE_LEVEL = 0;
constexpr KIRQL DISPATCH_LEVEL = 2;

enum KPROCESSOR_MODE : UCHAR { KernelMode = 0, UserMode = 1 };

NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE waitMode, BOOLEAN alertable, PLARGE_INTEGER interval);
// System time: 100 ns units since 1601, as the kernel keeps it.
void KeQuerySystemTime(PLARGE_INTEGER currentTime);
ULONGLONG KeQueryInterruptTime();
KIRQL KeGetCurrentIrql();

// Error log. The packet is the kernel's IO_ERROR_LOG_PACKET: a 40-byte header and
// its first dump word; strings follow at StringOffset.
#pragma pack(push, 1)
struct IO_ERROR_LOG_PACKET {
    UCHAR MajorFunctionCode;
    UCHAR RetryCount;
    USHORT DumpDataSize;
    USHORT NumberOfStrings;
    USHORT StringOffset;
    USHORT EventCategory;
    USHORT Reserved;
    NTSTATUS ErrorCode;
    ULONG UniqueErrorValue;
    NTSTATUS FinalStatus;
    ULONG SequenceNumber;
    ULONG IoControlCode;
    LARGE_INTEGER DeviceOffset;
    ULONG DumpData[1];
};
#pragma pack(pop)
static_assert(sizeof(IO_ERROR_LOG_PACKET) == 44);
static_assert(offsetof(IO_ERROR_LOG_PACKET, ErrorCode) == 12);
static_assert(offsetof(IO_ERROR_LOG_PACKET, FinalStatus) == 20);
static_assert(offsetof(IO_ERROR_LOG_PACKET, DumpData) == 40);
using PIO_ERROR_LOG_PACKET = IO_ERROR_LOG_PACKET*;

constexpr ULONG ERROR_LOG_MAXIMUM_SIZE = 255;

// ioObject is a DRIVER_OBJECT or DEVICE_OBJECT; entrySize is at most 255 bytes.
PVOID IoAllocateErrorLogEntry(PVOID ioObject, UCHAR entrySize);
void IoWriteErrorLogEntry(PVOID elEntry);

using EXECUTION_STATE = ULONG;
constexpr EXECUTION_STATE ES_SYSTEM_REQUIRED = 0x00000001;
constexpr EXECUTION_STATE ES_DISPLAY_REQUIRED = 0x00000002;
constexpr EXECUTION_STATE ES_USER_PRESENT = 0x00000004;
constexpr EXECUTION_STATE ES_CONTINUOUS = 0x80000000;
void PoSetSystemState(EXECUTION_STATE flags);

void RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source);
// Formats into the string's buffer, as the kernel's wide printf does: %s is a wide
// string (PCWSTR), %S a narrow one; %d %i %u %x %X %c %p %% with flags, width and
// precision, and the h / l (32 bits) / ll / I64 sizes. STATUS_BUFFER_OVERFLOW when the
// text and its terminator do not fit; the buffer then holds the truncated text.
NTSTATUS RtlUnicodeStringPrintf(PUNICODE_STRING destination, PCWSTR format, ...);

// Debug output, as the kernel debugger shows it. The format is narrow: %s a narrow string,
// %S or %ws a wide one; otherwise as RtlUnicodeStringPrintf. A message is cut at 512 bytes.
constexpr ULONG DPFLTR_IHVDRIVER_ID = 77;
constexpr ULONG DPFLTR_ERROR_LEVEL = 0;
ULONG DbgPrintEx(ULONG componentId, ULONG level, PCSTR format, ...);
