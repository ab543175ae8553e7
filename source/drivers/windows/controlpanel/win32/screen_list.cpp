#include "controlpanel/win32/screen_list.h"

#include "controlpanel/resource.h"

namespace kav::cpl::win32 {
namespace {

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

}  // namespace

std::optional<int> ScreenList::ChangedRow(const NMHDR& header, int listId) {
    if (header.idFrom != static_cast<UINT_PTR>(listId) || header.code != LVN_ITEMCHANGED) return std::nullopt;
    return reinterpret_cast<const NMLISTVIEW&>(header).iItem;
}

void ScreenList::AttachImages(HINSTANCE module) const {
    SendMessageA(list_, LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(CreateScreenImages(module)));
}

void ScreenList::DeleteAllRows() const {
    SendMessageA(list_, LVM_DELETEALLITEMS, 0, 0);
}

void ScreenList::InsertRow(int row, const std::string& text, ScreenImage image) const {
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = row;
    item.pszText = const_cast<char*>(text.c_str());
    item.iImage = static_cast<int>(image);
    item.lParam = row;
    SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

void ScreenList::SelectRow(int row) const {
    LVITEMA item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void ScreenList::SetRedraw(bool enabled) const {
    SendMessageA(list_, WM_SETREDRAW, enabled ? TRUE : FALSE, 0);
}

}  // namespace kav::cpl::win32
