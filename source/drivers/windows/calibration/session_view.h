// What the calibration session asks of its window. The Win32 window does each of these with
// the obvious calls and decides nothing; tests record them.
#pragma once

namespace kav::calib {

class WindowSession;

// The region mode of NERIO_Calibrater_Start: the full screen, one region the user places, or
// the four quadrants of the primary screen.
enum class RegionMode : int { kFullScreen = 0, kOneRegion = 1, kQuadrants = 4 };

// The status texts; the window takes their words from the configuration file.
enum class StatusText {
    kCalibrating,   // collecting began
    kCalibrated,    // the result is shown
    kReceiveBegin,  // a target waits for a touch
    kReceiving,     // a touch is being sampled: followed by " %d / %d ", counter and kSteadyReports
    kReceiveEnd,    // a point has been taken
};

// Where the window is, in pixels: the client area's top left on the screen and its size (the
// window has no border, so this is the window rectangle), and the primary screen's size.
struct WindowGeometry {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    int screenWidth = 0;
    int screenHeight = 0;
};

// From the configuration file, read when the window opens.
struct SessionTimeouts {
    int confirmSeconds = 30;      // the shown result waits this long for OK
    int noResponseSeconds = 180;  // collecting waits this long for the next point
};

class SessionView {
public:
    virtual ~SessionView() = default;

    // ---- From any thread (PostMessage to the window) ----

    // WM_USER + 1 with the steadiness counter; the window calls WindowSession::OnProgress.
    virtual void PostProgress(int counter) = 0;
    // WM_USER + 2; the window calls WindowSession::OnPoint.
    virtual void PostPoint() = 0;
    // WM_CLOSE; the window calls WindowSession::OnCancel.
    virtual void PostClose() = 0;

    // ---- On the window's thread ----

    // Topmost: the primary screen (full screen), centred at the configured minimum size
    // (one region), or quadrant `regionIndex` (0 top left, 1 top right, 2 bottom left,
    // 3 bottom right) at half the screen's width and height.
    virtual void PlaceWindow(RegionMode mode, int regionIndex) = 0;

    // The once-a-second timer; each tick calls WindowSession::OnTimer.
    virtual void StartTimer() = 0;
    virtual void StopTimer() = 0;

    // Repeats the system's show-cursor call until the cursor is shown or hidden.
    virtual void ShowCursor(bool shown) = 0;

    // ReCalibrate, OK and Cancel: laid out and shown, or hidden.
    virtual void ShowButtons(bool shown) = 0;
    // The status text; `counter` is used by kReceiving only. A text the configuration file
    // cannot give leaves the status as it was.
    virtual void ShowStatus(StatusText text, int counter) = 0;
    // The seconds left before the shown result is cancelled, on the Cancel button.
    virtual void ShowCountdown(int secondsLeft) = 0;

    virtual WindowGeometry Geometry() = 0;
    // Invalidates the client area; painting asks the session for the target and the handles.
    virtual void Repaint() = 0;

    // Ends the modal window with OK or Cancel; RunWindow then returns.
    virtual void EndWindow(bool ok) = 0;
};

// Creates the calibration windows.
class WindowHost {
public:
    virtual ~WindowHost() = default;

    // Creates the window of `session` and runs it modally on the calling thread. The window
    // first calls session.OnInit with itself and the configured time-outs, then forwards its
    // messages to the session, and returns after SessionView::EndWindow. False when the window
    // could not be created.
    virtual bool RunWindow(WindowSession& session) = 0;
};

}  // namespace kav::calib
