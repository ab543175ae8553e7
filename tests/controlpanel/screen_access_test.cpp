#include "controlpanel/screen_access.h"

#include <gtest/gtest.h>

#include "controlpanel/display_layout.h"
#include "controlpanel/program_start.h"
#include "fakes.h"

namespace kav::cpl::test {
namespace {

TEST(ScreenAccess, ReachesOneScreenAndClosesEveryHandle) {
    struct Case {
        const char* name;
        int index;
        bool opens;
        bool result;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"second screen", 1, true, true, {"GetDeviceConfig 1"}},
        {"past the end", 3, true, false, {}},
        {"negative", -1, true, false, {}},
        {"handle did not open", 1, false, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeTouchScreens screens;
        screens.screens.resize(3);
        screens.screens[1].opens = c.opens;
        ScreenAccess access(screens);
        DEVICE_CONFIG record{};
        EXPECT_EQ(access.WithScreen(c.index, [&](ScreenHandle h) { return screens.GetDeviceConfig(h, record); }),
                  c.result);
        EXPECT_EQ(screens.calls, c.calls);
        EXPECT_TRUE(screens.open.empty());
    }
}

TEST(ScreenAccess, AttachedVariantOpensNothingWithoutScreens) {
    FakeTouchScreens screens;
    ScreenAccess access(screens);
    bool called = false;
    EXPECT_FALSE(access.WithAttachedScreen(0, [&](ScreenHandle) { return called = true; }));
    EXPECT_FALSE(called);
}

TEST(ScreenAccess, OpenByIndexKeepsOnlyThatHandle) {
    FakeTouchScreens screens;
    screens.screens.resize(3);
    ScreenAccess access(screens);
    const ScreenHandle kept = access.OpenTouchScreenByIndex(2);
    ASSERT_NE(kept, kNoScreen);
    EXPECT_EQ(screens.open, (std::set<ScreenHandle>{kept}));
    screens.Close(kept);
    EXPECT_EQ(access.OpenTouchScreenByIndex(3), kNoScreen);
    EXPECT_TRUE(screens.open.empty());
    EXPECT_TRUE(screens.calls.empty()) << screens.calls.front();
}

TEST(DisplayLayout, StartsUnmappedAndKeepsAtMost64Monitors) {
    DisplayLayout layout;
    EXPECT_EQ(layout.mappings[63].monitorNo, -1);
    EXPECT_EQ(layout.mappings[0].touchScreenNo, -1);

    FakeSystem system;
    system.monitors.clear();
    for (int i = 0; i < 70; ++i) system.monitors.push_back({i * 100 - 300, -20, i * 100 - 100, 1060});
    EnumerateMonitors(layout, system);
    EXPECT_EQ(layout.monitorCount, 64);
    EXPECT_EQ(layout.monitors[63].index, 63);
    EXPECT_EQ(layout.monitors[0].left, -300);
    EXPECT_EQ(layout.monitors[0].width, 200);
    EXPECT_EQ(layout.monitors[0].height, 1080);

    system.monitors.resize(1);
    EnumerateMonitors(layout, system);
    EXPECT_EQ(layout.monitorCount, 1);
}

class FakeInstances : public InstanceSystem {
public:
    bool mutexExists = false;
    std::vector<std::string> calls;
    bool CreateInstanceMutex(const std::string& name) override {
        calls.push_back("Mutex " + name);
        return !mutexExists;
    }
    bool BringWindowToFront(const std::string& title) override {
        calls.push_back("Front '" + title + "'");
        return true;
    }
};

TEST(ProgramStart, ASecondInstanceBringsTheFirstToTheFrontByCaption) {
    struct Case {
        const char* name;
        bool running;
        bool languageFile;
        bool claims;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"first", false, true, true, {"Mutex KavCpl"}},
        {"second", true, true, false, {"Mutex KavCpl", "Front 'TouchScreen Control Panel'"}},
        {"second, no language file", true, false, false, {"Mutex KavCpl", "Front ''"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeInstances instances;
        instances.mutexExists = c.running;
        FakeSystem system;
        if (c.languageFile) system.AddEnglish();
        EXPECT_EQ(ClaimSingleInstance(instances, system, ApplicationNameFromPath("Z:\\opt\\kav\\KavCpl.exe")),
                  c.claims);
        EXPECT_EQ(instances.calls, c.calls);
    }
    EXPECT_EQ(ApplicationNameFromPath("KavCpl"), "KavCpl");
    EXPECT_EQ(ApplicationNameFromPath("C:\\a.b\\Kav.Cpl.exe"), "Kav.Cpl");
}

}  // namespace
}  // namespace kav::cpl::test
