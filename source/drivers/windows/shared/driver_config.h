// The driver configuration record: stored by KavUSB under its registry key, exchanged in
// driver requests 0x12 / 0x13, and offered by KavLib. Field names are the registry values.
#pragma once

#include <cstddef>
#include <cstdint>

// KavLib.h defines the same record for its callers; whichever comes first is used, and
// both assert the same layout.
#ifndef KAV_NERIO_DRIVER_CONFIG_DEFINED
#define KAV_NERIO_DRIVER_CONFIG_DEFINED
#pragma pack(push, 1)
struct _NERIO_DRIVER_CONFIG {
    std::uint8_t Mode;
    std::uint8_t EnableTouch;
    std::uint8_t EnableRightClick;
    std::uint8_t CalibrateType;
    std::uint8_t EnableDoubleClick;
    std::uint8_t HideCursor;
    std::uint8_t EnableBeep;
    std::uint8_t BeepType;
    std::uint8_t BeepMode;
    std::uint32_t BeepFrequency;
    std::uint32_t BeepDuration;
    std::uint32_t Smoothness;
    std::uint32_t RightClickTime;
    std::uint32_t RightClickArea;
    std::uint32_t DoubleClickTime;
    std::uint32_t DoubleClickArea;
    std::uint8_t Antijamming;
    std::uint8_t EnableAntishake;
    std::uint8_t Reserved[20];  // carried unchanged, backed by no registry value
};
#pragma pack(pop)
#endif
using NERIO_DRIVER_CONFIG = _NERIO_DRIVER_CONFIG;

static_assert(sizeof(_NERIO_DRIVER_CONFIG) == 59);
static_assert(offsetof(_NERIO_DRIVER_CONFIG, EnableTouch) == 1);
static_assert(offsetof(_NERIO_DRIVER_CONFIG, BeepMode) == 8);
static_assert(offsetof(_NERIO_DRIVER_CONFIG, BeepFrequency) == 9);
static_assert(offsetof(_NERIO_DRIVER_CONFIG, BeepDuration) == 13);
static_assert(offsetof(_NERIO_DRIVER_CONFIG, Smoothness) == 17);
static_assert(offsetof(_NERIO_DRIVER_CONFIG, RightClickTime) == 21);
static_assert(offsetof(_NERIO_DRIVER_CONFIG, RightClickArea) == 25);
static_assert(offsetof(_NERIO_DRIVER_CONFIG, DoubleClickTime) == 29);
static_assert(offsetof(_NERIO_DRIVER_CONFIG, DoubleClickArea) == 33);
static_assert(offsetof(_NERIO_DRIVER_CONFIG, Antijamming) == 37);
static_assert(offsetof(_NERIO_DRIVER_CONFIG, EnableAntishake) == 38);
static_assert(offsetof(_NERIO_DRIVER_CONFIG, Reserved) == 39);
