// The driver's HID descriptor, its report descriptor and the layouts of its reports.
// Shared by KavUSB (which serves them) and the user-mode readers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kav {

// Length 9, type 0x21, HID 1.00, country 0, one report descriptor of 417 bytes.
inline constexpr std::array<std::uint8_t, 9> kHidDescriptor = {0x09, 0x21, 0x01, 0x00, 0x00, 0x01, 0x22, 0xA1, 0x01};

// Six top-level collections, in the order user mode opens them: touch screen (0x30,
// feature 0x03), device configuration (features 0x02, 0xAA, 0x55), mouse (0x10), device
// events (0x32), keyboard (0x38), raw packets (0x36).
inline constexpr std::array<std::uint8_t, 417> kReportDescriptor = {
    // clang-format off
    // item bytes       offset item
    0x05, 0x0D,         //   0 USAGE_PAGE (Digitizers)
    0x09, 0x04,         //   2 USAGE (Touch Screen)
    0xA1, 0x01,         //   4 COLLECTION (Application)
    0x85, 0x30,         //   6   REPORT_ID (0x30)
    0x09, 0x22,         //   8   USAGE (Finger)
    0xA1, 0x02,         //  10   COLLECTION (Logical)
    0x09, 0x42,         //  12     USAGE (Tip Switch)
    0x15, 0x00,         //  14     LOGICAL_MINIMUM (0)
    0x25, 0x01,         //  16     LOGICAL_MAXIMUM (1)
    0x75, 0x01,         //  18     REPORT_SIZE (1)
    0x95, 0x01,         //  20     REPORT_COUNT (1)
    0x81, 0x02,         //  22     INPUT (Data,Var,Abs)
    0x09, 0x32,         //  24     USAGE (In Range)
    0x81, 0x02,         //  26     INPUT (Data,Var,Abs)
    0x09, 0x47,         //  28     USAGE (Confidence)
    0x81, 0x02,         //  30     INPUT (Data,Var,Abs)
    0x95, 0x05,         //  32     REPORT_COUNT (5)
    0x81, 0x03,         //  34     INPUT (Cnst,Var,Abs)
    0x09, 0x51,         //  36     USAGE (Contact Identifier)
    0x75, 0x08,         //  38     REPORT_SIZE (8)
    0x95, 0x01,         //  40     REPORT_COUNT (1)
    0x81, 0x02,         //  42     INPUT (Data,Var,Abs)
    0x05, 0x01,         //  44     USAGE_PAGE (Generic Desktop)
    0x09, 0x30,         //  46     USAGE (X)
    0x26, 0xFF, 0x7F,   //  48     LOGICAL_MAXIMUM (32767)
    0x55, 0x0F,         //  51     UNIT_EXPONENT (-1: millimetres)
    0x65, 0x11,         //  53     UNIT (SI Linear: length)
    0x35, 0x00,         //  55     PHYSICAL_MINIMUM (0)
    0x46, 0x51, 0x02,   //  57     PHYSICAL_MAXIMUM (593; patched: screen width)
    0x75, 0x10,         //  60     REPORT_SIZE (16)
    0x95, 0x01,         //  62     REPORT_COUNT (1)
    0x81, 0x02,         //  64     INPUT (Data,Var,Abs)
    0x09, 0x31,         //  66     USAGE (Y)
    0x46, 0x73, 0x01,   //  68     PHYSICAL_MAXIMUM (371; patched: screen height)
    0x81, 0x02,         //  71     INPUT (Data,Var,Abs)
    0x05, 0x0D,         //  73     USAGE_PAGE (Digitizers)
    0x09, 0x48,         //  75     USAGE (Width)
    0x09, 0x49,         //  77     USAGE (Height)
    0x95, 0x02,         //  79     REPORT_COUNT (2)
    0x81, 0x02,         //  81     INPUT (Data,Var,Abs)
    0xC0,               //  83   END_COLLECTION
    0xA1, 0x02,         //  84   COLLECTION (Logical)
    0x05, 0x0D,         //  86     USAGE_PAGE (Digitizers)
    0x09, 0x42,         //  88     USAGE (Tip Switch)
    0x15, 0x00,         //  90     LOGICAL_MINIMUM (0)
    0x25, 0x01,         //  92     LOGICAL_MAXIMUM (1)
    0x75, 0x01,         //  94     REPORT_SIZE (1)
    0x95, 0x01,         //  96     REPORT_COUNT (1)
    0x81, 0x02,         //  98     INPUT (Data,Var,Abs)
    0x09, 0x32,         // 100     USAGE (In Range)
    0x81, 0x02,         // 102     INPUT (Data,Var,Abs)
    0x09, 0x47,         // 104     USAGE (Confidence)
    0x81, 0x02,         // 106     INPUT (Data,Var,Abs)
    0x95, 0x05,         // 108     REPORT_COUNT (5)
    0x81, 0x03,         // 110     INPUT (Cnst,Var,Abs)
    0x09, 0x51,         // 112     USAGE (Contact Identifier)
    0x75, 0x08,         // 114     REPORT_SIZE (8)
    0x95, 0x01,         // 116     REPORT_COUNT (1)
    0x81, 0x02,         // 118     INPUT (Data,Var,Abs)
    0x05, 0x01,         // 120     USAGE_PAGE (Generic Desktop)
    0x09, 0x30,         // 122     USAGE (X)
    0x26, 0xFF, 0x7F,   // 124     LOGICAL_MAXIMUM (32767)
    0x75, 0x10,         // 127     REPORT_SIZE (16)
    0x95, 0x01,         // 129     REPORT_COUNT (1)
    0x55, 0x0F,         // 131     UNIT_EXPONENT (-1: millimetres)
    0x65, 0x11,         // 133     UNIT (SI Linear: length)
    0x35, 0x00,         // 135     PHYSICAL_MINIMUM (0)
    0x46, 0x51, 0x02,   // 137     PHYSICAL_MAXIMUM (593; patched: screen width)
    0x75, 0x10,         // 140     REPORT_SIZE (16)
    0x95, 0x01,         // 142     REPORT_COUNT (1)
    0x81, 0x02,         // 144     INPUT (Data,Var,Abs)
    0x09, 0x31,         // 146     USAGE (Y)
    0x46, 0x73, 0x01,   // 148     PHYSICAL_MAXIMUM (371; patched: screen height)
    0x81, 0x02,         // 151     INPUT (Data,Var,Abs)
    0x05, 0x0D,         // 153     USAGE_PAGE (Digitizers)
    0x09, 0x48,         // 155     USAGE (Width)
    0x09, 0x49,         // 157     USAGE (Height)
    0x95, 0x02,         // 159     REPORT_COUNT (2)
    0x81, 0x02,         // 161     INPUT (Data,Var,Abs)
    0xC0,               // 163   END_COLLECTION
    0x05, 0x0D,         // 164   USAGE_PAGE (Digitizers)
    0x09, 0x54,         // 166   USAGE (Contact Count)
    0x15, 0x00,         // 168   LOGICAL_MINIMUM (0)
    0x26, 0x02, 0x00,   // 170   LOGICAL_MAXIMUM (2)
    0x75, 0x08,         // 173   REPORT_SIZE (8)
    0x95, 0x01,         // 175   REPORT_COUNT (1)
    0x81, 0x02,         // 177   INPUT (Data,Var,Abs)
    0x85, 0x03,         // 179   REPORT_ID (0x03)
    0x09, 0x55,         // 181   USAGE (Contact Count Maximum)
    0x15, 0x00,         // 183   LOGICAL_MINIMUM (0)
    0x26, 0xFF, 0x00,   // 185   LOGICAL_MAXIMUM (255)
    0x75, 0x08,         // 188   REPORT_SIZE (8)
    0x95, 0x01,         // 190   REPORT_COUNT (1)
    0xB1, 0x02,         // 192   FEATURE (Data,Var,Abs)
    0xC0,               // 194 END_COLLECTION
    0x05, 0x0D,         // 195 USAGE_PAGE (Digitizers)
    0x09, 0x0E,         // 197 USAGE (Device Configuration)
    0xA1, 0x01,         // 199 COLLECTION (Application)
    0x85, 0x02,         // 201   REPORT_ID (0x02)
    0x09, 0x52,         // 203   USAGE (Device Mode)
    0x09, 0x53,         // 205   USAGE (Device Identifier)
    0x15, 0x00,         // 207   LOGICAL_MINIMUM (0)
    0x26, 0xFF, 0x00,   // 209   LOGICAL_MAXIMUM (255)
    0x75, 0x08,         // 212   REPORT_SIZE (8)
    0x95, 0x02,         // 214   REPORT_COUNT (2)
    0xB1, 0x02,         // 216   FEATURE (Data,Var,Abs)
    0x85, 0xAA,         // 218   REPORT_ID (0xAA)
    0x06, 0x00, 0xFF,   // 220   USAGE_PAGE (Vendor Defined)
    0x09, 0x01,         // 223   USAGE (Vendor Usage 1)
    0x26, 0xFF, 0x00,   // 225   LOGICAL_MAXIMUM (255)
    0x15, 0x00,         // 228   LOGICAL_MINIMUM (0)
    0x75, 0x08,         // 230   REPORT_SIZE (8)
    0x95, 0x3F,         // 232   REPORT_COUNT (63)
    0xB1, 0x02,         // 234   FEATURE (Data,Var,Abs)
    0x85, 0x55,         // 236   REPORT_ID (0x55)
    0x06, 0x00, 0xFF,   // 238   USAGE_PAGE (Vendor Defined)
    0x09, 0x01,         // 241   USAGE (Vendor Usage 1)
    0x26, 0xFF, 0x00,   // 243   LOGICAL_MAXIMUM (255)
    0x15, 0x00,         // 246   LOGICAL_MINIMUM (0)
    0x75, 0x08,         // 248   REPORT_SIZE (8)
    0x95, 0x3F,         // 250   REPORT_COUNT (63)
    0xB1, 0x02,         // 252   FEATURE (Data,Var,Abs)
    0xC0,               // 254 END_COLLECTION
    0x05, 0x01,         // 255 USAGE_PAGE (Generic Desktop)
    0x09, 0x02,         // 257 USAGE (Mouse)
    0xA1, 0x01,         // 259 COLLECTION (Application)
    0x85, 0x10,         // 261   REPORT_ID (0x10)
    0x09, 0x01,         // 263   USAGE (Pointer)
    0xA1, 0x00,         // 265   COLLECTION (Physical)
    0x05, 0x09,         // 267     USAGE_PAGE (Button)
    0x19, 0x01,         // 269     USAGE_MINIMUM (Button 1)
    0x29, 0x02,         // 271     USAGE_MAXIMUM (Button 2)
    0x15, 0x00,         // 273     LOGICAL_MINIMUM (0)
    0x25, 0x01,         // 275     LOGICAL_MAXIMUM (1)
    0x75, 0x01,         // 277     REPORT_SIZE (1)
    0x95, 0x02,         // 279     REPORT_COUNT (2)
    0x81, 0x02,         // 281     INPUT (Data,Var,Abs)
    0x95, 0x06,         // 283     REPORT_COUNT (6)
    0x81, 0x03,         // 285     INPUT (Cnst,Var,Abs)
    0x05, 0x01,         // 287     USAGE_PAGE (Generic Desktop)
    0x09, 0x30,         // 289     USAGE (X)
    0x09, 0x31,         // 291     USAGE (Y)
    0x75, 0x10,         // 293     REPORT_SIZE (16)
    0x95, 0x02,         // 295     REPORT_COUNT (2)
    0x15, 0x00,         // 297     LOGICAL_MINIMUM (0)
    0x26, 0xFF, 0x7F,   // 299     LOGICAL_MAXIMUM (32767)
    0x81, 0x02,         // 302     INPUT (Data,Var,Abs)
    0xC0,               // 304   END_COLLECTION
    0xC0,               // 305 END_COLLECTION
    0x06, 0x00, 0xFF,   // 306 USAGE_PAGE (Vendor Defined)
    0x09, 0x01,         // 309 USAGE (Vendor Usage 1)
    0xA1, 0x01,         // 311 COLLECTION (Application)
    0x85, 0x32,         // 313   REPORT_ID (0x32)
    0x26, 0xFF, 0x00,   // 315   LOGICAL_MAXIMUM (255)
    0x15, 0x00,         // 318   LOGICAL_MINIMUM (0)
    0x95, 0x07,         // 320   REPORT_COUNT (7)
    0x75, 0x08,         // 322   REPORT_SIZE (8)
    0x09, 0x01,         // 324   USAGE (Vendor Usage 1)
    0x81, 0x02,         // 326   INPUT (Data,Var,Abs)
    0xC0,               // 328 END_COLLECTION
    0x05, 0x01,         // 329 USAGE_PAGE (Generic Desktop)
    0x09, 0x06,         // 331 USAGE (Keyboard)
    0xA1, 0x01,         // 333 COLLECTION (Application)
    0x85, 0x38,         // 335   REPORT_ID (0x38)
    0x05, 0x07,         // 337   USAGE_PAGE (Keyboard)
    0x19, 0xE0,         // 339   USAGE_MINIMUM (Left Control)
    0x29, 0xE7,         // 341   USAGE_MAXIMUM (Right GUI)
    0x15, 0x00,         // 343   LOGICAL_MINIMUM (0)
    0x25, 0x01,         // 345   LOGICAL_MAXIMUM (1)
    0x75, 0x01,         // 347   REPORT_SIZE (1)
    0x95, 0x08,         // 349   REPORT_COUNT (8)
    0x81, 0x02,         // 351   INPUT (Data,Var,Abs)
    0x95, 0x01,         // 353   REPORT_COUNT (1)
    0x75, 0x08,         // 355   REPORT_SIZE (8)
    0x81, 0x01,         // 357   INPUT (Cnst,Ary,Abs)
    0x95, 0x05,         // 359   REPORT_COUNT (5)
    0x75, 0x01,         // 361   REPORT_SIZE (1)
    0x05, 0x08,         // 363   USAGE_PAGE (LEDs)
    0x19, 0x01,         // 365   USAGE_MINIMUM (LED 1)
    0x29, 0x05,         // 367   USAGE_MAXIMUM (LED 5)
    0x91, 0x02,         // 369   OUTPUT (Data,Var,Abs)
    0x95, 0x01,         // 371   REPORT_COUNT (1)
    0x75, 0x03,         // 373   REPORT_SIZE (3)
    0x91, 0x01,         // 375   OUTPUT (Cnst,Ary,Abs)
    0x95, 0x06,         // 377   REPORT_COUNT (6)
    0x75, 0x08,         // 379   REPORT_SIZE (8)
    0x05, 0x07,         // 381   USAGE_PAGE (Keyboard)
    0x19, 0x00,         // 383   USAGE_MINIMUM (0)
    0x29, 0x73,         // 385   USAGE_MAXIMUM (F24)
    0x15, 0x00,         // 387   LOGICAL_MINIMUM (0)
    0x25, 0x73,         // 389   LOGICAL_MAXIMUM (115)
    0x81, 0x00,         // 391   INPUT (Data,Ary,Abs)
    0xC0,               // 393 END_COLLECTION
    0x06, 0x00, 0xFF,   // 394 USAGE_PAGE (Vendor Defined)
    0x09, 0x01,         // 397 USAGE (Vendor Usage 1)
    0xA1, 0x01,         // 399 COLLECTION (Application)
    0x85, 0x36,         // 401   REPORT_ID (0x36)
    0x26, 0xFF, 0x00,   // 403   LOGICAL_MAXIMUM (255)
    0x15, 0x00,         // 406   LOGICAL_MINIMUM (0)
    0x95, 0x3F,         // 408   REPORT_COUNT (63)
    0x75, 0x08,         // 410   REPORT_SIZE (8)
    0x09, 0x01,         // 412   USAGE (Vendor Usage 1)
    0x81, 0x02,         // 414   INPUT (Data,Var,Abs)
    0xC0,               // 416 END_COLLECTION
    // clang-format on
};

