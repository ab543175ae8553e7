// The simulated touch screens of `kavsim serve`: simulated controllers with the real driver
// started on each under one virtual HID stack, frames rendered on real time, touched live
// through control lines in the scenario language.
//
// Control lines (answers start with "ok" or are the fault of the line):
//   [DELAY] GESTURE ...         any timed line of a scenario (tap, hold, drag, arc, pinch,
//                               rotate, cross, button, workmode) without its time, or with
//                               a delay in ms from now
//   down N X Y [d=D]            contact N (1..10) lands at X Y
//   move N X Y                  contact N moves there
//   up N | up                   contact N (or every contact) lifts
//   unplug [S] | replug [S]     screen S (default 1) goes away or comes back
//   add-screen                  plugs in one more screen with the same settings
//   screens                     lists the screens
//   quit                        stops the service
// A coordinate written P% is that fraction of the screen's width (x) or height (y), so a
// test can touch where a window draws. screen=S on a touch line picks the screen.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "simulator/hidstack/hid_stack.h"
#include "simulator/registry/registry_store.h"
#include "simulator/scenario/scenario.h"

namespace kav::service {

struct ServiceOptions {
    sim::Scenario scenario;                        // the settings of every screen; its timed lines play from the start
    std::optional<double> fps;                     // overrides the scenario's frame rate
    const sim::RegistryStore* registry = nullptr;  // driver parameters beneath the scenario's
    int screens = 1;
};

struct ControlAnswer {
    bool ok = false;
    std::string text;  // "ok ..." or what is wrong with the line
};

enum class ReadEnd { Report, TimedOut, Cancelled, Gone };

class ScreenService {
public:
    explicit ScreenService(ServiceOptions options);
    ~ScreenService();  // stops the frames and unplugs every screen
    ScreenService(const ScreenService&) = delete;
    ScreenService& operator=(const ScreenService&) = delete;

    // Plugs the screens in and starts the frames; false, with the reason, when a screen does
    // not start (the driver's event log is part of the reason).
    bool Start(std::string* error);

    // What clients reach: the HID class and the registry of the driver.
    sim::HidStack& Stack() { return *stack_; }
    sim::RegistryStore& Registry() { return registry_; }

    ControlAnswer Control(const std::string& line);
    // Set by the quit line; the owner of the service ends it.
    bool QuitRequested() const { return quit_; }
    void WaitForQuit(std::chrono::milliseconds wait);

    // A read of one report that completes when one is routed to the handle, the wait ends,
    // it is cancelled, or the device or handle goes. `done` runs exactly once, on any
    // thread, never under the caller's locks; CancelReadsOf drops reads without calling it.
    using ReadKey = std::pair<std::uint64_t, std::uint32_t>;  // (owner, request ID)
    using ReadDone = std::function<void(ReadEnd, std::vector<std::uint8_t>)>;
    void StartRead(ReadKey key, sim::HidHandle handle, std::uint32_t waitMs, std::size_t length, ReadDone done);
    void CancelRead(ReadKey key);
    void CancelReadsOf(std::uint64_t owner);
    // Completes whatever reads can complete now; after anything that routes, closes or removes.
    void CompleteReads();

    struct Screen;

private:
    struct PendingRead {
        sim::HidHandle handle = 0;
        std::size_t length = 0;
        std::chrono::steady_clock::time_point deadline;
        ReadDone done;
    };

    double NowMs() const;
    bool Plug(Screen& screen, std::string* error);
    void Unplug(Screen& screen);
    ControlAnswer Touch(const std::vector<std::string>& words, Screen& screen);
    ControlAnswer Gesture(const std::vector<std::string>& words, Screen& screen, double delayMs);
    ControlAnswer ListScreens() const;
    Screen* ScreenNumbered(int number) const;
    void RunFrames();
    void RenderFrame(Screen& screen, double ms);

    ServiceOptions options_;
    double fps_ = 100;
    sim::RegistryStore registry_;
    std::unique_ptr<kmdf::Clock> clock_;
    std::unique_ptr<sim::HidStack> stack_;
    std::chrono::steady_clock::time_point origin_;

    mutable std::mutex worldMutex_;  // screens, their fingers and gestures; PnP and frames
    std::vector<std::unique_ptr<Screen>> screens_;

    std::mutex readsMutex_;
    std::map<ReadKey, PendingRead> reads_;

    std::atomic<bool> quit_{false};
    std::mutex quitMutex_;
    std::condition_variable quitChanged_;
    std::atomic<bool> stopping_{false};
    std::thread frames_;
};

}  // namespace kav::service
