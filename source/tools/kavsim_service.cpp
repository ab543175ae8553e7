// kavsim serve and kavsim send: the simulated screens as a service, and a line to them.
#include <cstdlib>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "kavsim_app.h"

#ifndef _WIN32
#include <pthread.h>
#include <signal.h>

#include <csignal>
#include <ctime>
#include <iostream>

#include "devicelib/platform/remote/connection.h"
#include "devicelib/platform/remote/remote_platform.h"
#include "simulator/registry/registry_store.h"
#include "simulator/service/protocol.h"
#include "simulator/service/screen_service.h"
#include "simulator/service/server.h"
#endif

namespace kav::tools {

#ifndef _WIN32

namespace {

namespace protocol = service::protocol;

void ServeUsage(std::ostream& out) {
    out << "usage: kavsim serve [--port N] [--fps N] [--screens N] [--registry FILE] [SCENARIO]\n"
           "Runs simulated touch screens with KavUSB under the virtual HID stack on real time and\n"
           "serves them on 127.0.0.1 to KavLib's clients (KAVLIB_PLATFORM=sim, KAVLIB_SIM=PORT),\n"
           "until 'kavsim send quit', SIGINT or SIGTERM.\n"
           "  --port N         the port (default "
        << protocol::kDefaultPort
        << "; 0 picks a free one)\n"
           "  --fps N          frames per second (default the scenario's, 100)\n"
           "  --screens N      screens plugged in at the start, 1 to 8 (default 1)\n"
           "  --registry FILE  driver parameters from a registry text file\n"
           "  SCENARIO         the screens' settings; its timed lines play on screen 1 at the start\n"
           "Prints 'listening on 127.0.0.1:N' once it takes connections.\n";
}

void SendUsage(std::ostream& out) {
    out << "usage: kavsim send [--address HOST:PORT] LINE\n"
           "Sends one line (its words quoted or not) to a running 'kavsim serve' and prints the\n"
           "answer; a refused line ends with exit code 1. The address\n"
           "defaults to KAVLIB_SIM, else 127.0.0.1:"
        << protocol::kDefaultPort
        << ". Lines are the timed lines of a scenario\n"
           "without their time (tap 200 150, drag 10 10 300 200 ms=400, button 2, workmode F4),\n"
           "down N X Y / move N X Y / up N for contact N, P% for a fraction of the screen,\n"
           "screen=S, unplug [S], replug [S], add-screen, screens and quit.\n";
}

std::optional<long> WholeNumber(const std::string& text, long low, long high) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < low || value > high) return std::nullopt;
    return value;
}

struct ServeOptions {
    long port = protocol::kDefaultPort;
    std::optional<long> fps;
    long screens = 1;
    std::optional<std::string> registryFile, scenarioFile;
};

// The options, or the exit code when there is nothing to serve.
std::variant<ServeOptions, int> ParseServeOptions(const std::vector<std::string>& args, std::ostream& out,
                                                  std::ostream& err) {
    ServeOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            ServeUsage(out);
            return 0;
        }
        const bool valued = a == "--port" || a == "--fps" || a == "--screens" || a == "--registry";
        if (valued && i + 1 >= args.size()) {
            err << "kavsim serve: " << a << " needs a value\n";
            return 2;
        }
        std::optional<long> number;
        if (a == "--port") {
            if (!(number = WholeNumber(args[++i], 0, 65535))) err << "kavsim serve: the port must be 0 to 65535\n";
            o.port = number.value_or(0);
        } else if (a == "--fps") {
            if (!(number = WholeNumber(args[++i], 1, 1000))) err << "kavsim serve: fps must be 1 to 1000\n";
            o.fps = number;
        } else if (a == "--screens") {
            if (!(number = WholeNumber(args[++i], 1, 8))) err << "kavsim serve: screens must be 1 to 8\n";
            o.screens = number.value_or(1);
        } else if (a == "--registry") {
            o.registryFile = args[++i];
            continue;
        } else if (a.size() > 1 && a[0] == '-') {
            err << "kavsim serve: unknown option '" << a << "'\n";
            ServeUsage(err);
            return 2;
        } else if (o.scenarioFile) {
            err << "kavsim serve: one scenario at a time\n";
            return 2;
        } else {
            o.scenarioFile = a;
            continue;
        }
        if (!number) return 2;
    }
    return o;
}

