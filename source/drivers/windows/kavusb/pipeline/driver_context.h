// The per-driver context: the configuration record and speed values read from the
// registry when the driver loads, shared by every touch screen the driver serves.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kavusb/kmdf/wdf.h"
#include "shared/driver_config.h"

namespace kav {

#pragma pack(push, 1)

// Click emulation state shared by all devices; the click stage fills it in.
struct CLICK_STATE {
    std::uint8_t Reserved;
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

WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(DRIVER_CONTEXT, NerioGetDriverContext)

}  // namespace kav
