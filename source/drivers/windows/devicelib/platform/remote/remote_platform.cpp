#include "devicelib/platform/remote/remote_platform.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "devicelib/platform/remote/connection.h"
#include "shared/hid_reports.h"

namespace kav::platform::remote {

namespace protocol = service::protocol;
using protocol::MessageType;
using protocol::Status;

namespace {

// Tagged like the in-process simulation's handles, with a tag of their own, so that no
// handle of one is taken for the other's.
constexpr unsigned kTagShift = std::numeric_limits<std::uintptr_t>::digits - 8;
constexpr std::uintptr_t kTag = std::uintptr_t{0xA6} << kTagShift;
constexpr std::uintptr_t kSerialMask = (std::uintptr_t{1} << kTagShift) - 1;

// A read waits in the service for its own wait; the client allows it this much more for
// the round trip before it reports the read still pending.
constexpr std::uint32_t kReadGraceMs = 1000;

bool IsRemoteHandle(Handle handle) {
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    return (value & ~kSerialMask) == kTag && (value & kSerialMask) != 0;
}

std::optional<std::uint32_t> ParseIpv4(std::string_view text) {
    if (text == "localhost") return 0x7F000001;
    std::uint32_t address = 0;
    int parts = 0;
    while (parts < 4) {
        std::size_t digits = 0;
        unsigned value = 0;
        while (digits < text.size() && digits < 4 && text[digits] >= '0' && text[digits] <= '9')
            value = value * 10 + static_cast<unsigned>(text[digits++] - '0');
        if (digits == 0 || digits > 3 || value > 255) return std::nullopt;
        address = (address << 8) | value;
        text.remove_prefix(digits);
        if (++parts < 4) {
            if (text.empty() || text[0] != '.') return std::nullopt;
            text.remove_prefix(1);
        }
    }
    if (!text.empty()) return std::nullopt;
    return address;
}

std::optional<std::uint16_t> ParsePort(std::string_view text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

struct OpenHandle {
    std::weak_ptr<ServiceConnection> connection;
    std::uint32_t remote = 0;
};

// A registration's callback, closed by the registration's end while the delivery thread
// may be calling it.
struct Gate {
    std::mutex mutex;  // held while the callback runs
    bool open = true;
    RawInputCallback rawInput;
    DeviceChangeCallback deviceChange;
    MouseButtonTracker mouseButtons;
};

}  // namespace

class RemotePlatform;

namespace {

class RemoteReader final : public InputReader {
public:
    RemoteReader(std::shared_ptr<ServiceConnection> connection, std::uint32_t remote, std::size_t reportLength)
        : connection_(std::move(connection)), remote_(remote), reportLength_(reportLength) {}

    ~RemoteReader() override { Abandon(); }

    ReadResult Read(std::span<uint8_t> buffer, uint32_t waitMs) override {
        if (cancelled_.exchange(false)) {
            Abandon();
            return {ReadStatus::Cancelled, 0};
        }
        if (!connection_->IsOpen()) return {ReadStatus::Failed, 0};
        if (pending_ == 0) {
            pending_ = connection_->NewRequestId();
            connection_->Expect(pending_);
            const auto length = static_cast<std::uint16_t>(std::min<std::size_t>(reportLength_, 0xFFFF));
            if (!connection_->Send(
                    protocol::Writer({pending_, MessageType::Read}).U32(remote_).U32(waitMs).U16(length).Finish())) {
                connection_->Forget(std::exchange(pending_, 0));
                return {ReadStatus::Failed, 0};
            }
        }
        Message reply;
        const auto waitLimit = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(std::uint64_t{waitMs} + kReadGraceMs, std::numeric_limits<std::uint32_t>::max()));
        switch (connection_->Await(
            pending_, waitLimit, [this] { return cancelled_.load(); }, &reply)) {
            case ServiceConnection::Outcome::TimedOut:
                return {ReadStatus::TimedOut, 0};
            case ServiceConnection::Outcome::Stopped:
                cancelled_ = false;
                Abandon();
                return {ReadStatus::Cancelled, 0};
            case ServiceConnection::Outcome::Closed:
                connection_->Forget(std::exchange(pending_, 0));
                return {ReadStatus::Failed, 0};
            case ServiceConnection::Outcome::Replied:
                break;
        }
        pending_ = 0;
        protocol::Reader payload = reply.Payload();
        const auto outcome = static_cast<protocol::ReadOutcome>(payload.U8());
        const std::vector<std::uint8_t> report = payload.Bytes();
        if (!payload.Ok() || reply.header.status != Status::kOk) return {ReadStatus::Failed, 0};
        switch (outcome) {
            case protocol::ReadOutcome::Report: {
                const std::size_t length = std::min({report.size(), buffer.size(), reportLength_});
                std::copy_n(report.begin(), length, buffer.begin());
                return {ReadStatus::Report, length};
            }
            case protocol::ReadOutcome::TimedOut:
                return {ReadStatus::TimedOut, 0};
            case protocol::ReadOutcome::Cancelled:
                return {ReadStatus::Cancelled, 0};
            case protocol::ReadOutcome::Gone:
                break;
        }
        return {ReadStatus::Failed, 0};
    }

