// Basic kernel types and status codes, as the DDK spells them.
#pragma once

#include <cstddef>
#include <cstdint>

using NTSTATUS = std::int32_t;
using UCHAR = std::uint8_t;
using USHORT = std::uint16_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using ULONGLONG = std::uint64_t;
using LONGLONG = std::int64_t;
using ULONG_PTR = std::uintptr_t;
using BOOLEAN = std::uint8_t;
using WCHAR = char16_t;
using PVOID = void*;
using PULONG = ULONG*;
using PCWSTR = const WCHAR*;
using PWSTR = WCHAR*;
using PCSTR = const char*;
using KIRQL = UCHAR;

constexpr BOOLEAN TRUE = 1;
constexpr BOOLEAN FALSE = 0;


constexpr bool NT_SUCCESS(NTSTATUS status) { return status >= 0; }

constexpr NTSTATUS NtStatus(std::uint32_t code) { return static_cast<NTSTATUS>(code); }

constexpr NTSTATUS STATUS_SUCCESS = 0;
constexpr NTSTATUS STATUS_TIMEOUT = 0x00000102;
constexpr NTSTATUS STATUS_BUFFER_OVERFLOW = NtStatus(0x80000005);
constexpr NTSTATUS STATUS_NO_MORE_ENTRIES = NtStatus(0x8000001A);
constexpr NTSTATUS STATUS_UNSUCCESSFUL = NtStatus(0xC0000001);
constexpr NTSTATUS STATUS_NOT_IMPLEMENTED = NtStatus(0xC0000002);
constexpr NTSTATUS STATUS_INVALID_PARAMETER = NtStatus(0xC000000D);
constexpr NTSTATUS STATUS_INVALID_DEVICE_REQUEST = NtStatus(0xC0000010);
constexpr NTSTATUS STATUS_BUFFER_TOO_SMALL = NtStatus(0xC0000023);
constexpr NTSTATUS STATUS_ACCESS_DENIED = NtStatus(0xC0000022);
constexpr NTSTATUS STATUS_OBJECT_TYPE_MISMATCH = NtStatus(0xC0000024);
constexpr NTSTATUS STATUS_OBJECT_NAME_INVALID = NtStatus(0xC0000033);
constexpr NTSTATUS STATUS_OBJECT_NAME_NOT_FOUND = NtStatus(0xC0000034);
constexpr NTSTATUS STATUS_INSUFFICIENT_RESOURCES = NtStatus(0xC000009A);
constexpr NTSTATUS STATUS_IO_TIMEOUT = NtStatus(0xC00000B5);
constexpr NTSTATUS STATUS_NOT_SUPPORTED = NtStatus(0xC00000BB);
constexpr NTSTATUS STATUS_CANCELLED = NtStatus(0xC0000120);
constexpr NTSTATUS STATUS_KEY_DELETED = NtStatus(0xC000017C);
constexpr NTSTATUS STATUS_INVALID_DEVICE_STATE = NtStatus(0xC0000184);
constexpr NTSTATUS STATUS_DEVICE_NOT_CONNECTED = NtStatus(0xC000009D);
constexpr NTSTATUS STATUS_DEVICE_CONFIGURATION_ERROR = NtStatus(0xC0000182);
constexpr NTSTATUS STATUS_INVALID_BUFFER_SIZE = NtStatus(0xC0000206);

struct UNICODE_STRING {
    USHORT Length;         // bytes, without the terminator
    USHORT MaximumLength;  // bytes
    PWSTR Buffer;
};
using PUNICODE_STRING = UNICODE_STRING*;
using PCUNICODE_STRING = const UNICODE_STRING*;

union LARGE_INTEGER {
    struct {
        ULONG LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};
using PLARGE_INTEGER = LARGE_INTEGER*;

// Relative times are negative counts of 100 ns, as KeDelayExecutionThread takes them.
constexpr LONGLONG WDF_REL_TIMEOUT_IN_MS(ULONGLONG ms) { return -static_cast<LONGLONG>(ms) * 10000; }
