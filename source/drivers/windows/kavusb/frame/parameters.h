// The driver's parameters: the registry values behind DRIVER_CONTEXT, read once at load
// and written back when user mode changes them, and the screen-size override.
//
// Registry access is at PASSIVE_LEVEL only. Each operation opens the keys it needs and
// closes them again; no key stays open between operations.
//
// Packet processing on several devices reads the record while a feature request may
// replace it. Both sides go through one driver-wide spin lock:
//   - readers take a DRIVER_CONFIG_SNAPSHOT (at most DISPATCH_LEVEL) and work on that;
//   - writers change the record only with ReplaceDriverConfig / ReplaceSpeedParameters.
// Lock order: a device's SpinLock (or the click lock) first, this lock last. It is a leaf:
// nothing else is acquired, and no registry call is made, while it is held.
#pragma once

#include <cstdint>

#include "kavusb/kmdf/wdf.h"
#include "kavusb/pipeline/driver_context.h"
#include "shared/driver_config.h"
#include "shared/driver_parameters.h"

namespace kav {

// Another service's key, read only, whose Width and Height override the screen size.
inline constexpr WCHAR kScreenSizeOverrideKey[] = u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\QVN";

// Opens the driver's parameters key and the DriverParameters subkey (created when
// missing), queries the value and closes both. A failed query stores defaultValue and
// returns the failure; when a key cannot be opened or created, *value is not written.
NTSTATUS QueryDriverParameter(WDFDRIVER driver, PCWSTR valueName, ULONG* value, ULONG defaultValue);
// The same opening, then sets the REG_DWORD.
NTSTATUS AssignDriverParameter(WDFDRIVER driver, PCWSTR valueName, ULONG value);

// The 18 values of the configuration record, then MaxSpeed, VelocityRefCount and
// VelocityWeight, each falling back to its default: absent, not a REG_DWORD, or keys that
// cannot be opened all give the default. Byte fields keep the low 8 bits. Config's
// reserved bytes and the click state are left alone. For the load, before any device
// exists; afterwards the record changes only through ReplaceDriverConfig.
void ReadDriverParameters(DRIVER_CONTEXT* record, WDFDRIVER driver);
// The 18 values of a configuration set, byte fields zero-extended, all of them every time.
// Failed writes are not reported: the in-memory record stays what counts.
void WriteDriverParameters(const _NERIO_DRIVER_CONFIG* config, WDFDRIVER driver);
// MaxSpeed, VelocityRefCount, VelocityWeight, after a speed set.
void WriteSpeedParameters(WDFDRIVER driver, ULONG maxSpeed, UCHAR velocityRefCount, UCHAR velocityWeight);

// Width then Height from the override key, low 16 bits each. Succeeds only when the key
// opens and both values are REG_DWORDs; the outputs are written only then.
NTSTATUS QueryScreenSizeOverride(USHORT* width, USHORT* height);

// CreateDriverConfigLock, then ReadDriverParameters into the driver's context: the load.
// A lock that cannot be created is returned as the failure; the record is read anyway.
NTSTATUS LoadDriverParameters(WDFDRIVER driver);

}  // namespace kav
