#include "controlpanel/about_dlg.h"

#include <gtest/gtest.h>

#include <map>

#include "controlpanel/resource.h"
#include "fakes.h"

namespace kav::cpl::test {
namespace {

// The screens' three device values, each of which may fail on its own.
class AboutScreens : public FakeTouchScreens {
public:
    std::optional<std::string> firmware = "5.01.1007";
    std::optional<std::string> serial = "TARNEVO-K26A31T-S1C-12-1107-0000001";
    std::optional<std::uint16_t> usb = 0x0110;

    std::optional<std::string> GetFirmwareVersion(ScreenHandle screen) override {
        return Reached(screen, "firmware") ? firmware : std::nullopt;
    }
    std::optional<std::string> GetProductSerialNumber(ScreenHandle screen) override {
        return Reached(screen, "serial") ? serial : std::nullopt;
    }
    std::optional<std::uint16_t> GetUsbCableVersion(ScreenHandle screen) override {
        return Reached(screen, "usb") ? usb : std::nullopt;
    }

private:
    bool Reached(ScreenHandle screen, const std::string& what) {
        const bool isOpen = open.count(screen) != 0;
        calls.push_back(what + (isOpen ? "" : " on a handle not open"));
        return isOpen;
    }
};

class RecordingAboutView : public AboutView {
public:
    std::string caption;
    std::map<int, std::string> texts;
    int waitCursorsEnded = 0;
    void SetCaption(const std::string& text) override { caption = text; }
    void SetControlText(int id, const std::string& text) override { texts[id] = text; }
    void EndWaitCursor() override { ++waitCursorsEnded; }
};

class AboutTest : public ::testing::Test {
protected:
    AboutTest() {
        screens.screens = {FakeTouchScreens::MakeScreen(0, 0, 1), FakeTouchScreens::MakeScreen(1, 0, 1)};
        system.AddEnglish();
        system.files[system.LanguageFile(1033)]["84"] = "2.3.4.0567";
    }

    // The value texts the dialog set; a field not set keeps its template text.
    std::map<int, std::string> Values() {
        std::map<int, std::string> values;
        for (const int id : {IDC_MCU_VERSION, IDC_PRODUCT_SN, IDC_USB_VERSION}) {
            const auto found = view.texts.find(id);
            if (found != view.texts.end()) values[id] = found->second;
        }
        return values;
    }

    AboutScreens screens;
    FakeSystem system;
    RecordingAboutView view;
};

TEST_F(AboutTest, ShowsTheSelectedScreensValuesAndTheLanguageTexts) {
    CAboutDlg dialog(view, screens, system, 1);
    dialog.OnInitDialog();
    EXPECT_EQ(Values(), (std::map<int, std::string>{{IDC_MCU_VERSION, "5.01.1007"},
                                                    {IDC_PRODUCT_SN, "TARNEVO-K26A31T-S1C-12-1107-0000001"},
                                                    {IDC_USB_VERSION, "1.10"}}));
    EXPECT_EQ(view.texts[IDC_DRIVER_VERSION], "2.3.4.0567");
    EXPECT_EQ(view.texts[IDC_ABOUT_OK], "48");  // not in the test's file: the key itself
    EXPECT_EQ(view.caption, "81");
    EXPECT_EQ(view.waitCursorsEnded, 1);
    // Each value read on its own, from the selected screen, every handle closed.
    EXPECT_EQ(screens.calls, (std::vector<std::string>{"firmware", "serial", "usb"}));
    EXPECT_TRUE(screens.open.empty());
}

TEST_F(AboutTest, UsbVersionInLowerCaseHexWithoutLeadingZeros) {
    const struct {
        std::uint16_t version;
        const char* text;
    } kCases[] = {{0x0110, "1.10"}, {0x0201, "2.1"}, {0x1A0F, "1a.f"}, {0x0100, "1.0"}, {0x0000, "0.0"}};
    for (const auto& item : kCases) {
        SCOPED_TRACE(item.text);
        EXPECT_EQ(CAboutDlg::UsbVersionText(item.version), item.text);
    }
}

TEST_F(AboutTest, EachFailedReadKeepsItsOwnTemplateText) {
    const struct {
        const char* name;
        bool firmware, serial, usb;
    } kCases[] = {{"firmware fails", false, true, true},
                  {"serial fails", true, false, true},
                  {"usb fails", true, true, false},
                  {"all fail", false, false, false}};
    for (const auto& item : kCases) {
        SCOPED_TRACE(item.name);
        view = RecordingAboutView{};
        screens.firmware = item.firmware ? std::optional<std::string>("5.01.1007") : std::nullopt;
        screens.serial = item.serial ? std::optional<std::string>("SN") : std::nullopt;
        screens.usb = item.usb ? std::optional<std::uint16_t>(0x0201) : std::nullopt;
        CAboutDlg(view, screens, system, 0).OnInitDialog();
        const auto values = Values();
        EXPECT_EQ(values.count(IDC_MCU_VERSION), item.firmware ? 1u : 0u);
        EXPECT_EQ(values.count(IDC_PRODUCT_SN), item.serial ? 1u : 0u);
        EXPECT_EQ(values.count(IDC_USB_VERSION), item.usb ? 1u : 0u);
        EXPECT_EQ(view.waitCursorsEnded, 1);
    }
}

TEST_F(AboutTest, UnpluggedOrNoLanguageFile) {
    // No language file: every text empty, the device values still shown.
    system.files.clear();
    CAboutDlg(view, screens, system, 0).OnInitDialog();
    EXPECT_EQ(view.caption, "");
    EXPECT_EQ(view.texts[IDC_DRIVER_VERSION], "");
    EXPECT_EQ(view.texts[IDC_NOTICE_SECOND], "");
    EXPECT_EQ(Values().size(), 3u);

    // Unplugged: nothing is opened and every value keeps its template text.
    view = RecordingAboutView{};
    screens.screens.clear();
    screens.calls.clear();
    CAboutDlg(view, screens, system, 0).OnInitDialog();
    EXPECT_TRUE(Values().empty());
    EXPECT_TRUE(screens.calls.empty());
    EXPECT_EQ(view.waitCursorsEnded, 1);

    // A selected index beyond the listed screens reads nothing either.
    view = RecordingAboutView{};
    screens.screens = {FakeTouchScreens::MakeScreen(0, 0, 1)};
    CAboutDlg(view, screens, system, 3).OnInitDialog();
    EXPECT_TRUE(Values().empty());
    EXPECT_TRUE(screens.open.empty());
}

}  // namespace
}  // namespace kav::cpl::test
