#include "controlpanel/kavcpl_dlg.h"

#include <gtest/gtest.h>

#include "controlpanel/resource.h"
#include "fakes.h"

namespace kav::cpl::test {
namespace {

using Screen = FakeTouchScreens::Screen;

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() {
        system.AddEnglish();
        view.onSelect = [this](int row) { dialog.OnRowChanged(row); };
    }

    void Open(std::vector<Screen> attached) {
        screens.screens = std::move(attached);
        dialog.OnInitDialog();
    }

    std::vector<std::string> RowTexts() const {
        std::vector<std::string> texts;
        for (const auto& row : view.rows) texts.push_back(row.text);
        return texts;
    }

    void ExpectNoHandleLeft() const { EXPECT_TRUE(screens.open.empty()) << screens.open.size() << " handles open"; }

    RecordingView view;
    FakeTouchScreens screens;
    FakeSystem system;
    CKavCplDlg dialog{view, screens, system};
};

TEST_F(MainWindowTest, NoScreenAtStartShowsTheMessageAndCloses) {
    Open({});
    EXPECT_EQ(view.log, (std::vector<std::string>{"Message No touch screen / Error error", "EndDialog failed"}));
    EXPECT_FALSE(screens.callback);
}

TEST_F(MainWindowTest, ListsEveryScreenWithItsNumbersAndImage) {
    Screen unset = FakeTouchScreens::MakeScreen(0xFF, 0xFF, 3);
    Screen unreadable = FakeTouchScreens::MakeScreen(4, 5, 1);
    unreadable.readable = false;
    Open({FakeTouchScreens::MakeScreen(1, 2, 0), unset, unreadable});

    EXPECT_EQ(RowTexts(), (std::vector<std::string>{"TouchScreen No.2\n   Monitor      No.3",
                                                    "TouchScreen No.1\n   Monitor      No.1",
                                                    "TouchScreen No.1\n   Monitor      No.1"}));
    ASSERT_EQ(view.rows.size(), 3u);
    EXPECT_EQ(view.rows[0].image, ScreenImage::kUncalibrated);
    EXPECT_EQ(view.rows[1].image, ScreenImage::kCalibrated);  // any nonzero region byte
    EXPECT_EQ(view.rows[2].image, ScreenImage::kUncalibrated);
    EXPECT_EQ(dialog.validity(), (std::vector<std::int32_t>{1, 1, 0}));
    EXPECT_TRUE(view.Matching("Message").empty());
    // The shared layout carries the numbers as read, 0xFF already turned into 0.
    EXPECT_EQ(dialog.layout().mappings[1].touchScreenNo, 0);
    EXPECT_EQ(dialog.layout().mappings[0].monitorNo, 2);
    EXPECT_EQ(dialog.layout().mappings[3].monitorNo, -1);
    ExpectNoHandleLeft();
}

TEST_F(MainWindowTest, InitialisationSetsTextsDisablesRegionCalibrateAndListens) {
    Open({FakeTouchScreens::MakeScreen(0, 0, 1)});
    EXPECT_EQ(view.caption, "TouchScreen Control Panel");
    EXPECT_EQ(view.texts[IDC_MAPPING], "Mapping");
    EXPECT_EQ(view.texts[IDC_EXIT], "9");  // not in the test's file: the key itself
    EXPECT_EQ(view.texts.size(), 17u);
    EXPECT_FALSE(view.enabled.at(IDC_REGION_CALIBRATE));
    EXPECT_TRUE(view.enabled.at(IDC_RESET));
    EXPECT_EQ(dialog.selectedIndex(), 0);
    EXPECT_TRUE(view.Logged("Redraw on"));

    ASSERT_TRUE(screens.callback);
    screens.callback(0x8004, 0);
    EXPECT_EQ(view.log.back(), "PostDeviceChanged 32772 0");

    dialog.OnDestroy();
    EXPECT_FALSE(screens.callback);
}

TEST_F(MainWindowTest, TheOnlyScreenUnreadableEndsTheProgram) {
    Screen only = FakeTouchScreens::MakeScreen(0, 0, 0);
    only.readable = false;
    Open({only});
    EXPECT_EQ(view.Matching("Message"), (std::vector<std::string>{"Message Unreadable / Error error"}));
    EXPECT_TRUE(view.Logged("EndDialog failed"));
    EXPECT_TRUE(view.rows.empty());
    ExpectNoHandleLeft();
}

TEST_F(MainWindowTest, MappingIsDisabledFromTheStartWhereTheVersionTestPasses) {
    struct Case {
        std::optional<OsVersion> version;
        bool passes;
    };
    const Case cases[] = {
        {OsVersion{6, 1}, true},  {OsVersion{6, 2}, true},  {OsVersion{6, 0}, false},
        {OsVersion{5, 1}, false}, {OsVersion{5, 2}, false}, {std::nullopt, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version ? std::to_string(c.version->major) + "." + std::to_string(c.version->minor) : "none");
        EXPECT_EQ(PassesVersionTest(c.version), c.passes);
        RecordingView caseView;
        FakeTouchScreens caseScreens;
        caseScreens.screens = {FakeTouchScreens::MakeScreen(0, 0, 0)};
        FakeSystem caseSystem;
        caseSystem.version = c.version;
        CKavCplDlg caseDialog(caseView, caseScreens, caseSystem);
        caseDialog.OnInitDialog();
        EXPECT_EQ(caseView.Logged("Enable 1086 off"), c.passes);
        // Closing a Mapping dialog never enables the button where the test passes.
        caseDialog.OnMappingClosed(1);
        EXPECT_EQ(caseView.enabled.count(IDC_MAPPING) && caseView.enabled.at(IDC_MAPPING), !c.passes);
    }
}

TEST_F(MainWindowTest, ResetShowsTheProhibitionSignWithoutReadingAgain) {
    Open({FakeTouchScreens::MakeScreen(0, 0, 0), FakeTouchScreens::MakeScreen(1, 1, 2)});
    dialog.OnRowChanged(1);
    EXPECT_TRUE(view.enabled.at(IDC_RESET));
    screens.calls.clear();
    view.Clear();

    dialog.OnReset();

    EXPECT_EQ(screens.calls, (std::vector<std::string>{"SetDeviceConfig 1"}));
    EXPECT_EQ(screens.screens[1].record.RegionByte, 0);
    EXPECT_EQ(TouchScreenNo(screens.screens[1].record), 1);  // the rest of the record as read
    EXPECT_EQ(view.rows[1].image, ScreenImage::kUncalibrated);
    EXPECT_EQ(dialog.selectedIndex(), 0);
    EXPECT_FALSE(view.enabled.at(IDC_RESET));
    EXPECT_TRUE(view.windowEnabled);
    EXPECT_EQ(view.waitCursors, 0);
    EXPECT_TRUE(view.Matching("Message").empty());
    ExpectNoHandleLeft();
}

TEST_F(MainWindowTest, ResetThatCannotWriteReportsItAndKeepsTheCachedByte) {
    Screen stubborn = FakeTouchScreens::MakeScreen(0, 0, 1);
    stubborn.writable = false;
    Open({stubborn, FakeTouchScreens::MakeScreen(1, 0, 1)});
    dialog.OnReset();
    EXPECT_EQ(view.Matching("Message"), (std::vector<std::string>{"Message Write failed / Error error"}));
    EXPECT_EQ(dialog.records()[0].RegionByte, 0);
    EXPECT_EQ(view.rows[0].image, ScreenImage::kUncalibrated);
    EXPECT_EQ(screens.screens[0].record.RegionByte, 1);
}

TEST_F(MainWindowTest, ResetNeverWritesARecordItCouldNotRead) {
    Screen unreadable = FakeTouchScreens::MakeScreen(3, 3, 1);
    unreadable.readable = false;
    Open({FakeTouchScreens::MakeScreen(0, 0, 1), unreadable});
    dialog.OnRowChanged(1);
    EXPECT_FALSE(view.enabled.at(IDC_RESET));
    dialog.OnReset();  // reachable only by a stray command message
    EXPECT_TRUE(screens.Writes().empty());
    EXPECT_EQ(view.Matching("Message"), (std::vector<std::string>{"Message Write failed / Error error"}));
    EXPECT_EQ(screens.screens[1].record.RegionByte, 1);
}

TEST_F(MainWindowTest, HandlersWithNoScreenLeftReportItAndLeaveTheWindowUsable) {
    struct Case {
        const char* name;
        void (CKavCplDlg::*handler)();
    };
    const Case cases[] = {{"Reset", &CKavCplDlg::OnReset},
                          {"Settings", &CKavCplDlg::OnSettings},
                          {"About", &CKavCplDlg::OnAbout},
                          {"Mapping", &CKavCplDlg::OnMapping}};
    Open({FakeTouchScreens::MakeScreen(0, 0, 1)});
    screens.screens.clear();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        view.Clear();
        (dialog.*c.handler)();
        EXPECT_EQ(view.Matching("Message"), (std::vector<std::string>{"Message No touch screen / Error error"}));
        EXPECT_TRUE(view.windowEnabled);
        EXPECT_EQ(view.waitCursors, 0);
        EXPECT_TRUE(view.Matching("Settings").empty() && view.Matching("About").empty() &&
                    view.Matching("CreateMapping").empty());
    }
}

