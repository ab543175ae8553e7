// The device command protocol as data: who the controllers are, the packet types, every
// command the controller answers with its sub-code, sizes and timing, and the mode
// switches of the access bracket. The driver's start-up exchange and relay, KavLib's
// accessors and the simulated firmware all take their numbers from here.
//
// Kernel-safe: included by the driver frame.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kav::protocol {

// ---- Who is a touch controller ----

constexpr std::uint16_t kVendorId = 0x4B1D;
constexpr std::uint16_t kProductPacket = 0x0A31;  // camera-line packets
constexpr std::uint16_t kProductStylus = 0x0A07;  // takes the one-switch calibration bracket
constexpr std::uint16_t kProductImage = 0x0A41;   // raw grey lines

constexpr bool IsTouchController(std::uint16_t vendorId, std::uint16_t productId) {
    return vendorId == kVendorId &&
           (productId == kProductPacket || productId == kProductStylus || productId == kProductImage);
}

// ---- Packet types ----

constexpr std::uint8_t kTypeSet = 0x01;
constexpr std::uint8_t kTypeGet = 0x02;
// A reply carries 0x10..0x1F; only this high nibble is compared.
constexpr std::uint8_t kReplyTypeNibble = 0x10;
constexpr std::uint8_t kReplyTypeMask = 0xF0;

constexpr bool IsReplyType(std::uint8_t type) {
    return (type & kReplyTypeMask) == kReplyTypeNibble;
}

// ---- Timing ----

// On the serial port only tries and polls apply; polls there count reply packets read.
struct TimingSet {
    std::uint32_t tries;
    std::uint32_t settleMs;  // after each successful send
    std::uint32_t polls;
    std::uint32_t pollWaitMs;  // before every poll, the first included
};

constexpr TimingSet kStandardTiming{5, 40, 50, 5};
// The image block and line reads, which come in long runs of 32-byte transactions.
constexpr TimingSet kFastTiming{3, 0, 30, 1};

// The controller re-initialises its cameras after these sets; nothing else may be sent
// meanwhile.
constexpr std::uint32_t kPauseAfterSetMs = 3000;

// ---- Commands ----

enum class Timing : std::uint8_t { Standard, Fast };

enum class ReplyRule : std::uint8_t {
    None,     // a set: the reply's payload is not used
    UpTo,     // at most replySize bytes are taken; a shorter reply is taken as it is
    Exactly,  // any length but replySize fails, though the transaction succeeded
};

struct Command {
    std::uint8_t code;
    std::uint8_t type;         // kTypeGet or kTypeSet
    bool callerSubCode;        // the accessor passes its sub-code through
    std::uint8_t subCode;      // the fixed sub-code otherwise
    std::uint8_t requestSize;  // payload bytes sent
    std::uint8_t replySize;    // payload bytes taken from the reply
    ReplyRule reply;
    Timing timing;
    std::uint32_t pauseMs;  // after a successful set

    constexpr bool IsGet() const { return type == kTypeGet; }
    constexpr std::uint8_t SubCodeFor(std::uint8_t callerValue) const { return callerSubCode ? callerValue : subCode; }
};

struct SubCode {
    bool caller;
    std::uint8_t value;
};
constexpr SubCode kCaller{true, 0};
constexpr SubCode Fixed(std::uint8_t value) {
    return {false, value};
}

constexpr Command Get(std::uint8_t code, SubCode sub, std::uint8_t copyLimit) {
    return {code, kTypeGet, sub.caller, sub.value, 0, copyLimit, ReplyRule::UpTo, Timing::Standard, 0};
}
constexpr Command GetExactly(std::uint8_t code, SubCode sub, std::uint8_t size) {
    return {code, kTypeGet, sub.caller, sub.value, 0, size, ReplyRule::Exactly, Timing::Standard, 0};
}
constexpr Command GetFast(std::uint8_t code, std::uint8_t requestSize, std::uint8_t size) {
    return {code, kTypeGet, true, 0, requestSize, size, ReplyRule::Exactly, Timing::Fast, 0};
}
constexpr Command Set(std::uint8_t code, SubCode sub, std::uint8_t size, std::uint32_t pauseMs = 0) {
    return {code, kTypeSet, sub.caller, sub.value, size, 0, ReplyRule::None, Timing::Standard, pauseMs};
}

