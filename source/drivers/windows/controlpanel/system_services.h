// The few system facts and actions the control panel's windows need beyond KavLib.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "controlpanel/display_layout.h"
#include "controlpanel/language.h"

namespace kav::cpl {

struct OsVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
};

// What ShellExecuteA returns for a failed "open"; anything above 32 is success.
inline constexpr int kShellFileNotFound = 2;
inline constexpr int kShellNoAssociation = 31;

class SystemServices : public LanguageFiles, public MonitorSource {
public:
    // GetVersionExA; nullopt when it fails.
    virtual std::optional<OsVersion> GetVersion() = 0;

    // ShellExecuteA(NULL, "open", path, NULL, NULL, SW_SHOWNORMAL), its result as an int.
    virtual int ShellOpen(const std::string& path) = 0;
};

// The version test of the control panel: 6.1 or later, so that a 10.0 system is not taken
// for an older one. A failed query counts as an old system.
bool PassesVersionTest(const std::optional<OsVersion>& version);

}  // namespace kav::cpl
