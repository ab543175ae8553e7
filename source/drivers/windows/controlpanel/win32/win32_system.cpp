#include "controlpanel/win32/win32_system.h"

#include <shellapi.h>

#include <array>

namespace kav::cpl::win32 {
namespace {

constexpr DWORD kModulePathSize = 260;
constexpr DWORD kProfileBufferSize = 1024;
constexpr UINT kSpiSetCursors = 0x57;
constexpr DWORD kOcrNormal = 32512;

using UniqueKey = UniqueResource<HKEY, &RegCloseKey>;

class Win32RegistryKey : public RegistryKey {
public:
    explicit Win32RegistryKey(HKEY key) : key_(key) {}

    std::optional<RegistryValue> Query(const std::string& name) override {
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueExA(key_.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        std::string data(size, '\0');
        auto* bytes = reinterpret_cast<BYTE*>(data.data());
        if (RegQueryValueExA(key_.get(), name.c_str(), nullptr, &type, bytes, &size) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        data.resize(size);
        return RegistryValue{type, std::move(data)};
    }

    bool Set(const std::string& name, const RegistryValue& value) override {
        const auto* bytes = reinterpret_cast<const BYTE*>(value.data.data());
        return RegSetValueExA(key_.get(), name.c_str(), 0, value.type, bytes, static_cast<DWORD>(value.data.size())) ==
               ERROR_SUCCESS;
    }

    bool Delete(const std::string& name) override { return RegDeleteValueA(key_.get(), name.c_str()) == ERROR_SUCCESS; }

private:
    UniqueKey key_;
};

BOOL CALLBACK AddMonitor(HMONITOR, HDC, LPRECT rect, LPARAM context) {
    reinterpret_cast<std::vector<MonitorRect>*>(context)->push_back({rect->left, rect->top, rect->right, rect->bottom});
    return TRUE;
}

}  // namespace

std::string ModulePath() {
    std::array<char, kModulePathSize> path{};
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), kModulePathSize);
    return std::string(path.data(), std::min<DWORD>(length, kModulePathSize));
}

std::string Win32SystemServices::ProgramDirectory() {
    std::string path = ModulePath();
    const std::size_t slash = path.rfind('\\');
    if (slash != std::string::npos) path.resize(slash);
    return path;
}

std::uint16_t Win32SystemServices::SystemDefaultLangId() {
    return GetSystemDefaultLangID();
}

bool Win32SystemServices::FileExists(const std::string& path) {
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
}

std::string Win32SystemServices::ReadProfileString(const std::string& section, const std::string& key,
                                                   const std::string& fallback, const std::string& path) {
    std::array<char, kProfileBufferSize> text{};
    const DWORD length = GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(), text.data(),
                                                  kProfileBufferSize, path.c_str());
    return std::string(text.data(), length);
}

std::vector<MonitorRect> Win32SystemServices::EnumDisplayMonitors() {
    std::vector<MonitorRect> monitors;
    ::EnumDisplayMonitors(nullptr, nullptr, &AddMonitor, reinterpret_cast<LPARAM>(&monitors));
    return monitors;
}

std::optional<OsVersion> Win32SystemServices::GetVersion() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExA(&info)) return std::nullopt;
#pragma GCC diagnostic pop
    return OsVersion{info.dwMajorVersion, info.dwMinorVersion};
}

int Win32SystemServices::ShellOpen(const std::string& path) {
    const HINSTANCE result = ShellExecuteA(nullptr, "open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return static_cast<int>(reinterpret_cast<INT_PTR>(result));
}

std::unique_ptr<RegistryKey> Win32CursorSystem::OpenUserKey(const std::string& subkey) {
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_CURRENT_USER, subkey.c_str(), &key) != ERROR_SUCCESS) return nullptr;
    return std::make_unique<Win32RegistryKey>(key);
}

std::unique_ptr<RegistryKey> Win32CursorSystem::CreateUserKey(const std::string& subkey) {
    HKEY key = nullptr;
    if (RegCreateKeyA(HKEY_CURRENT_USER, subkey.c_str(), &key) != ERROR_SUCCESS) return nullptr;
    return std::make_unique<Win32RegistryKey>(key);
}

bool Win32CursorSystem::InstallNormalCursor(int resourceId) {
    const HCURSOR cursor = LoadCursorA(module_, MAKEINTRESOURCEA(resourceId));
    if (!cursor) return false;
    const HCURSOR copy = CopyIcon(cursor);
    if (!copy) return false;
    // On success the system owns the copy; on failure it is ours to destroy.
    if (SetSystemCursor(copy, kOcrNormal)) return true;
    DestroyCursor(copy);
    return false;
}

bool Win32CursorSystem::ReloadSystemCursors() {
    return SystemParametersInfoA(kSpiSetCursors, 0, nullptr, 0) != 0;
}

bool Win32InstanceSystem::CreateInstanceMutex(const std::string& name) {
    const HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    mutex_.reset(mutex);
    return mutex_ && !existed;
}

bool Win32InstanceSystem::BringWindowToFront(const std::string& title) {
    const HWND window = FindWindowA(nullptr, title.c_str());
    if (!window) return false;
    SetForegroundWindow(window);
    return true;
}

}  // namespace kav::cpl::win32
