// KavCalib's files on Windows: the program's folder, the system language, wide profile reads.
#pragma once

#include <windows.h>

#include <string>

#include "calibration/calib_config.h"

namespace kav::calib::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

// UTF-16 both ways; the system's wide strings and ours are the same code units.
inline const wchar_t* Wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}
inline std::u16string FromWide(const wchar_t* text) {
    return reinterpret_cast<const char16_t*>(text);
}

class Win32CalibFiles final : public CalibFiles {
public:
    std::u16string ProgramDirectory() override;
    std::uint16_t SystemDefaultLangId() override;
    bool FileExists(const std::u16string& path) override;
    std::u16string ReadProfileString(std::u16string_view section, std::u16string_view key,
                                     const std::u16string& path) override;
};

}  // namespace kav::calib::win32
