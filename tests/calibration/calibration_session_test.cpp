#include "calibration/calibration_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <memory>
#include <thread>

#include "session_fakes.h"
#include "shared/work_modes.h"

namespace kav::calib::test {
namespace {

// The device's state as bytes, to tell "exactly as before" from "nearly".
struct Snapshot {
    _DEVICE_CALIB_PARAS recordX;
    _DEVICE_CALIB_PARAS recordY;
    DEVICE_CONFIG deviceConfig;
    _NERIO_DRIVER_CONFIG driverConfig;
    std::uint8_t workMode;

    explicit Snapshot(const FakeDevice& device)
        : recordX(device.recordX),
          recordY(device.recordY),
          deviceConfig(device.deviceConfig),
          driverConfig(device.driverConfig),
          workMode(device.workMode) {}

    bool operator==(const Snapshot& other) const {
        return std::memcmp(&recordX, &other.recordX, sizeof recordX) == 0 &&
               std::memcmp(&recordY, &other.recordY, sizeof recordY) == 0 &&
               std::memcmp(&deviceConfig, &other.deviceConfig, sizeof deviceConfig) == 0 &&
               std::memcmp(&driverConfig, &other.driverConfig, sizeof driverConfig) == 0 && workMode == other.workMode;
    }
};

// The screen coordinate (0..32768 across the primary screen) of a screen pixel.
int Normalised(int pixel, int screenPixels) {
    return static_cast<int>(static_cast<double>(pixel) / screenPixels * 32768.0);
}

// What a calibration record maps the raw touch of a screen pixel to.
// The triple at byte `offset`: (y coefficient, x coefficient, constant).
double EvaluateTriple(const _DEVICE_CALIB_PARAS& record, std::size_t offset, int pixelX, int pixelY) {
    float triple[3];
    std::memcpy(triple, reinterpret_cast<const unsigned char*>(&record) + offset, sizeof triple);
    return triple[0] * static_cast<double>(RawY(pixelX, pixelY)) +
           triple[1] * static_cast<double>(RawX(pixelX, pixelY)) + triple[2];
}

double EvaluateCubic(const _DEVICE_CALIB_PARAS& record, int pixelX, int pixelY) {
    const double x = RawX(pixelX, pixelY);
    const double y = RawY(pixelX, pixelY);
    const float* c = record.Coef;
    return c[0] * y * y * y + c[1] * x * y * y + c[2] * x * x * y + c[3] * x * x * x + c[4] * y * y + c[5] * x * y +
           c[6] * x * x + c[7] * y + c[8] * x + c[9];
}

// A single window driven directly, as its Win32 window would.
struct Window {
    FakeDevice device;
    RecordingView view;
    std::unique_ptr<WindowSession> session;
    std::unique_ptr<WindowDriver> driver;

