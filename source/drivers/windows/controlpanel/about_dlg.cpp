#include "controlpanel/about_dlg.h"

#include <cstdio>
#include <optional>
#include <string_view>

#include "controlpanel/resource.h"

namespace kav::cpl {
namespace {

constexpr std::string_view kCaptionKey = "81";
constexpr ControlText kControlTexts[] = {
    {IDC_ABOUT_OK, "48"},         {IDC_ABOUT_HIDDEN, "82"},      {IDC_DRIVER_VERSION_LABEL, "83"},
    {IDC_DRIVER_VERSION, "84"},   {IDC_MCU_VERSION_LABEL, "85"}, {IDC_USB_VERSION_LABEL, "86"},
    {IDC_PRODUCT_SN_LABEL, "87"}, {IDC_NOTICE_FIRST, "88"},      {IDC_NOTICE_SECOND, "89"},
};

}  // namespace

CAboutDlg::CAboutDlg(AboutView& view, TouchScreens& screens, LanguageFiles& languages, int screenIndex)
    : view_(view), screens_(screens), languages_(languages), access_(screens), screenIndex_(screenIndex) {}

std::string CAboutDlg::UsbVersionText(std::uint16_t version) {
    char text[16];
    std::snprintf(text, sizeof text, "%x.%x", static_cast<unsigned>(version / 256),
                  static_cast<unsigned>(version % 256));
    return text;
}

void CAboutDlg::OnInitDialog() {
    SetTexts();
    ShowFirmwareVersion();
    ShowSerialNumber();
    ShowUsbVersion();
    view_.EndWaitCursor();
}

void CAboutDlg::SetTexts() {
    SetDialogTexts(view_, languages_, kCaptionKey, kControlTexts);
}

// Each value is read on its own, opening and closing the screens, so that one failure
// leaves the others shown.
void CAboutDlg::ShowFirmwareVersion() {
    std::optional<std::string> version;
    access_.WithAttachedScreen(screenIndex_, [this, &version](ScreenHandle screen) {
        version = screens_.GetFirmwareVersion(screen);
        return version.has_value();
    });
    if (version) view_.SetControlText(IDC_MCU_VERSION, *version);
}

void CAboutDlg::ShowSerialNumber() {
    std::optional<std::string> serial;
    access_.WithAttachedScreen(screenIndex_, [this, &serial](ScreenHandle screen) {
        serial = screens_.GetProductSerialNumber(screen);
        return serial.has_value();
    });
    if (serial) view_.SetControlText(IDC_PRODUCT_SN, *serial);
}

void CAboutDlg::ShowUsbVersion() {
    std::optional<std::uint16_t> version;
    access_.WithAttachedScreen(screenIndex_, [this, &version](ScreenHandle screen) {
        version = screens_.GetUsbCableVersion(screen);
        return version.has_value();
    });
    if (version) view_.SetControlText(IDC_USB_VERSION, UsbVersionText(*version));
}

}  // namespace kav::cpl