    void Cancel() override {
        cancelled_ = true;
        connection_->Wake();
    }

private:
    // Ends the read pending in the service, if any; its reply is no longer wanted.
    void Abandon() {
        if (pending_ == 0) return;
        const std::uint32_t read = std::exchange(pending_, 0);
        connection_->Forget(read);
        connection_->Send(protocol::Writer({connection_->NewRequestId(), MessageType::CancelRead}).U32(read).Finish());
    }

    std::shared_ptr<ServiceConnection> connection_;
    std::uint32_t remote_;
    std::size_t reportLength_;
    std::uint32_t pending_ = 0;  // the Read request in the service
    std::atomic<bool> cancelled_{false};
};

class RemoteRegistration final : public Registration {
public:
    RemoteRegistration(std::weak_ptr<ServiceConnection> connection, std::uint32_t remote, std::shared_ptr<Gate> gate,
                       std::function<void()> forget)
        : connection_(std::move(connection)), remote_(remote), gate_(std::move(gate)), forget_(std::move(forget)) {}

    ~RemoteRegistration() override {
        if (const std::shared_ptr<ServiceConnection> connection = connection_.lock();
            connection && connection->IsOpen()) {
            const std::uint32_t id = connection->NewRequestId();
            connection->Call(protocol::Writer({id, MessageType::Unregister}).U32(remote_).Finish(), id);
        }
        {
            std::lock_guard hold(gate_->mutex);
            gate_->open = false;
        }
        forget_();
    }

private:
    std::weak_ptr<ServiceConnection> connection_;
    std::uint32_t remote_;
    std::shared_ptr<Gate> gate_;
    std::function<void()> forget_;
};

}  // namespace

class RemotePlatform final : public Platform {
public:
    explicit RemotePlatform(const ServiceAddress& address) : address_(address) {}

    ~RemotePlatform() override {
        {
            std::lock_guard lock(eventMutex_);
            stopping_ = true;
            eventsChanged_.notify_all();
        }
        if (delivery_.joinable()) delivery_.join();
        std::shared_ptr<ServiceConnection> connection;
        {
            std::lock_guard lock(connectMutex_);
            connection = std::move(connection_);
        }
        // Joins its receiver, which posts to this platform, unless a reader still holds it.
        if (connection) connection->Close();
        connection.reset();
    }

    std::optional<std::vector<std::u16string>> EnumerateHidInterfaces() override {
        std::vector<std::u16string> paths;
        const std::optional<Message> reply = Call(protocol::Writer({0, MessageType::ListInterfaces}));
        // No service is a machine without simulated screens, not a failed device list.
        if (!reply || reply->header.status != Status::kOk) return paths;
        protocol::Reader payload = reply->Payload();
        const std::size_t count = payload.U16();
        for (std::size_t i = 0; i < count && payload.Ok(); ++i) paths.push_back(payload.String());
        if (!payload.Ok()) paths.clear();
        return paths;
    }

    Handle OpenHid(std::u16string_view path, bool) override {
        if (path.empty() || path.find(u'\0') != std::u16string_view::npos || path.size() > protocol::kMaxStringUnits)
            return kInvalidHandle;
        std::shared_ptr<ServiceConnection> connection;
        const std::optional<Message> reply = Call(protocol::Writer({0, MessageType::Open}).String(path), &connection);
        if (!reply || reply->header.status != Status::kOk) return kInvalidHandle;
        protocol::Reader payload = reply->Payload();
        const std::uint32_t remote = payload.U32();
        if (!payload.Ok() || remote == 0) return kInvalidHandle;

        std::lock_guard lock(tableMutex_);
        auto advance = [this] { nextSerial_ = nextSerial_ == kSerialMask ? 1 : nextSerial_ + 1; };
        while (handles_.contains(nextSerial_)) advance();
        const std::uintptr_t serial = nextSerial_;
        advance();
        handles_[serial] = {connection, remote};
        return reinterpret_cast<Handle>(kTag | serial);
    }

