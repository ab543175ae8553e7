#include "controlpanel/program_start.h"

namespace kav::cpl {

bool ClaimSingleInstance(InstanceSystem& system, LanguageFiles& language, const std::string& applicationName) {
    if (system.CreateInstanceMutex(applicationName)) return true;
    // The running window's caption came from the same language file, so the titles agree,
    // even when both are empty for want of a file.
    system.BringWindowToFront(GetLanguageText(language, keys::kMainCaption));
    return false;
}

std::string ApplicationNameFromPath(const std::string& modulePath) {
    const std::size_t slash = modulePath.find_last_of("\\/");
    std::string name = slash == std::string::npos ? modulePath : modulePath.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

}  // namespace kav::cpl
