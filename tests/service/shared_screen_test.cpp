// Two client processes and this one see the same simulated screen through kavsim serve:
// one client native, one the Windows build under Wine.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <array>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "service/child_process.h"
#include "service/service_fixture.h"
#include "shared/driver_request.h"
#include "shared/hid_reports.h"

namespace kav::testing {
namespace {

using namespace std::chrono_literals;
using platform::DeviceChange;

// Hang guards, not speed goals: Wine may first have to make its prefix.
constexpr auto kPatience = 120s;
constexpr std::size_t kInterfacesPerScreen = 6;

class SharedScreen : public ::testing::Test {
protected:
    void SetUp() override {
        service_ = std::make_unique<ChildProcess>(std::vector<std::string>{KAV_KAVSIM, "serve", "--port", "0"});
        ASSERT_TRUE(service_->Started());
        const auto line = service_->ReadLineStarting("listening on 127.0.0.1:", kPatience);
        ASSERT_TRUE(line) << "kavsim serve did not say it listens";
        port_ = static_cast<std::uint16_t>(std::stoi(line->substr(line->rfind(':') + 1)));
    }

    void TearDown() override {
        if (port_ == 0) return;
        const service::ControlAnswer quit = SendControl(port_, "quit");
        EXPECT_TRUE(quit.ok) << quit.text;
        EXPECT_EQ(service_->Wait(kPatience), 0) << "kavsim serve did not end cleanly";
    }

    void Expect(const std::string& line) {
        const service::ControlAnswer answer = SendControl(port_, line);
        ASSERT_TRUE(answer.ok) << line << ": " << answer.text;
    }

    // client: the program and any launcher before it; variables: its environment's additions.
    void ExpectSharedScreen(std::vector<std::string> client, std::map<std::string, std::string> variables);

    std::unique_ptr<ChildProcess> service_;
    std::uint16_t port_ = 0;
};

struct DeviceEvents {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<DeviceChange, std::u16string>> events;

