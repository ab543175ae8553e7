// One connection to the simulated screen service: the handshake, requests matched to their
// replies by request ID, and events handed to a sink.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "devicelib/platform/remote/socket.h"
#include "simulator/service/protocol.h"

namespace kav::platform::remote {

struct Message {
    service::protocol::Header header;
    std::vector<std::uint8_t> body;  // the payload, after the header

    service::protocol::Reader Payload() const { return service::protocol::Reader(body); }
};

constexpr std::uint32_t kConnectTimeoutMs = 1000;
// How long a request may take in the service before the client gives up on it: feature
// requests pass through the driver, which answers at once in the simulation.
constexpr std::uint32_t kCallTimeoutMs = 5000;

class ServiceConnection {
public:
    // Events run on the connection's receiving thread and must not block.
    using EventSink = std::function<void(Message)>;

    // Connects and shakes hands; nullptr when no service answers in time or it speaks
    // another version.
    static std::unique_ptr<ServiceConnection> Open(std::uint32_t address, std::uint16_t port, EventSink events,
                                                   std::uint32_t timeoutMs = kConnectTimeoutMs);
    ServiceConnection(const ServiceConnection&) = delete;
    ServiceConnection& operator=(const ServiceConnection&) = delete;
    ~ServiceConnection();

    bool IsOpen() const { return open_; }
    // Never 0, which marks events.
    std::uint32_t NewRequestId();

    // Sends a request and waits for its reply. nullopt when the connection fails, or when
    // no reply comes in timeoutMs: the service is then stuck and the connection is closed.
    std::optional<Message> Call(std::vector<std::uint8_t> message, std::uint32_t requestId,
                                std::uint32_t timeoutMs = kCallTimeoutMs);

    // For requests that wait on the service's side: Expect, Send, then Await as often as
    // needed; Forget drops a reply that is no longer wanted.
    enum class Outcome { Replied, TimedOut, Stopped, Closed };
    void Expect(std::uint32_t requestId);
    bool Send(const std::vector<std::uint8_t>& message);
    // stop is checked whenever Wake is called.
    Outcome Await(std::uint32_t requestId, std::uint32_t timeoutMs, const std::function<bool()>& stop, Message* reply);
    void Forget(std::uint32_t requestId);
    void Wake();

    void Close();

private:
    ServiceConnection(std::unique_ptr<Socket> socket, EventSink events);
    bool Handshake(std::uint32_t timeoutMs);
    void Receive();

    std::unique_ptr<Socket> socket_;
    EventSink events_;
    std::atomic<bool> open_{true};
    std::atomic<std::uint32_t> nextId_{1};
    std::mutex sendMutex_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::uint32_t, std::optional<Message>> waiting_;  // by request ID
    std::thread receiver_;
};

}  // namespace kav::platform::remote