TEST_F(MainWindowTest, SettingsAndAboutRunForTheSelectedScreen) {
    Open({FakeTouchScreens::MakeScreen(0, 0, 0), FakeTouchScreens::MakeScreen(1, 0, 0)});
    dialog.OnRowChanged(1);
    view.Clear();
    dialog.OnSettings();
    EXPECT_EQ(view.log, (std::vector<std::string>{"Window off", "Settings 1", "Window on"}));
    view.Clear();
    dialog.OnAbout();
    EXPECT_EQ(view.log, (std::vector<std::string>{"About 1"}));  // About leaves the window enabled
    EXPECT_EQ(view.waitCursors, 0);
}

TEST_F(MainWindowTest, UnpluggingOneOfTwoKeepsTheListUnpluggingTheLastCloses) {
    Open({FakeTouchScreens::MakeScreen(0, 0, 0), FakeTouchScreens::MakeScreen(1, 1, 1)});
    const auto before = RowTexts();
    view.Clear();

    screens.screens.pop_back();
    dialog.OnDeviceChanged(0x8004, 0);
    EXPECT_TRUE(view.log.empty());
    EXPECT_EQ(RowTexts(), before);

    screens.screens.pop_back();
    dialog.OnDeviceChanged(0x8004, 0);
    EXPECT_EQ(view.log, (std::vector<std::string>{"PostClose"}));
}

