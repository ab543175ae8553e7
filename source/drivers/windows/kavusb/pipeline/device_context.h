// The per-device context, packed and zero-filled by the framework when the device is
// created. Fields keep the declaration order the driver has always used.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver_context.h"
#include "kavusb/kmdf/wdf.h"
#include "shared/device_packet.h"
#include "shared/device_records.h"
#include "shared/hid_reports.h"
#include "track_point.h"

namespace kav {

constexpr std::size_t kLinePixels = 640;
constexpr std::size_t kImageSamples = 512;
constexpr std::size_t kMaxRegions = 4;
constexpr std::size_t kMaxSamplesPerFrame = 60;

#pragma pack(push, 1)

struct SHADOW_INTERVAL {
    std::int32_t start;  // inclusive
    std::int32_t end;    // exclusive
};
static_assert(sizeof(SHADOW_INTERVAL) == 8);

// MERGE_TRACKER::state. Two fingers in line with one camera cast one shadow there; while
// the other camera still sees two, the merged shadow is split into the two widths.
enum MERGE_STATE : std::uint8_t {
    kMergeIdle = 0,
    kMergeSplit = 1,         // merged: split into the widths as they were seen apart
    kMergeSplitSwapped = 2,  // still merged and wider than the first piece: widths exchanged
    kMergeApart = 3,         // two shadows seen apart: previous and width hold them
};

// Remembers two shadows that one camera saw apart, to split them again once they merge.
struct MERGE_TRACKER {
    SHADOW_INTERVAL previous[2];
    std::int32_t width[2];  // pixels
    MERGE_STATE state;
};
static_assert(sizeof(MERGE_TRACKER) == 25);

// One camera's part of a touch frame.
struct CAMERA_LINE {
    std::uint8_t Line[kLinePixels];  // bi-level: 1 shadow, 0 lit
    SHADOW_INTERVAL Interval[2];
    std::int32_t Count;       // after splitting
    std::int32_t CountFound;  // as found, before splitting
    MERGE_TRACKER Tracker;
};

// Pixel position to viewing angle: a polynomial in u = p/320 - 1 over the window.
struct CAMERA_MODEL {
    std::uint32_t WindowStart;
    std::uint32_t WindowEnd;  // exclusive
    float Coef[8];
};
static_assert(sizeof(CAMERA_MODEL) == 40);

// Triangulation plane to logical coordinates.
struct SCREEN_SCALE {
    float ScaleX;
    float OffsetX;
    float ScaleY;
    float OffsetY;
    float ScaleSize;
    float NewContactDistance;  // baseline units
    float BaselineMm;
};
static_assert(sizeof(SCREEN_SCALE) == 28);

constexpr std::size_t kHistoryLength = 50;

// One contact's last 50 points; Newest is -1 while empty.
struct HISTORY_RING {
    TRACK_POINT Entry[kHistoryLength];
    std::int32_t Newest;
};
static_assert(sizeof(HISTORY_RING) == 50 * 33 + 4);

// Camera lines, shadows, camera models, contact tracks and filter histories.
struct TRIANGULATION {
    CAMERA_LINE Camera[2];  // A, B
    CAMERA_MODEL Model[2];  // A, B
    SCREEN_SCALE Scale;
    TRACK_POINT Raw[2];        // the pair the last frame produced
    TRACK_POINT Reference[2];  // what the next frame's candidates are compared with
    TRACK_POINT Filtered[2];
    std::int32_t HoldCounter;
    std::uint8_t TwoAgainstOne;    // 0 after a resolved one-against-two frame, else 1
    std::uint8_t SingleShadow[3];  // [0] read by the output stage, [2] the newest
    HISTORY_RING History[2];
};

// Image devices learn the lit background of each camera line.
struct BACKGROUND_STATE {
    std::uint8_t Level[kImageSamples];
    std::uint8_t PrevMask[kImageSamples];
    std::uint8_t FirstFrame;
    std::int8_t RateCounter;
};
static_assert(sizeof(BACKGROUND_STATE) == 1026);
static_assert(offsetof(BACKGROUND_STATE, FirstFrame) == 1024);

// A mapping region: a cubic (or affine) polynomial per axis and exclusive bounds in
// logical units. Padded to the 128 bytes each region has always occupied.
struct MAP_REGION {
    float XCoef[10];
    float YCoef[10];
    float SizeScale;
    std::uint16_t YMin;
    std::uint16_t YMax;
    std::uint16_t XMin;
    std::uint16_t XMax;
    std::uint8_t Reserved[36];
};
static_assert(sizeof(MAP_REGION) == 128);
static_assert(offsetof(MAP_REGION, YCoef) == 40);
static_assert(offsetof(MAP_REGION, SizeScale) == 80);
static_assert(offsetof(MAP_REGION, YMin) == 84);
static_assert(offsetof(MAP_REGION, XMax) == 90);

// TAP_STABILIZER::State.
enum TAP_STATE : std::uint8_t {
    kTapDisabled = 0,    // DoubleClickTime under one sample: every sample passes at once
    kTapIdle = 1,        // no touch
    kTapPass = 2,        // the touch moved: samples pass as they come, to the lift
    kTapCollecting = 3,  // touch-down: samples held back until a lift, a move or a full window
    kTapResting = 4,     // the window filled in place: the finger is held at Saved
};

// Holds contact 1 back from touch-down until it shows itself as a tap, a move or a
// finger at rest, so that a tap becomes one clean click.
struct TAP_STABILIZER {
    std::int32_t Window;         // capacity in samples, 1..60
    std::int32_t RadiusSquared;  // logical units
    TOUCH_POINT Sample[kMaxSamplesPerFrame];
    TOUCH_POINT Saved;  // where a resting finger is held
    std::int32_t Count;
    TAP_STATE State;
    std::uint8_t Ready;  // 1 from touch-down until the buffered samples have gone out
};
static_assert(sizeof(TAP_STABILIZER) == 8 + 60 * 13 + 13 + 4 + 2);
static_assert(offsetof(TAP_STABILIZER, Saved) == 8 + 60 * 13);

// The last four samples of one contact, H[3] the newest; the curve between them is what
// the interpolation draws.
struct SAMPLE_HISTORY {
    TOUCH_POINT H[4];
    float Scale;  // only SmoothHistory[0] uses it: Smoothness / 32768
};
static_assert(sizeof(SAMPLE_HISTORY) == 4 * 13 + 4);

// Each field names what guards it. "start": written by device add or prepare hardware,
// which the framework serialises before D0 entry starts the reader; only read afterwards.
// "SpinLock": read and written under SpinLock, which packet processing holds for a whole
// transfer and the feature relay takes to replace what the pipeline reads. "start, then
// SpinLock": both. Coordinates are logical units (0..32767) unless a field says otherwise.
struct DEVICE_CONTEXT {
    // The USB side (start).
    WDFUSBDEVICE UsbDevice;                  // the USB target, kept over a restart
    WDFUSBINTERFACE UsbInterface;            // the configured single interface
    WDFUSBPIPE InterruptPipe;                // pipe 0, which the continuous reader reads
    USB_DEVICE_DESCRIPTOR DeviceDescriptor;  // as reported; idProduct tells an image device
    // The HID side.
    WDFQUEUE ReadQueue;                        // start: the HID class's pending reads, one per report
    WDFREQUEST CurrentRequest;                 // SpinLock: the read being filled, nullptr between reports
    WDFSPINLOCK SpinLock;                      // start: see above
    std::uint8_t RegionCount;                  // SpinLock: mapping regions in use, 0..4 (0 reads as 1)
    TOUCH_REPORT LastTouchReport;              // SpinLock: the last one sent; contact IDs set at start
    std::uint8_t HalfFrame[kUsbTransferSize];  // SpinLock: a sub-code 0 line packet
    MOUSE_REPORT LastMouseReport;              // SpinLock: the last one sent
    TOUCH_POINT PrevOutputPoint[2];            // SpinLock: as last reported, for a lift
    TOUCH_POINT JamHoldPoint;                  // SpinLock: contact 1 after anti-jamming
    TOUCH_POINT PrevContact2;                  // SpinLock: last frame's contact 2
    std::uint8_t HalfFramePending;             // SpinLock: 1 while HalfFrame waits for sub-code 1
    // start: bits 0-1 of CameraProperties[0] byte 0. Non-zero: camera A is the sub-code 0
    // line and record 0; zero: the sub-code 1 line and record 1.
    std::uint8_t SwapCameras;
    // SpinLock for writers: kWorkMode* (work_modes.h). One byte: a lone reader needs no lock.
    std::uint8_t WorkMode;
    // The pipeline (SpinLock).
    TRIANGULATION Triangulation;             // lines, shadows, camera models, tracks
    BACKGROUND_STATE Background[2];          // image devices: each camera's lit background
    std::uint8_t ImageLine[2][kLinePixels];  // image devices: each camera's mask, as a line
    // The controller's records (start, then SpinLock), bytes as the controller keeps them.
    SCREEN_PROPERTY ScreenProperty;         // Width and Height in millimetres
    CAMERA_PROPERTIES CameraProperties[2];  // sub-codes 0 and 1
    TOOLBAR_PARAMS ToolbarParams;           // touch areas that send function keys
    DEVICE_CALIB_PARAS CalibParams[2];      // X (sub-code 0) and Y (sub-code 1)
    MAP_REGION Region[kMaxRegions];         // SpinLock: built from the records above
    DEVICE_CONFIG DeviceConfig;             // region layout and bounds, millimetres
    // The output stage (SpinLock).
    TAP_STABILIZER TapStabilizer;                      // contact 1 from touch-down
    SAMPLE_HISTORY Contact2History;                    // contact 2's last four samples
    SAMPLE_HISTORY SmoothHistory[2];                   // the same for the Smoothness curve
    TOUCH_POINT OutputPoint[2];                        // the sample being composed
    TOUCH_POINT FrameOutput[2][kMaxSamplesPerFrame];   // the frame's samples
    TOUCH_POINT SmoothOutput[2][kMaxSamplesPerFrame];  // one Smoothness curve's samples
    std::uint8_t ToolbarPrevTip;                       // contact 1's Tip last frame
    // SpinLock: the driver's parameters as of the packet being processed; a configuration
    // set takes effect from the next packet, never halfway through one.
    DRIVER_CONFIG_SNAPSHOT DriverConfig;
};

#pragma pack(pop)

// The leading fields do not move when later stages grow their records.
static_assert(offsetof(DEVICE_CONTEXT, DeviceDescriptor) == 3 * sizeof(void*));
static_assert(offsetof(DEVICE_CONTEXT, ReadQueue) == offsetof(DEVICE_CONTEXT, DeviceDescriptor) + 18);
static_assert(offsetof(DEVICE_CONTEXT, RegionCount) == offsetof(DEVICE_CONTEXT, ReadQueue) + 3 * sizeof(void*));
static_assert(offsetof(DEVICE_CONTEXT, LastTouchReport) == offsetof(DEVICE_CONTEXT, RegionCount) + 1);
static_assert(offsetof(DEVICE_CONTEXT, HalfFrame) == offsetof(DEVICE_CONTEXT, LastTouchReport) + 22);
static_assert(offsetof(DEVICE_CONTEXT, LastMouseReport) == offsetof(DEVICE_CONTEXT, HalfFrame) + 1024);
static_assert(offsetof(DEVICE_CONTEXT, PrevOutputPoint) == offsetof(DEVICE_CONTEXT, LastMouseReport) + 8);
static_assert(offsetof(DEVICE_CONTEXT, HalfFramePending) == offsetof(DEVICE_CONTEXT, PrevOutputPoint) + 4 * 13);
static_assert(offsetof(DEVICE_CONTEXT, WorkMode) == offsetof(DEVICE_CONTEXT, HalfFramePending) + 2);
static_assert(offsetof(DEVICE_CONTEXT, Triangulation) == offsetof(DEVICE_CONTEXT, WorkMode) + 1);
static_assert(offsetof(DEVICE_CONTEXT, ImageLine) == offsetof(DEVICE_CONTEXT, Background) + 2 * 1026);
static_assert(offsetof(DEVICE_CONTEXT, ScreenProperty) == offsetof(DEVICE_CONTEXT, ImageLine) + 2 * 640);
static_assert(offsetof(DEVICE_CONTEXT, CameraProperties) == offsetof(DEVICE_CONTEXT, ScreenProperty) + 58);
static_assert(offsetof(DEVICE_CONTEXT, Region) == offsetof(DEVICE_CONTEXT, CalibParams) + 2 * 58);
static_assert(offsetof(DEVICE_CONTEXT, DeviceConfig) == offsetof(DEVICE_CONTEXT, Region) + 4 * 128);
static_assert(offsetof(DEVICE_CONTEXT, SmoothOutput) == offsetof(DEVICE_CONTEXT, FrameOutput) + 2 * 60 * 13);
static_assert(offsetof(DEVICE_CONTEXT, ToolbarPrevTip) == offsetof(DEVICE_CONTEXT, SmoothOutput) + 2 * 60 * 13);

WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(DEVICE_CONTEXT, NerioGetDeviceContext)

constexpr std::uint16_t kImageDeviceProductId = 0x0A41;

inline bool IsImageDevice(const DEVICE_CONTEXT* context) {
    return context->DeviceDescriptor.idProduct == kImageDeviceProductId;
}

}  // namespace kav
