// One control panel per logon session: a second start brings the first one's window to the
// front and ends.
#pragma once

#include <string>

#include "controlpanel/language.h"

namespace kav::cpl {

class InstanceSystem {
public:
    virtual ~InstanceSystem() = default;
    // CreateMutexA with `name`, kept for the life of the process. False when the mutex could
    // not be created or already existed.
    virtual bool CreateInstanceMutex(const std::string& name) = 0;
    // FindWindowA for a top-level window titled exactly `title`, then SetForegroundWindow.
    // False when there is no such window.
    virtual bool BringWindowToFront(const std::string& title) = 0;
};

// True when this process is the first instance and should open its window. `applicationName`
// is the executable's file name without its extension.
bool ClaimSingleInstance(InstanceSystem& system, LanguageFiles& language, const std::string& applicationName);

// "C:\dir\KavCpl.exe" -> "KavCpl".
std::string ApplicationNameFromPath(const std::string& modulePath);

}  // namespace kav::cpl
