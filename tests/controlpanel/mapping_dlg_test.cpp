#include "controlpanel/mapping_dlg.h"

#include <gtest/gtest.h>

#include <cstring>

#include "controlpanel/resource.h"
#include "fakes.h"
#include "mapping_fakes.h"

namespace kav::cpl::test {
namespace {

using Screen = FakeTouchScreens::Screen;

constexpr unsigned kVkReturn = 0x0D;
constexpr unsigned kVkTab = 0x09;
constexpr unsigned kVkEscape = 0x1B;
constexpr unsigned kVkSpace = 0x20;

// The main window opens first and hands the dialog its cache and the shared layout, as the
// program does.
class MappingTest : public ::testing::Test {
protected:
    MappingTest() {
        system.AddEnglish();
        system.monitors = {{0, 0, 1920, 1080}, {1920, 0, 3200, 1024}};
        mainView.onSelect = [this](int row) { main.OnRowChanged(row); };
        mainView.mappingCreatable = true;
        view.onSelect = [this](int row) {
            if (dialog) dialog->OnRowChanged(row);
        };
    }

    bool Open(std::vector<Screen> attached) {
        screens.screens = std::move(attached);
        main.OnInitDialog();
        main.OnMapping();
        EXPECT_TRUE(mainView.mappingInput.has_value());
        dialog = std::make_unique<CMappingDlg>(view, screens, system, main.sharedLayout(),
                                               mainView.mappingInput.value_or(MappingInput{}), "KavCpl");
        screens.calls.clear();
        return dialog->OnInitDialog();
    }

    void Choose(int listId, int position) {
        ASSERT_TRUE(view.SelectNumber(listId, position));
        dialog->OnNumberChosen(listId);
    }

    MappingEntry& Entry(int index) { return main.layout().mappings[static_cast<std::size_t>(index)]; }