// Physical maxima patched with the screen size in millimetres before the descriptor is
// handed to the HID class: little-endian words at these offsets.
inline constexpr std::size_t kPhysicalMaxXOffsets[2] = {58, 138};
inline constexpr std::size_t kPhysicalMaxYOffsets[2] = {69, 149};

namespace descriptor_check {

constexpr std::uint8_t kItemUsage = 0x08;              // local item tag, size bits clear
constexpr std::uint8_t kItemPhysicalMaximum16 = 0x46;  // global item with two data bytes
constexpr std::uint8_t kMainItemType = 0x00;           // bits 2-3 of a main item's prefix
constexpr std::uint32_t kUsageX = 0x30;                // Generic Desktop
constexpr std::uint32_t kUsageY = 0x31;

constexpr std::size_t ItemDataSize(std::uint8_t prefix) {
    return (prefix & 3) == 3 ? 4 : (prefix & 3);
}

// The usage an item at `offset` belongs to: the last Usage since the previous main item.
// 0 when no item starts at that offset.
constexpr std::uint32_t UsageOfItemAt(std::size_t offset) {
    std::uint32_t usage = 0;
    std::size_t at = 0;
    while (at < offset) {
        const std::uint8_t prefix = kReportDescriptor[at];
        const std::size_t size = ItemDataSize(prefix);
        if ((prefix & 0xFC) == kItemUsage) {
            usage = 0;
            for (std::size_t k = size; k > 0; --k) usage = usage << 8 | kReportDescriptor[at + k];
        } else if ((prefix & 0x0C) == kMainItemType) {
            usage = 0;
        }
        at += 1 + size;
    }
    return at == offset ? usage : 0;
}

// Each patched word is the data of a two-byte Physical Maximum item for the right axis.
constexpr bool PatchesPhysicalMaximumOf(std::size_t offset, std::uint32_t usage) {
    return kReportDescriptor[offset - 1] == kItemPhysicalMaximum16 && UsageOfItemAt(offset - 1) == usage;
}

}  // namespace descriptor_check

