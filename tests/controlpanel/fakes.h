// A recording main view, a fake KavLib and a fake system for the control panel's presenters.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "controlpanel/kavcpl_dlg.h"
#include "controlpanel/screen_record.h"

namespace kav::cpl::test {

// Logs every call as a short string, so that a failed expectation reads as a diff.
class RecordingView : public MainView {
public:
    std::vector<std::string> log;
    // The list view reports a selection back to its window at once, as Win32 does.
    std::function<void(int row)> onSelect;

    struct Row {
        std::string text;
        ScreenImage image;
    };
    std::vector<Row> rows;
    std::map<int, bool> enabled;
    std::map<int, std::string> texts;
    std::string caption;
    bool windowEnabled = true;
    int waitCursors = 0;
    bool mappingCreatable = false;
    std::optional<MappingInput> mappingInput;

    void Clear() { log.clear(); }

    void SetCaption(const std::string& text) override {
        caption = text;
        log.push_back("Caption " + text);
    }
    void SetControlText(int id, const std::string& text) override { texts[id] = text; }
    void EnableControl(int id, bool on) override {
        enabled[id] = on;
        log.push_back("Enable " + std::to_string(id) + (on ? " on" : " off"));
    }
    void EnableWindow(bool on) override {
        windowEnabled = on;
        log.push_back(on ? "Window on" : "Window off");
    }
    void AttachScreenImages() override { log.push_back("Images"); }
    void DeleteAllRows() override {
        rows.clear();
        log.push_back("DeleteAllRows");
    }
    void InsertRow(int row, const std::string& text, ScreenImage image) override {
        rows.insert(rows.begin() + row, Row{text, image});
        log.push_back("Row " + std::to_string(row) + " image " + std::to_string(static_cast<int>(image)));
    }
    void SelectRow(int row) override {
        log.push_back("Select " + std::to_string(row));
        if (onSelect) onSelect(row);
    }
    void SetListRedraw(bool on) override { log.push_back(on ? "Redraw on" : "Redraw off"); }
    void PostSetCursor() override { log.push_back("PostSetCursor"); }
    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override {
        log.push_back("Message " + text + " / " + caption + (icon == MessageIcon::kError ? " error" : " info"));
    }
    void BeginWaitCursor() override { ++waitCursors; }
    void EndWaitCursor() override { --waitCursors; }
    void EndDialog(bool confirmed) override { log.push_back(confirmed ? "EndDialog OK" : "EndDialog failed"); }
    void PostClose() override { log.push_back("PostClose"); }
    void PostDeviceChanged(std::uint32_t event, std::uint32_t parameter) override {
        log.push_back("PostDeviceChanged " + std::to_string(event) + " " + std::to_string(parameter));
    }
    void RunSettingsDialog(int index) override {
        log.push_back("Settings " + std::to_string(index));
        --waitCursors;  // the dialog ends the busy cursor
    }
    void RunAboutDialog(int index) override {
        log.push_back("About " + std::to_string(index));
        --waitCursors;
    }
    bool CreateMappingDialog(const MappingInput& input) override {
        log.push_back("CreateMapping " + std::to_string(input.screenCount));
        if (mappingCreatable) mappingInput = input;
        return mappingCreatable;
    }
    void ShowMappingDialog() override { log.push_back("ShowMapping"); }
    void DestroyMappingDialog() override { log.push_back("DestroyMapping"); }
    void PostCloseMappingDialog() override { log.push_back("PostCloseMapping"); }

    bool Logged(const std::string& entry) const { return std::find(log.begin(), log.end(), entry) != log.end(); }
    std::vector<std::string> Matching(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const std::string& entry : log) {
            if (entry.rfind(prefix, 0) == 0) found.push_back(entry);
        }
        return found;
    }
};

// Screens as KavLib would list them. Handles are tags; every open one is tracked so that a
// test can check that nothing leaks.
class FakeTouchScreens : public TouchScreens {
public:
    struct Screen {
        DEVICE_CONFIG record{};
        bool readable = true;
        bool writable = true;
        bool opens = true;
    };
    std::vector<Screen> screens;
    std::set<ScreenHandle> open;
    std::vector<std::string> calls;  // device operations, with the screen they reached
    DeviceNotifyCallback callback;
    int countQueries = 0;

    static Screen MakeScreen(int touchScreenNo, int monitorNo, std::uint8_t regionByte) {
        Screen screen;
        TouchScreenNo(screen.record) = static_cast<std::uint8_t>(touchScreenNo);
        MonitorNo(screen.record) = static_cast<std::uint8_t>(monitorNo);
        screen.record.RegionByte = regionByte;
        return screen;
    }

