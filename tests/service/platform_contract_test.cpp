// What KavLib may rely on from its platform's readers and registrations, held to the
// in-process simulated platform and to the service's client alike, on the same screens.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <array>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>

#include "devicelib/platform/sim/sim_platform.h"
#include "service/service_fixture.h"
#include "shared/hid_reports.h"

namespace kav::testing {
namespace {

using namespace std::chrono_literals;
using platform::DeviceChange;
using platform::ReadStatus;

// Hang guards only.
constexpr auto kPatience = 30s;
constexpr std::uint32_t kLongWaitMs = 60000;
constexpr std::size_t kInterfaces = 6;

enum class Backend { InProcess, Remote };

service::ServiceOptions Options() {
    service::ServiceOptions options;
    options.scenario.parameters = {{"RightClickTime", 1234}};
    return options;
}

class PlatformContract : public ::testing::TestWithParam<Backend> {
protected:
    PlatformContract() {
        if (GetParam() == Backend::Remote)
            platform_ = platform::remote::MakeRemotePlatform(service_.Address());
        else
            platform_ =
                std::make_unique<platform::sim::SimPlatform>(&service_.screens.Stack(), &service_.screens.Registry());
    }

    void Control(const std::string& line) {
        const service::ControlAnswer answer = service_.screens.Control(line);
        ASSERT_TRUE(answer.ok) << line << ": " << answer.text;
    }

    platform::UniqueHandle OpenTouch() {
        return platform::UniqueHandle(platform_->OpenHid(TouchPath(*platform_), true), *platform_);
    }

    // Reads until a report with a touching contact, or nothing more within the wait.
    static std::optional<TOUCH_CONTACT> NextTouch(platform::InputReader& reader, std::uint32_t waitMs = 5000) {
        for (;;) {
            std::array<std::uint8_t, sizeof(TOUCH_REPORT)> report{};
            const platform::ReadResult result = reader.Read(report, waitMs);
            if (result.status != ReadStatus::Report) return std::nullopt;
            TOUCH_REPORT touch;
            std::memcpy(&touch, report.data(), sizeof touch);
            if (report[0] == kTouchReportId && touch.Contact[0].Status == kContactTouching) return touch.Contact[0];
        }
    }

    InProcessService service_{Options()};
    std::unique_ptr<platform::Platform> platform_;
};

TEST_P(PlatformContract, AReaderGetsTheTapAndIsCancelledFromAnotherThread) {
    platform::UniqueHandle handle = OpenTouch();
    ASSERT_TRUE(handle);
    const auto reader = platform_->CreateInputReader(handle.get(), sizeof(TOUCH_REPORT));
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(platform_->CreateInputReader(handle.get(), 0), nullptr);
    EXPECT_EQ(platform_->CreateInputReader(platform::kInvalidHandle, sizeof(TOUCH_REPORT)), nullptr);

    Control("tap 50% 50%");
    const std::optional<TOUCH_CONTACT> touch = NextTouch(*reader);
    ASSERT_TRUE(touch);
    EXPECT_NEAR(touch->X, kMiddle, kTapTolerance);
    EXPECT_NEAR(touch->Y, kMiddle, kTapTolerance);
    while (NextTouch(*reader, 300)) {  // the rest of the tap
    }

    // A long wait ends when another thread cancels it.
    auto waiting = std::async(std::launch::async, [&] {
        std::array<std::uint8_t, sizeof(TOUCH_REPORT)> report{};
        return reader->Read(report, kLongWaitMs).status;
    });
    std::this_thread::sleep_for(50ms);  // most likely inside the wait; either way it must end
    reader->Cancel();
    ASSERT_EQ(waiting.wait_for(kPatience), std::future_status::ready) << "the cancel did not end the read";
    EXPECT_EQ(waiting.get(), ReadStatus::Cancelled);

    // A cancel with no read in progress ends the next one; the one after reads again.
    std::array<std::uint8_t, sizeof(TOUCH_REPORT)> report{};
    reader->Cancel();
    EXPECT_EQ(reader->Read(report, kLongWaitMs).status, ReadStatus::Cancelled);
    EXPECT_EQ(reader->Read(report, 0).status, ReadStatus::TimedOut);
    Control("tap 25% 75%");
    const std::optional<TOUCH_CONTACT> second = NextTouch(*reader);
    ASSERT_TRUE(second);
    EXPECT_NEAR(second->X, kMiddle / 2, kTapTolerance);

    // The handle closed under the reader: its reads fail.
    handle.reset();
    EXPECT_EQ(reader->Read(report, 1000).status, ReadStatus::Failed);
}

struct Changes {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<DeviceChange, std::u16string>> seen;