// Sub-codes that name a unit. Commands 0x30 / 0x31 address two records by sub-code.
constexpr std::uint8_t kSubScreenProperty = 0x00;
constexpr std::uint8_t kSubDeviceConfig = 0x01;
constexpr std::uint8_t kSubCalibX = 0x00;
constexpr std::uint8_t kSubCalibY = 0x01;
constexpr std::uint8_t kSubInfrared = 0x80;
constexpr std::uint8_t kSubStylus = 0x0F;
constexpr std::uint8_t kSubProductSn = 0x00;
constexpr std::uint8_t kSubToolbar = 0x00;
constexpr std::uint8_t kSubEncryptKey = 0x00;  // the bracketed accessors' key

constexpr std::size_t kRecordSize = 58;
constexpr std::size_t kCameraParamsReadSize = 8;  // six settable bytes and two of status
constexpr std::size_t kCameraParamsSize = 6;
constexpr std::size_t kCameraSnSize = 16;
constexpr std::size_t kProductVersionSize = 4;
constexpr std::size_t kSerialNumberSize = 20;
constexpr std::size_t kProductTypeSize = 2;
constexpr std::size_t kImageCVersionSize = 4;
constexpr std::size_t kStylusStatusSize = 7;
constexpr std::size_t kStylusVersionSize = 6;
constexpr std::size_t kImageChunkSize = 32;  // one image block or line piece

constexpr Command kGetCameraPropertys = Get(0x10, kCaller, kRecordSize);
constexpr Command kSetCameraPropertys = Set(0x11, kCaller, kRecordSize);
constexpr Command kGetCalibParams = Get(0x14, kCaller, kRecordSize);  // kSubCalibX, then kSubCalibY
constexpr Command kSetCalibParams = Set(0x15, kCaller, kRecordSize);
constexpr Command kGetEncryptKey = Get(0x18, kCaller, kRecordSize);
constexpr Command kSetEncryptKey = Set(0x19, kCaller, kRecordSize);
constexpr Command kGetToolbarParams = Get(0x1A, Fixed(kSubToolbar), kRecordSize);
constexpr Command kSetToolbarParams = Set(0x1B, Fixed(kSubToolbar), kRecordSize);
constexpr Command kGetImgCConfig = Get(0x20, kCaller, kRecordSize);
constexpr Command kSetImgCConfig = Set(0x21, kCaller, kRecordSize);
constexpr Command kGetCameraParams = Get(0x22, kCaller, kCameraParamsReadSize);
constexpr Command kSetCameraParams = Set(0x23, kCaller, kCameraParamsSize, kPauseAfterSetMs);
constexpr Command kGetCameraParamsLinear = Get(0x24, kCaller, 1);
constexpr Command kSetCameraParamsLinear = Set(0x25, kCaller, 1, kPauseAfterSetMs);
constexpr Command kGetCameraSn = Get(0x26, kCaller, kCameraSnSize);
constexpr Command kSetCameraSn = Set(0x27, kCaller, kCameraSnSize);
constexpr Command kGetCalibParamsZInfrared = Get(0x29, Fixed(kSubInfrared), kRecordSize);
constexpr Command kSetCalibParamsZInfrared = Set(0x2A, Fixed(kSubInfrared), kRecordSize);
constexpr Command kGetCalibParamsYInfrared = Get(0x2B, Fixed(kSubInfrared), kRecordSize);
constexpr Command kSetCalibParamsYInfrared = Set(0x2C, Fixed(kSubInfrared), kRecordSize);
constexpr Command kGetCalibParamsXInfrared = Get(0x2D, Fixed(kSubInfrared), kRecordSize);
constexpr Command kSetCalibParamsXInfrared = Set(0x2E, Fixed(kSubInfrared), kRecordSize);
constexpr Command kGetScreenProperty = Get(0x30, Fixed(kSubScreenProperty), kRecordSize);
constexpr Command kGetDeviceConfig = Get(0x30, Fixed(kSubDeviceConfig), kRecordSize);
constexpr Command kSetScreenProperty = Set(0x31, Fixed(kSubScreenProperty), kRecordSize);
constexpr Command kSetDeviceConfig = Set(0x31, Fixed(kSubDeviceConfig), kRecordSize);
constexpr Command kGetProductVersion = Get(0x32, kCaller, kProductVersionSize);
constexpr Command kGetProductSn = Get(0x34, Fixed(kSubProductSn), kSerialNumberSize);
constexpr Command kSetProductSn = Set(0x35, Fixed(kSubProductSn), kSerialNumberSize);
constexpr Command kGetBoardSn = Get(0x36, kCaller, kSerialNumberSize);
constexpr Command kSetBoardSn = Set(0x37, kCaller, kSerialNumberSize);
constexpr Command kGetProductType = Get(0x3A, kCaller, kProductTypeSize);
constexpr Command kGetImageCVersion = Get(0x3C, kCaller, kImageCVersionSize);
constexpr Command kGetStylusStatus = Get(0x40, Fixed(kSubStylus), kStylusStatusSize);
constexpr Command kGetStylusVersion = Get(0x42, Fixed(kSubStylus), kStylusVersionSize);
constexpr Command kGetImageBlockCount = GetExactly(0x50, kCaller, 2);
constexpr Command kGetImageSize = GetExactly(0x52, kCaller, 4);  // width, then height
constexpr Command kSetImageCollectStartRow = Set(0x53, kCaller, 2);
constexpr Command kGetImageBlock = GetFast(0x60, 2, kImageChunkSize);  // request: the block number
constexpr Command kSetImageStartRow = Set(0x61, kCaller, 2, kPauseAfterSetMs);
constexpr Command kGetImageStartRow = GetExactly(0x62, kCaller, 2);
constexpr Command kGetImageLineTop = GetFast(0x64, 1, kImageChunkSize);  // request: the line piece
constexpr Command kGetImageLineData = GetFast(0x66, 1, kImageChunkSize);
constexpr Command kGetImageLineReference = GetFast(0x68, 1, kImageChunkSize);
constexpr Command kGetMode = Get(0x70, kCaller, 1);
constexpr Command kSetMode = Set(0x71, kCaller, 1);
constexpr Command kSetUpgradeLinear = Set(0x75, kCaller, 1);

