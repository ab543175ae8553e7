// Hostile clients: each loses its own connection, with a line in the log, and the service
// goes on serving everyone else.
#ifndef _WIN32

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <thread>

#include "service/service_fixture.h"
#include "shared/driver_request.h"
#include "shared/hid_reports.h"

namespace kav::testing {
namespace {

namespace protocol = service::protocol;
using protocol::MessageType;

// A socket that says whatever the test wants.
class RawClient {
public:
    explicit RawClient(std::uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(kLoopback);
        connected_ = ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        const timeval patience{10, 0};  // a hang guard for the reads below
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    }
    ~RawClient() { ::close(fd_); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Connected() const { return connected_; }
    void Send(const std::vector<std::uint8_t>& bytes) {
        [[maybe_unused]] const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    void Greet(std::uint16_t version = protocol::kVersion) {
        Send(protocol::Writer({1, MessageType::Hello}).U32(protocol::kMagic).U16(version).Finish());
    }
    // Reads what the service still sends until it closes the connection; false if it does not.
    bool ClosedByService(std::vector<std::uint8_t>* received = nullptr) {
        for (;;) {
            std::uint8_t chunk[4096];
            const ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
            if (got == 0) return true;
            if (got < 0) return errno == ECONNRESET;
            if (received != nullptr) received->insert(received->end(), chunk, chunk + got);
        }
    }

private:
    int fd_;
    bool connected_ = false;
};

std::vector<std::uint8_t> Message(std::uint32_t id, MessageType type, std::vector<std::uint8_t> payload = {}) {
    protocol::Writer writer({id, type});
    for (std::uint8_t byte : payload) writer.U8(byte);
    return writer.Finish();
}

class ServiceUnderAttack : public ::testing::Test {
protected:
    // The service still answers a well-behaved client in full: the list, a feature round
    // trip through the driver, and a tap into a read.
    void ExpectStillServing() {
        const auto platform = platform::remote::MakeRemotePlatform(service_.Address());
        platform::UniqueHandle handle(platform->OpenHid(TouchPath(*platform), true), *platform);
        ASSERT_TRUE(handle);
        const std::array<std::uint8_t, 64> set{kDriverRequestFeatureId, kDriverRequestWorkMode, 0xF4};
        ASSERT_TRUE(platform->SetFeature(handle.get(), set));
        std::array<std::uint8_t, 64> get{kDriverRequestFeatureId, kDriverRequestWorkMode};
        ASSERT_TRUE(platform->GetFeature(handle.get(), get));
        EXPECT_EQ(get[kDriverRequestWorkModeOffset], 0xF4);
        const auto reader = platform->CreateInputReader(handle.get(), sizeof(TOUCH_REPORT));
        ASSERT_TRUE(service_.screens.Control("tap 200 150").ok);
        std::array<std::uint8_t, sizeof(TOUCH_REPORT)> report{};
        EXPECT_EQ(reader->Read(report, 10000).status, platform::ReadStatus::Report);
        EXPECT_EQ(report[0], kTouchReportId);
    }

    InProcessService service_;
};

TEST_F(ServiceUnderAttack, EachBrokenMessageClosesOnlyItsOwnConnection) {
    struct Case {
        const char* what;
        bool greet;
        std::vector<std::uint8_t> bytes;
        const char* logged;
        bool clientLeaves = false;
    };
    std::vector<std::uint8_t> tooMany = Message(2, MessageType::Open, {0x88, 0x13});  // 5000 code units
    const Case cases[] = {
        {"a length beyond the limit", false, {0xFF, 0xFF, 0xFF, 0xFF}, "4294967295 bytes is outside"},
        {"a length shorter than a header", false, {3, 0, 0, 0, 1, 2, 3}, "3 bytes is outside"},
        {"a request before the greeting", false, Message(2, MessageType::ListInterfaces), "not a greeting"},
        {"a string longer than allowed", true, tooMany, "malformed"},
        {"bytes after the last field", true, Message(2, MessageType::ListInterfaces, {0}), "malformed"},
        {"fields cut short", true, Message(2, MessageType::Attributes, {1, 0}), "malformed"},
        {"an unknown type", true, Message(2, static_cast<MessageType>(77)), "unexpected message type 77"},
        {"an event sent to the service", true, Message(2, MessageType::RawInputEvent), "unexpected message type 100"},
        {"a request without an ID", true, Message(0, MessageType::ListInterfaces), "without an ID"},
        {"a second greeting", true, protocol::Writer({2, MessageType::Hello}).U32(protocol::kMagic).U16(1).Finish(),
         "second greeting"},
        {"a message that stops before its length", true, {100, 0, 0, 0, 1, 2, 3}, "ended before its length", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RawClient client(service_.server.Port());
        ASSERT_TRUE(client.Connected());
        if (c.greet) client.Greet();
        client.Send(c.bytes);
        // Half a message and the client goes: the service must not wait for the rest.
        if (c.clientLeaves) continue;
        EXPECT_TRUE(client.ClosedByService());
    }
    // Another version is told which one the service speaks, then closed.
    {
        RawClient client(service_.server.Port());
        client.Greet(99);
        std::vector<std::uint8_t> received;
        EXPECT_TRUE(client.ClosedByService(&received));
        ASSERT_GE(received.size(), protocol::kLengthFieldBytes + protocol::kHeaderBytes);
        protocol::Reader reply(std::span<const std::uint8_t>(received).subspan(protocol::kLengthFieldBytes));
        EXPECT_EQ(reply.ReadHeader()->status, protocol::Status::kVersionMismatch);
    }
    ExpectStillServing();

    const std::string log = service_.LogAfterStop();
    for (const Case& c : cases) EXPECT_NE(log.find(c.logged), std::string::npos) << c.what << "\n" << log;
    EXPECT_NE(log.find("protocol version 99 is not 1"), std::string::npos) << log;
}

TEST_F(ServiceUnderAttack, RandomMessagesAndCutConnectionsLeaveItServing) {
    std::mt19937 random(20261211);
    for (int round = 0; round < 40; ++round) {
        RawClient client(service_.server.Port());
        if (round % 2 == 0) client.Greet();
        // A plausible length and type with random fields, or nothing but noise.
        std::vector<std::uint8_t> bytes;
        if (round % 4 < 2) {
            const auto types = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
            protocol::Writer writer({static_cast<std::uint32_t>(random()),
                                     static_cast<MessageType>(*(types.begin() + random() % types.size()))});
            for (std::size_t i = random() % 48; i > 0; --i) writer.U8(static_cast<std::uint8_t>(random()));
            bytes = writer.Finish();
        } else {
            bytes.resize(random() % 256);
            for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(random());
        }
        // Some are cut short and the client leaves mid-request.
        if (round % 3 == 0 && bytes.size() > 4) bytes.resize(4 + random() % (bytes.size() - 4));
        client.Send(bytes);
    }
    ExpectStillServing();
}

TEST_F(ServiceUnderAttack, FiftyClientsComingAndGoingLeaveTheOthersServed) {
    const auto steady = platform::remote::MakeRemotePlatform(service_.Address());
    platform::UniqueHandle handle(steady->OpenHid(TouchPath(*steady), true), *steady);
    ASSERT_TRUE(handle);
    constexpr int kClients = 50;
    constexpr int kVisits = 3;
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([this, i] {
            for (int visit = 0; visit < kVisits; ++visit) {
                // Opens, registers, starts a read and leaves without a word, while frames stream.
                const auto platform = platform::remote::MakeRemotePlatform(service_.Address());
                platform::UniqueHandle opened(platform->OpenHid(TouchPath(*platform), true), *platform);
                const std::array<platform::RawInputUsage, 1> touch{{{0x0D, 0x04}}};
                const auto registration = platform->RegisterRawInput(touch, [](const platform::RawInputEvent&) {});
                const auto reader = platform->CreateInputReader(opened.get(), sizeof(TOUCH_REPORT));
                std::array<std::uint8_t, sizeof(TOUCH_REPORT)> report{};
                if (reader) reader->Read(report, static_cast<std::uint32_t>(i % 5));
                if (i % 10 == 0) service_.screens.Control("tap 100 100");
                opened.release();  // left open: the service closes it with the connection
            }
        });
    }
    for (std::thread& client : clients) client.join();
    // The steady client's handle lived through it all.
    EXPECT_TRUE(steady->GetAttributes(handle.get()));
    ExpectStillServing();
}

}  // namespace
}  // namespace kav::testing

#endif