    void Open(WindowSession::Parameters parameters = {kScreen, RegionMode::kFullScreen, 0, kAffinePoints, {}},
              SessionTimeouts timeouts = {}) {
        session = std::make_unique<WindowSession>(device, std::move(parameters));
        session->OnInit(view, timeouts);
        driver = std::make_unique<WindowDriver>(*session, view, device);
        driver->Pump();
    }
    void Rest(int x, int y, int reports) { driver->Rest(x, y, reports); }
};

TargetPoint Target(int index) {
    return TargetGrid(kAffinePoints)[index];
}

class WindowSessionTest : public ::testing::Test, public Window {};

TEST_F(WindowSessionTest, DriftBeyondThreeUnitsRestartsTheCount) {
    struct Case {
        const char* name;
        int dx;
        int dy;
        bool restarts;
    };
    const Case cases[] = {
        {"3 right", 3, 0, false}, {"3 up and left", -3, -3, false}, {"3 down", 0, 3, false}, {"4 right", 4, 0, true},
        {"4 up", 0, -4, true},    {"4 left, 1 down", -4, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Window w;
        auto& view = w.view;
        auto& session = w.session;
        auto Rest = [&](int x, int y, int n) { w.Rest(x, y, n); };
        w.Open();
        Rest(5000, 6000, 50);
        Rest(5000 + c.dx, 6000 + c.dy, 1);
        EXPECT_EQ(view.status, c.restarts ? "ReceiveBegin" : "Receiving 51");
        // Without a restart the 100th report is the 49th from here; with one, the count
        // starts again at the next report.
        Rest(5000, 6000, 48);
        EXPECT_EQ(session->CurrentTarget(), Target(0));
        Rest(5000, 6000, 1);
        EXPECT_EQ(session->CurrentTarget(), c.restarts ? Target(0) : Target(1));
        if (c.restarts) {
            Rest(5000, 6000, 50);
            EXPECT_EQ(session->CurrentTarget(), Target(0));
            Rest(5000, 6000, 1);
            EXPECT_EQ(session->CurrentTarget(), Target(1));
        }
    }
}

TEST_F(WindowSessionTest, ASteadyFingerGivesOnePointUntilItLifts) {
    Open();
    Rest(7000, 8000, 1);
    EXPECT_EQ(view.status, "Receiving 1");
    Rest(7000, 8000, 98);
    EXPECT_EQ(view.status, "Receiving 99");
    Rest(7002, 7998, 1);  // the 100th takes the point where it is, and shows nothing new
    EXPECT_EQ(view.status, "Receiving 99");
    EXPECT_EQ(session->CurrentTarget(), Target(1));
    Rest(7000, 8000, 1);
    EXPECT_EQ(view.status, "ReceiveEnd");

    Rest(7000, 8000, 300);
    Rest(20000, 20000, 300);
    EXPECT_EQ(session->CurrentTarget(), Target(1));
    EXPECT_EQ(view.status, "ReceiveEnd");

    driver->Lift();
    EXPECT_EQ(view.status, "ReceiveBegin");
    Rest(20000, 20000, 100);
    EXPECT_EQ(session->CurrentTarget(), Target(2));

    driver->TouchAllTargets();
    ASSERT_TRUE(session->IsDone());
    EXPECT_EQ(device.fitRawX[0], 7002);
    EXPECT_EQ(device.fitRawY[0], 7998);
    EXPECT_EQ(device.fitRawX[1], 20000);
}

// The listener may run ahead of the window's message loop: the table never takes more
// points than there are targets, and reports queued behind the last point leave the
// result's text alone.
TEST_F(WindowSessionTest, PointsFasterThanTheWindowStopAtTheLastTarget) {
    Open();
    for (int finger = 1; finger <= kAffinePoints + 2; ++finger) {
        for (int report = 0; report < kSteadyReports; ++report) device.Report(1000 * finger, 500);
        device.Lift();
    }
    EXPECT_EQ(view.PendingPoints(), kAffinePoints);
    driver->Pump();
    EXPECT_TRUE(session->IsDone());
    EXPECT_EQ(device.fitRawX, (std::vector<int>{1000, 2000, 3000, 4000}));
    EXPECT_EQ(view.status, "Calibrated");
}

TEST_F(WindowSessionTest, ARejectedPointLeavesTheTargetUntilTheFingerComesAgain) {
    std::vector<PointCandidate> asked;
    bool accept = false;
    Open({kScreen, RegionMode::kFullScreen, 0, kAffinePoints, [&](const PointCandidate& candidate) {
              asked.push_back(candidate);
              return accept;
          }});
    Rest(1111, 2222, 101);
    Rest(1111, 2222, 200);
    EXPECT_EQ(session->CurrentTarget(), Target(0));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].mode, RegionMode::kFullScreen);
    EXPECT_EQ(asked[0].regionIndex, 0);
    EXPECT_EQ(asked[0].pointCount, 4);
    EXPECT_EQ(asked[0].targetIndex, 0);
    EXPECT_EQ(asked[0].target, (TargetPoint{2048, 2048}));
    EXPECT_EQ(asked[0].rawX, 1111);
    EXPECT_EQ(asked[0].rawY, 2222);

    accept = true;
    driver->Lift();
    Rest(1500, 2500, 100);
    EXPECT_EQ(session->CurrentTarget(), Target(1));
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1].rawX, 1500);
}