    RecordingView mainView;
    RecordingMappingView view;
    FakeTouchScreens screens;
    FakeSystem system;
    CKavCplDlg main{mainView, screens, system};
    std::unique_ptr<CMappingDlg> dialog;
};

TEST_F(MappingTest, OpensWithEachScreensNumbersAndSortedNumberLists) {
    Screen unread = FakeTouchScreens::MakeScreen(5, 1, 1);
    unread.readable = false;
    ASSERT_TRUE(Open({FakeTouchScreens::MakeScreen(1, 1, 0), unread}));

    ASSERT_EQ(view.rows.size(), 2u);
    EXPECT_EQ(view.rows[0].text, "TouchScreen No.2\n     Monitor     No.2");
    EXPECT_EQ(view.rows[1].text, "TouchScreen No.-1\n     Monitor     No.-1");
    EXPECT_EQ(view.rows[1].image, ScreenImage::kUncalibrated);

    // Sorted as text, the padded numbers keep numeric order: position n is number n + 1.
    const auto& touchScreenNumbers = view.numbers[IDC_TOUCHSCREEN_NO];
    ASSERT_EQ(touchScreenNumbers.size(), 64u);
    EXPECT_EQ(touchScreenNumbers[0], " 1");
    EXPECT_EQ(touchScreenNumbers[8], " 9");
    EXPECT_EQ(touchScreenNumbers[9], "10");
    EXPECT_EQ(touchScreenNumbers[63], "64");
    EXPECT_EQ(view.numbers[IDC_MONITOR_NO], (std::vector<std::string>{" 1", " 2"}));

    EXPECT_EQ(view.SelectedNumber(IDC_TOUCHSCREEN_NO), 1);
    EXPECT_EQ(view.SelectedNumber(IDC_MONITOR_NO), 1);
    EXPECT_FALSE(view.ApplyEnabled());
    EXPECT_EQ(view.caption, "71");  // not in the test's file: the key itself
    EXPECT_EQ(view.texts.size(), 7u);
    EXPECT_TRUE(view.posted.empty());
    EXPECT_TRUE(screens.open.empty());
}

TEST_F(MappingTest, ANumberChosenAndChosenBackClearsApply) {
    ASSERT_TRUE(Open({FakeTouchScreens::MakeScreen(0, 0, 1), FakeTouchScreens::MakeScreen(1, 1, 1)}));
    view.SelectRow(1);
    ASSERT_EQ(dialog->selectedRow(), 1);
    EXPECT_EQ(view.SelectedNumber(IDC_MONITOR_NO), 1);

    for (const int listId : {IDC_MONITOR_NO, IDC_TOUCHSCREEN_NO}) {
        SCOPED_TRACE(listId);
        Choose(listId, 0);
        EXPECT_TRUE(view.ApplyEnabled());
        EXPECT_EQ(Entry(1).changed, 1);
        EXPECT_EQ(main.layout().dirty, 1);
        Choose(listId, 1);
        EXPECT_FALSE(view.ApplyEnabled());
        EXPECT_EQ(Entry(1).changed, 0);
        EXPECT_EQ(main.layout().dirty, 0);
    }
    dialog->OnOk();
    EXPECT_TRUE(screens.Writes().empty());
    EXPECT_EQ(view.posted, std::vector<int>{0});  // the main window re-reads all the same
    EXPECT_TRUE(view.closed);
}

TEST_F(MappingTest, AMonitorBeyondTheListGivesWayToTheFirstAndEnablesApply) {
    // The record names monitor 3; two monitors exist.
    ASSERT_TRUE(Open({FakeTouchScreens::MakeScreen(0, 2, 1), FakeTouchScreens::MakeScreen(1, 1, 1)}));
    EXPECT_EQ(view.SelectedNumber(IDC_MONITOR_NO), 0);
    EXPECT_EQ(Entry(0).monitorNo, 0);
    EXPECT_EQ(Entry(0).changed, 1);
    EXPECT_TRUE(view.ApplyEnabled());

    dialog->OnApply();
    EXPECT_EQ(screens.Writes(), std::vector<std::string>{"SetDeviceConfig 0"});
    EXPECT_EQ(MonitorNo(screens.screens[0].record), 0);
    EXPECT_EQ(view.posted, std::vector<int>{2});
    EXPECT_FALSE(view.closed);
    EXPECT_FALSE(view.ApplyEnabled());
    EXPECT_TRUE(view.Logged("ShowCursor"));
    EXPECT_EQ(view.waitCursors, 0);
}

TEST_F(MappingTest, RegionByteThreeIsACheckMarkInTheMainWindowOnlyByteOneIsInMapping) {
    ASSERT_TRUE(Open({FakeTouchScreens::MakeScreen(0, 0, 3), FakeTouchScreens::MakeScreen(1, 1, 1),
                      FakeTouchScreens::MakeScreen(2, 0, 0)}));
    ASSERT_EQ(mainView.rows.size(), 3u);
    ASSERT_EQ(view.rows.size(), 3u);
    const struct {
        ScreenImage main;
        ScreenImage mapping;
    } kExpected[] = {{ScreenImage::kCalibrated, ScreenImage::kUncalibrated},
                     {ScreenImage::kCalibrated, ScreenImage::kCalibrated},
                     {ScreenImage::kUncalibrated, ScreenImage::kUncalibrated}};
    for (std::size_t row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(mainView.rows[row].image, kExpected[row].main);
        EXPECT_EQ(view.rows[row].image, kExpected[row].mapping);
    }
}

TEST_F(MappingTest, OkWritesEachChangedScreenThroughItsOwnHandleAndOnlyItsNumbers) {
    ASSERT_TRUE(Open({FakeTouchScreens::MakeScreen(0, 0, 1), FakeTouchScreens::MakeScreen(1, 0, 1),
                      FakeTouchScreens::MakeScreen(2, 0, 1)}));
    const DEVICE_CONFIG before = screens.screens[2].record;
    view.SelectRow(2);
    Choose(IDC_TOUCHSCREEN_NO, 9);
    Choose(IDC_MONITOR_NO, 1);
    dialog->OnOk();

    EXPECT_EQ(screens.Writes(), std::vector<std::string>{"SetDeviceConfig 2"});
    DEVICE_CONFIG expected = before;
    TouchScreenNo(expected) = 9;
    MonitorNo(expected) = 1;
    EXPECT_EQ(0, std::memcmp(&screens.screens[2].record, &expected, sizeof expected));
    EXPECT_EQ(view.rows[2].text, "TouchScreen No.10\n     Monitor     No.2");
    EXPECT_EQ(view.posted, std::vector<int>{0});
    EXPECT_TRUE(view.closed);
    EXPECT_EQ(view.waitCursors, 0);
    EXPECT_TRUE(screens.open.empty());
}

TEST_F(MappingTest, CancelAndClosingDiscardTheChoices) {
    for (const bool close : {false, true}) {
        SCOPED_TRACE(close ? "close" : "cancel");
        view = RecordingMappingView{};
        view.onSelect = [this](int row) { dialog->OnRowChanged(row); };
        mainView.mappingInput.reset();
        ASSERT_TRUE(Open({FakeTouchScreens::MakeScreen(0, 0, 1)}));
        Choose(IDC_MONITOR_NO, 1);
        close ? dialog->OnClose() : dialog->OnCancel();
        EXPECT_TRUE(screens.Writes().empty());
        EXPECT_EQ(view.posted, std::vector<int>{1});
        EXPECT_TRUE(view.closed);
        EXPECT_EQ(view.waitCursors, 0);
    }
}

TEST_F(MappingTest, AFailedWriteIsReportedAndTheNextScreenStillWritten) {
    Screen refusing = FakeTouchScreens::MakeScreen(0, 0, 1);
    refusing.writable = false;
    Screen unread = FakeTouchScreens::MakeScreen(1, 0, 1);
    unread.readable = false;
    ASSERT_TRUE(Open({refusing, unread, FakeTouchScreens::MakeScreen(2, 0, 1)}));
    for (const int row : {0, 1, 2}) {
        view.SelectRow(row);
        Choose(IDC_MONITOR_NO, 1);
    }
    dialog->OnApply();

    // The unread screen's record is the preset; writing it would wipe its regions.
    EXPECT_EQ(screens.Writes(), (std::vector<std::string>{"SetDeviceConfig 0", "SetDeviceConfig 2"}));
    EXPECT_EQ(MonitorNo(screens.screens[2].record), 1);
    const auto failures = std::count(view.log.begin(), view.log.end(), "Message Write failed / Error error");
    EXPECT_EQ(failures, 2);
    // Treated as written: nothing is left to apply.
    EXPECT_FALSE(view.ApplyEnabled());
    EXPECT_EQ(main.layout().dirty, 0);
}

TEST_F(MappingTest, ScreensChangedSinceMappingWasPressedCloseTheDialogWithoutReport) {
    screens.screens = {FakeTouchScreens::MakeScreen(0, 0, 1)};
    main.OnInitDialog();
    main.OnMapping();
    screens.screens.push_back(FakeTouchScreens::MakeScreen(1, 0, 1));
    dialog =
        std::make_unique<CMappingDlg>(view, screens, system, main.sharedLayout(), *mainView.mappingInput, "KavCpl");
    EXPECT_FALSE(dialog->OnInitDialog());
    EXPECT_EQ(view.log, std::vector<std::string>{"Message No touch screen / KavCpl error"});
    EXPECT_TRUE(view.closed);
    EXPECT_TRUE(view.posted.empty());
    EXPECT_TRUE(view.rows.empty());
}

TEST_F(MappingTest, IdentifyCoversTheChosenMonitorOrThePrimaryScreenSize) {
    ASSERT_TRUE(Open({FakeTouchScreens::MakeScreen(0, 1, 1)}));
    dialog->OnIdentify();
    Choose(IDC_MONITOR_NO, 0);
    dialog->OnIdentify();
    ASSERT_EQ(view.identified.size(), 2u);  // each window lives on its own
    EXPECT_EQ(view.identified[0].text, "2");
    EXPECT_EQ(view.identified[0].area.left, 1920);
    EXPECT_EQ(view.identified[0].area.right, 3200);
    EXPECT_EQ(view.identified[0].area.bottom, 1024);
    EXPECT_EQ(view.identified[1].text, "1");
    EXPECT_EQ(view.identified[1].area.right, 1920);

    // A third monitor came after the main window's last enumeration: no entry stands behind it.
    system.monitors.push_back({3200, 0, 4000, 600});
    view = RecordingMappingView{};
    view.onSelect = [this](int row) { dialog->OnRowChanged(row); };
    main.layout().monitors[2] = {3200, 0, 4000, 600, 800, 600, 2};  // left over, not counted
    dialog =
        std::make_unique<CMappingDlg>(view, screens, system, main.sharedLayout(), *mainView.mappingInput, "KavCpl");
    ASSERT_TRUE(dialog->OnInitDialog());
    Choose(IDC_MONITOR_NO, 2);
    dialog->OnIdentify();
    ASSERT_EQ(view.identified.size(), 1u);
    EXPECT_EQ(view.identified[0].text, "3");
    EXPECT_EQ(view.identified[0].area.left, 0);
    EXPECT_EQ(view.identified[0].area.top, 0);
    EXPECT_EQ(view.identified[0].area.right, 1024);
    EXPECT_EQ(view.identified[0].area.bottom, 768);
}

TEST(MappingKeys, EnterAloneIsKeptFromTheDialogManager) {
    EXPECT_FALSE(CMappingDlg::GivesKeyToDialogManager(kVkReturn));
    for (const unsigned key : {kVkTab, kVkEscape, kVkSpace}) EXPECT_TRUE(CMappingDlg::GivesKeyToDialogManager(key));
}

TEST(MonitorShow, ClosesOnTheThirdTickOrAtOnceOnEscape) {
    RecordingMonitorShowView ticking;
    CMonitorShowDlg counted(ticking, "12");
    counted.OnInitDialog();
    EXPECT_EQ(ticking.log, std::vector<std::string>{"SetTimer 1 1000"});
    counted.OnTimer(1);
    counted.OnTimer(7);  // not its timer
    counted.OnTimer(1);
    EXPECT_EQ(ticking.log.size(), 1u);
    counted.OnTimer(1);
    EXPECT_EQ(ticking.log, (std::vector<std::string>{"SetTimer 1 1000", "KillTimer 1", "Close"}));
    EXPECT_EQ(counted.text(), "12");  // drawn whole

    RecordingMonitorShowView escaped;
    CMonitorShowDlg early(escaped, "1");
    early.OnInitDialog();
    early.OnKeyDown(kVkSpace);
    early.OnKeyDown(kVkEscape);
    EXPECT_EQ(escaped.log, (std::vector<std::string>{"SetTimer 1 1000", "KillTimer 1", "PostClose"}));
    EXPECT_EQ(CMonitorShowDlg::FontHeight(1920), 960);
}

}  // namespace
}  // namespace kav::cpl::test
