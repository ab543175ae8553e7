// The touch screen lists' image list: 72 x 58 pixels, image 0 a screen with a prohibition
// sign (bitmap 137), image 1 a screen with a check mark (bitmap 138).
#pragma once

#include <windows.h>

#include <commctrl.h>

namespace kav::cpl::win32 {

// A new image list; the list view it is given to destroys it.
HIMAGELIST CreateScreenImages(HINSTANCE module);

}  // namespace kav::cpl::win32