    std::size_t Count(DeviceChange change) {
        return std::count_if(events.begin(), events.end(), [&](const auto& e) { return e.first == change; });
    }
    bool WaitFor(DeviceChange change, std::size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, kPatience, [&] { return Count(change) >= count; });
    }
};

void SharedScreen::ExpectSharedScreen(std::vector<std::string> client, std::map<std::string, std::string> variables) {
    variables["KAVLIB_PLATFORM"] = "sim";
    variables["KAVLIB_SIM"] = std::to_string(port_);
    auto run = [&](std::vector<std::string> args) {
        std::vector<std::string> argv = client;
        argv.insert(argv.end(), args.begin(), args.end());
        return std::make_unique<ChildProcess>(argv, variables);
    };

    // The other client sets the work mode through the driver request report; this one reads it.
    {
        auto setter = run({"setmode", "F4"});
        EXPECT_EQ(setter->ReadLine(kPatience), "ok");
        ASSERT_EQ(setter->Wait(kPatience), 0);
    }
    const auto platform = platform::remote::MakeRemotePlatform({kLoopback, port_});
    const std::vector<std::u16string> paths =
        platform->EnumerateHidInterfaces().value_or(std::vector<std::u16string>{});
    ASSERT_EQ(paths.size(), kInterfacesPerScreen);
    platform::UniqueHandle handle(platform->OpenHid(TouchPath(*platform), true), *platform);
    ASSERT_TRUE(handle);
    std::array<std::uint8_t, 64> mode{kDriverRequestFeatureId, kDriverRequestWorkMode};
    ASSERT_TRUE(platform->GetFeature(handle.get(), mode));
    EXPECT_EQ(mode[kDriverRequestWorkModeOffset], 0xF4);

    // Both wait in a read of touch reports, and both listen for device changes.
    DeviceEvents ours;
    const auto registration = platform->RegisterDeviceChange([&](DeviceChange change, const std::u16string& path) {
        std::lock_guard lock(ours.mutex);
        ours.events.emplace_back(change, path);
        ours.changed.notify_all();
    });
    ASSERT_NE(registration, nullptr);
    const auto reader = platform->CreateInputReader(handle.get(), sizeof(TOUCH_REPORT));
    ASSERT_NE(reader, nullptr);
    std::optional<TOUCH_CONTACT> ourTouch;
    bool ourReadFailed = false;
    std::thread reading([&] {
        for (;;) {
            std::array<std::uint8_t, sizeof(TOUCH_REPORT)> report{};
            const platform::ReadResult result = reader->Read(report, 10000);
            if (result.status == platform::ReadStatus::Failed) break;
            TOUCH_REPORT touch;
            std::memcpy(&touch, report.data(), sizeof touch);
            std::lock_guard lock(ours.mutex);
            if (result.status == platform::ReadStatus::Report && !ourTouch && report[0] == kTouchReportId &&
                touch.Contact[0].Status == kContactTouching)
                ourTouch = touch.Contact[0];
        }
        std::lock_guard lock(ours.mutex);
        ourReadFailed = true;
        ours.changed.notify_all();
    });
    auto watcher = run({"watch"});
    ASSERT_EQ(watcher->ReadLine(kPatience), "ready");

    // A tap through the control channel reaches both blocked reads where it landed.
    Expect("tap 200 150");
    const auto reported = watcher->ReadLineStarting("report ", kPatience);
    ASSERT_TRUE(reported);
    int x = 0, y = 0;
    ASSERT_EQ(std::sscanf(reported->c_str(), "report %d %d", &x, &y), 2) << *reported;
    EXPECT_NEAR(x, kMiddle, kTapTolerance);
    EXPECT_NEAR(y, kMiddle, kTapTolerance);

    // The unplug wakes both reads with a failure and removes every interface once.
    Expect("unplug");
    std::set<std::string> removed, arrived;
    bool watcherReadFailed = false;
    while (!watcherReadFailed || removed.size() < kInterfacesPerScreen) {
        const auto line = watcher->ReadLine(kPatience);
        ASSERT_TRUE(line) << "the watcher stopped short";
        if (*line == "read failed") watcherReadFailed = true;
        if (line->rfind("removal ", 0) == 0) {
            EXPECT_TRUE(removed.insert(line->substr(8)).second) << *line;
        }
    }
    Expect("replug");
    for (;;) {
        const auto line = watcher->ReadLine(kPatience);
        ASSERT_TRUE(line) << "the watcher stopped short";
        if (*line == "done") break;
        if (line->rfind("arrival ", 0) == 0) arrived.insert(line->substr(8));
    }
    EXPECT_EQ(watcher->Wait(kPatience), 0);
    std::set<std::string> listed;
    for (const std::u16string& path : paths) listed.insert(Narrow(path));
    EXPECT_EQ(removed, listed);
    EXPECT_EQ(arrived.size(), kInterfacesPerScreen);

    ASSERT_TRUE(ours.WaitFor(DeviceChange::Arrival, kInterfacesPerScreen));
    reading.join();
    std::lock_guard lock(ours.mutex);
    EXPECT_TRUE(ourReadFailed);
    ASSERT_TRUE(ourTouch);
    EXPECT_NEAR(ourTouch->X, kMiddle, kTapTolerance);
    EXPECT_NEAR(ourTouch->Y, kMiddle, kTapTolerance);
    std::set<std::string> ourRemovals;
    for (const auto& [change, path] : ours.events)
        if (change == DeviceChange::RemoveComplete) ourRemovals.insert(Narrow(path));
    EXPECT_EQ(ours.Count(DeviceChange::RemoveComplete), kInterfacesPerScreen);
    EXPECT_EQ(ourRemovals, listed);
    // The removals all come before the arrivals.
    EXPECT_EQ(ours.events.front().first, DeviceChange::RemoveComplete);
    EXPECT_EQ(ours.events.back().first, DeviceChange::Arrival);
}

TEST_F(SharedScreen, ANativeClientProcessAndThisOneSeeTheSameScreen) {
    ExpectSharedScreen({KAV_SERVICE_CLIENT}, {});
}

std::optional<std::string> OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string directories = path != nullptr ? path : "";
    for (std::size_t start = 0; start <= directories.size();) {
        const std::size_t end = std::min(directories.find(':', start), directories.size());
        const std::filesystem::path candidate = std::filesystem::path(directories.substr(start, end - start)) / program;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
        start = end + 1;
    }
    return std::nullopt;
}

// Runs where Wine and the Windows build are present (scripts/test builds both); the client
// is KAV_WINDOWS_SERVICE_CLIENT, else the Windows build's beside this tree, and Wine runs
// it in WINEPREFIX, else in a prefix of this test's own.
TEST_F(SharedScreen, AWindowsClientUnderWineAndThisOneSeeTheSameScreen) {
    const std::optional<std::string> wine = OnPath("wine");
    if (!wine) GTEST_SKIP() << "wine is not installed";
    const char* given = std::getenv("KAV_WINDOWS_SERVICE_CLIENT");
    const std::string exe = given != nullptr ? given : KAV_WINDOWS_SERVICE_CLIENT;
    if (!std::filesystem::exists(exe))
        GTEST_SKIP() << "no Windows build of the client at " << exe << " (build the windows preset first)";
    std::map<std::string, std::string> variables{
        {"WINEDEBUG", "-all"}, {"DISPLAY", ""}, {"WINEDLLOVERRIDES", "mscoree,mshtml="}};
    if (std::getenv("WINEPREFIX") == nullptr)
        variables["WINEPREFIX"] = (std::filesystem::temp_directory_path() / "kav-service-test-wine").string();
    ExpectSharedScreen({*wine, exe}, variables);
}

}  // namespace
}  // namespace kav::testing

#endif
