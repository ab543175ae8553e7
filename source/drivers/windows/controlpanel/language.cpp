#include "controlpanel/language.h"

namespace kav::cpl {
namespace {

constexpr const char* kSection = "Language";

std::string LanguageFilePath(const std::string& directory, std::uint16_t langId) {
    return directory + "\\Language\\" + std::to_string(langId) + ".ini";
}

}  // namespace

std::string GetLanguageText(LanguageFiles& files, std::string_view key) {
    const std::string directory = files.ProgramDirectory();
    std::string path = LanguageFilePath(directory, files.SystemDefaultLangId());
    if (!files.FileExists(path)) path = LanguageFilePath(directory, kFallbackLangId);
    if (!files.FileExists(path)) return {};
    const std::string keyText(key);
    return files.ReadProfileString(kSection, keyText, keyText, path);
}

constexpr std::string_view kAllLanguageKeys[] = {
    // Main window.
    "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15", "16", "17", "18",
    // Settings dialog.
    "21", "22", "23", "24", "25", "26", "27", "28", "29", "30", "31", "32", "33", "34", "35", "36", "37", "38", "39",
    "40", "41", "42", "43", "44", "45", "46", "47", "48", "49", "50", "51", "52",
    // Mapping dialog.
    "71", "72", "73", "74", "75",
    // About dialog.
    "81", "82", "83", "84", "85", "86", "87", "88", "89",
    // Messages.
    "91", "92", "96", "121", "122", "124", "125",
    // Mouse emulation where the system fails the version test.
    "130"};

std::span<const std::string_view> AllLanguageKeys() {
    return kAllLanguageKeys;
}

}  // namespace kav::cpl
