// The About dialog: the selected touch screen's firmware version, USB version and serial
// number beside the driver version text of the language file.
#pragma once

#include <cstdint>
#include <string>

#include "controlpanel/language.h"
#include "controlpanel/screen_access.h"
#include "controlpanel/touch_screens.h"

namespace kav::cpl {

class AboutView {
public:
    virtual ~AboutView() = default;
    virtual void SetCaption(const std::string& text) = 0;
    virtual void SetControlText(int controlId, const std::string& text) = 0;
    // Ends the busy cursor the main window started when About was pressed.
    virtual void EndWaitCursor() = 0;
};

class CAboutDlg {
public:
    CAboutDlg(AboutView& view, TouchScreens& screens, LanguageFiles& languages, int screenIndex);

    // WM_INITDIALOG. A value whose read fails keeps its template text.
    void OnInitDialog();

    // The USB release number as the dialog shows it: "%x.%x" of its two bytes.
    static std::string UsbVersionText(std::uint16_t version);

private:
    void SetTexts();
    void ShowFirmwareVersion();
    void ShowSerialNumber();
    void ShowUsbVersion();

    AboutView& view_;
    TouchScreens& screens_;
    LanguageFiles& languages_;
    ScreenAccess access_;
    int screenIndex_;
};

}  // namespace kav::cpl
