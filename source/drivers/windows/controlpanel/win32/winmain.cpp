// KavCpl.exe: one control panel per logon session.
#include <windows.h>

#include <commctrl.h>

#include "controlpanel/kavlib_touch_screens.h"
#include "controlpanel/program_start.h"
#include "controlpanel/win32/main_dialog.h"
#include "controlpanel/win32/win32_system.h"

int WINAPI WinMain(HINSTANCE module, HINSTANCE, LPSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    kav::cpl::win32::Win32SystemServices system;
    kav::cpl::win32::Win32InstanceSystem instances;
    if (!kav::cpl::ClaimSingleInstance(instances, system,
                                       kav::cpl::ApplicationNameFromPath(kav::cpl::win32::ModulePath()))) {
        return 0;
    }
    kav::cpl::KavLibTouchScreens screens;
    kav::cpl::win32::MainDialog dialog(module, screens, system);
    dialog.Run();
    return 0;
}
