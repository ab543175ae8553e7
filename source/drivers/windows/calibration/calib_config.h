// KavCalib's configuration, texts and pictures: files looked up per language beside the
// program that loaded KavCalib, each with a built-in fallback so that the window works with
// no file at all. Nothing is cached beyond one window: an edited file shows at the next.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "calibration/session_view.h"

namespace kav::calib {

// The system services the lookup needs. Text is UTF-16, as KavCalib speaks to the system.
class CalibFiles {
public:
    virtual ~CalibFiles() = default;

    // The directory of the running program's executable (GetModuleFileNameW(NULL) cut
    // before its last backslash): the caller's folder, never KavCalib's own.
    virtual std::u16string ProgramDirectory() = 0;

    // GetSystemDefaultLangID: the system's language, not the user's.
    virtual std::uint16_t SystemDefaultLangId() = 0;

    // Whether a file exists at exactly `path`.
    virtual bool FileExists(const std::u16string& path) = 0;

    // GetPrivateProfileStringW with a 1024-character buffer and an empty default: the
    // entry's text, empty when the file lacks the key.
    virtual std::u16string ReadProfileString(std::u16string_view section, std::u16string_view key,
                                             const std::u16string& path) = 0;
};

inline constexpr std::uint16_t kFallbackLangId = 1033;

inline constexpr std::u16string_view kConfigFileName = u"KavCalib_Config.ini";
inline constexpr std::u16string_view kBackgroundImage = u"KavCalib_Background.png";
inline constexpr std::u16string_view kTouchPointImage = u"KavCalib_TouchPoint.png";
inline constexpr std::u16string_view kResizerImage = u"KavCalib_Resizer.png";

// Widens ASCII text (numbers, fixed names) to UTF-16.
std::u16string ToU16(std::string_view ascii);

// "<program directory>\<system language id>\<name>", else the same in the 1033 folder;
// nullopt when neither exists.
std::optional<std::u16string> FindCalibFile(CalibFiles& files, std::u16string_view name);

// Keys of the "Language" section.
namespace text_keys {
inline constexpr std::u16string_view kButtonOk = u"KavCalib_Button_OK";
inline constexpr std::u16string_view kButtonCancel = u"KavCalib_Button_Cancel";
inline constexpr std::u16string_view kButtonReCalibrate = u"KavCalib_Button_ReCalibrate";
inline constexpr std::u16string_view kReceiveBegin = u"KavCalib_ReceiveBegin";
inline constexpr std::u16string_view kReceiving = u"KavCalib_Receiving";
inline constexpr std::u16string_view kReceiveEnd = u"KavCalib_ReceiveEnd";
inline constexpr std::u16string_view kCalibrating = u"KavCalib_Static_Calibrating";
inline constexpr std::u16string_view kCalibrated = u"KavCalib_Static_Calibrated";
}  // namespace text_keys

struct CalibConfig {
    // Section "Config"; pixels and seconds.
    int minWidth = 350;  // also the first width of a region window
    int minHeight = 300;
    int buttonWidth = 72;
    int buttonHeight = 48;
    int buttonSpace = 20;
    int confirmTimeoutSeconds = 30;
    int noResponseTimeoutSeconds = 180;

    bool fileFound = false;
    // The buttons' texts; nullopt without a file, when the template's texts stay.
    std::optional<std::u16string> okText;
    std::optional<std::u16string> cancelText;
    std::optional<std::u16string> reCalibrateText;
    // The status texts while a touch is sampled; empty without a file.
    std::u16string receiveBegin;
    std::u16string receiving;
    std::u16string receiveEnd;
};

// Reads the configuration for one window. A number whose key is missing or not numeric
// reads 0, a negative one 0; without a file every number keeps its default.
CalibConfig LoadCalibConfig(CalibFiles& files);

// A configuration value as a whole number: leading blanks, an optional sign, decimal
// digits up to the first other character; no digit gives 0, a negative value 0, and a value
// past the int range its largest value.
int ParseConfigNumber(std::u16string_view text);

// One "Language" text read now, for the texts shown at the moment they are needed; nullopt
// without a configuration file (the control keeps what it shows).
std::optional<std::u16string> ReadCalibText(CalibFiles& files, std::u16string_view key);

// The words of a status text: the three sampling texts from `config` (empty without a
// file; kReceiving followed by " n / 100 " with the counter), the other two read from the
// file now; nullopt without a file, when the status keeps what it shows.
std::optional<std::u16string> StatusWords(StatusText text, int counter, const CalibConfig& config, CalibFiles& files);

// The Cancel button during the confirmation countdown: "<Cancel text>(n)", or "Cancel(n)"
// without a configuration file.
std::u16string CountdownText(const std::optional<std::u16string>& cancelText, int secondsLeft);

}  // namespace kav::calib
