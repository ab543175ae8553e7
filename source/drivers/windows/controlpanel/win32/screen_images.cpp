#include "controlpanel/win32/screen_images.h"

#include "controlpanel/resource.h"

namespace kav::cpl::win32 {

HIMAGELIST CreateScreenImages(HINSTANCE module) {
    constexpr int kWidth = 72;
    constexpr int kHeight = 58;
    const HIMAGELIST images = ImageList_Create(kWidth, kHeight, ILC_COLOR8 | ILC_MASK, 2, 1);
    const struct {
        int bitmap;
        COLORREF mask;
    } kImages[] = {{IDB_SCREEN_UNCALIBRATED, RGB(255, 0, 255)}, {IDB_SCREEN_CALIBRATED, RGB(0, 0, 0)}};
    for (const auto& image : kImages) {
        const HBITMAP bitmap = LoadBitmapA(module, MAKEINTRESOURCEA(image.bitmap));
        ImageList_AddMasked(images, bitmap, image.mask);
        DeleteObject(bitmap);  // the image list keeps a copy
    }
    return images;
}

}  // namespace kav::cpl::win32
