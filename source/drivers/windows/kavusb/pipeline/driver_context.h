// The per-driver context: the configuration record and speed values read from the
// registry when the driver loads, shared by every touch screen the driver serves.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kavusb/kmdf/wdf.h"
#include "shared/driver_config.h"

namespace kav {

#pragma pack(push, 1)

constexpr std::size_t kClickDeviceSlots = 4;

// Where a device's contact 1 last touched, so that a lift is reported there.
struct CLICK_LAST_TOUCH {
    const void* Device;  // DEVICE_CONTEXT; nullptr while the slot is free
    std::int32_t X;
    std::int32_t Y;
    std::int32_t Size;
};

// Click emulation state, one per driver: every touch screen the driver serves drives the
// same emulated pointer. Guarded by Lock (see clicks.h for the lock order).
struct CLICK_STATE {
    std::uint32_t Touching;   // modes 0 and 1: a touch is in progress
    std::uint32_t HoldState;  // mouse emulation: kHoldIdle .. kHoldRightClicked (clicks.h)
    std::int32_t HoldStartX;  // millimetres
    std::int32_t HoldStartY;
    std::uint64_t HoldStartTime;  // system time, 100 ns
    std::uint64_t HoldElapsedMs;
    std::uint8_t LastToolbarKey;  // usage of the button last reported pressed, 0 if none
    WDFSPINLOCK Lock;             // created by InitClickState; nullptr until then
    std::uint8_t FallbackLock;    // interlocked flag used while Lock is nullptr
    std::uint8_t NextSlot;        // slot to reuse when all are taken
    CLICK_LAST_TOUCH LastTouch[kClickDeviceSlots];
};

struct DRIVER_CONTEXT {
    _NERIO_DRIVER_CONFIG Config;
    std::uint32_t MaxSpeed;
    std::uint8_t VelocityRefCount;
    std::uint8_t VelocityWeight;
    CLICK_STATE Click;
};

#pragma pack(pop)

static_assert(offsetof(DRIVER_CONTEXT, Config) == 0);
static_assert(offsetof(DRIVER_CONTEXT, MaxSpeed) == 59);
static_assert(offsetof(DRIVER_CONTEXT, VelocityRefCount) == 63);
static_assert(offsetof(DRIVER_CONTEXT, VelocityWeight) == 64);
static_assert(offsetof(DRIVER_CONTEXT, Click) == 65);
static_assert(offsetof(CLICK_STATE, HoldStartTime) == 16);
static_assert(offsetof(CLICK_STATE, LastToolbarKey) == 32);

WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(DRIVER_CONTEXT, NerioGetDriverContext)

// ---- the record under concurrent readers ----

#pragma pack(push, 1)
// A consistent copy of what packet processing reads: the record and the speed values.
struct DRIVER_CONFIG_SNAPSHOT {
    _NERIO_DRIVER_CONFIG Config;
    std::uint32_t MaxSpeed;
    std::uint8_t VelocityRefCount;
    std::uint8_t VelocityWeight;
};
#pragma pack(pop)
static_assert(sizeof(DRIVER_CONFIG_SNAPSHOT) == 65);

// Creates the driver-wide lock (a child of the driver). DriverEntry calls it at
// PASSIVE_LEVEL right after WdfDriverCreate, before any device is added.
NTSTATUS CreateDriverConfigLock(WDFDRIVER driver);
// At IRQL <= DISPATCH_LEVEL. Without the lock (never created, or made for another
// driver object) there can be no writer, and the record is copied directly.
void SnapshotDriverConfig(WDFDRIVER driver, DRIVER_CONFIG_SNAPSHOT* snapshot);
// At IRQL <= DISPATCH_LEVEL; copies all 59 bytes. STATUS_INVALID_DEVICE_STATE, and
// nothing changed, without the lock: an unguarded write could tear a reader's copy.
NTSTATUS ReplaceDriverConfig(WDFDRIVER driver, const _NERIO_DRIVER_CONFIG& config);
NTSTATUS ReplaceSpeedParameters(WDFDRIVER driver, ULONG maxSpeed, UCHAR velocityRefCount, UCHAR velocityWeight);

}  // namespace kav
