// The client of the simulated screen service (kavsim serve): KavLib's HID client services,
// raw input, device change and the driver's registry key, over a loopback connection.
// Chosen with KAVLIB_PLATFORM=sim; the address comes from KAVLIB_SIM. It holds no
// simulator code, only the service's protocol.
//
// Connects on first use, and again on the next call after the connection is lost; handles,
// readers and registrations belong to the connection they were made on and fail (or go
// silent) once it is gone, as those of an unplugged device do. Without a service,
// enumeration lists nothing and every other call fails within its own time-out.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "devicelib/platform/platform.h"

namespace kav::platform::remote {

struct ServiceAddress {
    std::uint32_t ipv4 = 0x7F000001;  // host order
    std::uint16_t port = 0;
    friend bool operator==(const ServiceAddress&, const ServiceAddress&) = default;
};

// "PORT", "HOST:PORT" or "HOST", HOST a dotted IPv4 address or "localhost"; the port
// defaults to the service's. nullopt when the text is none of these.
std::optional<ServiceAddress> ParseServiceAddress(std::string_view text);

// KAVLIB_SIM, or the default address when it is unset or does not parse.
ServiceAddress ServiceAddressFromEnvironment();

std::unique_ptr<Platform> MakeRemotePlatform(const ServiceAddress& address);

// The process-wide client of the address in KAVLIB_SIM, made on first use and never
// destroyed (a DLL must not join threads while it unloads).
Platform& RemotePlatformInstance();

}  // namespace kav::platform::remote