    // A handle whose connection is gone closes as a handle of an unplugged device does.
    bool Close(Handle handle) override {
        if (!IsRemoteHandle(handle)) return false;
        OpenHandle open;
        {
            std::lock_guard lock(tableMutex_);
            const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle) & kSerialMask);
            if (it == handles_.end()) return false;
            open = it->second;
            handles_.erase(it);
        }
        if (const std::shared_ptr<ServiceConnection> connection = open.connection.lock();
            connection && connection->IsOpen()) {
            const std::uint32_t id = connection->NewRequestId();
            connection->Call(protocol::Writer({id, MessageType::Close}).U32(open.remote).Finish(), id);
        }
        return true;
    }

    std::optional<HidAttributes> GetAttributes(Handle handle) override {
        const std::optional<Message> reply = CallOnHandle(handle, MessageType::Attributes, {});
        if (!reply) return std::nullopt;
        protocol::Reader payload = reply->Payload();
        HidAttributes attributes;
        attributes.VendorId = payload.U16();
        attributes.ProductId = payload.U16();
        attributes.VersionNumber = payload.U16();
        if (!payload.Ok()) return std::nullopt;
        return attributes;
    }

    bool GetFeature(Handle handle, std::span<uint8_t> report) override {
        if (report.empty() || report.size() > protocol::kMaxBlobBytes) return false;
        const std::optional<Message> reply =
            CallOnHandle(handle, MessageType::GetFeature, [&](protocol::Writer& writer) { writer.Bytes(report); });
        if (!reply) return false;
        protocol::Reader payload = reply->Payload();
        const std::vector<std::uint8_t> filled = payload.Bytes();
        if (!payload.Ok() || filled.size() != report.size()) return false;
        std::copy(filled.begin(), filled.end(), report.begin());
        return true;
    }

    bool SetFeature(Handle handle, std::span<const uint8_t> report) override {
        if (report.empty() || report.size() > protocol::kMaxBlobBytes) return false;
        return CallOnHandle(handle, MessageType::SetFeature, [&](protocol::Writer& writer) { writer.Bytes(report); })
            .has_value();
    }

    std::optional<std::u16string> GetHidString(Handle handle, HidString which) override {
        const auto id = static_cast<std::uint8_t>(which == HidString::Manufacturer ? protocol::HidStringId::Manufacturer
                                                  : which == HidString::Product    ? protocol::HidStringId::Product
                                                                                : protocol::HidStringId::SerialNumber);
        const std::optional<Message> reply =
            CallOnHandle(handle, MessageType::GetString, [&](protocol::Writer& writer) { writer.U8(id); });
        if (!reply) return std::nullopt;
        protocol::Reader payload = reply->Payload();
        std::u16string text = payload.String();
        if (!payload.Ok()) return std::nullopt;
        return text;
    }

    std::unique_ptr<InputReader> CreateInputReader(Handle handle, std::size_t reportLength) override {
        if (reportLength == 0) return nullptr;
        const std::optional<OpenHandle> open = Lookup(handle);
        if (!open) return nullptr;
        std::shared_ptr<ServiceConnection> connection = open->connection.lock();
        if (!connection || !connection->IsOpen()) return nullptr;
        return std::make_unique<RemoteReader>(std::move(connection), open->remote, reportLength);
    }

    std::unique_ptr<Registration> RegisterRawInput(std::span<const RawInputUsage> usages,
                                                   RawInputCallback callback) override {
        if (usages.empty() || usages.size() > protocol::kMaxRawInputUsages || !callback) return nullptr;
        auto gate = std::make_shared<Gate>();
        gate->rawInput = std::move(callback);
        protocol::Writer request({0, MessageType::RegisterRawInput});
        request.U16(static_cast<std::uint16_t>(usages.size()));
        for (const RawInputUsage& usage : usages) request.U16(usage.usagePage).U16(usage.usage);
        return Register(std::move(request), std::move(gate));
    }

    std::unique_ptr<Registration> RegisterDeviceChange(DeviceChangeCallback callback) override {
        if (!callback) return nullptr;
        auto gate = std::make_shared<Gate>();
        gate->deviceChange = std::move(callback);
        return Register(protocol::Writer({0, MessageType::RegisterDeviceChange}), std::move(gate));
    }

    std::optional<std::vector<std::optional<RegistryData>>> QueryRegistryValues(
        RegistryRoot root, std::u16string_view key, std::span<const std::u16string_view> names) override {
        if (names.size() > protocol::kMaxRegistryNames || key.size() > protocol::kMaxStringUnits) return std::nullopt;
        protocol::Writer request({0, MessageType::QueryRegistry});
        request.U8(static_cast<std::uint8_t>(root == RegistryRoot::LocalMachine
                                                 ? protocol::RegistryRootId::LocalMachine
                                                 : protocol::RegistryRootId::CurrentUser));
        request.String(key).U16(static_cast<std::uint16_t>(names.size()));
        for (std::u16string_view name : names) {
            if (name.size() > protocol::kMaxStringUnits) return std::nullopt;
            request.String(name);
        }
        const std::optional<Message> reply = Call(std::move(request));
        if (!reply || reply->header.status != Status::kOk) return std::nullopt;
        protocol::Reader payload = reply->Payload();
        if (payload.U8() == 0) return std::nullopt;
        std::vector<std::optional<RegistryData>> values;
        for (std::size_t i = 0; i < names.size(); ++i) {
            const bool present = payload.U8() != 0;
            RegistryData data;
            data.type = payload.U32();
            data.bytes = payload.Bytes();
            values.push_back(present ? std::optional<RegistryData>(std::move(data)) : std::nullopt);
        }
        if (!payload.Ok()) return std::nullopt;
        return values;
    }

    void Sleep(uint32_t milliseconds) override { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

private:
    // The live connection, made now if there is none; nullptr when no service answers.
    std::shared_ptr<ServiceConnection> Connection() {
        std::lock_guard lock(connectMutex_);
        if (connection_ && connection_->IsOpen()) return connection_;
        const std::uint64_t serial = ++connectionSerial_;
        std::unique_ptr<ServiceConnection> opened = ServiceConnection::Open(
            address_.ipv4, address_.port, [this, serial](Message event) { Post(serial, std::move(event)); });
        connection_ = std::move(opened);
        currentSerial_ = serial;
        return connection_;
    }

    // Fills in the request ID and waits for the reply.
    std::optional<Message> Call(protocol::Writer request, std::shared_ptr<ServiceConnection>* used = nullptr) {
        std::shared_ptr<ServiceConnection> connection = Connection();
        if (!connection) return std::nullopt;
        std::vector<std::uint8_t> message = request.Finish();
        const std::uint32_t id = connection->NewRequestId();
        for (int i = 0; i < 4; ++i)
            message[protocol::kLengthFieldBytes + static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(id >> (8 * i));
        std::optional<Message> reply = connection->Call(std::move(message), id);
        if (used != nullptr) *used = std::move(connection);
        return reply;
    }

    std::optional<OpenHandle> Lookup(Handle handle) {
        if (!IsRemoteHandle(handle)) return std::nullopt;
        std::lock_guard lock(tableMutex_);
        const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle) & kSerialMask);
        if (it == handles_.end()) return std::nullopt;
        return it->second;
    }

    // A request on an open handle, on the connection that opened it; nullopt unless kOk.
    std::optional<Message> CallOnHandle(Handle handle, MessageType type,
                                        const std::function<void(protocol::Writer&)>& fields) {
        const std::optional<OpenHandle> open = Lookup(handle);
        if (!open) return std::nullopt;
        const std::shared_ptr<ServiceConnection> connection = open->connection.lock();
        if (!connection || !connection->IsOpen()) return std::nullopt;
        const std::uint32_t id = connection->NewRequestId();
        protocol::Writer request({id, type});
        request.U32(open->remote);
        if (fields) fields(request);
        std::optional<Message> reply = connection->Call(request.Finish(), id);
        if (!reply || reply->header.status != Status::kOk) return std::nullopt;
        return reply;
    }

    std::unique_ptr<Registration> Register(protocol::Writer request, std::shared_ptr<Gate> gate) {
        std::shared_ptr<ServiceConnection> connection;
        const std::optional<Message> reply = Call(std::move(request), &connection);
        if (!reply || reply->header.status != Status::kOk) return nullptr;
        protocol::Reader payload = reply->Payload();
        const std::uint32_t remote = payload.U32();
        if (!payload.Ok()) return nullptr;
        std::uint64_t serial = 0;
        {
            std::lock_guard lock(connectMutex_);
            if (connection_ != connection) return nullptr;  // lost while registering
            serial = currentSerial_;
        }
        {
            std::lock_guard lock(eventMutex_);
            gates_[{serial, remote}] = gate;
            if (!delivery_.joinable()) delivery_ = std::thread([this] { Deliver(); });
        }
        const std::pair<std::uint64_t, std::uint32_t> key{serial, remote};
        return std::make_unique<RemoteRegistration>(connection, remote, std::move(gate), [this, key] {
            std::lock_guard lock(eventMutex_);
            gates_.erase(key);
        });
    }

    // On the connection's receiving thread: queued for the delivery thread, so that a
    // callback that calls the service does not wait on its own receiver.
    void Post(std::uint64_t serial, Message event) {
        std::lock_guard lock(eventMutex_);
        events_.emplace_back(serial, std::move(event));
        eventsChanged_.notify_all();
    }

    void Deliver() {
        for (;;) {
            std::pair<std::uint64_t, Message> next;
            std::shared_ptr<Gate> gate;
            {
                std::unique_lock lock(eventMutex_);
                eventsChanged_.wait(lock, [this] { return stopping_ || !events_.empty(); });
                if (stopping_) return;
                next = std::move(events_.front());
                events_.pop_front();
                protocol::Reader payload = next.second.Payload();
                const auto it = gates_.find({next.first, payload.U32()});
                if (it == gates_.end()) continue;
                gate = it->second;
            }
            DeliverTo(*gate, next.second);
        }
    }

    static void DeliverTo(Gate& gate, const Message& event) {
        protocol::Reader payload = event.Payload();
        payload.U32();  // the registration
        std::lock_guard hold(gate.mutex);
        if (!gate.open) return;
        if (event.header.type == MessageType::RawInputEvent && gate.rawInput) {
            RawInputEvent raw;
            const auto kind = static_cast<protocol::RawInputKind>(payload.U8());
            raw.deviceName = payload.String();
            raw.report = payload.Bytes();
            if (!payload.Ok()) return;
            if (kind == protocol::RawInputKind::Mouse) {
                raw.kind = RawInputEvent::Kind::Mouse;
                raw.mouseButtonFlags = gate.mouseButtons.Transitions(raw.deviceName, raw.report);
                raw.report.clear();
            } else if (kind == protocol::RawInputKind::Keyboard) {
                raw.kind = RawInputEvent::Kind::Keyboard;
                raw.report.clear();
            }
            gate.rawInput(raw);
        } else if (event.header.type == MessageType::DeviceChangeEvent && gate.deviceChange) {
            const std::uint32_t change = payload.U32();
            const std::u16string path = payload.String();
            if (!payload.Ok()) return;
            if (change != static_cast<std::uint32_t>(DeviceChange::Arrival) &&
                change != static_cast<std::uint32_t>(DeviceChange::RemoveComplete))
                return;
            gate.deviceChange(static_cast<DeviceChange>(change), path);
        }
    }

    const ServiceAddress address_;

    std::mutex connectMutex_;
    std::shared_ptr<ServiceConnection> connection_;
    std::uint64_t connectionSerial_ = 0;
    std::uint64_t currentSerial_ = 0;

    std::mutex tableMutex_;
    std::map<std::uintptr_t, OpenHandle> handles_;  // by serial number
    std::uintptr_t nextSerial_ = 1;

    std::mutex eventMutex_;
    std::condition_variable eventsChanged_;
    std::deque<std::pair<std::uint64_t, Message>> events_;  // by connection serial
    std::map<std::pair<std::uint64_t, std::uint32_t>, std::shared_ptr<Gate>> gates_;
    bool stopping_ = false;
    std::thread delivery_;
};

