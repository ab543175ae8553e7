// What the main window's presenter asks of its window. The Win32 view does each of these
// with the obvious calls and decides nothing; tests record them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "shared/device_records.h"

namespace kav::cpl {

enum class MessageIcon { kError, kInformation };

// List view images: 0 = bitmap 137 (no calibration of its own), 1 = bitmap 138.
enum class ScreenImage : int { kUncalibrated = 0, kCalibrated = 1 };

// What the Mapping dialog is given when it opens.
struct MappingInput {
    int screenCount = 0;
    std::vector<DEVICE_CONFIG> records;
    std::vector<std::int32_t> validity;
};

// What the main window and the Mapping dialog, each with a touch screen list, ask alike of
// their windows.
class ScreenListView {
public:
    virtual ~ScreenListView() = default;

    virtual void SetCaption(const std::string& text) = 0;
    virtual void SetControlText(int controlId, const std::string& text) = 0;
    virtual void EnableControl(int controlId, bool enabled) = 0;
    virtual void EnableWindow(bool enabled) = 0;

    // The touch screen list (the main window's control 1089, the Mapping dialog's 1165)
    // and its image list.
    virtual void AttachScreenImages() = 0;
    virtual void DeleteAllRows() = 0;
    virtual void InsertRow(int row, const std::string& text, ScreenImage image) = 0;
    // Marks the row selected and focused; the list reports the change back through the
    // presenter's OnRowChanged.
    virtual void SelectRow(int row) = 0;
    virtual void SetListRedraw(bool enabled) = 0;
    // WM_SETCURSOR (0, 0) posted to the window, so the cursor shape follows its state.
    virtual void PostSetCursor() = 0;

    virtual void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) = 0;
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;
};

class MainView : public ScreenListView {
public:
    // Ends the modal window: `confirmed` as OK (Exit, close box), otherwise as a failure.
    virtual void EndDialog(bool confirmed) = 0;
    // WM_CLOSE posted to the window.
    virtual void PostClose() = 0;
    // Posts UM_DEVICECHANGED with the notification's arguments, from the notification callback.
    virtual void PostDeviceChanged(std::uint32_t event, std::uint32_t parameter) = 0;

    // The dialogs the main window opens. Settings and About run modally and end the wait
    // cursor themselves once they have initialised.
    virtual void RunSettingsDialog(int screenIndex) = 0;
    virtual void RunAboutDialog(int screenIndex) = 0;
    // Creates the modeless Mapping dialog; false when it could not be created.
    virtual bool CreateMappingDialog(const MappingInput& input) = 0;
    virtual void ShowMappingDialog() = 0;
    virtual void DestroyMappingDialog() = 0;
    // WM_CLOSE posted to the Mapping dialog, which then reports itself closed as Cancel.
    virtual void PostCloseMappingDialog() = 0;
};

}  // namespace kav::cpl
