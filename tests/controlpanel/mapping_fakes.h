// A recording view for the Mapping dialog and the identification window.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "controlpanel/mapping_view.h"

namespace kav::cpl::test {

class RecordingMappingView : public MappingView {
public:
    struct Row {
        std::string text;
        ScreenImage image;
    };
    struct Identify {
        std::string text;
        MonitorRect area;
    };

    std::vector<std::string> log;
    std::function<void(int row)> onSelect;
    std::vector<Row> rows;
    std::map<int, std::vector<std::string>> numbers;  // kept sorted, as CBS_SORT does
    std::map<int, int> selection;                     // -1: nothing selected
    std::map<int, bool> enabled;
    std::map<int, std::string> texts;
    std::string caption;
    std::vector<int> posted;
    std::vector<Identify> identified;
    int waitCursors = 0;
    bool closed = false;
    int screenWidth = 1024;
    int screenHeight = 768;

    bool Logged(const std::string& entry) const { return std::find(log.begin(), log.end(), entry) != log.end(); }
    bool ApplyEnabled() const;

    void SetCaption(const std::string& text) override { caption = text; }
    void SetControlText(int id, const std::string& text) override { texts[id] = text; }
    void EnableControl(int id, bool on) override { enabled[id] = on; }
    void EnableWindow(bool on) override { log.push_back(on ? "Window on" : "Window off"); }
    void AttachScreenImages() override { log.push_back("Images"); }
    void DeleteAllRows() override { rows.clear(); }
    void InsertRow(int row, const std::string& text, ScreenImage image) override {
        rows.insert(rows.begin() + row, Row{text, image});
    }
    void SelectRow(int row) override {
        if (onSelect) onSelect(row);
    }
    void SetListRedraw(bool on) override { log.push_back(on ? "Redraw on" : "Redraw off"); }
    void PostSetCursor() override {}
    void ClearNumbers(int id) override {
        numbers[id].clear();
        selection[id] = -1;
    }
    void AddNumber(int id, const std::string& text) override {
        auto& items = numbers[id];
        items.insert(std::upper_bound(items.begin(), items.end(), text), text);
    }
    // A position the list lacks clears its selection, as CB_SETCURSEL does.
    bool SelectNumber(int id, int position) override {
        const bool exists = position >= 0 && static_cast<std::size_t>(position) < numbers[id].size();
        selection[id] = exists ? position : -1;
        return exists;
    }
    std::optional<int> SelectedNumber(int id) override {
        const auto found = selection.find(id);
        if (found == selection.end() || found->second < 0) return std::nullopt;
        return found->second;
    }
    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override {
        log.push_back("Message " + text + " / " + caption + (icon == MessageIcon::kError ? " error" : " info"));
    }
    void BeginWaitCursor() override { ++waitCursors; }
    void EndWaitCursor() override { --waitCursors; }
    void ShowCursorUntilVisible() override { log.push_back("ShowCursor"); }
    void PostMappingClosed(MappingResult result) override { posted.push_back(static_cast<int>(result)); }
    void Close() override { closed = true; }
    int PrimaryScreenWidth() override { return screenWidth; }
    int PrimaryScreenHeight() override { return screenHeight; }
    void OpenIdentifyWindow(const std::string& text, const MonitorRect& area) override {
        identified.push_back({text, area});
    }
};

inline bool RecordingMappingView::ApplyEnabled() const {
    const auto found = enabled.find(1079);
    return found != enabled.end() && found->second;
}

class RecordingMonitorShowView : public MonitorShowView {
public:
    std::vector<std::string> log;
    void SetTimer(unsigned id, unsigned intervalMs) override {
        log.push_back("SetTimer " + std::to_string(id) + " " + std::to_string(intervalMs));
    }
    void KillTimer(unsigned id) override { log.push_back("KillTimer " + std::to_string(id)); }
    void Close() override { log.push_back("Close"); }
    void PostClose() override { log.push_back("PostClose"); }
};

}  // namespace kav::cpl::test
