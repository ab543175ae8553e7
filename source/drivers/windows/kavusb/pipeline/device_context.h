// The per-device context, packed and zero-filled by the framework when the device is
// created. Fields keep the declaration order the driver has always used.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kavusb/kmdf/wdf.h"
#include "shared/device_packet.h"
#include "shared/device_records.h"
#include "shared/hid_reports.h"

namespace kav {

constexpr std::size_t kLinePixels = 640;
constexpr std::size_t kImageSamples = 512;
constexpr std::size_t kMaxRegions = 4;
constexpr std::size_t kMaxSamplesPerFrame = 60;

#pragma pack(push, 1)

// One camera's part of a touch frame. The shadow stages extend it.
struct CAMERA_LINE {
    std::uint8_t Line[kLinePixels];  // bi-level: 1 shadow, 0 lit
};
static_assert(sizeof(CAMERA_LINE) == kLinePixels);

// Camera lines, shadows, camera models, contact tracks and filter histories.
struct TRIANGULATION {
    CAMERA_LINE Camera[2];  // A, B
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

// Output-stage records; the output stage fills them in.
struct TAP_STABILIZER {
    std::uint8_t Reserved;
};
struct SAMPLE_HISTORY {
    std::uint8_t Reserved;
};

struct DEVICE_CONTEXT {
    WDFUSBDEVICE UsbDevice;
    WDFUSBINTERFACE UsbInterface;
    WDFUSBPIPE InterruptPipe;
    USB_DEVICE_DESCRIPTOR DeviceDescriptor;
    WDFQUEUE ReadQueue;
    WDFREQUEST CurrentRequest;
    WDFSPINLOCK SpinLock;
    std::uint8_t RegionCount;
    TOUCH_REPORT LastTouchReport;
    std::uint8_t HalfFrame[kUsbTransferSize];
    MOUSE_REPORT LastMouseReport;
    TOUCH_POINT PrevOutputPoint[2];
    TOUCH_POINT JamHoldPoint;
    TOUCH_POINT PrevContact2;
    std::uint8_t HalfFramePending;
    std::uint8_t SwapCameras;
    std::uint8_t WorkMode;
    TRIANGULATION Triangulation;
    BACKGROUND_STATE Background[2];
    std::uint8_t ImageLine[2][kLinePixels];
    SCREEN_PROPERTY ScreenProperty;
    CAMERA_PROPERTIES CameraProperties[2];
    TOOLBAR_PARAMS ToolbarParams;
    DEVICE_CALIB_PARAS CalibParams[2];
    MAP_REGION Region[kMaxRegions];
    DEVICE_CONFIG DeviceConfig;
    TAP_STABILIZER TapStabilizer;
    SAMPLE_HISTORY Contact2History;
    SAMPLE_HISTORY SmoothHistory[2];
    TOUCH_POINT OutputPoint[2];
    TOUCH_POINT FrameOutput[2][kMaxSamplesPerFrame];
    TOUCH_POINT SmoothOutput[2][kMaxSamplesPerFrame];
    std::uint8_t ToolbarPrevTip;
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