    platform::DeviceChangeCallback Callback() {
        return [this](DeviceChange change, const std::u16string& path) {
            std::lock_guard lock(mutex);
            seen.emplace_back(change, path);
            changed.notify_all();
        };
    }
    bool WaitForCount(std::size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, kPatience, [&] { return seen.size() >= count; });
    }
    std::size_t Size() {
        std::lock_guard lock(mutex);
        return seen.size();
    }
};

TEST_P(PlatformContract, AnUnplugEndsAWaitingReadAndEachInterfaceComesAndGoesOnce) {
    platform::UniqueHandle handle = OpenTouch();
    ASSERT_TRUE(handle);
    const auto listed = platform_->EnumerateHidInterfaces();
    ASSERT_TRUE(listed);
    ASSERT_EQ(listed->size(), kInterfaces);
    Changes kept, dropped;
    auto keptRegistration = platform_->RegisterDeviceChange(kept.Callback());
    auto droppedRegistration = platform_->RegisterDeviceChange(dropped.Callback());
    ASSERT_NE(keptRegistration, nullptr);
    ASSERT_NE(droppedRegistration, nullptr);
    EXPECT_EQ(platform_->RegisterDeviceChange(nullptr), nullptr);

    const auto reader = platform_->CreateInputReader(handle.get(), sizeof(TOUCH_REPORT));
    auto waiting = std::async(std::launch::async, [&] {
        std::array<std::uint8_t, sizeof(TOUCH_REPORT)> report{};
        for (;;) {
            const ReadStatus status = reader->Read(report, kLongWaitMs).status;
            if (status != ReadStatus::Report) return status;
        }
    });
    std::this_thread::sleep_for(50ms);
    Control("unplug");
    ASSERT_EQ(waiting.wait_for(kPatience), std::future_status::ready) << "the unplug did not end the read";
    EXPECT_EQ(waiting.get(), ReadStatus::Failed);
    ASSERT_TRUE(kept.WaitForCount(kInterfaces));
    ASSERT_TRUE(dropped.WaitForCount(kInterfaces));
    EXPECT_EQ(platform_->EnumerateHidInterfaces()->size(), 0u);
    // A handle of a device that went still closes, as on Windows.
    EXPECT_TRUE(platform_->Close(handle.release()));

    droppedRegistration.reset();
    Control("replug");
    ASSERT_TRUE(kept.WaitForCount(2 * kInterfaces));
    std::lock_guard lock(kept.mutex);
    for (std::size_t i = 0; i < 2 * kInterfaces; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(kept.seen[i].first, i < kInterfaces ? DeviceChange::RemoveComplete : DeviceChange::Arrival);
        if (i < kInterfaces) {
            EXPECT_EQ(kept.seen[i].second, (*listed)[i]);
        }
    }
    EXPECT_EQ(kept.seen.size(), 2 * kInterfaces);
    // The one destroyed before the replug heard no arrival.
    EXPECT_EQ(dropped.Size(), kInterfaces);
}

TEST_P(PlatformContract, RawInputCarriesTouchReportsAndMouseButtonTransitions) {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<platform::RawInputEvent> events;
    const std::array<platform::RawInputUsage, 2> usages{{{0x0D, 0x04}, {0x01, 0x02}}};
    const auto registration = platform_->RegisterRawInput(usages, [&](const platform::RawInputEvent& event) {
        std::lock_guard lock(mutex);
        events.push_back(event);
        changed.notify_all();
    });
    ASSERT_NE(registration, nullptr);
    EXPECT_EQ(platform_->RegisterRawInput({}, [](const platform::RawInputEvent&) {}), nullptr);
    auto waitFor = [&](auto predicate) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, kPatience, [&] { return std::any_of(events.begin(), events.end(), predicate); });
    };

    Control("tap 200 150");
    ASSERT_TRUE(waitFor([](const platform::RawInputEvent& e) {
        return e.kind == platform::RawInputEvent::Kind::Hid && !e.report.empty() && e.report[0] == kTouchReportId &&
               Narrow(e.deviceName).find("col01") != std::string::npos;
    }));

    Control("workmode mouse");
    Control("100 tap 200 150");
    ASSERT_TRUE(waitFor([](const platform::RawInputEvent& e) { return e.mouseButtonFlags == platform::kMouseLeftUp; }));
    std::lock_guard lock(mutex);
    std::vector<std::uint16_t> flags;
    for (const platform::RawInputEvent& e : events)
        if (e.kind == platform::RawInputEvent::Kind::Mouse && e.mouseButtonFlags != 0)
            flags.push_back(e.mouseButtonFlags);
    EXPECT_EQ(flags, (std::vector<std::uint16_t>{platform::kMouseLeftDown, platform::kMouseLeftUp}));
}