// A short initializer list would leave zeros at the end, an END_COLLECTION missing.
static_assert(kReportDescriptor.back() == 0xC0);
static_assert(descriptor_check::PatchesPhysicalMaximumOf(kPhysicalMaxXOffsets[0], descriptor_check::kUsageX));
static_assert(descriptor_check::PatchesPhysicalMaximumOf(kPhysicalMaxXOffsets[1], descriptor_check::kUsageX));
static_assert(descriptor_check::PatchesPhysicalMaximumOf(kPhysicalMaxYOffsets[0], descriptor_check::kUsageY));
static_assert(descriptor_check::PatchesPhysicalMaximumOf(kPhysicalMaxYOffsets[1], descriptor_check::kUsageY));

// Writes width and height (mm, low 16 bits) into the four physical maxima.
constexpr void PatchReportDescriptorSize(std::uint8_t* descriptor, std::uint16_t widthMm, std::uint16_t heightMm) {
    for (std::size_t offset : kPhysicalMaxXOffsets) {
        descriptor[offset] = static_cast<std::uint8_t>(widthMm);
        descriptor[offset + 1] = static_cast<std::uint8_t>(widthMm >> 8);
    }
    for (std::size_t offset : kPhysicalMaxYOffsets) {
        descriptor[offset] = static_cast<std::uint8_t>(heightMm);
        descriptor[offset + 1] = static_cast<std::uint8_t>(heightMm >> 8);
    }
}

