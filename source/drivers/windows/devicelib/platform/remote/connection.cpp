#include "devicelib/platform/remote/connection.h"

#include <array>
#include <chrono>

namespace kav::platform::remote {

namespace protocol = service::protocol;

std::unique_ptr<ServiceConnection> ServiceConnection::Open(std::uint32_t address, std::uint16_t port, EventSink events,
                                                           std::uint32_t timeoutMs) {
    std::unique_ptr<Socket> socket = Socket::Connect(address, port, timeoutMs);
    if (socket == nullptr) return nullptr;
    std::unique_ptr<ServiceConnection> connection(new ServiceConnection(std::move(socket), std::move(events)));
    if (!connection->Handshake(timeoutMs)) return nullptr;
    return connection;
}

ServiceConnection::ServiceConnection(std::unique_ptr<Socket> socket, EventSink events)
    : socket_(std::move(socket)), events_(std::move(events)) {
    receiver_ = std::thread([this] { Receive(); });
}

ServiceConnection::~ServiceConnection() {
    Close();
    receiver_.join();
}

std::uint32_t ServiceConnection::NewRequestId() {
    for (;;) {
        const std::uint32_t id = nextId_.fetch_add(1);
        if (id != 0) return id;
    }
}

bool ServiceConnection::Handshake(std::uint32_t timeoutMs) {
    const std::uint32_t id = NewRequestId();
    std::vector<std::uint8_t> hello =
        protocol::Writer({id, protocol::MessageType::Hello}).U32(protocol::kMagic).U16(protocol::kVersion).Finish();
    const std::optional<Message> reply = Call(std::move(hello), id, timeoutMs);
    if (!reply || reply->header.type != protocol::MessageType::Hello || reply->header.status != protocol::Status::kOk)
        return false;
    protocol::Reader payload = reply->Payload();
    const std::uint32_t magic = payload.U32();
    const std::uint16_t version = payload.U16();
    return payload.Ok() && magic == protocol::kMagic && version == protocol::kVersion;
}

void ServiceConnection::Receive() {
    for (;;) {
        std::array<std::uint8_t, protocol::kLengthFieldBytes> field;
        if (!socket_->Receive(field)) break;
        const std::optional<std::size_t> length = protocol::BodyLength(field);
        if (!length) break;  // a service that breaks the protocol is not to be trusted further
        std::vector<std::uint8_t> body(*length);
        if (!socket_->Receive(body)) break;
        protocol::Reader reader(body);
        const std::optional<protocol::Header> header = reader.ReadHeader();
        if (!header) break;
        Message message{*header, std::vector<std::uint8_t>(body.begin() + protocol::kHeaderBytes, body.end())};
        if (header->requestId == 0) {
            if (events_) events_(std::move(message));
            continue;
        }
        std::lock_guard lock(mutex_);
        const auto slot = waiting_.find(header->requestId);
        if (slot == waiting_.end()) continue;  // a reply nobody waits for any more
        slot->second = std::move(message);
        changed_.notify_all();
    }
    std::lock_guard lock(mutex_);
    open_ = false;
    changed_.notify_all();
}

void ServiceConnection::Expect(std::uint32_t requestId) {
    std::lock_guard lock(mutex_);
    waiting_[requestId] = std::nullopt;
}

bool ServiceConnection::Send(const std::vector<std::uint8_t>& message) {
    if (!open_) return false;
    std::lock_guard lock(sendMutex_);
    if (socket_->Send(message)) return true;
    Close();
    return false;
}

ServiceConnection::Outcome ServiceConnection::Await(std::uint32_t requestId, std::uint32_t timeoutMs,
                                                    const std::function<bool()>& stop, Message* reply) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock lock(mutex_);
    for (;;) {
        const auto slot = waiting_.find(requestId);
        if (slot != waiting_.end() && slot->second) {
            *reply = std::move(*slot->second);
            waiting_.erase(slot);
            return Outcome::Replied;
        }
        if (!open_) return Outcome::Closed;
        if (stop && stop()) return Outcome::Stopped;
        if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
            const auto late = waiting_.find(requestId);
            if (late != waiting_.end() && late->second) continue;
            return Outcome::TimedOut;
        }
    }
}

void ServiceConnection::Forget(std::uint32_t requestId) {
    std::lock_guard lock(mutex_);
    waiting_.erase(requestId);
}

void ServiceConnection::Wake() {
    std::lock_guard lock(mutex_);
    changed_.notify_all();
}

std::optional<Message> ServiceConnection::Call(std::vector<std::uint8_t> message, std::uint32_t requestId,
                                               std::uint32_t timeoutMs) {
    Expect(requestId);
    Message reply;
    if (Send(message) && Await(requestId, timeoutMs, nullptr, &reply) == Outcome::Replied) return reply;
    Forget(requestId);
    // A request the service never answered leaves the two sides out of step.
    if (open_) Close();
    return std::nullopt;
}

void ServiceConnection::Close() {
    if (open_.exchange(false)) socket_->Shutdown();
    Wake();
}

}  // namespace kav::platform::remote