// Until quit, SIGINT or SIGTERM. The signals are blocked in every thread and taken here.
void WaitForTheEnd(service::ScreenService& screens, const sigset_t& signals) {
    const timespec slice{0, 100'000'000};
    while (!screens.QuitRequested()) {
        if (sigtimedwait(&signals, nullptr, &slice) > 0) return;
    }
}

}  // namespace

int RunServe(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const auto parsed = ParseServeOptions(args, out, err);
    if (const int* exitCode = std::get_if<int>(&parsed)) return *exitCode;
    const ServeOptions& o = std::get<ServeOptions>(parsed);

    service::ServiceOptions options;
    sim::RegistryStore registry;
    try {
        if (o.scenarioFile) options.scenario = sim::LoadScenario(*o.scenarioFile);
        if (o.registryFile) registry.LoadFile(*o.registryFile);
    } catch (const std::exception& e) {
        err << "kavsim serve: " << e.what() << "\n";
        return 1;
    }
    if (o.fps) options.fps = static_cast<double>(*o.fps);
    options.registry = o.registryFile ? &registry : nullptr;
    options.screens = static_cast<int>(o.screens);

    // Before any thread starts, so that every thread inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    service::ScreenService screens(std::move(options));
    std::string error;
    if (!screens.Start(&error)) {
        err << "kavsim serve: " << error << "\n";
        return 1;
    }
    service::Server server(screens, err);
    if (!server.Listen(static_cast<std::uint16_t>(o.port), &error)) {
        err << "kavsim serve: " << error << "\n";
        return 1;
    }
    out << "listening on 127.0.0.1:" << server.Port() << std::endl;
    WaitForTheEnd(screens, signals);
    server.Stop();
    out << "stopped" << std::endl;
    return 0;
}

namespace {

std::string AddressText(const platform::remote::ServiceAddress& address) {
    return std::to_string(address.ipv4 >> 24) + "." + std::to_string((address.ipv4 >> 16) & 255) + "." +
           std::to_string((address.ipv4 >> 8) & 255) + "." + std::to_string(address.ipv4 & 255) + ":" +
           std::to_string(address.port);
}

}  // namespace

int RunSend(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    platform::remote::ServiceAddress address = platform::remote::ServiceAddressFromEnvironment();
    // The words of one line, quoted or not: kavsim send tap 200 150 means what it says.
    std::string line;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            SendUsage(out);
            return 0;
        }
        if (args[i] == "--address") {
            const auto given = i + 1 < args.size() ? platform::remote::ParseServiceAddress(args[++i]) : std::nullopt;
            if (!given) {
                err << "kavsim send: --address needs HOST:PORT, HOST or PORT\n";
                return 2;
            }
            address = *given;
        } else {
            line += (line.empty() ? "" : " ") + args[i];
        }
    }
    if (line.empty()) {
        err << "kavsim send: no line to send\n";
        SendUsage(err);
        return 2;
    }
    const auto connection = platform::remote::ServiceConnection::Open(address.ipv4, address.port, nullptr);
    if (!connection) {
        err << "kavsim send: no service at " << AddressText(address) << " (start one with 'kavsim serve')\n";
        return 1;
    }
    const std::uint32_t id = connection->NewRequestId();
    const auto reply = connection->Call(protocol::Writer({id, protocol::MessageType::Control}).Text(line).Finish(), id);
    if (!reply) {
        err << "kavsim send: the service at " << AddressText(address) << " did not answer\n";
        return 1;
    }
    const std::string answer = reply->Payload().Text();
    if (reply->header.status != protocol::Status::kOk) {
        err << "kavsim send: " << answer << "\n";
        return 1;
    }
    out << answer << "\n";
    return 0;
}

#else

// The service needs the simulator, which Windows builds keep out of their programs' way.
int RunServe(const std::vector<std::string>&, std::ostream&, std::ostream& err) {
    err << "kavsim serve: runs on the development host only\n";
    return 2;
}

int RunSend(const std::vector<std::string>&, std::ostream&, std::ostream& err) {
    err << "kavsim send: runs on the development host only\n";
    return 2;
}

#endif

}  // namespace kav::tools
