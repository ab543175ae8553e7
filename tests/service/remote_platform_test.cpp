// The service's client in KavLib: its address, and its behaviour without a service, when
// the service goes, and between clients.
#include "devicelib/platform/remote/remote_platform.h"

#include <gtest/gtest.h>

#include <array>
#include <future>
#include <optional>
#include <string>

#ifndef _WIN32
#include "service/service_fixture.h"
#include "shared/hid_reports.h"
#endif

namespace kav::platform::remote {
namespace {

using namespace std::chrono_literals;

TEST(RemotePlatformAddress, ParsesPortHostOrBoth) {
    struct Case {
        const char* text;
        std::optional<ServiceAddress> expected;
    };
    const Case cases[] = {
        {"48000", ServiceAddress{0x7F000001, 48000}},
        {"127.0.0.1:5", ServiceAddress{0x7F000001, 5}},
        {"localhost:65535", ServiceAddress{0x7F000001, 65535}},
        {"10.1.2.3", ServiceAddress{0x0A010203, 48731}},
        {"", std::nullopt},
        {"0", std::nullopt},
        {"65536", std::nullopt},
        {"127.0.0.1:", std::nullopt},
        {"127.0.0.256:80", std::nullopt},
        {"127.0.0:80", std::nullopt},
        {"1.2.3.4.5", std::nullopt},
        {"host:80", std::nullopt},
        {"80x", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseServiceAddress(c.text), c.expected);
    }
}

// Port 1 on loopback: nothing listens there, and the refusal is immediate.
TEST(RemotePlatformWithoutService, FindsNothingAndFailsEveryCallCleanly) {
    const auto platform = MakeRemotePlatform({0x7F000001, 1});
    const auto paths = platform->EnumerateHidInterfaces();
    ASSERT_TRUE(paths.has_value());  // no screen, rather than a broken device list
    EXPECT_TRUE(paths->empty());
    EXPECT_EQ(platform->OpenHid(u"\\\\?\\hid#vid_4b1d&pid_0a31&col01#x#{4d1e55b2-f16f-11cf-88cb-001111000030}", true),
              kInvalidHandle);
    const Handle stranger = reinterpret_cast<Handle>(std::uintptr_t{0x10});
    EXPECT_FALSE(platform->Close(stranger));
    EXPECT_FALSE(platform->GetAttributes(stranger));
    std::array<uint8_t, 64> report{0x55, 0x01};
    EXPECT_FALSE(platform->GetFeature(stranger, report));
    EXPECT_FALSE(platform->SetFeature(stranger, report));
    EXPECT_EQ(platform->CreateInputReader(stranger, 22), nullptr);
    const std::array<RawInputUsage, 1> touch{{{0x0D, 0x04}}};
    EXPECT_EQ(platform->RegisterRawInput(touch, [](const RawInputEvent&) {}), nullptr);
    EXPECT_EQ(platform->RegisterDeviceChange([](DeviceChange, const std::u16string&) {}), nullptr);
    const std::array<std::u16string_view, 1> names{u"Mode"};
    EXPECT_FALSE(platform->QueryRegistryValues(RegistryRoot::LocalMachine, kDriverParametersKey, names));
}

#ifndef _WIN32

TEST(RemotePlatformWithService, AServiceThatGoesEndsAWaitingReadAsAnUnplugWould) {
    testing::InProcessService service;
    const auto platform = MakeRemotePlatform(service.Address());
    UniqueHandle handle(platform->OpenHid(testing::TouchPath(*platform), true), *platform);
    ASSERT_TRUE(handle);
    const auto reader = platform->CreateInputReader(handle.get(), sizeof(TOUCH_REPORT));
    auto waiting = std::async(std::launch::async, [&] {
        std::array<uint8_t, sizeof(TOUCH_REPORT)> report{};
        return reader->Read(report, 60000).status;
    });
    std::this_thread::sleep_for(50ms);
    service.server.Stop();
    ASSERT_EQ(waiting.wait_for(30s), std::future_status::ready);
    EXPECT_EQ(waiting.get(), ReadStatus::Failed);
    EXPECT_FALSE(platform->GetAttributes(handle.get()));
    EXPECT_TRUE(platform->EnumerateHidInterfaces()->empty());
    EXPECT_TRUE(platform->Close(handle.release()));
}

TEST(RemotePlatformWithService, EachClientsHandlesAreItsOwnAndGoWithIt) {
    namespace protocol = service::protocol;
    testing::InProcessService service;
    auto connect = [&] { return ServiceConnection::Open(testing::kLoopback, service.server.Port(), nullptr); };
    auto call = [](ServiceConnection& connection, protocol::MessageType type, auto fill) {
        const std::uint32_t id = connection.NewRequestId();
        protocol::Writer request({id, type});
        fill(request);
        return connection.Call(request.Finish(), id);
    };
    const auto owner = connect();
    const auto other = connect();
    ASSERT_TRUE(owner && other);
    const auto path = testing::TouchPath(*MakeRemotePlatform(service.Address()));
    const auto opened = call(*owner, protocol::MessageType::Open, [&](protocol::Writer& w) { w.String(path); });
    ASSERT_TRUE(opened);
    const std::uint32_t handle = opened->Payload().U32();
    auto attributes = [&](ServiceConnection& connection) {
        return call(connection, protocol::MessageType::Attributes, [&](protocol::Writer& w) { w.U32(handle); })
            ->header.status;
    };
    EXPECT_EQ(attributes(*owner), protocol::Status::kOk);
    EXPECT_EQ(attributes(*other), protocol::Status::kFailed);

    // The owner goes; its handle is closed in the stack, the other client is untouched.
    owner->Close();
    for (int tries = 0; tries < 100 && service.screens.Stack().Attributes(handle); ++tries)
        std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(service.screens.Stack().Attributes(handle));
    const auto listed = call(*other, protocol::MessageType::ListInterfaces, [](protocol::Writer&) {});
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed->Payload().U16(), 6);
}

#endif

}  // namespace
}  // namespace kav::platform::remote
