// User-visible texts of KavCpl: looked up by decimal key in the language file
// "<program directory>\Language\<system default language id>.ini", section "Language",
// with "1033.ini" as the fallback file. Nothing is cached, so an edited file shows at the
// next window that opens.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kav::cpl {

// The system services the lookup needs. 8-bit strings in the system's ANSI code page.
class LanguageFiles {
public:
    virtual ~LanguageFiles() = default;

    // The executable's full path (GetModuleFileNameA) cut before its last backslash.
    virtual std::string ProgramDirectory() = 0;

    // GetSystemDefaultLangID: the system's language, not the user's.
    virtual std::uint16_t SystemDefaultLangId() = 0;

    // A file search for exactly `path`.
    virtual bool FileExists(const std::string& path) = 0;

    // GetPrivateProfileStringA with a 1024-byte buffer: the entry's text, or `fallback`
    // when the file lacks the key.
    virtual std::string ReadProfileString(const std::string& section, const std::string& key,
                                          const std::string& fallback, const std::string& path) = 0;
};

inline constexpr std::uint16_t kFallbackLangId = 1033;

// The file's text for `key`; the key itself when the chosen file lacks it; empty when
// neither the language's file nor 1033.ini exists.
std::string GetLanguageText(LanguageFiles& files, std::string_view key);

// A dialog control and the key of its text.
struct ControlText {
    int controlId;
    std::string_view key;
};

// Gives a dialog's caption and controls their texts; `View` is the dialog's view.
template <typename View>
void SetDialogTexts(View& view, LanguageFiles& files, std::string_view captionKey,
                    std::span<const ControlText> controls) {
    view.SetCaption(GetLanguageText(files, captionKey));
    for (const ControlText& control : controls)
        view.SetControlText(control.controlId, GetLanguageText(files, control.key));
}

// Language keys. Every key below is present in each delivered language file.
namespace keys {
// Main window.
inline constexpr std::string_view kMainCaption = "1";
// Messages.
inline constexpr std::string_view kNoTouchScreen = "91";
inline constexpr std::string_view kManualNotFound = "92";
inline constexpr std::string_view kNoProgramForManual = "96";
inline constexpr std::string_view kErrorCaption = "121";
inline constexpr std::string_view kManualCaption = "122";
inline constexpr std::string_view kConfigUnreadable = "124";
inline constexpr std::string_view kWriteFailed = "125";
}  // namespace keys

// Every key a language file must hold, in key order.
std::span<const std::string_view> AllLanguageKeys();

}  // namespace kav::cpl
