#include "simulator/service/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <vector>

#include "simulator/registry/registry_store.h"
#include "simulator/service/protocol.h"

namespace kav::service {

using protocol::MessageType;
using protocol::Status;

namespace {

// Fills the buffer; timeoutMs < 0 waits as long as it takes. False on end, failure or time-out.
bool ReceiveAll(int fd, std::uint8_t* data, std::size_t size, int timeoutMs) {
    while (size > 0) {
        if (timeoutMs >= 0) {
            pollfd waiting{fd, POLLIN, 0};
            const int ready = ::poll(&waiting, 1, timeoutMs);
            if (ready < 0 && errno == EINTR) continue;
            if (ready != 1) return false;
        }
        const ssize_t got = ::recv(fd, data, size, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        data += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

protocol::ReadOutcome OutcomeOf(ReadEnd end) {
    switch (end) {
        case ReadEnd::Report:
            return protocol::ReadOutcome::Report;
        case ReadEnd::TimedOut:
            return protocol::ReadOutcome::TimedOut;
        case ReadEnd::Cancelled:
            return protocol::ReadOutcome::Cancelled;
        case ReadEnd::Gone:
            break;
    }
    return protocol::ReadOutcome::Gone;
}

}  // namespace

class Server::Connection {
public:
    Connection(int fd, std::uint64_t id) : fd(fd), id(id) {}

    // False when the connection is closing, or has just been closed for letting too much
    // pile up.
    bool Enqueue(std::vector<std::uint8_t> message) {
        std::lock_guard lock(outMutex);
        if (closing) return false;
        if (queuedBytes + message.size() > kMaxQueuedBytes) {
            overflowed = true;
            closing = true;
            ::shutdown(fd, SHUT_RDWR);
            outChanged.notify_all();
            return false;
        }
        queuedBytes += message.size();
        out.push_back(std::move(message));
        outChanged.notify_all();
        return true;
    }

    // Sends until closed; what is queued at the close goes out if the socket takes it at once.
    void Write() {
        std::unique_lock lock(outMutex);
        for (;;) {
            outChanged.wait(lock, [this] { return closing || !out.empty(); });
            if (out.empty()) return;
            std::vector<std::uint8_t> message = std::move(out.front());
            out.pop_front();
            queuedBytes -= message.size();
            const bool draining = closing;
            lock.unlock();
            const bool sent = SendAll(message, draining);
            lock.lock();
            if (!sent) {
                closing = true;
                ::shutdown(fd, SHUT_RDWR);
                return;
            }
        }
    }

    void BeginClose() {
        std::lock_guard lock(outMutex);
        closing = true;
        outChanged.notify_all();
    }

    const int fd;
    const std::uint64_t id;
    std::thread writer;

    // Touched by the connection's own thread only.
    bool greeted = false;
    std::set<sim::HidHandle> handles;
    struct Registration {
        bool rawInput = false;
        std::vector<std::uint32_t> stackIds;
    };
    std::map<std::uint32_t, Registration> registrations;
    std::uint32_t nextRegistration = 1;

    std::mutex outMutex;
    std::condition_variable outChanged;
    std::deque<std::vector<std::uint8_t>> out;
    std::size_t queuedBytes = 0;
    bool closing = false;
    bool overflowed = false;

private:
    bool SendAll(const std::vector<std::uint8_t>& message, bool draining) {
        std::size_t at = 0;
        while (at < message.size()) {
            const ssize_t sent =
                ::send(fd, message.data() + at, message.size() - at, MSG_NOSIGNAL | (draining ? MSG_DONTWAIT : 0));
            if (sent < 0 && errno == EINTR) continue;
            if (sent <= 0) return false;
            at += static_cast<std::size_t>(sent);
        }
        return true;
    }
};

namespace {

// One request of a greeted client. Returns the reason to close the connection, or nothing.
class Dispatch {
public:
    Dispatch(ScreenService& service, std::shared_ptr<Server::Connection> connection, const protocol::Header& header,
             protocol::Reader& payload)
        : service_(service), connection_(std::move(connection)), header_(header), in_(payload) {}

    std::optional<std::string> Run();

private:
    std::optional<std::string> Malformed() { return "malformed " + std::to_string(static_cast<int>(header_.type)); }
    protocol::Writer Reply(Status status = Status::kOk) {
        return protocol::Writer({header_.requestId, header_.type, status});
    }
    void Send(protocol::Writer reply) { connection_->Enqueue(reply.Finish()); }
    // The client's own open handle, or 0.
    sim::HidHandle Own(std::uint32_t handle) const { return connection_->handles.contains(handle) ? handle : 0; }

    std::optional<std::string> OnHandle();
    std::optional<std::string> OnRead();
    std::optional<std::string> OnRegister();
    std::optional<std::string> OnQueryRegistry();

    ScreenService& service_;
    std::shared_ptr<Server::Connection> connection_;
    const protocol::Header& header_;
    protocol::Reader& in_;
};

std::optional<std::string> Dispatch::Run() {
    sim::HidStack& stack = service_.Stack();
    switch (header_.type) {
        case MessageType::ListInterfaces: {
            if (!in_.Done()) return Malformed();
            const std::vector<sim::HidInterfaceInfo> interfaces = stack.Interfaces();
            protocol::Writer reply = Reply();
            reply.U16(static_cast<std::uint16_t>(interfaces.size()));
            for (const sim::HidInterfaceInfo& i : interfaces) reply.String(i.path);
            Send(std::move(reply));
            return std::nullopt;
        }
        case MessageType::Open: {
            const std::u16string path = in_.String();
            if (!in_.Done()) return Malformed();
            const sim::HidHandle handle = path.empty() ? 0 : stack.Open(path);
            if (handle != 0) connection_->handles.insert(handle);
            Send(std::move(Reply(handle != 0 ? Status::kOk : Status::kFailed).U32(handle)));
            return std::nullopt;
        }
        case MessageType::Close:
        case MessageType::Attributes:
        case MessageType::GetString:
        case MessageType::GetFeature:
        case MessageType::SetFeature:
            return OnHandle();
        case MessageType::Read:
            return OnRead();
        case MessageType::CancelRead: {
            const std::uint32_t read = in_.U32();
            if (!in_.Done()) return Malformed();
            service_.CancelRead({connection_->id, read});
            Send(Reply());
            return std::nullopt;
        }
        case MessageType::RegisterRawInput:
        case MessageType::RegisterDeviceChange:
        case MessageType::Unregister:
            return OnRegister();
        case MessageType::QueryRegistry:
            return OnQueryRegistry();
        case MessageType::Control: {
            const std::string line = in_.Text();
            if (!in_.Done()) return Malformed();
            const ControlAnswer answer = service_.Control(line);
            Send(std::move(Reply(answer.ok ? Status::kOk : Status::kBadLine).Text(answer.text)));
            return std::nullopt;
        }
        default:
            return "unexpected message type " + std::to_string(static_cast<int>(header_.type));
    }
}

std::optional<std::string> Dispatch::OnHandle() {
    sim::HidStack& stack = service_.Stack();
    const sim::HidHandle handle = Own(in_.U32());
    switch (header_.type) {
        case MessageType::Close: {
            if (!in_.Done()) return Malformed();
            const bool closed = handle != 0 && stack.Close(handle);
            connection_->handles.erase(handle);
            service_.CompleteReads();  // its reads end
            Send(Reply(closed ? Status::kOk : Status::kFailed));
            return std::nullopt;
        }
        case MessageType::Attributes: {
            if (!in_.Done()) return Malformed();
            const auto attributes = handle != 0 ? stack.Attributes(handle) : std::nullopt;
            if (!attributes) {
                Send(Reply(Status::kFailed));
            } else {
                Send(std::move(
                    Reply().U16(attributes->vendorId).U16(attributes->productId).U16(attributes->versionNumber)));
            }
            return std::nullopt;
        }
        case MessageType::GetString: {
            const std::uint8_t which = in_.U8();
            if (!in_.Done() || which > 2) return Malformed();
            // The HID class's string IDs: manufacturer, product, serial number.
            const auto text = handle != 0 ? stack.String(handle, static_cast<std::uint16_t>(14 + which)) : std::nullopt;
            Send(text ? std::move(Reply().String(*text)) : Reply(Status::kFailed));
            return std::nullopt;
        }
        case MessageType::GetFeature: {
            std::vector<std::uint8_t> report = in_.Bytes();
            if (!in_.Done()) return Malformed();
            const bool ok = handle != 0 && !report.empty() && stack.GetFeature(handle, report);
            Send(ok ? std::move(Reply().Bytes(report)) : Reply(Status::kFailed));
            return std::nullopt;
        }
        default: {  // SetFeature
            const std::vector<std::uint8_t> report = in_.Bytes();
            if (!in_.Done()) return Malformed();
            const bool ok = handle != 0 && !report.empty() && stack.SetFeature(handle, report);
            Send(Reply(ok ? Status::kOk : Status::kFailed));
            return std::nullopt;
        }
    }
}

std::optional<std::string> Dispatch::OnRead() {
    const sim::HidHandle handle = Own(in_.U32());
    const std::uint32_t waitMs = in_.U32();
    const std::size_t length = in_.U16();
    if (!in_.Done()) return Malformed();
    if (handle == 0 || length == 0 || length > protocol::kMaxBlobBytes) {
        Send(std::move(Reply().U8(static_cast<std::uint8_t>(protocol::ReadOutcome::Gone)).Bytes({})));
        return std::nullopt;
    }
    std::weak_ptr<Server::Connection> weak = connection_;
    const std::uint32_t id = header_.requestId;
    service_.StartRead({connection_->id, id}, handle, waitMs, length,
                       [weak, id](ReadEnd end, std::vector<std::uint8_t> report) {
                           const std::shared_ptr<Server::Connection> connection = weak.lock();
                           if (!connection) return;
                           connection->Enqueue(protocol::Writer({id, MessageType::Read})
                                                   .U8(static_cast<std::uint8_t>(OutcomeOf(end)))
                                                   .Bytes(report)
                                                   .Finish());
                       });
    return std::nullopt;
}

std::optional<std::string> Dispatch::OnRegister() {
    sim::HidStack& stack = service_.Stack();
    Server::Connection& connection = *connection_;
    if (header_.type == MessageType::Unregister) {
        const std::uint32_t registration = in_.U32();
        if (!in_.Done()) return Malformed();
        const auto it = connection.registrations.find(registration);
        if (it == connection.registrations.end()) {
            Send(Reply(Status::kFailed));
            return std::nullopt;
        }
        for (std::uint32_t stackId : it->second.stackIds)
            it->second.rawInput ? stack.UnregisterRawInput(stackId) : stack.UnregisterDeviceChange(stackId);
        connection.registrations.erase(it);
        Send(Reply());
        return std::nullopt;
    }
    std::weak_ptr<Server::Connection> weak = connection_;
    const std::uint32_t registration = connection.nextRegistration++;
    Server::Connection::Registration made;
    if (header_.type == MessageType::RegisterDeviceChange) {
        if (!in_.Done()) return Malformed();
        made.stackIds.push_back(
            stack.RegisterDeviceChange([weak, registration](sim::DeviceChange change, const std::u16string& path) {
                if (const auto c = weak.lock())
                    c->Enqueue(protocol::Writer({0, MessageType::DeviceChangeEvent})
                                   .U32(registration)
                                   .U32(static_cast<std::uint32_t>(change))
                                   .String(path)
                                   .Finish());
            }));
    } else {
        made.rawInput = true;
        const std::size_t count = in_.U16();
        std::vector<std::pair<std::uint16_t, std::uint16_t>> usages;
        for (std::size_t i = 0; i < count && in_.Ok() && count <= protocol::kMaxRawInputUsages; ++i) {
            const std::uint16_t page = in_.U16();
            usages.emplace_back(page, in_.U16());
        }
        if (!in_.Done() || count == 0 || count > protocol::kMaxRawInputUsages) return Malformed();
        for (const auto& [page, usage] : usages) {
            made.stackIds.push_back(
                stack.RegisterRawInput(page, usage, [weak, registration](const sim::RawInputEvent& event) {
                    const auto kind = event.type == sim::RawInputEvent::Type::Mouse ? protocol::RawInputKind::Mouse
                                      : event.type == sim::RawInputEvent::Type::Keyboard
                                          ? protocol::RawInputKind::Keyboard
                                          : protocol::RawInputKind::Hid;
                    if (const auto c = weak.lock())
                        c->Enqueue(protocol::Writer({0, MessageType::RawInputEvent})
                                       .U32(registration)
                                       .U8(static_cast<std::uint8_t>(kind))
                                       .String(event.deviceName)
                                       .Bytes(event.report)
                                       .Finish());
                }));
        }
    }
    connection.registrations[registration] = std::move(made);
    Send(std::move(Reply().U32(registration)));
    return std::nullopt;
}

std::optional<std::string> Dispatch::OnQueryRegistry() {
    const std::uint8_t root = in_.U8();
    const std::u16string key = in_.String();
    const std::size_t count = in_.U16();
    std::vector<std::u16string> names;
    for (std::size_t i = 0; i < count && in_.Ok() && count <= protocol::kMaxRegistryNames; ++i)
        names.push_back(in_.String());
    if (!in_.Done() || root > 1 || count > protocol::kMaxRegistryNames) return Malformed();
    const sim::RegistryStore& store = service_.Registry();
    const std::u16string path =
        sim::RootedKeyPath(root == static_cast<std::uint8_t>(protocol::RegistryRootId::LocalMachine), key);
    const bool opened = sim::RegistryStore::IsValidKeyPath(path) && store.KeyExists(path);
    protocol::Writer reply = Reply();
    reply.U8(opened ? 1 : 0);
    if (opened) {
        for (const std::u16string& name : names) {
            std::optional<sim::RegistryValue> value;
            if (sim::RegistryStore::IsValidValueName(name)) value = store.GetValue(path, name);
            const sim::RegistryBytes data = value ? sim::ToRegistryBytes(*value) : sim::RegistryBytes{};
            reply.U8(value ? 1 : 0).U32(data.type).Bytes(data.bytes);
        }
    }
    Send(std::move(reply));
    return std::nullopt;
}

}  // namespace

Server::Server(ScreenService& service, std::ostream& log) : service_(service), log_(log) {}

Server::~Server() {
    Stop();
}

void Server::Log(const std::string& line) {
    std::lock_guard lock(logMutex_);
    log_ << "kavsim serve: " << line << std::endl;
}

bool Server::Listen(std::uint16_t port, std::string* error) {
    auto fail = [&](const char* what) {
        if (error != nullptr) *error = std::string(what) + ": " + std::strerror(errno);
        if (listener_ >= 0) ::close(listener_);
        listener_ = -1;
        return false;
    };
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) return fail("cannot make a socket");
    const int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return fail(("cannot listen on 127.0.0.1:" + std::to_string(port)).c_str());
    if (::listen(listener_, SOMAXCONN) != 0) return fail("cannot listen");
    socklen_t size = sizeof address;
    if (::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) return fail("no local address");
    port_ = ntohs(address.sin_port);
    if (::pipe2(wakePipe_, O_CLOEXEC) != 0) return fail("cannot make a pipe");
    acceptor_ = std::thread([this] { Accept(); });
    return true;
}

void Server::Accept() {
    for (;;) {
        pollfd waiting[2] = {{listener_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (::poll(waiting, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (waiting[1].revents != 0) return;
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::lock_guard lock(connectionsMutex_);
        if (stopping_ || connections_.size() >= kMaxConnections) {
            ::close(fd);
            if (!stopping_) Log("too many clients; a new connection was closed");
            continue;
        }
        auto connection = std::make_shared<Connection>(fd, nextConnection_++);
        connections_.insert(connection);
        std::thread([this, connection] { Serve(connection); }).detach();
    }
}

void Server::Serve(std::shared_ptr<Connection> connection) {
    connection->writer = std::thread([connection] { connection->Write(); });
    std::string reason;
    for (;;) {
        std::array<std::uint8_t, protocol::kLengthFieldBytes> field;
        if (!ReceiveAll(connection->fd, field.data(), field.size(), -1)) break;  // gone
        const std::optional<std::size_t> length = protocol::BodyLength(field);
        if (!length) {
            const unsigned claimed =
                field[0] | (field[1] << 8) | (field[2] << 16) | (static_cast<unsigned>(field[3]) << 24);
            reason = "a message of " + std::to_string(claimed) + " bytes is outside 8.." +
                     std::to_string(protocol::kMaxMessageLength);
            break;
        }
        std::vector<std::uint8_t> body(*length);
        if (!ReceiveAll(connection->fd, body.data(), body.size(), kMessageTimeoutMs)) {
            reason = "a message ended before its length";
            break;
        }
        protocol::Reader in(body);
        const protocol::Header header = *in.ReadHeader();  // 8 bytes are there
        if (!connection->greeted) {
            const std::uint32_t magic = in.U32();
            const std::uint16_t version = in.U16();
            if (header.type != MessageType::Hello || !in.Done() || magic != protocol::kMagic) {
                reason = "the first message is not a greeting";
                break;
            }
            const bool same = version == protocol::kVersion;
            connection->Enqueue(
                protocol::Writer({header.requestId, MessageType::Hello, same ? Status::kOk : Status::kVersionMismatch})
                    .U32(protocol::kMagic)
                    .U16(protocol::kVersion)
                    .Finish());
            if (!same) {
                reason =
                    "protocol version " + std::to_string(version) + " is not " + std::to_string(protocol::kVersion);
                break;
            }
            connection->greeted = true;
            continue;
        }
        if (header.requestId == 0 || header.type == MessageType::Hello) {
            reason = "a request without an ID, or a second greeting";
            break;
        }
        if (std::optional<std::string> fault = Dispatch(service_, connection, header, in).Run()) {
            reason = *fault;
            break;
        }
    }
    {
        std::lock_guard lock(connection->outMutex);
        if (connection->overflowed) reason = "the client does not read what it is sent";
    }
    if (!reason.empty()) Log("client " + std::to_string(connection->id) + ": " + reason + "; connection closed");

    // What the client had goes with it; nothing else does.
    service_.CancelReadsOf(connection->id);
    sim::HidStack& stack = service_.Stack();
    for (sim::HidHandle handle : connection->handles) stack.Close(handle);
    for (const auto& [id, registration] : connection->registrations)
        for (std::uint32_t stackId : registration.stackIds)
            registration.rawInput ? stack.UnregisterRawInput(stackId) : stack.UnregisterDeviceChange(stackId);
    connection->BeginClose();
    connection->writer.join();
    ::shutdown(connection->fd, SHUT_RDWR);
    ::close(connection->fd);

    std::lock_guard lock(connectionsMutex_);
    connections_.erase(connection);
    connectionsChanged_.notify_all();
}

void Server::Stop() {
    {
        std::lock_guard lock(connectionsMutex_);
        if (stopping_) return;
        stopping_ = true;
    }
    if (acceptor_.joinable()) {
        const char wake = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakePipe_[1], &wake, 1);
        acceptor_.join();
    }
    std::unique_lock lock(connectionsMutex_);
    for (const auto& connection : connections_) ::shutdown(connection->fd, SHUT_RD);
    connectionsChanged_.wait(lock, [this] { return connections_.empty(); });
    lock.unlock();
    for (int* fd : {&listener_, &wakePipe_[0], &wakePipe_[1]}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

}  // namespace kav::service
