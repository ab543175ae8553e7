// The client of the simulated screen service (kavsim serve): KavLib's HID client services,
// raw input, device change and the driver's registry key, over a loopback connection.
// Chosen with KAVLIB_PLATFORM=sim; the address comes from KAVLIB_SIM. It holds no
// simulator code, only the service's protocol.
#pragma once

#include "devicelib/platform/platform.h"

namespace kav::platform::remote {

// The process-wide client, connected on first use to the address in KAVLIB_SIM.
Platform& RemotePlatformInstance();

}  // namespace kav::platform::remote
