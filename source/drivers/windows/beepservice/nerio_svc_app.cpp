#include "beepservice/nerio_svc_app.h"

namespace kav::beep {

bool CNerioSvcApp::InitInstance(AppHost& host) {
    host.InitCommonControls();
    host.SetRegistryKey(kRegistryKeyName);
    if (!host.CreateInstanceMutex(kApplicationName)) {
        host.BringToFront(kApplicationName);
        return false;
    }
    host.RunMainDialog();
    return true;
}

}  // namespace kav::beep