// Report IDs.
constexpr std::uint8_t kTouchReportId = 0x30;
constexpr std::uint8_t kMouseReportId = 0x10;
constexpr std::uint8_t kDeviceEventReportId = 0x32;
constexpr std::uint8_t kKeyboardReportId = 0x38;
constexpr std::uint8_t kRawPacketReportId = 0x36;
constexpr std::uint8_t kContactCountMaxFeatureId = 0x03;
constexpr std::uint8_t kDeviceModeFeatureId = 0x02;
constexpr std::uint8_t kCommandFeatureId = 0xAA;
constexpr std::uint8_t kDriverRequestFeatureId = 0x55;

// Contact status values the driver uses: Tip | InRange | Confidence, lifted, none.
constexpr std::uint8_t kContactTouching = 7;
constexpr std::uint8_t kContactLifted = 6;
constexpr std::uint8_t kContactNone = 0;

constexpr std::int32_t kLogicalMax = 32767;
constexpr std::int32_t kLogicalRange = 32768;

#pragma pack(push, 1)

struct TOUCH_CONTACT {
    std::uint8_t Status;  // bit 0 Tip Switch, bit 1 In Range, bit 2 Confidence
    std::uint8_t ContactId;
    std::uint16_t X;
    std::uint16_t Y;
    std::uint16_t Width;
    std::uint16_t Height;
};
static_assert(sizeof(TOUCH_CONTACT) == 10);
static_assert(offsetof(TOUCH_CONTACT, X) == 2);
static_assert(offsetof(TOUCH_CONTACT, Width) == 6);

