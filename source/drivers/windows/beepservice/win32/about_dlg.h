// CAboutDlg: template 100, the icon, the version text and OK.
#pragma once

#include <windows.h>

namespace kav::beep::win32 {

class CAboutDlg {
public:
    // Modal over the owner.
    static void DoModal(HINSTANCE instance, HWND owner);
};

}  // namespace kav::beep::win32