TEST_F(MainWindowTest, DeviceChangeClosesAnOpenMappingDialogAsCancel) {
    view.mappingCreatable = true;
    Open({FakeTouchScreens::MakeScreen(0, 0, 0), FakeTouchScreens::MakeScreen(1, 1, 1)});
    dialog.OnMapping();
    view.Clear();
    screens.screens.push_back(FakeTouchScreens::MakeScreen(2, 0, 0));
    dialog.OnDeviceChanged(0x8000, 0);
    EXPECT_EQ(view.log, (std::vector<std::string>{"PostCloseMapping"}));
}

TEST_F(MainWindowTest, CalibrateRunsOnTheSelectedScreenAndReReads) {
    Open({FakeTouchScreens::MakeScreen(0, 0, 0), FakeTouchScreens::MakeScreen(1, 0, 0)});
    dialog.OnRowChanged(1);
    screens.calls.clear();
    dialog.OnCalibrate();
    EXPECT_EQ(screens.Writes(), (std::vector<std::string>{"Calibrate mode 0 1"}));
    EXPECT_EQ(view.rows[1].image, ScreenImage::kCalibrated);  // read again after the session
    ExpectNoHandleLeft();

    screens.calls.clear();
    dialog.OnRegionCalibrate();
    EXPECT_EQ(screens.Writes(), (std::vector<std::string>{"Calibrate mode 1 0"}));  // selection is back on row 0
    ExpectNoHandleLeft();
}