// Input 0x30.
struct TOUCH_REPORT {
    std::uint8_t ReportId;
    TOUCH_CONTACT Contact[2];
    std::uint8_t ContactCount;
};
static_assert(sizeof(TOUCH_REPORT) == 22);
static_assert(offsetof(TOUCH_REPORT, Contact) == 1);
static_assert(offsetof(TOUCH_REPORT, ContactCount) == 21);

// Input 0x10: declared as 6 bytes, completed as 8 (bytes 6-7 carried over).
struct MOUSE_REPORT {
    std::uint8_t ReportId;
    std::uint8_t Buttons;  // bit 0 left, bit 1 right
    std::uint16_t X;
    std::uint16_t Y;
    std::uint8_t Trailer[2];
};
static_assert(sizeof(MOUSE_REPORT) == 8);
static_assert(offsetof(MOUSE_REPORT, X) == 2);
static_assert(offsetof(MOUSE_REPORT, Y) == 4);
// What the report descriptor declares, and so what readers of the mouse collection get.
constexpr std::size_t kMouseReportDeclaredSize = offsetof(MOUSE_REPORT, Trailer);

// A mouse report as a reader receives it: the declared six bytes, or the eight the
// driver completes. The trailer reads zero when absent.
inline bool DecodeMouseReport(const std::uint8_t* bytes, std::size_t size, MOUSE_REPORT* report) {
    if (size < kMouseReportDeclaredSize || bytes[0] != kMouseReportId) return false;
    std::memset(report, 0, sizeof(MOUSE_REPORT));
    std::memcpy(report, bytes, size < sizeof(MOUSE_REPORT) ? size : sizeof(MOUSE_REPORT));
    return true;
}

