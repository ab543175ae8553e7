// The main window on KavLib's exports, against the simulated screen service in this process
// and through KavLib's client of it: the road KavCpl.exe takes under Wine, natively.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "controlpanel/fakes.h"
#include "controlpanel/kavlib_touch_screens.h"
#include "controlpanel/resource.h"
#include "controlpanel/screen_access.h"
#include "devicelib/listeners.h"
#include "service/service_fixture.h"

namespace kav::cpl::test {
namespace {

using namespace std::chrono_literals;

// A hang guard, not a speed goal.
constexpr auto kPatience = 20s;
constexpr std::uint32_t kRemoveComplete = 0x8004;
constexpr std::size_t kInterfacesPerScreen = 6;

// The registering thread's message queue: KavLib's notification window posts here from the
// client's thread, and the test thread dispatches, as the window's own loop would.
class MessageQueue {
public:
    class Window final : public devicelib::NotifyWindow {
    public:
        Window(MessageQueue& queue, std::function<void(std::uint32_t)> deliver) : queue_(queue) {
            queue_.deliver_ = std::move(deliver);
        }
        void Post(std::uint32_t event) override {
            std::lock_guard lock(queue_.mutex_);
            queue_.posted_.push_back(event);
            queue_.changed_.notify_all();
        }

    private:
        MessageQueue& queue_;
    };

    // Waits for `count` posts and dispatches them on this thread; false when they do not come.
    bool Dispatch(std::size_t count) {
        std::deque<std::uint32_t> events;
        {
            std::unique_lock lock(mutex_);
            if (!changed_.wait_for(lock, kPatience, [&] { return posted_.size() >= count; })) return false;
            events.swap(posted_);
        }
        for (std::uint32_t event : events) deliver_(event);
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::uint32_t> posted_;
    std::function<void(std::uint32_t)> deliver_;
};

service::ServiceOptions TwoScreens() {
    service::ServiceOptions options;
    options.screens = 2;
    return options;
}

class KavCplOnService : public ::testing::Test {
protected:
    void SetUp() override {
        client_ = platform::remote::MakeRemotePlatform(service_.Address());
        platform::SetPlatform(client_.get());
        devicelib::SetNotifyWindowFactory([this](std::function<void(std::uint32_t)> deliver) {
            return std::make_unique<MessageQueue::Window>(queue_, std::move(deliver));
        });
        system_.AddEnglish();
    }
    void TearDown() override {
        // KavLib keeps one registration per process; a test that stopped early leaves none.
        screens_.UnRegisterDeviceNotifyCallback();
        devicelib::SetNotifyWindowFactory(nullptr);
        platform::SetPlatform(nullptr);
    }

    // The region byte of screen `index` as another client of the service reads it.
    std::optional<int> RegionByteSeenByAnotherClient(int index) {
        const auto other = platform::remote::MakeRemotePlatform(service_.Address());
        platform::SetPlatform(other.get());
        DEVICE_CONFIG record{};
        const bool read =
            access_.WithScreen(index, [&](ScreenHandle s) { return screens_.GetDeviceConfig(s, record); });
        platform::SetPlatform(client_.get());
        if (!read) return std::nullopt;
        return record.RegionByte;
    }

    bool SetRegionByte(int index, std::uint8_t value) {
        return access_.WithScreen(index, [&](ScreenHandle s) {
            DEVICE_CONFIG record{};
            if (!screens_.GetDeviceConfig(s, record)) return false;
            record.RegionByte = value;
            return screens_.SetDeviceConfig(s, record);
        });
    }

    testing::InProcessService service_{TwoScreens()};
    std::unique_ptr<platform::Platform> client_;
    MessageQueue queue_;
    KavLibTouchScreens screens_;
    ScreenAccess access_{screens_};
    FakeSystem system_;
    RecordingView view_;
};

TEST_F(KavCplOnService, ListsEachScreenOnceAndReadsEveryRecord) {
    ASSERT_EQ(screens_.GetTouchScreenCount(), 2);
    const std::vector<ScreenHandle> handles = screens_.GetTouchScreenInformation();
    ASSERT_EQ(handles.size(), 2u);
    for (ScreenHandle handle : handles) {
        DEVICE_CONFIG record{};
        EXPECT_TRUE(screens_.GetDeviceConfig(handle, record));
        screens_.Close(handle);
    }

    ASSERT_TRUE(SetRegionByte(1, 3));
    CKavCplDlg dialog(view_, screens_, system_);
    view_.onSelect = [&](int row) { dialog.OnRowChanged(row); };
    dialog.OnInitDialog();
    EXPECT_EQ(dialog.validity(), (std::vector<std::int32_t>{1, 1}));
    ASSERT_EQ(view_.rows.size(), 2u);
    EXPECT_EQ(view_.rows[0].image, ScreenImage::kUncalibrated);
    EXPECT_EQ(view_.rows[1].image, ScreenImage::kCalibrated);
    EXPECT_TRUE(view_.Matching("Message").empty());
    dialog.OnDestroy();
}

TEST_F(KavCplOnService, ResetWritesRegionByteZeroThatAnotherClientReadsBack) {
    ASSERT_TRUE(SetRegionByte(1, 3));
    ASSERT_EQ(RegionByteSeenByAnotherClient(1), 3);
    CKavCplDlg dialog(view_, screens_, system_);
    view_.onSelect = [&](int row) { dialog.OnRowChanged(row); };
    dialog.OnInitDialog();
    dialog.OnRowChanged(1);
    EXPECT_TRUE(view_.enabled[IDC_RESET]);

    dialog.OnReset();
    EXPECT_TRUE(view_.Matching("Message").empty());
    EXPECT_EQ(RegionByteSeenByAnotherClient(1), 0);
    EXPECT_EQ(view_.rows[1].image, ScreenImage::kUncalibrated);
    dialog.OnDestroy();
}

TEST_F(KavCplOnService, UnpluggingOneScreenKeepsTheWindowAndTheLastClosesIt) {
    CKavCplDlg dialog(view_, screens_, system_);
    view_.onSelect = [&](int row) { dialog.OnRowChanged(row); };
    dialog.OnInitDialog();
    view_.Clear();

    for (const char* screen : {"2", "1"}) {
        SCOPED_TRACE(screen);
        ASSERT_TRUE(testing::SendControl(service_.server.Port(), std::string("unplug ") + screen).ok);
        ASSERT_TRUE(queue_.Dispatch(kInterfacesPerScreen));
        const std::vector<std::string> posted = view_.Matching("PostDeviceChanged");
        ASSERT_EQ(posted.size(), kInterfacesPerScreen);
        for (const std::string& entry : posted)
            EXPECT_EQ(entry, "PostDeviceChanged " + std::to_string(kRemoveComplete) + " 0");
        view_.Clear();
        for (std::size_t i = 0; i < kInterfacesPerScreen; ++i) dialog.OnDeviceChanged(kRemoveComplete, 0);
        EXPECT_EQ(view_.Logged("PostClose"), std::string(screen) == "1");
        EXPECT_EQ(view_.rows.size(), 2u);  // nothing is refreshed
        view_.Clear();
    }
    dialog.OnDestroy();
    // The registration went with the window: a new one is accepted.
    EXPECT_TRUE(screens_.RegisterDeviceNotifyCallback([](std::uint32_t, std::uint32_t) {}));
    EXPECT_TRUE(screens_.UnRegisterDeviceNotifyCallback());
}

}  // namespace
}  // namespace kav::cpl::test

#endif  // _WIN32
