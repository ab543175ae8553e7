// The benchmarks' simulated screen service on a loopback port of its own, with a remote
// platform client that has the first touch collection open and a control channel for
// scenario lines.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "devicelib/platform/remote/connection.h"
#include "devicelib/platform/remote/remote_platform.h"
#include "simulator/service/protocol.h"
#include "simulator/service/screen_service.h"
#include "simulator/service/server.h"

namespace kav::bench {

constexpr std::uint32_t kLoopback = 0x7F000001;

struct LoopbackService {
    LoopbackService() : screens(service::ServiceOptions{}), server(screens, log) {
        std::string error;
        if (!screens.Start(&error) || !server.Listen(0, &error)) throw std::runtime_error(error);
        platform = platform::remote::MakeRemotePlatform({kLoopback, server.Port()});
        for (const std::u16string& path : platform->EnumerateHidInterfaces().value_or(std::vector<std::u16string>{}))
            if (std::string(path.begin(), path.end()).find("col01") != std::string::npos)
                handle = platform->OpenHid(path, true);
        control = platform::remote::ServiceConnection::Open(kLoopback, server.Port(), nullptr);
    }
    ~LoopbackService() {
        platform->Close(handle);
        control.reset();
        platform.reset();
    }
    LoopbackService(const LoopbackService&) = delete;
    LoopbackService& operator=(const LoopbackService&) = delete;

    // A scenario line such as "tap 200 150"; false when the service refused it.
    bool Control(const std::string& line) {
        const std::uint32_t id = control->NewRequestId();
        const auto reply = control->Call(
            service::protocol::Writer({id, service::protocol::MessageType::Control}).Text(line).Finish(), id);
        return reply && reply->header.status == service::protocol::Status::kOk;
    }

    service::ScreenService screens;
    std::ostringstream log;
    service::Server server;
    std::unique_ptr<platform::Platform> platform;
    platform::Handle handle = platform::kInvalidHandle;
    std::unique_ptr<platform::remote::ServiceConnection> control;
};

// The sample below which `fraction` of the samples lie; the samples must not be empty.
inline double Percentile(std::vector<double> samples, double fraction) {
    std::sort(samples.begin(), samples.end());
    return samples[std::min(samples.size() - 1, static_cast<std::size_t>(fraction * samples.size()))];
}

}  // namespace kav::bench