std::optional<ServiceAddress> ParseServiceAddress(std::string_view text) {
    ServiceAddress address;
    address.port = protocol::kDefaultPort;
    const std::size_t colon = text.rfind(':');
    if (colon != std::string_view::npos) {
        const std::optional<std::uint32_t> host = ParseIpv4(text.substr(0, colon));
        const std::optional<std::uint16_t> port = ParsePort(text.substr(colon + 1));
        if (!host || !port) return std::nullopt;
        return ServiceAddress{*host, *port};
    }
    if (const std::optional<std::uint16_t> port = ParsePort(text)) return ServiceAddress{address.ipv4, *port};
    if (const std::optional<std::uint32_t> host = ParseIpv4(text)) return ServiceAddress{*host, address.port};
    return std::nullopt;
}

ServiceAddress ServiceAddressFromEnvironment() {
    const char* text = std::getenv("KAVLIB_SIM");
    if (text != nullptr) {
        if (const std::optional<ServiceAddress> address = ParseServiceAddress(text)) return *address;
    }
    return ServiceAddress{0x7F000001, protocol::kDefaultPort};
}

std::unique_ptr<Platform> MakeRemotePlatform(const ServiceAddress& address) {
    return std::make_unique<RemotePlatform>(address);
}

Platform& RemotePlatformInstance() {
    static Platform* instance = new RemotePlatform(ServiceAddressFromEnvironment());
    return *instance;
}

}  // namespace kav::platform::remote
