// The service in the test's own process, on a free loopback port, and the client pieces the
// tests share. POSIX only, as the service is.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "devicelib/platform/remote/connection.h"
#include "devicelib/platform/remote/remote_platform.h"
#include "simulator/service/protocol.h"
#include "simulator/service/screen_service.h"
#include "simulator/service/server.h"

namespace kav::testing {

constexpr std::uint32_t kLoopback = 0x7F000001;
// The middle of the nominal 400 x 300 mm screen in logical units, and how far a tap there
// may be reported from it: 2 mm across the screen's 32768 units per 400 mm.
constexpr int kMiddle = 16384;
constexpr int kTapTolerance = 164;

struct InProcessService {
    explicit InProcessService(service::ServiceOptions options = {})
        : screens(std::move(options)), server(screens, log) {
        std::string error;
        EXPECT_TRUE(screens.Start(&error)) << error;
        EXPECT_TRUE(server.Listen(0, &error)) << error;
    }
    platform::remote::ServiceAddress Address() const { return {kLoopback, server.Port()}; }
    // Only once the server has stopped: its threads write the log.
    std::string LogAfterStop() {
        server.Stop();
        return log.str();
    }

    service::ScreenService screens;
    std::ostringstream log;
    service::Server server;
};

// One control line through a connection of its own, as kavsim send does.
inline service::ControlAnswer SendControl(std::uint16_t port, const std::string& line) {
    namespace protocol = service::protocol;
    const auto connection = platform::remote::ServiceConnection::Open(kLoopback, port, nullptr);
    if (!connection) return {false, "no service"};
    const std::uint32_t id = connection->NewRequestId();
    const auto reply = connection->Call(protocol::Writer({id, protocol::MessageType::Control}).Text(line).Finish(), id);
    if (!reply) return {false, "no answer"};
    return {reply->header.status == protocol::Status::kOk, reply->Payload().Text()};
}

inline std::string Narrow(const std::u16string& text) {
    return std::string(text.begin(), text.end());
}

// The first screen's touch collection (col01) among the listed paths.
inline std::u16string TouchPath(platform::Platform& platform) {
    const auto paths = platform.EnumerateHidInterfaces();
    if (paths)
        for (const std::u16string& path : *paths)
            if (Narrow(path).find("col01") != std::string::npos) return path;
    return {};
}

}  // namespace kav::testing
