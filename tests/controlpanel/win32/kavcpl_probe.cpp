// Reads and writes a touch screen's region byte through KavLib, as the control panel does:
//   kavcpl_probe count | region N | set-region N VALUE
// Prints the count or the byte; exits 1 when the screen cannot be reached, 2 on bad usage.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "controlpanel/kavlib_touch_screens.h"
#include "controlpanel/screen_access.h"

int main(int argc, char** argv) {
    kav::cpl::KavLibTouchScreens screens;
    kav::cpl::ScreenAccess access(screens);
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "count" && argc == 2) {
        std::printf("%d\n", screens.GetTouchScreenCount());
        return 0;
    }
    if ((command == "region" && argc == 3) || (command == "set-region" && argc == 4)) {
        const int index = std::atoi(argv[2]);
        kav::DEVICE_CONFIG record{};
        const bool done = access.WithScreen(index, [&](kav::cpl::ScreenHandle screen) {
            if (!screens.GetDeviceConfig(screen, record)) return false;
            if (command == "region") return true;
            record.RegionByte = static_cast<std::uint8_t>(std::atoi(argv[3]));
            return screens.SetDeviceConfig(screen, record);
        });
        if (!done) {
            std::fprintf(stderr, "kavcpl_probe: screen %d could not be read\n", index);
            return 1;
        }
        std::printf("%d\n", record.RegionByte);
        return 0;
    }
    std::fprintf(stderr, "usage: kavcpl_probe count | region N | set-region N VALUE\n");
    return 2;
}
