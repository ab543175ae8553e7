// The control panel's system seams over Win32, ANSI throughout as KavCpl is.
#pragma once

#include <windows.h>

#include <string>

#include "controlpanel/cursor_hiding.h"
#include "controlpanel/program_start.h"
#include "controlpanel/system_services.h"
#include "controlpanel/win32/unique_resource.h"

namespace kav::cpl::win32 {

// GetModuleFileNameA of the program, 260 characters at most.
std::string ModulePath();

class Win32SystemServices : public SystemServices {
public:
    std::string ProgramDirectory() override;
    std::uint16_t SystemDefaultLangId() override;
    bool FileExists(const std::string& path) override;
    std::string ReadProfileString(const std::string& section, const std::string& key, const std::string& fallback,
                                  const std::string& path) override;
    std::vector<MonitorRect> EnumDisplayMonitors() override;
    std::optional<OsVersion> GetVersion() override;
    int ShellOpen(const std::string& path) override;
};

class Win32CursorSystem : public CursorSystem {
public:
    explicit Win32CursorSystem(HINSTANCE module) : module_(module) {}
    std::unique_ptr<RegistryKey> OpenUserKey(const std::string& subkey) override;
    std::unique_ptr<RegistryKey> CreateUserKey(const std::string& subkey) override;
    bool InstallNormalCursor(int resourceId) override;
    bool ReloadSystemCursors() override;

private:
    HINSTANCE module_;
};

class Win32InstanceSystem : public InstanceSystem {
public:
    bool CreateInstanceMutex(const std::string& name) override;
    bool BringWindowToFront(const std::string& title) override;

private:
    UniqueResource<HANDLE, &CloseHandle> mutex_;
};

}  // namespace kav::cpl::win32
