// The loopback server of `kavsim serve`: many clients at once, each with handles and
// registrations of its own, over the protocol of protocol.h. A client that breaks the
// protocol loses its connection (with a line in the log) and nothing else.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <thread>

#include "simulator/service/screen_service.h"

namespace kav::service {

// Far more than a test or a desktop opens; beyond it a new connection is closed at once.
constexpr std::size_t kMaxConnections = 128;
// A client that stops reading while the service has this much for it loses the connection
// rather than stall the frames.
constexpr std::size_t kMaxQueuedBytes = 4 * 1024 * 1024;
// Once a message has begun, the rest must follow within this time.
constexpr int kMessageTimeoutMs = 10000;

class Server {
public:
    // The log takes one line per event worth a person's attention; it is written under a
    // lock of the server's own.
    Server(ScreenService& service, std::ostream& log);
    ~Server();  // Stop()
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Listens on 127.0.0.1 (port 0: a free one) and starts accepting; false with the reason.
    bool Listen(std::uint16_t port, std::string* error);
    std::uint16_t Port() const { return port_; }

    // Closes the listener and every connection, and waits for their threads.
    void Stop();

    class Connection;

    void Log(const std::string& line);

private:
    void Accept();
    void Serve(std::shared_ptr<Connection> connection);

    ScreenService& service_;
    std::ostream& log_;
    std::mutex logMutex_;
    int listener_ = -1;
    int wakePipe_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::thread acceptor_;

    std::mutex connectionsMutex_;
    std::condition_variable connectionsChanged_;
    std::set<std::shared_ptr<Connection>> connections_;
    std::uint64_t nextConnection_ = 1;
    bool stopping_ = false;
};

}  // namespace kav::service