    int GetTouchScreenCount() override {
        ++countQueries;
        return static_cast<int>(screens.size());
    }
    std::vector<ScreenHandle> GetTouchScreenInformation() override {
        std::vector<ScreenHandle> handles;
        for (std::size_t i = 0; i < screens.size(); ++i) {
            if (!screens[i].opens) {
                handles.push_back(kNoScreen);
                continue;
            }
            ScreenHandle handle = reinterpret_cast<ScreenHandle>(static_cast<std::uintptr_t>(0x1000 + nextTag_++));
            tags_[handle] = i;
            open.insert(handle);
            handles.push_back(handle);
        }
        return handles;
    }
    void Close(ScreenHandle handle) override {
        if (open.erase(handle) == 0) calls.push_back("Close of a handle not open");
    }
    bool GetDeviceConfig(ScreenHandle handle, DEVICE_CONFIG& record) override {
        Screen* screen = Find(handle, "GetDeviceConfig");
        if (!screen || !screen->readable) return false;
        record = screen->record;
        return true;
    }
    bool SetDeviceConfig(ScreenHandle handle, const DEVICE_CONFIG& record) override {
        Screen* screen = Find(handle, "SetDeviceConfig");
        if (!screen || !screen->writable) return false;
        screen->record = record;
        return true;
    }
    bool GetDriverConfig(ScreenHandle, _NERIO_DRIVER_CONFIG&) override { return false; }
    bool SetDriverConfig(ScreenHandle, const _NERIO_DRIVER_CONFIG&) override { return false; }
    std::optional<std::string> GetFirmwareVersion(ScreenHandle) override { return std::nullopt; }
    std::optional<std::string> GetProductSerialNumber(ScreenHandle) override { return std::nullopt; }
    std::optional<std::uint16_t> GetUsbCableVersion(ScreenHandle) override { return std::nullopt; }
    bool RegisterDeviceNotifyCallback(DeviceNotifyCallback notify) override {
        if (callback) return false;
        callback = std::move(notify);
        return true;
    }
    bool UnRegisterDeviceNotifyCallback() override {
        if (!callback) return false;
        callback = nullptr;
        return true;
    }
    bool CalibraterStart(ScreenHandle handle, CalibrationMode mode) override {
        Screen* screen = Find(handle, "Calibrate mode " + std::to_string(static_cast<int>(mode)));
        if (!screen) return false;
        screen->record.RegionByte = 1;  // what a finished session leaves
        return true;
    }

    // Operations that reached a screen, without the reads.
    std::vector<std::string> Writes() const {
        std::vector<std::string> writes;
        for (const std::string& call : calls) {
            if (call.rfind("GetDeviceConfig", 0) != 0) writes.push_back(call);
        }
        return writes;
    }

private:
    Screen* Find(ScreenHandle handle, const std::string& operation) {
        const auto tag = tags_.find(handle);
        if (tag == tags_.end() || !open.count(handle)) {
            calls.push_back(operation + " on a handle not open");
            return nullptr;
        }
        calls.push_back(operation + " " + std::to_string(tag->second));
        return tag->second < screens.size() ? &screens[tag->second] : nullptr;
    }

    int nextTag_ = 0;
    std::map<ScreenHandle, std::size_t> tags_;
};

// Language files in memory, keyed by path; monitors, version and shell as a test sets them.
class FakeSystem : public SystemServices {
public:
    std::string directory = "C:\\Program Files\\Kav";
    std::uint16_t langId = 1033;
    std::map<std::string, std::map<std::string, std::string>> files;
    std::vector<MonitorRect> monitors{{0, 0, 1920, 1080}};
    std::optional<OsVersion> version = OsVersion{5, 1};
    int shellResult = 42;
    std::vector<std::string> opened;
    int profileReads = 0;

    std::string LanguageFile(std::uint16_t id) const {
        return directory + "\\Language\\" + std::to_string(id) + ".ini";
    }
    // The English file with the texts the tests look for.
    void AddEnglish() {
        files[LanguageFile(1033)] = {{"1", "TouchScreen Control Panel"},
                                     {"2", "Mapping"},
                                     {"91", "No touch screen"},
                                     {"92", "No manual"},
                                     {"96", "No reader"},
                                     {"121", "Error"},
                                     {"122", "Help"},
                                     {"124", "Unreadable"},
                                     {"125", "Write failed"}};
    }

    std::string ProgramDirectory() override { return directory; }
    std::uint16_t SystemDefaultLangId() override { return langId; }
    bool FileExists(const std::string& path) override { return files.count(path) != 0; }
    std::string ReadProfileString(const std::string& section, const std::string& key, const std::string& fallback,
                                  const std::string& path) override {
        ++profileReads;
        const auto file = files.find(path);
        if (section != "Language" || file == files.end()) return fallback;
        const auto entry = file->second.find(key);
        return entry == file->second.end() ? fallback : entry->second;
    }
    std::vector<MonitorRect> EnumDisplayMonitors() override { return monitors; }
    std::optional<OsVersion> GetVersion() override { return version; }
    int ShellOpen(const std::string& path) override {
        opened.push_back(path);
        return shellResult;
    }
};

}  // namespace kav::cpl::test
