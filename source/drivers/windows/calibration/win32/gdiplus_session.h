// GDI+ for the length of one calibration window, started and shut down on the thread that
// runs it (the caller of NERIO_Calibrater_Start), never in DllMain, where the loader lock
// forbids both. Every picture of the window is gone before the shutdown.
#pragma once

#include <windows.h>
// gdiplus.h needs these before it.
#include <gdiplus.h>
#include <objidl.h>

namespace kav::calib::win32 {

class GdiplusSession {
public:
    GdiplusSession() {
        Gdiplus::GdiplusStartupInput input;
        started_ = Gdiplus::GdiplusStartup(&token_, &input, nullptr) == Gdiplus::Ok;
    }
    ~GdiplusSession() {
        if (started_) Gdiplus::GdiplusShutdown(token_);
    }
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;

    // Without GDI+ the window draws its fallback target and no pictures.
    bool Started() const { return started_; }

private:
    ULONG_PTR token_ = 0;
    bool started_ = false;
};

}  // namespace kav::calib::win32
