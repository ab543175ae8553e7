#include "calibration/calib_config.h"

#include <climits>
#include <string>

#include "calibration/calibration_session.h"

namespace kav::calib {
namespace {

constexpr std::u16string_view kConfigSection = u"Config";
constexpr std::u16string_view kLanguageSection = u"Language";

std::u16string CandidatePath(std::u16string_view directory, std::uint16_t langId, std::u16string_view name) {
    std::u16string path(directory);
    path += u'\\';
    path += ToU16(std::to_string(langId));
    path += u'\\';
    path += name;
    return path;
}

}  // namespace

std::u16string ToU16(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

std::optional<std::u16string> FindCalibFile(CalibFiles& files, std::u16string_view name) {
    const std::u16string directory = files.ProgramDirectory();
    for (const std::uint16_t langId : {files.SystemDefaultLangId(), kFallbackLangId}) {
        std::u16string path = CandidatePath(directory, langId, name);
        if (files.FileExists(path)) return path;
    }
    return std::nullopt;
}

int ParseConfigNumber(std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    long long value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > INT_MAX) return negative ? 0 : INT_MAX;
    }
    return negative ? 0 : static_cast<int>(value);
}

CalibConfig LoadCalibConfig(CalibFiles& files) {
    CalibConfig config;
    const std::optional<std::u16string> path = FindCalibFile(files, kConfigFileName);
    if (!path) return config;
    config.fileFound = true;

    struct NumberKey {
        std::u16string_view key;
        int CalibConfig::*field;
    };
    static constexpr NumberKey kNumberKeys[] = {
        {u"KavCalib_CalibArea_MinWidth", &CalibConfig::minWidth},
        {u"KavCalib_CalibArea_MinHeight", &CalibConfig::minHeight},
        {u"KavCalib_Button_Width", &CalibConfig::buttonWidth},
        {u"KavCalib_Button_Height", &CalibConfig::buttonHeight},
        {u"KavCalib_Button_Space", &CalibConfig::buttonSpace},
        {u"KavCalib_Timeout_Confirm", &CalibConfig::confirmTimeoutSeconds},
        {u"KavCalib_Timeout_NoResponse", &CalibConfig::noResponseTimeoutSeconds},
    };
    for (const NumberKey& number : kNumberKeys) {
        config.*number.field = ParseConfigNumber(files.ReadProfileString(kConfigSection, number.key, *path));
    }

    const auto text = [&](std::u16string_view key) { return files.ReadProfileString(kLanguageSection, key, *path); };
    config.okText = text(text_keys::kButtonOk);
    config.cancelText = text(text_keys::kButtonCancel);
    config.reCalibrateText = text(text_keys::kButtonReCalibrate);
    config.receiveBegin = text(text_keys::kReceiveBegin);
    config.receiving = text(text_keys::kReceiving);
    config.receiveEnd = text(text_keys::kReceiveEnd);
    return config;
}

std::optional<std::u16string> ReadCalibText(CalibFiles& files, std::u16string_view key) {
    const std::optional<std::u16string> path = FindCalibFile(files, kConfigFileName);
    if (!path) return std::nullopt;
    return files.ReadProfileString(kLanguageSection, key, *path);
}

std::optional<std::u16string> StatusWords(StatusText text, int counter, const CalibConfig& config, CalibFiles& files) {
    switch (text) {
        case StatusText::kReceiveBegin:
            return config.receiveBegin;
        case StatusText::kReceiving:
            return config.receiving + u" " + ToU16(std::to_string(counter)) + u" / " +
                   ToU16(std::to_string(kSteadyReports)) + u" ";
        case StatusText::kReceiveEnd:
            return config.receiveEnd;
        case StatusText::kCalibrating:
            return ReadCalibText(files, text_keys::kCalibrating);
        case StatusText::kCalibrated:
            return ReadCalibText(files, text_keys::kCalibrated);
    }
    return std::nullopt;
}

std::u16string CountdownText(const std::optional<std::u16string>& cancelText, int secondsLeft) {
    return cancelText.value_or(u"Cancel") + u"(" + ToU16(std::to_string(secondsLeft)) + u")";
}

}  // namespace kav::calib