// The one byte Set_Upgrade_Linear sends.
constexpr std::uint8_t kUpgradeRequest = 0x55;

// Every command the controller answers.
constexpr Command kCatalogue[] = {
    kGetCameraPropertys,
    kSetCameraPropertys,
    kGetCalibParams,
    kSetCalibParams,
    kGetEncryptKey,
    kSetEncryptKey,
    kGetToolbarParams,
    kSetToolbarParams,
    kGetImgCConfig,
    kSetImgCConfig,
    kGetCameraParams,
    kSetCameraParams,
    kGetCameraParamsLinear,
    kSetCameraParamsLinear,
    kGetCameraSn,
    kSetCameraSn,
    kGetCalibParamsZInfrared,
    kSetCalibParamsZInfrared,
    kGetCalibParamsYInfrared,
    kSetCalibParamsYInfrared,
    kGetCalibParamsXInfrared,
    kSetCalibParamsXInfrared,
    kGetScreenProperty,
    kGetDeviceConfig,
    kSetScreenProperty,
    kSetDeviceConfig,
    kGetProductVersion,
    kGetProductSn,
    kSetProductSn,
    kGetBoardSn,
    kSetBoardSn,
    kGetProductType,
    kGetImageCVersion,
    kGetStylusStatus,
    kGetStylusVersion,
    kGetImageBlockCount,
    kGetImageSize,
    kSetImageCollectStartRow,
    kGetImageBlock,
    kSetImageStartRow,
    kGetImageStartRow,
    kGetImageLineTop,
    kGetImageLineData,
    kGetImageLineReference,
    kGetMode,
    kSetMode,
    kSetUpgradeLinear,
};

// ---- The access bracket ----

// Command 0x71 to sub-units 0 and 1 before a handle-only operation's access ("on") and
// after it ("off"); product kProductStylus takes one switch of sub-unit 0x80 around its
// calibration access instead.
constexpr std::uint8_t kBracketSubCodes[] = {0x00, 0x01};
constexpr std::uint8_t kSingleSwitchSubCode = 0x80;
constexpr std::uint8_t kAccessOn = 0x01;
constexpr std::uint8_t kAccessOff = 0x00;

}  // namespace kav::protocol
