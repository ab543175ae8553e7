// KavLib's listeners and device notification, on a scripted platform that hands out exactly
// the reports a case needs, and on the simulated HID stack for real arrivals and removals.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devicelib/include/KavLib.h"
#include "devicelib/listeners.h"
#include "devicelib/platform/failing_platform.h"
#include "devicelib/platform/sim/sim_platform.h"
#include "shared/device_packet.h"
#include "simulator/controller/firmware.h"
#include "simulator/controller/optics.h"
#include "simulator/controller/run_length.h"
#include "simulator/hidstack/hid_stack.h"
#ifndef _WIN32
#include "service/service_fixture.h"
#endif

namespace kav::devicelib {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

const platform::Handle kScreen = reinterpret_cast<platform::Handle>(std::uintptr_t{0x1000});

Bytes TouchReport(uint8_t id, uint8_t marker) {
    Bytes report(kTouchDataReportLength, 0);
    report[0] = id;
    report[3] = marker;
    return report;
}

// A 64-byte packet report whose payload is `payload` bytes of `fill`.
Bytes ImageReport(uint8_t subCode, uint8_t fill, std::size_t payload = 20) {
    Bytes report(kImageReportLength, 0);
    BuildFramedPacket(0x01, 0x01, subCode, std::vector<uint8_t>(payload, fill).data(), payload, report.data());
    report[0] = 0x36;
    return report;
}

// Reports queued by the test, or an endless stream, read as the listeners read them.
struct ReportFeed {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Bytes> queue;
    bool endless = false;  // every read gets a report at once: touch, or image blocks A and B by turns
    bool gone = false;     // every read fails, as on a handle whose device was unplugged
    std::atomic<int> failedReads{0};
    std::atomic<int> liveReaders{0};

    void Push(Bytes report) {
        {
            std::lock_guard lock(mutex);
            queue.push_back(std::move(report));
        }
        changed.notify_all();
    }
    bool Drained() {
        std::lock_guard lock(mutex);
        return queue.empty();
    }
};

class ScriptedReader final : public platform::InputReader {
public:
    ScriptedReader(ReportFeed& feed, std::size_t reportLength) : feed_(feed), reportLength_(reportLength) {
        ++feed_.liveReaders;
    }
    ~ScriptedReader() override { --feed_.liveReaders; }

    platform::ReadResult Read(std::span<uint8_t> buffer, uint32_t waitMs) override {
        if (feed_.gone) {
            ++feed_.failedReads;
            return {platform::ReadStatus::Failed, 0};
        }
        std::unique_lock lock(feed_.mutex);
        if (feed_.endless) {
            lock.unlock();
            std::this_thread::sleep_for(50us);
            if (cancelled_.exchange(false)) return {platform::ReadStatus::Cancelled, 0};
            const Bytes report = reportLength_ == kImageReportLength ? ImageReport(uint8_t(++streamed_ % 2), 0x11)
                                                                     : TouchReport(0x30, 0);
            const std::size_t length = std::min(buffer.size(), report.size());
            std::copy_n(report.begin(), length, buffer.begin());
            return {platform::ReadStatus::Report, length};
        }
        feed_.changed.wait_for(lock, std::chrono::milliseconds(waitMs),
                               [&] { return cancelled_ || !feed_.queue.empty(); });
        if (cancelled_.exchange(false)) return {platform::ReadStatus::Cancelled, 0};
        if (feed_.queue.empty()) return {platform::ReadStatus::TimedOut, 0};
        const Bytes report = std::move(feed_.queue.front());
        feed_.queue.pop_front();
        const std::size_t length = std::min({report.size(), buffer.size(), reportLength_});
        std::copy_n(report.begin(), length, buffer.begin());
        feed_.changed.notify_all();
        return {platform::ReadStatus::Report, length};
    }

