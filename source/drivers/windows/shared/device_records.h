// The 58-byte records the controller stores. KavLib moves them unchanged; the driver
// reads the fields named here. Multi-byte fields are little-endian and unaligned.
#pragma once

#include <cstddef>
#include <cstdint>

#ifndef KAV_DEVICE_CALIB_PARAS_DEFINED
#define KAV_DEVICE_CALIB_PARAS_DEFINED
#pragma pack(push, 1)
struct _DEVICE_CALIB_PARAS {
    float Coef[10];
    std::uint8_t Reserved[18];
};
#pragma pack(pop)
#endif

namespace kav {

constexpr std::size_t kDeviceRecordSize = 58;

#pragma pack(push, 1)

// Query 0x10, one per camera.
struct CAMERA_PROPERTIES {
    std::uint8_t Flags;  // record 0: low two bits = camera swap flag
    std::uint8_t Reserved1;
    std::uint32_t WindowStart;
    std::uint32_t WindowEnd;  // exclusive
    float P[8];               // polynomial terms p0..p7
    float Offset;             // o
    float Scale;              // k
    std::uint8_t Reserved2[8];
};
static_assert(sizeof(CAMERA_PROPERTIES) == kDeviceRecordSize);
static_assert(offsetof(CAMERA_PROPERTIES, WindowStart) == 2);
static_assert(offsetof(CAMERA_PROPERTIES, WindowEnd) == 6);
static_assert(offsetof(CAMERA_PROPERTIES, P) == 10);
static_assert(offsetof(CAMERA_PROPERTIES, Offset) == 42);
static_assert(offsetof(CAMERA_PROPERTIES, Scale) == 46);

// Query 0x30 sub-code 0. Lengths in millimetres.
struct SCREEN_PROPERTY {
    std::uint8_t Reserved1[2];
    std::uint32_t Width;                // W
    std::uint32_t Height;               // H
    std::uint32_t NewContactDivisor;    // D
    std::uint32_t NewContactNumerator;  // N; the driver's copy holds MaxSpeed
    std::int32_t BaselineY;             // Y0
    std::int32_t CameraAX;              // X0
    std::int32_t CameraBX;              // X1
    std::uint32_t VelocityRefCount;     // must be non-zero
    float VelocityWeight;               // must lie in [0, 1)
    std::uint8_t Reserved2[20];
};
static_assert(sizeof(SCREEN_PROPERTY) == kDeviceRecordSize);
static_assert(offsetof(SCREEN_PROPERTY, Width) == 2);
static_assert(offsetof(SCREEN_PROPERTY, Height) == 6);
static_assert(offsetof(SCREEN_PROPERTY, NewContactDivisor) == 10);
static_assert(offsetof(SCREEN_PROPERTY, NewContactNumerator) == 14);
static_assert(offsetof(SCREEN_PROPERTY, BaselineY) == 18);
static_assert(offsetof(SCREEN_PROPERTY, CameraAX) == 22);
static_assert(offsetof(SCREEN_PROPERTY, CameraBX) == 26);
static_assert(offsetof(SCREEN_PROPERTY, VelocityRefCount) == 30);
static_assert(offsetof(SCREEN_PROPERTY, VelocityWeight) == 34);

// Region bounds in millimetres, maxima exclusive.
struct REGION_BOUNDS {
    std::uint16_t XMin;
    std::uint16_t YMin;
    std::uint16_t XMax;
    std::uint16_t YMax;
};
static_assert(sizeof(REGION_BOUNDS) == 8);

// Query 0x30 sub-code 1.
struct DEVICE_CONFIG {
    std::uint8_t Reserved1[2];
    REGION_BOUNDS Region0;  // region 0, or the cubic region
    std::uint8_t RegionByte;
    REGION_BOUNDS Regions[3];  // regions 1..3
    std::uint8_t Reserved2[23];
};
static_assert(sizeof(DEVICE_CONFIG) == kDeviceRecordSize);
static_assert(offsetof(DEVICE_CONFIG, Region0) == 2);
static_assert(offsetof(DEVICE_CONFIG, RegionByte) == 10);
static_assert(offsetof(DEVICE_CONFIG, Regions) == 11);

// Query 0x14, sub-code 0 for x and 1 for y: ten cubic coefficients, or four
// (ky, kx, k0) triples of the region form. Exported by KavLib, so it lives at global scope
// as KavLib.h has it; whichever header comes first defines it.
using _DEVICE_CALIB_PARAS = ::_DEVICE_CALIB_PARAS;
static_assert(sizeof(_DEVICE_CALIB_PARAS) == kDeviceRecordSize);
using DEVICE_CALIB_PARAS = _DEVICE_CALIB_PARAS;

struct TOOLBAR_AREA {
    std::int16_t X0;
    std::int16_t Y0;
    std::uint16_t Width;
    std::uint16_t Height;
    std::int16_t DX;
    std::int16_t DY;
};
static_assert(sizeof(TOOLBAR_AREA) == 12);

// Query 0x1A sub-code 0. Logical coordinates.
struct _NERIO_TOOLBAR_CONFIG {
    std::uint8_t Enabled;   // areas in use when exactly 1
    std::uint8_t AreaMask;  // bit r enables area r
    TOOLBAR_AREA Areas[4];
    std::uint8_t Reserved[8];
};
static_assert(sizeof(_NERIO_TOOLBAR_CONFIG) == kDeviceRecordSize);
static_assert(offsetof(_NERIO_TOOLBAR_CONFIG, Areas) == 2);
using TOOLBAR_PARAMS = _NERIO_TOOLBAR_CONFIG;

#pragma pack(pop)

}  // namespace kav