TEST_P(PlatformContract, RegistryQueriesReadTheDriversParametersKey) {
    const std::array<std::u16string_view, 3> names{u"RightClickTime", u"NoSuchValue", u"rightclicktime"};
    const auto values =
        platform_->QueryRegistryValues(platform::RegistryRoot::LocalMachine, platform::kDriverParametersKey, names);
    ASSERT_TRUE(values);
    ASSERT_EQ(values->size(), 3u);
    EXPECT_EQ(platform::AsDword((*values)[0]), 1234u);
    EXPECT_FALSE((*values)[1]);
    EXPECT_EQ(platform::AsDword((*values)[2]), 1234u);  // names ignore case
    EXPECT_FALSE(platform_->QueryRegistryValues(platform::RegistryRoot::LocalMachine, u"SYSTEM\\NoSuchKey", names));
    EXPECT_FALSE(
        platform_->QueryRegistryValues(platform::RegistryRoot::CurrentUser, platform::kDriverParametersKey, names));
}

TEST_P(PlatformContract, AttributesAndStringsComeFromTheDriver) {
    platform::UniqueHandle handle = OpenTouch();
    ASSERT_TRUE(handle);
    const auto attributes = platform_->GetAttributes(handle.get());
    ASSERT_TRUE(attributes);
    EXPECT_EQ(attributes->VendorId, 0x4B1D);
    EXPECT_EQ(attributes->ProductId, 0x0A31);
    // As the HID class reads them from the driver.
    sim::HidStack& stack = service_.screens.Stack();
    const sim::HidHandle direct = stack.Open(TouchPath(*platform_));
    for (platform::HidString which :
         {platform::HidString::Manufacturer, platform::HidString::Product, platform::HidString::SerialNumber}) {
        SCOPED_TRACE(static_cast<int>(which));
        EXPECT_EQ(platform_->GetHidString(handle.get(), which),
                  stack.String(direct, static_cast<std::uint16_t>(14 + static_cast<int>(which))));
    }
    stack.Close(direct);
    EXPECT_FALSE(platform_->GetHidString(platform::kInvalidHandle, platform::HidString::Product));
}

INSTANTIATE_TEST_SUITE_P(Platforms, PlatformContract, ::testing::Values(Backend::InProcess, Backend::Remote),
                         [](const auto& info) { return info.param == Backend::Remote ? "Remote" : "InProcess"; });

}  // namespace
}  // namespace kav::testing

#endif