    void Cancel() override {
        {
            std::lock_guard lock(feed_.mutex);
            cancelled_ = true;
        }
        feed_.changed.notify_all();
    }

private:
    ReportFeed& feed_;
    std::size_t reportLength_;
    std::atomic<bool> cancelled_{false};
    unsigned streamed_ = 0;
};

class ScriptedRegistration : public platform::Registration {
public:
    explicit ScriptedRegistration(std::atomic<int>& live, std::atomic<int>* mostLive = nullptr,
                                  std::chrono::milliseconds teardown = {})
        : live_(live), teardown_(teardown) {
        const int now = ++live_;
        if (mostLive != nullptr && now > *mostLive) *mostLive = now;
    }
    ~ScriptedRegistration() override {
        // A system's teardown takes its time; the next registration must not overlap it.
        std::this_thread::sleep_for(teardown_);
        --live_;
    }

private:
    std::atomic<int>& live_;
    std::chrono::milliseconds teardown_;
};

// Raw input from the controller as fast as it comes, on a thread of the platform's; as the
// platform promises, going away waits for the callback in progress.
class StreamingRegistration final : public ScriptedRegistration {
public:
    StreamingRegistration(std::atomic<int>& live, platform::RawInputCallback callback)
        : ScriptedRegistration(live), thread_([this, callback = std::move(callback)] {
              const platform::RawInputEvent event{platform::RawInputEvent::Kind::Hid,
                                                  u"\\\\?\\HID#VID_4B1D&PID_0A31&Col01#1", TouchReport(0x30, 0), 0};
              while (!stop_) {
                  callback(event);
                  std::this_thread::sleep_for(50us);
              }
          }) {}
    ~StreamingRegistration() override {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class ScriptedPlatform final : public platform::FailingPlatform {
public:
    std::unique_ptr<platform::InputReader> CreateInputReader(platform::Handle handle, std::size_t length) override {
        if (handle != kScreen) return nullptr;
        return std::make_unique<ScriptedReader>(feed, length);
    }
    std::unique_ptr<platform::Registration> RegisterRawInput(std::span<const platform::RawInputUsage>,
                                                             platform::RawInputCallback callback) override {
        if (feed.endless) return std::make_unique<StreamingRegistration>(liveRegistrations, std::move(callback));
        rawInput = std::move(callback);
        return std::make_unique<ScriptedRegistration>(liveRegistrations, &mostLiveRawInput, rawInputTeardown);
    }
    std::unique_ptr<platform::Registration> RegisterDeviceChange(platform::DeviceChangeCallback callback) override {
        if (refuseDeviceChange) return nullptr;
        deviceChange = std::move(callback);
        return std::make_unique<ScriptedRegistration>(liveRegistrations);
    }

    ReportFeed feed;
    platform::RawInputCallback rawInput;
    platform::DeviceChangeCallback deviceChange;
    bool refuseDeviceChange = false;
    std::atomic<int> liveRegistrations{0};
    std::atomic<int> mostLiveRawInput{0};
    std::chrono::milliseconds rawInputTeardown{0};
};

// What the callbacks saw; the exports take plain function pointers, hence one global.
struct Seen {
    std::mutex mutex;
    std::vector<Bytes> touches;
    std::vector<std::pair<Bytes, Bytes>> images;
    std::vector<std::thread::id> threads;

    void Clear() {
        std::lock_guard lock(mutex);
        touches.clear();
        images.clear();
        threads.clear();
    }
    std::size_t TouchCount() {
        std::lock_guard lock(mutex);
        return touches.size();
    }
} g_seen;

void RecordTouch(unsigned char* report) {
    std::lock_guard lock(g_seen.mutex);
    g_seen.touches.emplace_back(report, report + kTouchDataReportLength);
    g_seen.threads.push_back(std::this_thread::get_id());
}

void OtherTouch(unsigned char*) {}

void RecordImage(unsigned char* a, int lengthA, unsigned char* b, int lengthB) {
    std::lock_guard lock(g_seen.mutex);
    g_seen.images.emplace_back(Bytes(a, a + lengthA), Bytes(b, b + lengthB));
}

template <typename Predicate>
bool WaitUntil(Predicate done) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class Listener : public ::testing::Test {
protected:
    void SetUp() override {
        g_seen.Clear();
        platform::SetPlatform(&platform_);
    }
    void TearDown() override {
        Nerio_UnRegisterTouchDataCallback();
        Nerio_UnRegisterImageDataCallback();
        Nerio_UnRegisterTouchCallback();
        platform::SetPlatform(nullptr);
    }

    ScriptedPlatform platform_;
};

TEST_F(Listener, OnlyTouchReportsReachTheCallbackInOrderOnTheListenersThread) {
    ASSERT_EQ(Nerio_RegisterTouchDataCallback(kScreen, RecordTouch), 1);
    for (const Bytes& report : {TouchReport(0x30, 1), TouchReport(0x10, 2), TouchReport(0x32, 3), TouchReport(0x30, 4),
                                TouchReport(0x36, 5), TouchReport(0x30, 6)})
        platform_.feed.Push(report);
    ASSERT_TRUE(WaitUntil([&] { return platform_.feed.Drained() && g_seen.TouchCount() == 3; }));
    ASSERT_EQ(Nerio_UnRegisterTouchDataCallback(), 1);
    EXPECT_EQ(platform_.feed.liveReaders, 0);
    std::lock_guard lock(g_seen.mutex);
    ASSERT_EQ(g_seen.touches.size(), 3u);
    const uint8_t markers[] = {1, 4, 6};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(g_seen.touches[i], TouchReport(0x30, markers[i]));
        EXPECT_NE(g_seen.threads[i], std::this_thread::get_id());
    }
}

// Both handle listeners share their registration rules.
struct HandleListenerKind {
    const char* name;
    unsigned char (*registerWith)(KAVLIB_HANDLE, NERIO_TOUCH_DATA_CALLBACK, NERIO_IMAGE_DATA_CALLBACK);
    unsigned char (*unregister)();
};

const HandleListenerKind kHandleListeners[] = {
    {"touch data",
     [](KAVLIB_HANDLE h, NERIO_TOUCH_DATA_CALLBACK t, NERIO_IMAGE_DATA_CALLBACK) {
         return Nerio_RegisterTouchDataCallback(h, t);
     },
     Nerio_UnRegisterTouchDataCallback},
    {"image",
     [](KAVLIB_HANDLE h, NERIO_TOUCH_DATA_CALLBACK, NERIO_IMAGE_DATA_CALLBACK i) {
         return Nerio_RegisterImageDataCallback(h, i);
     },
     Nerio_UnRegisterImageDataCallback},
};

void OtherImage(unsigned char*, int, unsigned char*, int) {}

TEST_F(Listener, RegistrationRulesOfTheHandleListeners) {
    for (const HandleListenerKind& kind : kHandleListeners) {
        SCOPED_TRACE(kind.name);
        EXPECT_EQ(kind.unregister(), 0);
        EXPECT_EQ(kind.registerWith(platform::kInvalidHandle, RecordTouch, RecordImage), 0);
        EXPECT_EQ(kind.registerWith(nullptr, RecordTouch, RecordImage), 0);
        EXPECT_EQ(kind.registerWith(kScreen, nullptr, nullptr), 0);
        // A handle the platform cannot read is refused rather than reported as listening.
        EXPECT_EQ(kind.registerWith(reinterpret_cast<KAVLIB_HANDLE>(0x2000), RecordTouch, RecordImage), 0);
        EXPECT_EQ(platform_.feed.liveReaders, 0);

        for (int round = 0; round < 2; ++round) {
            ASSERT_EQ(kind.registerWith(kScreen, RecordTouch, RecordImage), 1);
            EXPECT_EQ(kind.registerWith(kScreen, OtherTouch, OtherImage), 0);
            EXPECT_EQ(platform_.feed.liveReaders, 1);
            EXPECT_EQ(kind.unregister(), 1);
            EXPECT_EQ(kind.unregister(), 0);
            EXPECT_EQ(platform_.feed.liveReaders, 0);
        }
    }
}

TEST_F(Listener, ASecondRegistrationKeepsTheFirstCallback) {
    ASSERT_EQ(Nerio_RegisterTouchDataCallback(kScreen, RecordTouch), 1);
    EXPECT_EQ(Nerio_RegisterTouchDataCallback(kScreen, OtherTouch), 0);
    platform_.feed.Push(TouchReport(0x30, 9));
    EXPECT_TRUE(WaitUntil([&] { return g_seen.TouchCount() == 1; }));
}

TEST_F(Listener, ImagePacketsArePairedAndBadOnesDropped) {
    ASSERT_EQ(Nerio_RegisterImageDataCallback(kScreen, RecordImage), 1);
    Bytes badChecksum = ImageReport(0x01, 0xEE);
    badChecksum[4 + badChecksum[3]] ^= 1;
    Bytes shortRead = ImageReport(0x01, 0xEF);
    shortRead.pop_back();
    Bytes noPayloadLength = ImageReport(0x01, 0xF0);
    noPayloadLength[3] = 0;  // a payload of -1 bytes
    Bytes longerThanAReport = ImageReport(0x01, 0xF1);
    longerThanAReport[3] = 60;
    for (const Bytes& report : {ImageReport(0x00, 0xA1, 58), ImageReport(0x01, 0xB1), badChecksum, shortRead,
                                noPayloadLength, longerThanAReport, ImageReport(0x01, 0xB2, 1), ImageReport(0x00, 0xA2),
                                ImageReport(0x02, 0xC0), ImageReport(0x01, 0xB3)})
        platform_.feed.Push(report);
    ASSERT_TRUE(WaitUntil([&] { return platform_.feed.Drained(); }));
    ASSERT_EQ(Nerio_UnRegisterImageDataCallback(), 1);

    std::lock_guard lock(g_seen.mutex);
    const std::vector<std::pair<Bytes, Bytes>> expected = {
        {Bytes(58, 0xA1), Bytes(20, 0xB1)},
        {Bytes(58, 0xA1), Bytes(1, 0xB2)},
        {Bytes(20, 0xA2), Bytes(20, 0xB3)},
    };
    EXPECT_EQ(g_seen.images, expected);
}

TEST(ImageBlockPairer, BlocksAreClearedBetweenRegistrations) {
    ImageBlockPairer pairer;
    int calls = 0;
    const auto count = [&](uint8_t*, int, uint8_t*, int) { ++calls; };
    pairer.Take(ImageReport(0x00, 1), count);
    pairer.Clear();
    pairer.Take(ImageReport(0x01, 2), count);
    EXPECT_EQ(calls, 0);
}

std::atomic<bool> g_releaseCallback{false};
std::atomic<int> g_blockedCalls{0};

void BlockingTouch(unsigned char*) {
    ++g_blockedCalls;
    while (!g_releaseCallback) std::this_thread::sleep_for(1ms);
}

TEST_F(Listener, UnregisterWaitsForTheCallbackInProgress) {
    g_releaseCallback = false;
    g_blockedCalls = 0;
    ASSERT_EQ(Nerio_RegisterTouchDataCallback(kScreen, BlockingTouch), 1);
    platform_.feed.Push(TouchReport(0x30, 1));
    platform_.feed.Push(TouchReport(0x30, 2));
    ASSERT_TRUE(WaitUntil([] { return g_blockedCalls == 1; }));

    std::atomic<bool> returned{false};
    std::thread stopper([&] {
        EXPECT_EQ(Nerio_UnRegisterTouchDataCallback(), 1);
        returned = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(returned);
    g_releaseCallback = true;
    stopper.join();
    // The second report was waiting, but the stop came first.
    EXPECT_EQ(g_blockedCalls, 1);
    EXPECT_EQ(platform_.feed.liveReaders, 0);
}

void UnregisteringTouch(unsigned char*) {
    EXPECT_EQ(Nerio_UnRegisterTouchDataCallback(), 1);
    ++g_blockedCalls;
}

TEST_F(Listener, ACallbackMayUnregisterItself) {
    g_blockedCalls = 0;
    ASSERT_EQ(Nerio_RegisterTouchDataCallback(kScreen, UnregisteringTouch), 1);
    platform_.feed.Push(TouchReport(0x30, 1));
    platform_.feed.Push(TouchReport(0x30, 2));
    ASSERT_TRUE(WaitUntil([&] { return platform_.feed.liveReaders == 0; }));
    EXPECT_EQ(g_blockedCalls, 1);
    EXPECT_EQ(Nerio_RegisterTouchDataCallback(kScreen, RecordTouch), 1);
}

TEST_F(Listener, RawInputPassesOnlyTheControllersTouchReports) {
    ASSERT_EQ(Nerio_RegisterTouchCallback(RecordTouch), 1);
    EXPECT_EQ(Nerio_RegisterTouchCallback(OtherTouch), 0);
    ASSERT_TRUE(platform_.rawInput);
    using Kind = platform::RawInputEvent::Kind;
    struct Case {
        Kind kind;
        std::u16string name;
        Bytes report;
        bool delivered;
    };
    const std::u16string screen = u"\\\\?\\hid#vid_4b1d&pid_0a31&col01#7&1#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    Bytes longer = TouchReport(0x30, 5);
    longer.push_back(0x99);
    const Case cases[] = {
        {Kind::Hid, screen, TouchReport(0x30, 1), true},
        {Kind::Hid, u"\\\\?\\HID#VID_4B1D&PID_0A41&Col01#7&1", TouchReport(0x30, 2), false},
        {Kind::Hid, u"\\\\?\\HID#VID_845E&PID_0001#0", TouchReport(0x30, 3), false},
        {Kind::Hid, screen, TouchReport(0x10, 4), false},
        {Kind::Hid, screen, Bytes{0x30, 1, 2}, false},
        {Kind::Mouse, screen, {}, false},
        {Kind::Hid, screen, longer, true},
    };
    for (const Case& c : cases) platform_.rawInput(platform::RawInputEvent{c.kind, c.name, c.report, 0});
    ASSERT_EQ(Nerio_UnRegisterTouchCallback(), 1);
    EXPECT_EQ(Nerio_UnRegisterTouchCallback(), 0);
    EXPECT_EQ(platform_.liveRegistrations, 0);
    std::lock_guard lock(g_seen.mutex);
    EXPECT_EQ(g_seen.touches, (std::vector<Bytes>{TouchReport(0x30, 1), TouchReport(0x30, 5)}));
}

void StoppingRawInputTouch(unsigned char*) {
    EXPECT_EQ(Nerio_UnRegisterTouchCallback(), 1);
    // Its own teardown waits for this callback: a new listener cannot start before it.
    EXPECT_EQ(Nerio_RegisterTouchCallback(RecordTouch), 0);
    ++g_blockedCalls;
}

// The system has one raw-input target per process: a listener stopped from its own
// callback goes before the next one registers, or its teardown would remove the new one's.
TEST_F(Listener, ARawInputListenerStoppedFromItsCallbackIsGoneBeforeTheNextStarts) {
    g_blockedCalls = 0;
    platform_.rawInputTeardown = 50ms;
    ASSERT_EQ(Nerio_RegisterTouchCallback(StoppingRawInputTouch), 1);
    const std::u16string screen = u"\\\\?\\HID#VID_4B1D&PID_0A31&Col01#1";
    platform_.rawInput(platform::RawInputEvent{platform::RawInputEvent::Kind::Hid, screen, TouchReport(0x30, 1), 0});
    EXPECT_EQ(g_blockedCalls, 1);
    ASSERT_EQ(Nerio_RegisterTouchCallback(RecordTouch), 1);
    EXPECT_EQ(platform_.mostLiveRawInput, 1);
    platform_.rawInput(platform::RawInputEvent{platform::RawInputEvent::Kind::Hid, screen, TouchReport(0x30, 2), 0});
    EXPECT_EQ(g_seen.TouchCount(), 1u);
    platform_.rawInputTeardown = 0ms;
}

// The listeners of an unplugged device have ended their threads but stay registered; a
// program that then exits without unregistering must still exit cleanly.
TEST_F(Listener, AProgramMayExitWithListenersWhoseDeviceWentAway) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            platform_.feed.gone = true;
            if (Nerio_RegisterTouchDataCallback(kScreen, RecordTouch) != 1) std::exit(2);
            if (Nerio_RegisterImageDataCallback(kScreen, RecordImage) != 1) std::exit(3);
            WaitUntil([&] { return platform_.feed.failedReads == 2; });
            std::this_thread::sleep_for(20ms);  // each thread returns right after its failed read
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

// Per listener kind: calls, and calls that came after its unregister had returned.
struct StreamCounts {
    std::atomic<bool> stopped{false};
    std::atomic<int> calls{0};
    std::atomic<int> late{0};
    void Call() {
        ++calls;
        if (stopped) ++late;
    }
};
StreamCounts g_touchStream, g_imageStream, g_rawStream;
platform::Handle g_streamTouchHandle = platform::kInvalidHandle;
platform::Handle g_streamImageHandle = platform::kInvalidHandle;

// Each listener kind registered and unregistered 200 times while its reports stream.
void RegisterAndUnregisterWhileStreaming(std::chrono::microseconds listening) {
    struct Kind {
        const char* name;
        StreamCounts& counts;
        bool (*start)();
        unsigned char (*stop)();
    };
    const Kind kinds[] = {
        {"touch data", g_touchStream,
         [] {
             return Nerio_RegisterTouchDataCallback(g_streamTouchHandle,
                                                    [](unsigned char*) { g_touchStream.Call(); }) == 1;
         },
         Nerio_UnRegisterTouchDataCallback},
        {"image", g_imageStream,
         [] {
             return Nerio_RegisterImageDataCallback(g_streamImageHandle, [](unsigned char*, int, unsigned char*, int) {
                        g_imageStream.Call();
                    }) == 1;
         },
         Nerio_UnRegisterImageDataCallback},
        {"raw input", g_rawStream,
         [] { return Nerio_RegisterTouchCallback([](unsigned char*) { g_rawStream.Call(); }) == 1; },
         Nerio_UnRegisterTouchCallback},
    };
    for (const Kind& kind : kinds) {
        kind.counts.calls = 0;
        kind.counts.late = 0;
    }
    for (int round = 0; round < 200; ++round) {
        for (const Kind& kind : kinds) {
            kind.counts.stopped = false;
            ASSERT_TRUE(kind.start()) << kind.name;
        }
        if (round % 8 == 0) std::this_thread::sleep_for(listening);
        for (const Kind& kind : kinds) {
            ASSERT_EQ(kind.stop(), 1) << kind.name;
            kind.counts.stopped = true;
        }
    }
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        EXPECT_GT(kind.counts.calls, 0);
        EXPECT_EQ(kind.counts.late, 0);
    }
}

TEST_F(Listener, RegisteringAndUnregisteringWhileReportsStream) {
    platform_.feed.endless = true;
    g_streamTouchHandle = g_streamImageHandle = kScreen;
    RegisterAndUnregisterWhileStreaming(1ms);
    EXPECT_EQ(platform_.feed.liveReaders, 0);
    EXPECT_EQ(platform_.liveRegistrations, 0);
}

#ifndef _WIN32
// The same on the path programs under Wine take: the service's screens streaming on real
// time, reached through its client over loopback. Screen 1 is held down; screen 2, in work
// mode 0xF5, forwards its camera lines.
TEST(ListenersOnTheService, RegisteringAndUnregisteringWhileTheScreensStream) {
    kav::service::ServiceOptions options;
    options.screens = 2;
    options.fps = 250;
    kav::testing::InProcessService service(std::move(options));
    const auto remote = platform::remote::MakeRemotePlatform(service.Address());
    platform::SetPlatform(remote.get());
    struct Restore {
        ~Restore() {
            Nerio_UnRegisterTouchDataCallback();
            Nerio_UnRegisterImageDataCallback();
            Nerio_UnRegisterTouchCallback();
            platform::SetPlatform(nullptr);
        }
    } restore;
    std::vector<std::u16string> touch, vendor;
    for (const std::u16string& path : remote->EnumerateHidInterfaces().value_or(std::vector<std::u16string>{})) {
        const std::string narrow = kav::testing::Narrow(path);
        if (narrow.find("col01") != std::string::npos) touch.push_back(path);
        if (narrow.find("col06") != std::string::npos) vendor.push_back(path);
    }
    ASSERT_EQ(touch.size(), 2u);
    ASSERT_EQ(vendor.size(), 2u);
    platform::UniqueHandle screen1(remote->OpenHid(touch[0], true), *remote);
    platform::UniqueHandle screen2(remote->OpenHid(touch[1], true), *remote);
    platform::UniqueHandle lines(remote->OpenHid(vendor[1], true), *remote);
    ASSERT_EQ(Nerio_SetWorkMode(screen2.get(), 0xF5), 1);
    ASSERT_TRUE(kav::testing::SendControl(service.server.Port(), "down 1 200 150").ok);

    g_streamTouchHandle = screen1.get();
    g_streamImageHandle = lines.get();
    RegisterAndUnregisterWhileStreaming(10ms);
}
#endif

// The image listener on the real driver: in work mode 0xF5 it forwards every camera-line
// packet to the vendor collection, and the listener pairs what it forwarded.
TEST(ImageListenerOnTheSimulatedStack, PairsTheCameraLinesTheDriverForwards) {
#ifdef _WIN32
    _putenv_s("KAVLIB_PLATFORM", "sim");
#endif
    g_seen.Clear();
    kmdf::VirtualClock clock{1'000'000};
    sim::Controller controller;
    sim::HidStack stack{sim::HostEnvironment{&clock, nullptr}};
    ASSERT_EQ(stack.Attach(controller).status, STATUS_SUCCESS);
    platform::sim::InstallSimPlatform(&stack);

    std::array<KAVLIB_HANDLE, KAVLIB_MAX_DEVICES> screens{};
    unsigned char count = 0;
    ASSERT_EQ(Nerio_GetTouchScreenInformation(screens.data(), count), 1);
    ASSERT_EQ(Nerio_SetWorkMode(screens[0], 0xF5), 1);
    std::array<std::array<KAVLIB_WCHAR, KAVLIB_MAX_PATH>, KAVLIB_MAX_DEVICES> buffers{};
    std::array<KAVLIB_WCHAR*, KAVLIB_MAX_DEVICES> paths{};
    for (std::size_t i = 0; i < paths.size(); ++i) paths[i] = buffers[i].data();
    int listed = 0;
    ASSERT_EQ(EnumDevice_HID(paths.data(), listed, KAVLIB_COLLECTION_VENDOR), 1);
    KAVLIB_HANDLE vendor = nullptr;
    ASSERT_EQ(Nerio_OpenTouchScreen(paths[0], vendor), 1);
    ASSERT_EQ(Nerio_RegisterImageDataCallback(vendor, RecordImage), 1);

    // Sub-codes 0, 1, 1, 0, 1: lines told apart by where their shadow falls.
    const uint8_t subCodes[] = {0, 1, 1, 0, 1};
    std::vector<Bytes> payloads;
    for (std::size_t i = 0; i < std::size(subCodes); ++i) {
        const auto line = sim::LineWithShadows(sim::kCameraPixels, {{100 + 40 * i, 130 + 40 * i}});
        const std::vector<uint8_t> transfer = sim::LineTransfer(subCodes[i], line);
        payloads.emplace_back(transfer.begin() + 5, transfer.begin() + 4 + transfer[3]);
        ASSERT_TRUE(controller.QueueTransfer(transfer));
    }
    stack.Pump();
    ASSERT_TRUE(WaitUntil([] {
        std::lock_guard lock(g_seen.mutex);
        return g_seen.images.size() >= 3;
    }));
    EXPECT_EQ(Nerio_UnRegisterImageDataCallback(), 1);
    {
        std::lock_guard lock(g_seen.mutex);
        const std::vector<std::pair<Bytes, Bytes>> expected = {
            {payloads[0], payloads[1]}, {payloads[0], payloads[2]}, {payloads[3], payloads[4]}};
        EXPECT_EQ(g_seen.images, expected);
    }
    Nerio_CloseTouchScreen(vendor);
    Nerio_CloseTouchScreen(screens[0]);
    platform::sim::InstallSimPlatform(nullptr);
    platform::SetSimPlatformFactory(nullptr);
#ifdef _WIN32
    _putenv_s("KAVLIB_PLATFORM", "");
#endif
}

// --- Device notification ---

// Stands for the registering thread's window: posts queue up until the test pumps them.
struct FakeWindows {
    std::mutex mutex;
    std::deque<uint32_t> posted;
    std::function<void(uint32_t)> deliver;
    int live = 0;

    // Runs what was posted, on the calling thread, as a message loop would.
    void Pump() {
        for (;;) {
            uint32_t event;
            {
                std::lock_guard lock(mutex);
                if (posted.empty()) return;
                event = posted.front();
                posted.pop_front();
            }
            deliver(event);
        }
    }
} g_windows;

class FakeWindow final : public NotifyWindow {
public:
    FakeWindow() { ++g_windows.live; }
    ~FakeWindow() override {
        std::lock_guard lock(g_windows.mutex);
        --g_windows.live;
        g_windows.posted.clear();  // a destroyed window's queue goes with it
    }
    void Post(uint32_t event) override {
        std::lock_guard lock(g_windows.mutex);
        g_windows.posted.push_back(event);
    }
};

std::vector<std::pair<uint32_t, uint32_t>> g_notified;
std::vector<std::thread::id> g_notifiedOn;

void RecordNotify(uint32_t event, uint32_t parameter) {
    g_notified.emplace_back(event, parameter);
    g_notifiedOn.push_back(std::this_thread::get_id());
}
void OtherNotify(uint32_t, uint32_t) {}

std::vector<std::pair<uint32_t, uint32_t>> Notifications(std::size_t count, uint32_t event) {
    return std::vector<std::pair<uint32_t, uint32_t>>(count, {event, 0});
}

class DeviceNotify : public ::testing::Test {
protected:
    void SetUp() override {
        g_notified.clear();
        g_notifiedOn.clear();
        SetNotifyWindowFactory([](std::function<void(uint32_t)> deliver) -> std::unique_ptr<NotifyWindow> {
            g_windows.deliver = std::move(deliver);
            return std::make_unique<FakeWindow>();
        });
    }
    void TearDown() override {
        Nerio_UnRegisterDeviceNotifyCallback();
        SetNotifyWindowFactory(nullptr);
        platform::SetPlatform(nullptr);
    }

    // A member, so that a registration left by a case ends in TearDown while its platform lives.
    ScriptedPlatform scripted_;
};

TEST_F(DeviceNotify, EventsRunInTheRegisteringThreadsDispatchOnly) {
    ScriptedPlatform& scripted = scripted_;
    platform::SetPlatform(&scripted);
    EXPECT_EQ(Nerio_UnRegisterDeviceNotifyCallback(), 0);
    ASSERT_EQ(Nerio_RegisterDeviceNotifyCallback(RecordNotify), 1);
    EXPECT_EQ(Nerio_RegisterDeviceNotifyCallback(OtherNotify), 0);
    EXPECT_EQ(g_windows.live, 1);

    std::thread platformThread([&] {
        scripted.deviceChange(platform::DeviceChange::Arrival, u"\\\\?\\hid#a");
        scripted.deviceChange(platform::DeviceChange::RemoveComplete, u"\\\\?\\hid#b");
    });
    platformThread.join();
    EXPECT_TRUE(g_notified.empty());  // nothing runs before the thread pumps
    g_windows.Pump();
    EXPECT_EQ(g_notified, (std::vector<std::pair<uint32_t, uint32_t>>{{0x8000, 0}, {0x8004, 0}}));
    for (const std::thread::id& thread : g_notifiedOn) EXPECT_EQ(thread, std::this_thread::get_id());

    // Posted but not yet pumped when the registration ends: never delivered.
    scripted.deviceChange(platform::DeviceChange::Arrival, u"\\\\?\\hid#c");
    ASSERT_EQ(Nerio_UnRegisterDeviceNotifyCallback(), 1);
    EXPECT_EQ(Nerio_UnRegisterDeviceNotifyCallback(), 0);
    EXPECT_EQ(g_windows.live, 0);
    EXPECT_EQ(scripted.liveRegistrations, 0);
    g_windows.Pump();
    EXPECT_EQ(g_notified.size(), 2u);

    // Refused by the platform: nothing kept, and the next attempt starts clean.
    scripted.refuseDeviceChange = true;
    EXPECT_EQ(Nerio_RegisterDeviceNotifyCallback(RecordNotify), 0);
    EXPECT_EQ(g_windows.live, 0);
    scripted.refuseDeviceChange = false;
    EXPECT_EQ(Nerio_RegisterDeviceNotifyCallback(RecordNotify), 1);
}

TEST_F(DeviceNotify, OneArrivalAndOneRemovalPerInterfaceOfAPluggedScreen) {
#ifdef _WIN32
    _putenv_s("KAVLIB_PLATFORM", "sim");
#endif
    kmdf::VirtualClock clock{1'000'000};
    sim::Controller controller;
    sim::HidStack stack{sim::HostEnvironment{&clock, nullptr}};
    platform::sim::InstallSimPlatform(&stack);

    ASSERT_EQ(Nerio_RegisterDeviceNotifyCallback(RecordNotify), 1);
    const sim::HidStack::AttachResult attached = stack.Attach(controller);
    ASSERT_EQ(attached.status, STATUS_SUCCESS);
    const std::size_t interfaces = stack.Interfaces().size();
    ASSERT_GT(interfaces, 1u);
    g_windows.Pump();
    EXPECT_EQ(g_notified, Notifications(interfaces, 0x8000));

    g_notified.clear();
    stack.Remove(attached.device);
    g_windows.Pump();
    EXPECT_EQ(g_notified, Notifications(interfaces, 0x8004));
    ASSERT_EQ(Nerio_UnRegisterDeviceNotifyCallback(), 1);

    platform::sim::InstallSimPlatform(nullptr);
    platform::SetSimPlatformFactory(nullptr);
#ifdef _WIN32
    _putenv_s("KAVLIB_PLATFORM", "");
#endif
}

}  // namespace
}  // namespace kav::devicelib
