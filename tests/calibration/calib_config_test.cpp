#include "calibration/calib_config.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>

namespace kav::calib {
namespace {

// Files by full path, each a map of (section, key) to text.
class FakeCalibFiles : public CalibFiles {
public:
    using Entries = std::map<std::pair<std::u16string, std::u16string>, std::u16string>;

    std::uint16_t langId = 1033;
    std::map<std::u16string, Entries> files;
    std::vector<std::u16string> reads;  // paths read from, in order

    std::u16string ProgramDirectory() override { return u"Z:\\app"; }
    std::uint16_t SystemDefaultLangId() override { return langId; }
    bool FileExists(const std::u16string& path) override { return files.contains(path); }
    std::u16string ReadProfileString(std::u16string_view section, std::u16string_view key,
                                     const std::u16string& path) override {
        reads.push_back(path);
        const auto file = files.find(path);
        if (file == files.end()) return {};
        const auto entry = file->second.find({std::u16string(section), std::u16string(key)});
        return entry == file->second.end() ? std::u16string() : entry->second;
    }
};

const std::u16string kEnglishConfig = u"Z:\\app\\1033\\KavCalib_Config.ini";
const std::u16string kChineseConfig = u"Z:\\app\\2052\\KavCalib_Config.ini";

FakeCalibFiles::Entries FullConfig() {
    return {
        {{u"Config", u"KavCalib_CalibArea_MinWidth"}, u"400"},
        {{u"Config", u"KavCalib_CalibArea_MinHeight"}, u"320"},
        {{u"Config", u"KavCalib_Button_Width"}, u"80"},
        {{u"Config", u"KavCalib_Button_Height"}, u"40"},
        {{u"Config", u"KavCalib_Button_Space"}, u"16"},
        {{u"Config", u"KavCalib_Timeout_Confirm"}, u"25"},
        {{u"Config", u"KavCalib_Timeout_NoResponse"}, u"120"},
        {{u"Language", u"KavCalib_Button_OK"}, u"Keep"},
        {{u"Language", u"KavCalib_Button_Cancel"}, u"Undo"},
        {{u"Language", u"KavCalib_Button_ReCalibrate"}, u"Again"},
        {{u"Language", u"KavCalib_ReceiveBegin"}, u"Touch the target"},
        {{u"Language", u"KavCalib_Receiving"}, u"Hold"},
        {{u"Language", u"KavCalib_ReceiveEnd"}, u"Lift"},
        {{u"Language", u"KavCalib_Static_Calibrating"}, u"Calibrating"},
    };
}

TEST(CalibConfig, WithoutAFileEverythingKeepsItsDefaultAndTheTemplateTexts) {
    FakeCalibFiles files;
    files.langId = 2052;
    const CalibConfig config = LoadCalibConfig(files);
    EXPECT_FALSE(config.fileFound);
    EXPECT_EQ(config.minWidth, 350);
    EXPECT_EQ(config.minHeight, 300);
    EXPECT_EQ(config.buttonWidth, 72);
    EXPECT_EQ(config.buttonHeight, 48);
    EXPECT_EQ(config.buttonSpace, 20);
    EXPECT_EQ(config.confirmTimeoutSeconds, 30);
    EXPECT_EQ(config.noResponseTimeoutSeconds, 180);
    EXPECT_FALSE(config.okText || config.cancelText || config.reCalibrateText);
    EXPECT_EQ(config.receiveBegin + config.receiving + config.receiveEnd, u"");
    EXPECT_TRUE(files.reads.empty()) << "nothing is read from a file that is not there";
    EXPECT_EQ(StatusWords(StatusText::kCalibrated, 0, config, files), std::nullopt) << "the status stays";
    EXPECT_EQ(StatusWords(StatusText::kReceiving, 5, config, files), u" 5 / 100 ");
    EXPECT_EQ(CountdownText(ReadCalibText(files, text_keys::kButtonCancel), 29), u"Cancel(29)");
}

TEST(CalibConfig, AFullFileSetsEveryNumberAndText) {
    FakeCalibFiles files;
    files.files[kEnglishConfig] = FullConfig();
    const CalibConfig config = LoadCalibConfig(files);
    EXPECT_TRUE(config.fileFound);
    EXPECT_EQ((std::array{config.minWidth, config.minHeight, config.buttonWidth, config.buttonHeight,
                          config.buttonSpace, config.confirmTimeoutSeconds, config.noResponseTimeoutSeconds}),
              (std::array{400, 320, 80, 40, 16, 25, 120}));
    EXPECT_EQ(config.okText, u"Keep");
    EXPECT_EQ(config.cancelText, u"Undo");
    EXPECT_EQ(config.reCalibrateText, u"Again");
    EXPECT_EQ(StatusWords(StatusText::kReceiveBegin, 0, config, files), u"Touch the target");
    EXPECT_EQ(StatusWords(StatusText::kReceiving, 1, config, files), u"Hold 1 / 100 ");
    EXPECT_EQ(StatusWords(StatusText::kReceiving, 99, config, files), u"Hold 99 / 100 ");
    EXPECT_EQ(StatusWords(StatusText::kReceiveEnd, 101, config, files), u"Lift");
    EXPECT_EQ(StatusWords(StatusText::kCalibrating, 0, config, files), u"Calibrating");
    EXPECT_EQ(StatusWords(StatusText::kCalibrated, 0, config, files), u"") << "a text the file lacks is empty";
    EXPECT_EQ(CountdownText(ReadCalibText(files, text_keys::kButtonCancel), 7), u"Undo(7)");
}

TEST(CalibConfig, AMissingKeyReadsZeroAndAMissingTextEmpty) {
    FakeCalibFiles files;
    FakeCalibFiles::Entries entries = FullConfig();
    entries.erase({u"Config", u"KavCalib_Timeout_Confirm"});
    entries.erase({u"Language", u"KavCalib_Button_OK"});
    entries.erase({u"Language", u"KavCalib_Static_Calibrating"});
    files.files[kEnglishConfig] = entries;
    const CalibConfig config = LoadCalibConfig(files);
    EXPECT_EQ(config.confirmTimeoutSeconds, 0) << "a missing key is 0, not the default";
    EXPECT_EQ(config.noResponseTimeoutSeconds, 120);
    EXPECT_EQ(config.okText, u"") << "a missing text empties the button";
    EXPECT_EQ(ReadCalibText(files, text_keys::kCalibrating), u"");
}

TEST(CalibConfig, NumbersAreWholeDecimalsAndNeverNegative) {
    const struct {
        std::u16string_view text;
        int value;
    } kCases[] = {
        {u"72", 72},
        {u"  9", 9},
        {u"+15", 15},
        {u"-20", 0},
        {u"-0", 0},
        {u"", 0},
        {u"wide", 0},
        {u"12px", 12},
        {u"3.9", 3},
        {u"0x10", 0},
        {u"007", 7},
        {u"2147483647", 2147483647},
        {u"99999999999", 2147483647},
        {u"-99999999999", 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
        EXPECT_EQ(ParseConfigNumber(c.text), c.value);
    }
}

TEST(CalibConfig, ANegativeButtonWidthInTheFileGivesZero) {
    FakeCalibFiles files;
    FakeCalibFiles::Entries entries = FullConfig();
    entries[{u"Config", u"KavCalib_Button_Width"}] = u"-72";
    files.files[kEnglishConfig] = entries;
    EXPECT_EQ(LoadCalibConfig(files).buttonWidth, 0);
}

TEST(CalibFileLookup, TheSystemLanguageFolderFirstThen1033ThenNothing) {
    FakeCalibFiles files;
    files.langId = 2052;
    files.files[kEnglishConfig] = FullConfig();
    files.files[u"Z:\\app\\1033\\KavCalib_TouchPoint.png"] = {};
    files.files[u"Z:\\app\\2052\\KavCalib_Background.png"] = {};

    EXPECT_EQ(FindCalibFile(files, kConfigFileName), kEnglishConfig) << "2052 falls back to 1033";
    EXPECT_EQ(FindCalibFile(files, kTouchPointImage), u"Z:\\app\\1033\\KavCalib_TouchPoint.png");
    EXPECT_EQ(FindCalibFile(files, kBackgroundImage), u"Z:\\app\\2052\\KavCalib_Background.png");
    EXPECT_EQ(FindCalibFile(files, kResizerImage), std::nullopt);
    const CalibConfig config = LoadCalibConfig(files);
    EXPECT_EQ(config.okText, u"Keep");
    for (const std::u16string& read : files.reads) EXPECT_EQ(read, kEnglishConfig);

    files.files[kChineseConfig] = {{{u"Language", u"KavCalib_Button_OK"}, u"确定"}};
    EXPECT_EQ(LoadCalibConfig(files).okText, u"确定") << "the system language's own file wins";
    EXPECT_EQ(LoadCalibConfig(files).minWidth, 0) << "and nothing is mixed in from the fallback";
}

}  // namespace
}  // namespace kav::calib