constexpr std::uint8_t kMouseButtonNone = 0;
constexpr std::uint8_t kMouseButtonLeft = 1;
constexpr std::uint8_t kMouseButtonRight = 2;

// Input 0x32.
struct DEVICE_EVENT_REPORT {
    std::uint8_t ReportId;
    std::uint8_t Data[7];
};
static_assert(sizeof(DEVICE_EVENT_REPORT) == 8);

// Input 0x38.
struct KEYBOARD_REPORT {
    std::uint8_t ReportId;
    std::uint8_t Modifiers;  // usages 0xE0..0xE7
    std::uint8_t Reserved;
    std::uint8_t Keys[6];
};
static_assert(sizeof(KEYBOARD_REPORT) == 9);
static_assert(offsetof(KEYBOARD_REPORT, Keys) == 3);

// Output 0x38.
struct KEYBOARD_LED_REPORT {
    std::uint8_t ReportId;
    std::uint8_t Leds;
};
static_assert(sizeof(KEYBOARD_LED_REPORT) == 2);

// Input 0x36: the framed device packet with 0x36 in place of 0xAA.
struct RAW_PACKET_REPORT {
    std::uint8_t ReportId;
    std::uint8_t Data[63];
};
static_assert(sizeof(RAW_PACKET_REPORT) == 64);

// Feature 0x03.
struct CONTACT_COUNT_MAX_FEATURE {
    std::uint8_t ReportId;
    std::uint8_t ContactCountMaximum;
};
static_assert(sizeof(CONTACT_COUNT_MAX_FEATURE) == 2);

// Feature 0x02.
struct DEVICE_MODE_FEATURE {
    std::uint8_t ReportId;
    std::uint8_t DeviceMode;
    std::uint8_t DeviceIdentifier;
};
static_assert(sizeof(DEVICE_MODE_FEATURE) == 3);

// Features 0xAA (command report) and 0x55 (driver request report).
struct VENDOR_FEATURE {
    std::uint8_t ReportId;
    std::uint8_t Data[63];
};
static_assert(sizeof(VENDOR_FEATURE) == 64);

#pragma pack(pop)

}  // namespace kav
