// The HID class minidriver contract: control codes and the records they carry.
#pragma once

#include "ntdef.h"

constexpr ULONG HidCtlCode(ULONG function, ULONG method) { return (0x0000000B << 16) | (function << 2) | method; }
constexpr ULONG METHOD_NEITHER = 3;
constexpr ULONG METHOD_IN_DIRECT = 1;
constexpr ULONG METHOD_OUT_DIRECT = 2;

constexpr ULONG IOCTL_HID_GET_DEVICE_DESCRIPTOR = HidCtlCode(0, METHOD_NEITHER);
constexpr ULONG IOCTL_HID_GET_REPORT_DESCRIPTOR = HidCtlCode(1, METHOD_NEITHER);
constexpr ULONG IOCTL_HID_READ_REPORT = HidCtlCode(2, METHOD_NEITHER);
constexpr ULONG IOCTL_HID_WRITE_REPORT = HidCtlCode(3, METHOD_NEITHER);
constexpr ULONG IOCTL_HID_GET_STRING = HidCtlCode(4, METHOD_NEITHER);
constexpr ULONG IOCTL_HID_ACTIVATE_DEVICE = HidCtlCode(7, METHOD_NEITHER);
constexpr ULONG IOCTL_HID_DEACTIVATE_DEVICE = HidCtlCode(8, METHOD_NEITHER);
constexpr ULONG IOCTL_HID_GET_DEVICE_ATTRIBUTES = HidCtlCode(9, METHOD_NEITHER);
constexpr ULONG IOCTL_HID_SEND_IDLE_NOTIFICATION_REQUEST = HidCtlCode(10, METHOD_NEITHER);
constexpr ULONG IOCTL_HID_SET_FEATURE = HidCtlCode(100, METHOD_IN_DIRECT);
constexpr ULONG IOCTL_HID_GET_FEATURE = HidCtlCode(100, METHOD_OUT_DIRECT);
constexpr ULONG IOCTL_HID_SET_OUTPUT_REPORT = HidCtlCode(101, METHOD_IN_DIRECT);
constexpr ULONG IOCTL_HID_GET_INPUT_REPORT = HidCtlCode(104, METHOD_OUT_DIRECT);

constexpr USHORT HID_STRING_ID_IMANUFACTURER = 14;
constexpr USHORT HID_STRING_ID_IPRODUCT = 15;
constexpr USHORT HID_STRING_ID_ISERIALNUMBER = 16;

struct HID_XFER_PACKET {
    UCHAR* reportBuffer;
    ULONG reportBufferLen;
    UCHAR reportId;
};

struct HID_DEVICE_ATTRIBUTES {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
    USHORT Reserved[11];
};
static_assert(sizeof(HID_DEVICE_ATTRIBUTES) == 32);
