#include "calibration/win32/win32_calib_files.h"

#include <vector>

namespace kav::calib::win32 {
namespace {

// The longest path the wide file functions take.
constexpr DWORD kLongestPath = 32768;
// The profile reads' buffer, terminator included.
constexpr DWORD kProfileTextSize = 1024;

}  // namespace

std::u16string Win32CalibFiles::ProgramDirectory() {
    std::vector<wchar_t> path(kLongestPath);
    // The process's executable (module NULL), so the files sit beside the calling program.
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), kLongestPath);
    if (length == 0 || length >= kLongestPath) return {};
    std::u16string directory = FromWide(path.data());
    const std::size_t slash = directory.find_last_of(u'\\');
    directory.resize(slash == std::u16string::npos ? 0 : slash);
    return directory;
}

std::uint16_t Win32CalibFiles::SystemDefaultLangId() {
    return GetSystemDefaultLangID();
}

bool Win32CalibFiles::FileExists(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(Wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::u16string Win32CalibFiles::ReadProfileString(std::u16string_view section, std::u16string_view key,
                                                  const std::u16string& path) {
    wchar_t text[kProfileTextSize] = {};
    const std::u16string sectionText(section);
    const std::u16string keyText(key);
    GetPrivateProfileStringW(Wide(sectionText), Wide(keyText), L"", text, kProfileTextSize, Wide(path));
    return FromWide(text);
}

}  // namespace kav::calib::win32