TEST_F(MainWindowTest, CalibrateThatCannotOpenTheScreenOnlyRefreshes) {
    Open({FakeTouchScreens::MakeScreen(0, 0, 0), FakeTouchScreens::MakeScreen(1, 1, 1)});
    dialog.OnRowChanged(1);
    screens.screens[1].opens = false;
    view.Clear();
    dialog.OnCalibrate();
    EXPECT_TRUE(screens.Writes().empty());
    EXPECT_TRUE(view.Logged("DeleteAllRows"));
    EXPECT_EQ(RowTexts()[1], "TouchScreen No.1\n   Monitor      No.1");  // unreadable now
    EXPECT_TRUE(view.Matching("Message").empty());
    ExpectNoHandleLeft();
}

TEST_F(MainWindowTest, MappingOpensWithCopiesAndTheMainWindowWaitsForItsResult) {
    view.mappingCreatable = true;
    system.monitors = {{0, 0, 1920, 1080}, {1920, 0, 3200, 1024}};
    Open({FakeTouchScreens::MakeScreen(0, 1, 0), FakeTouchScreens::MakeScreen(1, 0, 1)});
    view.Clear();
    dialog.OnMapping();
    EXPECT_EQ(view.log, (std::vector<std::string>{"Window off", "CreateMapping 2", "ShowMapping", "Enable 1086 off"}));
    ASSERT_TRUE(view.mappingInput);
    EXPECT_EQ(MonitorNo(view.mappingInput->records[0]), 1);
    EXPECT_EQ(view.mappingInput->validity, (std::vector<std::int32_t>{1, 1}));
    EXPECT_EQ(dialog.layout().monitorCount, 2);
    EXPECT_FALSE(view.windowEnabled);

    screens.screens[0].record.RegionByte = 1;  // written by the dialog
    view.Clear();
    dialog.OnMappingClosed(static_cast<int>(MappingResult::kApply));
    EXPECT_EQ(view.rows[0].image, ScreenImage::kCalibrated);
    EXPECT_FALSE(view.windowEnabled);
    EXPECT_FALSE(view.Logged("DestroyMapping"));

    view.Clear();
    dialog.OnMappingClosed(static_cast<int>(MappingResult::kCancel));
    EXPECT_EQ(view.log, (std::vector<std::string>{"Window on", "DestroyMapping", "Enable 1086 on"}));
    EXPECT_FALSE(dialog.mappingOpen());
}

TEST_F(MainWindowTest, MappingThatCannotBeCreatedGivesTheWindowBack) {
    Open({FakeTouchScreens::MakeScreen(0, 0, 0)});
    dialog.OnMapping();
    EXPECT_TRUE(view.windowEnabled);
    EXPECT_EQ(view.waitCursors, 0);
    EXPECT_FALSE(dialog.mappingOpen());
}

TEST_F(MainWindowTest, HelpOpensTheManualBesideTheProgram) {
    struct Case {
        int shellResult;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {kShellFileNotFound, {"Message No manual / Help info"}},
        {kShellNoAssociation, {"Message No reader / Help info"}},
        {3, {}},  // path not found: not reported
        {42, {}},
    };
    Open({FakeTouchScreens::MakeScreen(0, 0, 0)});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shellResult);
        view.Clear();
        system.opened.clear();
        system.shellResult = c.shellResult;
        dialog.OnHelp();
        EXPECT_EQ(system.opened, (std::vector<std::string>{"C:\\Program Files\\Kav\\UserManual.pdf"}));
        EXPECT_EQ(view.Matching("Message"), c.messages);
        EXPECT_EQ(view.waitCursors, 0);
    }
}

TEST_F(MainWindowTest, ExitAndTheCloseBoxEndTheDialogConfirmed) {
    Open({FakeTouchScreens::MakeScreen(0, 0, 0)});
    view.Clear();
    dialog.OnExit();
    dialog.OnClose();
    EXPECT_EQ(view.log, (std::vector<std::string>{"EndDialog OK", "EndDialog OK"}));
    EXPECT_TRUE(CKavCplDlg::SwallowsKey(0x1B));
    EXPECT_FALSE(CKavCplDlg::SwallowsKey(0x0D));
}

}  // namespace
}  // namespace kav::cpl::test