TEST_F(WindowSessionTest, RightClickStepsBackOneTargetButNotBeforeTheFirst) {
    Open();
    session->OnRightButtonDown();
    driver->Pump();
    EXPECT_EQ(session->CurrentTarget(), Target(0));
    EXPECT_FALSE(session->IsDone());

    driver->TouchCurrentTarget();
    Rest(9000, 9000, 100);  // the second point, far from its target
    driver->Lift();
    ASSERT_EQ(session->CurrentTarget(), Target(2));
    session->OnRightButtonDown();
    driver->Pump();
    EXPECT_EQ(session->CurrentTarget(), Target(1));

    driver->TouchAllTargets();
    ASSERT_TRUE(session->IsDone());
    ASSERT_EQ(device.fitCount, 4);
    EXPECT_NE(device.fitRawX[1], 9000);  // the undone point was taken again
}

TEST_F(WindowSessionTest, CollectingRunsTheDriverRawAndEveryWayOfClosingPutsItBack) {
    struct Case {
        const char* name;
        std::function<void(Window&)> close;
        bool endsOk;
    };
    const Case cases[] = {
        {"Escape while collecting",
         [](Window& t) {
             t.driver->TouchCurrentTarget();
             t.session->OnCancel();
         },
         false},
        {"Cancel once done",
         [](Window& t) {
             t.driver->TouchAllTargets();
             t.session->OnCancel();
         },
         false},
        {"stop from another thread",
         [](Window& t) {
             std::thread([&] { t.session->RequestClose(); }).join();
             t.driver->Pump();
         },
         false},
        {"no touch at all", [](Window& t) { t.driver->Ticks(180); }, false},
        {"no OK in time",
         [](Window& t) {
             t.driver->TouchAllTargets();
             t.driver->Ticks(30);
         },
         false},
        {"OK",
         [](Window& t) {
             t.driver->TouchAllTargets();
             t.session->OnOk();
         },
         true},
        {"window destroyed", [](Window& t) { t.session->OnDestroy(); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Window w;
        auto& device = w.device;
        auto& view = w.view;
        const Snapshot before(device);
        w.Open();
        EXPECT_EQ(device.driverConfig.Mode, 1);
        EXPECT_EQ(device.driverConfig.BeepFrequency, 2000u);
        EXPECT_EQ(device.workMode, kWorkModeCalibrate);
        EXPECT_TRUE(device.Listening());

        device.calls.clear();
        c.close(w);
        EXPECT_TRUE(Snapshot(device) == before);
        EXPECT_FALSE(device.Listening());
        EXPECT_EQ(view.ended, c.name != std::string("window destroyed"));
        EXPECT_EQ(view.endedOk, c.endsOk);
        EXPECT_TRUE(view.cursorShown);

        // Put back in the order they were saved, once.
        std::vector<std::string> restores;
        for (const std::string& call : device.calls) {
            if (call.rfind("Set", 0) == 0) restores.push_back(call);
        }
        const std::vector<std::string> lastFour(restores.end() - std::min<std::size_t>(4, restores.size()),
                                                restores.end());
        EXPECT_EQ(lastFour,
                  (std::vector<std::string>{"SetCalibPara", "SetDeviceConfig", "SetDriverConfig", "SetWorkMode"}));
        w.session->OnDestroy();
        EXPECT_EQ(device.Count("SetDriverConfig"), 1);
    }
}

TEST_F(WindowSessionTest, TimeOutsCountWholeSecondsAndAPointStartsTheWaitAgain) {
    Open({kScreen, RegionMode::kFullScreen, 0, kAffinePoints, {}}, {.confirmSeconds = 3, .noResponseSeconds = 5});
    driver->Ticks(4);
    driver->TouchCurrentTarget();
    driver->Ticks(4);
    EXPECT_FALSE(view.ended);
    driver->TouchAllTargets();
    view.log.clear();
    driver->Ticks(2);
    EXPECT_FALSE(view.ended);
    driver->Ticks(1);
    EXPECT_EQ(view.log, (std::vector<std::string>{"Countdown 2", "Countdown 1", "Countdown 0", "Cursor shown",
                                                  "StopTimer", "End Cancel"}));
}

TEST_F(WindowSessionTest, ZeroTimeOutsCancelAtTheFirstTick) {
    for (const bool done : {false, true}) {
        SCOPED_TRACE(done ? "done" : "collecting");
        Window w;
        w.Open({kScreen, RegionMode::kFullScreen, 0, kAffinePoints, {}}, {.confirmSeconds = 0, .noResponseSeconds = 0});
        if (done) w.driver->TouchAllTargets();
        ASSERT_FALSE(w.view.ended);
        w.driver->Ticks(1);
        EXPECT_TRUE(w.view.ended);
        EXPECT_FALSE(w.view.endedOk);
    }
}

TEST_F(WindowSessionTest, OkAndReCalibrateWaitForAResult) {
    Open();
    driver->TouchCurrentTarget();
    session->OnOk();
    session->OnReCalibrate();
    EXPECT_FALSE(view.ended);
    EXPECT_EQ(session->CurrentTarget(), Target(1));
}

TEST_F(WindowSessionTest, ReCalibrateRestoresThenCollectsAgainFromAFreshSave) {
    const Snapshot before(device);
    Open();
    driver->TouchAllTargets();
    ASSERT_TRUE(session->IsDone());
    EXPECT_FALSE(Snapshot(device) == before);  // the result is being tried out
    EXPECT_EQ(device.workMode, 0xF2);

    device.calls.clear();
    session->OnReCalibrate();
    EXPECT_EQ(device.calls,
              (std::vector<std::string>{"SetCalibPara", "SetDeviceConfig", "SetDriverConfig", "SetWorkMode",
                                        "GetCalibPara", "GetDeviceConfig", "GetDriverConfig", "GetWorkMode",
                                        "SetDriverConfig", "SetWorkMode", "Register"}));
    EXPECT_FALSE(session->IsDone());
    EXPECT_EQ(session->CurrentTarget(), Target(0));
    EXPECT_FALSE(view.buttonsShown);
    EXPECT_EQ(device.workMode, kWorkModeCalibrate);

    session->OnCancel();
    EXPECT_TRUE(Snapshot(device) == before);
}

TEST_F(WindowSessionTest, WhatCannotBeReadIsNeitherChangedNorRestored) {
    device.failing = {"GetCalibPara", "GetDriverConfig", "GetWorkMode"};
    Open();
    driver->TouchAllTargets();
    ASSERT_TRUE(session->IsDone());
    session->OnCancel();
    EXPECT_EQ(device.Count("SetCalibPara"), 0);
    EXPECT_EQ(device.Count("SetDriverConfig"), 0);
    EXPECT_EQ(device.Count("SetWorkMode"), 0);
    EXPECT_EQ(device.Count("SetDeviceConfig"), 2);  // tried out, then put back
}

TEST_F(WindowSessionTest, AWindowWithoutADeviceWaitsForTheNoResponseTimeOut) {
    Open({kInvalidDevice, RegionMode::kFullScreen, 0, kAffinePoints, {}});
    EXPECT_EQ(device.calls, std::vector<std::string>{});
    driver->Ticks(179);
    EXPECT_FALSE(view.ended);
    driver->Ticks(1);
    EXPECT_TRUE(view.ended);
    EXPECT_FALSE(view.endedOk);
    EXPECT_EQ(device.calls, std::vector<std::string>{});
}

TEST_F(WindowSessionTest, CursorAndSizingFollowTheTargets) {
    struct Case {
        RegionMode mode;
        bool hiddenAtStart;
        bool resizableAtFirst;
    };
    for (const Case c : {Case{RegionMode::kFullScreen, true, false}, Case{RegionMode::kQuadrants, false, true}}) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        Window w;
        auto& view = w.view;
        auto& session = w.session;
        auto& driver = w.driver;
        w.Open({kScreen, c.mode, 0, kAffinePoints, {}});
        EXPECT_EQ(view.cursorShown, !c.hiddenAtStart);
        EXPECT_EQ(session->IsResizable(), c.resizableAtFirst);
        driver->TouchCurrentTarget();
        EXPECT_FALSE(view.cursorShown);
        EXPECT_FALSE(session->IsResizable());
        session->OnRightButtonDown();
        driver->Pump();
        EXPECT_EQ(view.cursorShown, !c.hiddenAtStart);
        EXPECT_EQ(session->IsResizable(), c.resizableAtFirst);
        driver->TouchAllTargets();
        EXPECT_TRUE(view.cursorShown);
        EXPECT_TRUE(view.buttonsShown);
        EXPECT_EQ(session->CurrentTarget(), std::nullopt);
    }
}

TEST_F(WindowSessionTest, AnUnreadableScreenPropertyCancelsInsteadOfGuessingTheArea) {
    const Snapshot before(device);
    device.failing = {"GetScreenProperty"};
    Open();
    driver->TouchAllTargets();
    EXPECT_TRUE(view.ended);
    EXPECT_FALSE(view.endedOk);
    EXPECT_TRUE(Snapshot(device) == before);

    Window flat;
    flat.device.screen.Height = 0;
    flat.Open();
    flat.driver->TouchAllTargets();
    EXPECT_TRUE(flat.view.ended);
    EXPECT_FALSE(flat.view.endedOk);
}

// ---- Whole sessions -------------------------------------------------------------------

class CalibraterTest : public ::testing::Test {
protected:
    FakeDevice device;
};

// Every window: all targets, then OK.
void AcceptEveryWindow(WindowDriver& window) {
    window.TouchAllTargets();
    window.session().OnOk();
}

TEST_F(CalibraterTest, FourPointsStoreOnlyTheAffineCoefficientsOfTheCubicForm) {
    const Snapshot before(device);
    ScriptedHost host(device, AcceptEveryWindow);
    Calibrater calibrater(device, host);
    ASSERT_TRUE(calibrater.Start(kScreen, 0, {}));

    EXPECT_EQ(device.fitCount, 4);
    EXPECT_FALSE(device.fitCubic);
    for (int k = 0; k < 10; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(device.recordX.Coef[k] != 0, k >= 7);
        EXPECT_EQ(device.recordY.Coef[k] != 0, k >= 7);
    }
    for (std::uint8_t byte : device.recordX.Reserved) EXPECT_EQ(byte, 0);
    EXPECT_EQ(device.deviceConfig.RegionByte, 0x01);
    EXPECT_EQ(device.deviceConfig.Region0.XMax, kScreenWidthMm);
    EXPECT_EQ(device.deviceConfig.Region0.YMax, kScreenHeightMm);
    EXPECT_EQ(device.deviceConfig.Reserved1[0], 2);
    EXPECT_EQ(device.deviceConfig.Reserved2[5], 0x5A);
    EXPECT_TRUE(std::memcmp(&device.driverConfig, &before.driverConfig, sizeof before.driverConfig) == 0);
    EXPECT_EQ(device.workMode, before.workMode);
    // The stored form maps a raw touch back onto the screen.
    EXPECT_NEAR(EvaluateTriple(device.recordX, 28, 640, 400), Normalised(640, kScreenWidthPx), 4.0);
    EXPECT_NEAR(EvaluateTriple(device.recordY, 28, 100, 700), Normalised(700, kScreenHeightPx), 4.0);
}

TEST_F(CalibraterTest, CalibrateTypeAsksForTwentyFivePointsAndTheCubicForm) {
    device.driverConfig.CalibrateType = 1;
    ScriptedHost host(device, AcceptEveryWindow);
    Calibrater calibrater(device, host);
    ASSERT_TRUE(calibrater.Start(kScreen, 0, {}));
    EXPECT_EQ(device.fitCount, 25);
    EXPECT_TRUE(device.fitCubic);
    EXPECT_EQ(device.fitTargetX[6], Normalised((2048 + 7168) * kScreenWidthPx / 32768, kScreenWidthPx));
    EXPECT_EQ(device.deviceConfig.RegionByte, 0x01);
    EXPECT_NEAR(EvaluateCubic(device.recordX, 333, 444), Normalised(333, kScreenWidthPx), 8.0);
    EXPECT_NEAR(EvaluateCubic(device.recordY, 333, 444), Normalised(444, kScreenHeightPx), 8.0);
}

TEST_F(CalibraterTest, RegionModesRunAWindowPerRegionAndStoreATriplePerRegion) {
    struct Case {
        int mode;
        std::uint8_t regionByte;
        std::vector<REGION_BOUNDS> rectangles;
    };
    const Case cases[] = {
        {1, 0x80, {{145, 78, 254, 171}}},
        {4, 0x86, {{0, 0, 200, 125}, {200, 0, 400, 125}, {0, 125, 200, 250}, {200, 125, 400, 250}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        FakeDevice device;
        device.driverConfig.CalibrateType = 1;  // regions take four points whatever it says
        const Snapshot before(device);
        ScriptedHost host(device, AcceptEveryWindow);
        Calibrater calibrater(device, host);
        ASSERT_TRUE(calibrater.Start(kScreen, c.mode, {}));

        ASSERT_EQ(host.windowLogs.size(), c.rectangles.size());
        for (std::size_t r = 0; r < c.rectangles.size(); ++r) {
            SCOPED_TRACE(r);
            EXPECT_EQ(host.windowLogs[r][0], "Buttons hidden");
            EXPECT_NE(std::find(host.windowLogs[r].begin(), host.windowLogs[r].end(),
                                "Place " + std::to_string(c.mode) + " " + std::to_string(r)),
                      host.windowLogs[r].end());
            const REGION_BOUNDS stored = r == 0 ? device.deviceConfig.Region0 : device.deviceConfig.Regions[r - 1];
            EXPECT_EQ(stored.XMin, c.rectangles[r].XMin);
            EXPECT_EQ(stored.YMin, c.rectangles[r].YMin);
            EXPECT_EQ(stored.XMax, c.rectangles[r].XMax);
            EXPECT_EQ(stored.YMax, c.rectangles[r].YMax);
            // Triple r maps the middle of its own region.
            const int pixelX = (c.rectangles[r].XMin + c.rectangles[r].XMax) / 2 * kScreenWidthPx / 400;
            const int pixelY = (c.rectangles[r].YMin + c.rectangles[r].YMax) / 2 * kScreenHeightPx / 250;
            EXPECT_NEAR(EvaluateTriple(device.recordX, 12 * r, pixelX, pixelY), Normalised(pixelX, kScreenWidthPx),
                        4.0);
            EXPECT_NEAR(EvaluateTriple(device.recordY, 12 * r, pixelX, pixelY), Normalised(pixelY, kScreenHeightPx),
                        4.0);
        }
        const auto* bytesX = reinterpret_cast<const unsigned char*>(&device.recordX);
        for (std::size_t k = 12 * c.rectangles.size(); k < sizeof device.recordX; ++k) EXPECT_EQ(bytesX[k], 0) << k;
        EXPECT_EQ(device.fitCount, 4);
        EXPECT_EQ(device.deviceConfig.RegionByte, c.regionByte);
        EXPECT_EQ(device.deviceConfig.Reserved1[0], 2);
        EXPECT_TRUE(std::memcmp(&device.driverConfig, &before.driverConfig, sizeof before.driverConfig) == 0);
        EXPECT_EQ(device.workMode, before.workMode);
    }
}

TEST_F(CalibraterTest, ACancelledRegionWindowEndsTheSequenceAndStoresNothing) {
    const Snapshot before(device);
    int window = 0;
    ScriptedHost host(device, [&](WindowDriver& driver) {
        driver.TouchAllTargets();
        if (window++ == 2) {
            driver.session().OnCancel();
        } else {
            driver.session().OnOk();
        }
    });
    Calibrater calibrater(device, host);
    EXPECT_FALSE(calibrater.Start(kScreen, 4, {}));
    EXPECT_EQ(host.windowLogs.size(), 3u);
    EXPECT_TRUE(Snapshot(device) == before);
}

TEST_F(CalibraterTest, WithoutTouchesTheSessionCancelsItselfAfterTheNoResponseTimeOut) {
    const Snapshot before(device);
    int ticks = 0;
    ScriptedHost counting(device, [&](WindowDriver& window) {
        while (!window.view().ended) {
            window.Ticks(1);
            ++ticks;
        }
    });
    Calibrater calibrater(device, counting);
    EXPECT_FALSE(calibrater.Start(kScreen, 0, {}));
    EXPECT_EQ(ticks, 180);
    EXPECT_TRUE(Snapshot(device) == before);
}

TEST_F(CalibraterTest, StopEndsTheSequenceFromAnotherThread) {
    const Snapshot before(device);
    Calibrater* running = nullptr;
    int window = 0;
    ScriptedHost host(device, [&](WindowDriver& driver) {
        driver.TouchAllTargets();
        if (window++ == 1) {
            std::thread([&] { running->Stop(); }).join();
            driver.Pump();
            EXPECT_TRUE(driver.view().ended);
            EXPECT_FALSE(driver.view().endedOk);
        } else {
            driver.session().OnOk();
        }
    });
    Calibrater calibrater(device, host);
    running = &calibrater;
    EXPECT_FALSE(calibrater.Start(kScreen, 4, {}));
    EXPECT_EQ(host.windowLogs.size(), 2u);
    EXPECT_TRUE(Snapshot(device) == before);
    // The mark is cleared: a new session runs.
    EXPECT_TRUE(calibrater.Start(kScreen, 0, {}));
    EXPECT_EQ(host.windowLogs.size(), 3u);
}

TEST_F(CalibraterTest, OneSessionAtATimeAndOnlyKnownRegionModes) {
    bool nestedStarted = true;
    Calibrater* running = nullptr;
    ScriptedHost host(device, [&](WindowDriver&) { nestedStarted = running->Start(kScreen, 0, {}); });
    Calibrater calibrater(device, host);
    running = &calibrater;
    EXPECT_FALSE(calibrater.Start(kScreen, 0, {}));
    EXPECT_FALSE(nestedStarted);
    EXPECT_EQ(host.windowLogs.size(), 1u);

    for (const int mode : {-1, 2, 3, 5, 64}) {
        SCOPED_TRACE(mode);
        device.calls.clear();
        EXPECT_FALSE(calibrater.Start(kScreen, mode, {}));
        EXPECT_EQ(device.calls, std::vector<std::string>{});
    }
    EXPECT_EQ(host.windowLogs.size(), 1u);
}

TEST_F(CalibraterTest, WithoutADeviceOnlyTheFullScreenWindowOpensAndItTimesOut) {
    ScriptedHost host(device, [](WindowDriver& window) { window.Ticks(180); });
    Calibrater calibrater(device, host);
    EXPECT_FALSE(calibrater.Start(kInvalidDevice, 4, {}));
    EXPECT_TRUE(host.windowLogs.empty());
    EXPECT_FALSE(calibrater.Start(kInvalidDevice, 0, {}));
    ASSERT_EQ(host.windowLogs.size(), 1u);
    EXPECT_EQ(host.windowLogs[0].back(), "End Cancel");
    EXPECT_EQ(device.calls, std::vector<std::string>{});
}

TEST_F(CalibraterTest, AFinalWriteThatFailsIsNotReportedAsStored) {
    for (const char* failing : {"SetCalibPara", "SetDeviceConfig"}) {
        SCOPED_TRACE(failing);
        FakeDevice device;
        int windows = 0;
        ScriptedHost host(device, [&](WindowDriver& window) {
            window.TouchAllTargets();
            device.failing = {failing};
            ++windows;
            window.session().OnOk();
        });
        Calibrater calibrater(device, host);
        EXPECT_FALSE(calibrater.Start(kScreen, 0, {}));
        EXPECT_EQ(windows, 1);
    }
}

TEST_F(CalibraterTest, AWindowThatCannotBeCreatedStoresNothing) {
    const Snapshot before(device);
    ScriptedHost host(device, [](WindowDriver&) {});
    host.creatable = false;
    Calibrater calibrater(device, host);
    EXPECT_FALSE(calibrater.Start(kScreen, 0, {}));
    EXPECT_TRUE(Snapshot(device) == before);
}

// ---- Threads --------------------------------------------------------------------------

// Reports from a listener thread while the window thread pumps, undoes and finally gets a
// stop from a third thread; run under ThreadSanitizer.
TEST(CalibrationThreadsTest, TheListenerTheWindowAndStopShareTheSessionSafely) {
    FakeDevice device;
    const Snapshot before(device);
    Calibrater* running = nullptr;
    ScriptedHost host(device, [&](WindowDriver& window) {
        std::atomic<bool> listening{true};
        std::thread listener([&] {
            for (int report = 0; listening; ++report) {
                if (report % 150 == 149) {
                    device.Lift();
                } else {
                    device.Report(4000 + report % 3, 5000);
                }
            }
        });
        for (int round = 0; round < 200 && !window.view().ended; ++round) {
            window.Pump();
            (void)window.session().CurrentTarget();
            if (round % 7 == 0) window.session().OnRightButtonDown();
            std::this_thread::yield();
        }
        std::thread stopper([&] { running->Stop(); });
        stopper.join();
        while (!window.view().ended) window.Pump();
        listening = false;
        listener.join();
    });
    Calibrater calibrater(device, host);
    running = &calibrater;
    EXPECT_FALSE(calibrater.Start(kScreen, 4, {}));
    EXPECT_TRUE(Snapshot(device) == before);
}

// ---- Tables ---------------------------------------------------------------------------

TEST(CalibrationTablesTest, RegionByteHasOddParity) {
    const std::pair<int, std::uint8_t> cases[] = {{1, 0x80},  {2, 0x02}, {3, 0x04},  {4, 0x86}, {5, 0x08},
                                                  {64, 0xFE}, {0, 0x00}, {65, 0x00}, {-1, 0x00}};
    for (const auto& [regions, expected] : cases) {
        SCOPED_TRACE(regions);
        EXPECT_EQ(RegionByte(regions), expected);
        if (expected != 0) {
            EXPECT_EQ(std::popcount(expected) % 2, 1);
        }
    }
}

TEST(CalibrationTablesTest, TargetsFormASquareGridInsideTheWindow) {
    EXPECT_EQ(TargetGrid(4), (std::vector<TargetPoint>{{2048, 2048}, {30720, 2048}, {2048, 30720}, {30720, 30720}}));
    const auto grid = TargetGrid(25);
    ASSERT_EQ(grid.size(), 25u);
    EXPECT_EQ(grid[6], (TargetPoint{9216, 9216}));
    EXPECT_EQ(grid[24], (TargetPoint{30720, 30720}));
    EXPECT_EQ(grid[5], (TargetPoint{2048, 9216}));
    EXPECT_EQ(TargetGrid(1), (std::vector<TargetPoint>{{2048, 2048}}));
    EXPECT_TRUE(TargetGrid(0).empty());
    EXPECT_TRUE(TargetGrid(65).empty());
}

TEST(CalibrationTablesTest, PointCountFollowsCalibrateTypeOnlyForTheFullScreen) {
    _NERIO_DRIVER_CONFIG config{};
    EXPECT_EQ(PointCount(RegionMode::kFullScreen, config), 4);
    config.CalibrateType = 2;
    EXPECT_EQ(PointCount(RegionMode::kFullScreen, config), 25);
    EXPECT_EQ(PointCount(RegionMode::kOneRegion, config), 4);
    EXPECT_EQ(PointCount(RegionMode::kQuadrants, config), 4);
}

TEST(CalibrationTablesTest, OutOfRangeParametersCannotReachPastTheTables) {
    FakeDevice device;
    RecordingView view;
    WindowSession session(device, {kScreen, RegionMode::kQuadrants, 9, 1000, {}});
    session.OnInit(view, {});
    WindowDriver driver(session, view, device);
    driver.Pump();
    EXPECT_EQ(session.RegionIndex(), kMaxRegions - 1);
    driver.TouchAllTargets();
    EXPECT_EQ(device.fitCount, kMaxPoints);
}

}  // namespace
}  // namespace kav::calib::test
