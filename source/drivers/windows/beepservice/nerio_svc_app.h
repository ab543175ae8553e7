// CNerioSvcApp: KavSvc's start-up. One instance per logon session; a second start hands
// the stage to the first and ends.
#pragma once

#include <string_view>

namespace kav::beep {

// The program's base name: the mutex that keeps one instance, and the main dialog's title.
inline constexpr std::u16string_view kApplicationName = u"KavSvc";

// The application registry key name that the program sets for its settings.
inline constexpr std::u16string_view kRegistryKeyName = u"应用程序向导生成的本地应用程序";

class AppHost {
public:
    AppHost() = default;
    AppHost(const AppHost&) = delete;
    AppHost& operator=(const AppHost&) = delete;
    virtual ~AppHost() = default;

    // Common controls of every class.
    virtual void InitCommonControls() = 0;
    virtual void SetRegistryKey(std::u16string_view name) = 0;
    // Creates the named mutex and keeps it for the process's life. False when it could
    // not be created or another process already holds one of that name.
    virtual bool CreateInstanceMutex(std::u16string_view name) = 0;
    // Brings the top-level window of that title to the foreground, if there is one.
    virtual void BringToFront(std::u16string_view windowTitle) = 0;
    // Runs the main dialog until it ends.
    virtual void RunMainDialog() = 0;
};

class CNerioSvcApp {
public:
    // False when another instance runs; the program then ends.
    bool InitInstance(AppHost& host);
};

}  // namespace kav::beep
