// The calibration window: dialog 5003 as a topmost full-screen or region window. It forwards
// every message to its WindowSession and draws what the session shows; the geometry comes
// from window_layout.h, the words and sizes from the configuration file.
#pragma once

#include <windows.h>

#include <atomic>

#include "calibration/calib_config.h"
#include "calibration/calibration_session.h"
#include "calibration/window_layout.h"

namespace kav::calib::win32 {

class CalibrationWindow final : public SessionView {
public:
    // `module` holds the dialog template; `pictures` says whether GDI+ runs.
    CalibrationWindow(HINSTANCE module, WindowSession& session, CalibFiles& files, bool pictures);
    CalibrationWindow(const CalibrationWindow&) = delete;
    CalibrationWindow& operator=(const CalibrationWindow&) = delete;

    // Runs the window modally; false when it could not be created.
    bool Run();

    // SessionView.
    void PostProgress(int counter) override;
    void PostPoint() override;
    void PostClose() override;
    void PlaceWindow(RegionMode mode, int regionIndex) override;
    void StartTimer() override;
    void StopTimer() override;
    void ShowCursor(bool shown) override;
    void ShowButtons(bool shown) override;
    void ShowStatus(StatusText text, int counter) override;
    void ShowCountdown(int secondsLeft) override;
    WindowGeometry Geometry() override;
    void Repaint() override;
    void EndWindow(bool ok) override;

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    bool OnCommand(int id);
    void OnMouseMove(PixelPoint point);
    void OnLeftButtonDown(PixelPoint point);
    void OnMovingOrSizing(RECT& proposed, RegionChange change);
    bool OnSetCursor();
    void OnPaint();
    void PaintPictures(HDC dc, PixelSize client);
    void PaintFallbackTarget(HDC dc, PixelPoint centre);
    void PaintGrips(HDC dc, PixelSize client);
    PixelSize ClientSize() const;
    void SetControlRect(int id, const PixelRect& rect);

    const HINSTANCE module_;
    WindowSession& session_;
    CalibFiles& files_;
    const bool pictures_;
    CalibConfig config_;
    // Read by the listener thread's posts.
    std::atomic<HWND> dialog_{nullptr};
    PixelSize handleZone_ = kDefaultHandleZone;
    Edge hotEdge_ = Edge::kNone;
    LPCWSTR cursor_ = IDC_ARROW;
    HBRUSH background_ = nullptr;
};

// Creates one CalibrationWindow per region window, with GDI+ running for its length.
class Win32WindowHost final : public WindowHost {
public:
    Win32WindowHost(HINSTANCE module, CalibFiles& files) : module_(module), files_(files) {}
    bool RunWindow(WindowSession& session) override;

private:
    const HINSTANCE module_;
    CalibFiles& files_;
};

}  // namespace kav::calib::win32
