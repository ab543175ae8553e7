#include "calibration/win32/calibration_window.h"

#include <windowsx.h>
// gdiplus.h needs these before it.
#include <gdiplus.h>
#include <objidl.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "calibration/cursor_display.h"
#include "calibration/win32/gdiplus_session.h"
#include "calibration/win32/resource.h"
#include "calibration/win32/win32_calib_files.h"

namespace kav::calib::win32 {
namespace {

// Posted by the touch listener: the steadiness counter in wParam, and a new point.
constexpr UINT kProgressMessage = WM_USER + 1;
constexpr UINT kPointMessage = WM_USER + 2;
constexpr UINT_PTR kSecondTimer = 1;
constexpr UINT kSecondMs = 1000;

constexpr int kButtonIds[] = {IDC_RECALIBRATE, IDC_CALIB_OK, IDC_CALIB_CANCEL};

// The drawn target: circles of these diameters and a cross of this length.
constexpr int kCircleDiameters[] = {40, 30, 20};
constexpr int kCrossLength = 50;

PixelSize PrimaryScreen() {
    return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

// A picture from the language folders, loaded for one repaint; nullopt when it is missing or
// unreadable.
struct Picture {
    std::unique_ptr<Gdiplus::Image> image;
    PixelSize size;
};
std::optional<Picture> LoadPicture(CalibFiles& files, std::u16string_view name) {
    const std::optional<std::u16string> path = FindCalibFile(files, name);
    if (!path) return std::nullopt;
    auto image = std::make_unique<Gdiplus::Image>(Wide(*path));
    if (image->GetLastStatus() != Gdiplus::Ok) return std::nullopt;
    const PixelSize size{static_cast<int>(image->GetWidth()), static_cast<int>(image->GetHeight())};
    return Picture{std::move(image), size};
}

// At its natural size, whatever resolution the file records.
void Draw(Gdiplus::Graphics& graphics, const Picture& picture, PixelPoint origin) {
    graphics.DrawImage(picture.image.get(), origin.x, origin.y, picture.size.width, picture.size.height);
}

LPCWSTR EdgeCursor(Edge edge) {
    switch (edge) {
        case Edge::kLeft:
        case Edge::kRight:
            return IDC_SIZEWE;
        case Edge::kTop:
        case Edge::kBottom:
            return IDC_SIZENS;
        case Edge::kNone:
            break;
    }
    return IDC_ARROW;
}

// A dialog procedure's answer to a message that has a result of its own.
INT_PTR Answer(HWND dialog, LRESULT result) {
    SetWindowLongPtrW(dialog, DWLP_MSGRESULT, result);
    return TRUE;
}

}  // namespace

CalibrationWindow::CalibrationWindow(HINSTANCE module, WindowSession& session, CalibFiles& files, bool pictures)
    : module_(module), session_(session), files_(files), pictures_(pictures) {}

bool CalibrationWindow::Run() {
    const INT_PTR result = DialogBoxParamW(module_, MAKEINTRESOURCEW(IDD_CALIBRATION), nullptr, &DialogProc,
                                           reinterpret_cast<LPARAM>(this));
    return result == IDOK || result == IDCANCEL;
}

INT_PTR CALLBACK CalibrationWindow::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* window = reinterpret_cast<CalibrationWindow*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        window->dialog_ = dialog;
        window->OnInitDialog();
        return TRUE;
    }
    auto* window = reinterpret_cast<CalibrationWindow*>(GetWindowLongPtrW(dialog, DWLP_USER));
    return window != nullptr ? window->OnMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CalibrationWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    const HWND dialog = dialog_;
    const PixelPoint mouse{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    switch (message) {
        case kProgressMessage:
            session_.OnProgress(static_cast<int>(wParam));
            return TRUE;
        case kPointMessage:
            session_.OnPoint();
            return TRUE;
        case WM_TIMER:
            session_.OnTimer();
            return TRUE;
        case WM_CLOSE:
            session_.OnCancel();
            return TRUE;
        case WM_COMMAND:
            return OnCommand(LOWORD(wParam));
        case WM_RBUTTONDOWN:
            session_.OnRightButtonDown();
            return TRUE;
        case WM_MOUSEMOVE:
            OnMouseMove(mouse);
            return TRUE;
        case WM_LBUTTONDOWN:
            OnLeftButtonDown(mouse);
            return TRUE;
        case WM_SETCURSOR:
            return OnSetCursor() ? Answer(dialog, TRUE) : FALSE;
        case WM_MOVING:
        case WM_SIZING:
            if (!session_.IsResizable()) return FALSE;
            OnMovingOrSizing(*reinterpret_cast<RECT*>(lParam),
                             message == WM_MOVING ? RegionChange::kMove : RegionChange::kSize);
            return Answer(dialog, TRUE);
        case WM_SIZE:
            Repaint();
            return TRUE;
        case WM_PAINT:
            OnPaint();
            return TRUE;
        case WM_CTLCOLORDLG:
            return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
        case WM_CTLCOLORSTATIC:
            SetBkColor(reinterpret_cast<HDC>(wParam), RGB(255, 255, 255));
            return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
        case WM_HELP:
            return Answer(dialog, TRUE);  // F1: nothing to show
        case WM_DESTROY:
            session_.OnDestroy();
            dialog_ = nullptr;
            return TRUE;
        default:
            return FALSE;
    }
}

void CalibrationWindow::OnInitDialog() {
    config_ = LoadCalibConfig(files_);
    const std::pair<int, const std::optional<std::u16string>&> texts[] = {{IDC_RECALIBRATE, config_.reCalibrateText},
                                                                          {IDC_CALIB_OK, config_.okText},
                                                                          {IDC_CALIB_CANCEL, config_.cancelText}};
    for (const auto& [id, text] : texts) {
        if (text) SetDlgItemTextW(dialog_, id, Wide(*text));
    }
    session_.OnInit(*this, SessionTimeouts{config_.confirmTimeoutSeconds, config_.noResponseTimeoutSeconds});
}

bool CalibrationWindow::OnCommand(int id) {
    switch (id) {
        case IDC_CALIB_OK:
            session_.OnOk();
            break;
        case IDC_CALIB_CANCEL:
        case IDCANCEL:
            session_.OnCancel();
            break;  // the Escape key
        case IDC_RECALIBRATE:
            session_.OnReCalibrate();
            break;
        default:
            return false;
    }
    return true;
}

void CalibrationWindow::OnMouseMove(PixelPoint point) {
    if (!session_.IsResizable()) return;
    hotEdge_ = HitEdge(point, ClientSize(), handleZone_);
    cursor_ = EdgeCursor(hotEdge_);
    SetCursor(LoadCursorW(nullptr, cursor_));
}

void CalibrationWindow::OnLeftButtonDown(PixelPoint point) {
    if (!session_.IsResizable()) return;
    const Edge edge = HitEdge(point, ClientSize(), handleZone_);
    SetCursor(LoadCursorW(nullptr, edge == Edge::kNone ? IDC_SIZEALL : EdgeCursor(edge)));
    ReleaseCapture();
    SendMessageW(dialog_, WM_SYSCOMMAND, SizeOrMoveCommand(edge), 0);
}

void CalibrationWindow::OnMovingOrSizing(RECT& proposed, RegionChange change) {
    const PixelRect corrected = CorrectRegionRect({proposed.left, proposed.top, proposed.right, proposed.bottom},
                                                  change, {config_.minWidth, config_.minHeight}, PrimaryScreen());
    proposed = {corrected.left, corrected.top, corrected.right, corrected.bottom};
    Repaint();
}

bool CalibrationWindow::OnSetCursor() {
    if (!session_.IsResizable()) return false;
    SetCursor(LoadCursorW(nullptr, cursor_));
    return true;
}

void CalibrationWindow::OnPaint() {
    const PixelSize client = ClientSize();
    SetControlRect(IDC_STATUS_TEXT, StatusTextPaintRect(client));
    ShowWindow(GetDlgItem(dialog_, IDC_STATUS_TEXT), SW_SHOWNA);

    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(dialog_, &paint);
    PaintPictures(dc, client);
    EndPaint(dialog_, &paint);
}

void CalibrationWindow::PaintPictures(HDC dc, PixelSize client) {
    std::optional<Gdiplus::Graphics> graphics;
    if (pictures_) graphics.emplace(dc);
    const auto picture = [&](std::u16string_view name) { return graphics ? LoadPicture(files_, name) : std::nullopt; };

    if (const auto background = picture(kBackgroundImage)) {
        Draw(*graphics, *background, CentredOrigin({client.width / 2, client.height / 2}, background->size));
    }
    if (const std::optional<TargetPoint> target = session_.CurrentTarget(); target && !session_.IsDone()) {
        const PixelPoint centre = TargetPixel(target->x, target->y, client);
        if (const auto mark = picture(kTouchPointImage)) {
            Draw(*graphics, *mark, CentredOrigin(centre, mark->size));
            handleZone_ = mark->size;
        } else {
            PaintFallbackTarget(dc, centre);
        }
    }
    if (session_.IsResizable()) {
        if (const auto resizer = picture(kResizerImage)) {
            for (const PixelPoint origin : ResizerImageOrigins(client, resizer->size))
                Draw(*graphics, *resizer, origin);
        } else {
            PaintGrips(dc, client);
        }
    }
}

void CalibrationWindow::PaintFallbackTarget(HDC dc, PixelPoint centre) {
    const HGDIOBJ oldPen = SelectObject(dc, GetStockObject(BLACK_PEN));
    const HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    for (const int diameter : kCircleDiameters) {
        const int radius = diameter / 2;
        Ellipse(dc, centre.x - radius, centre.y - radius, centre.x + radius, centre.y + radius);
    }
    const auto black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    const int half = kCrossLength / 2;
    const RECT across{centre.x - half, centre.y - 1, centre.x + half, centre.y};
    const RECT down{centre.x - 1, centre.y - half, centre.x, centre.y + half};
    FillRect(dc, &across, black);
    FillRect(dc, &down, black);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
}

void CalibrationWindow::PaintGrips(HDC dc, PixelSize client) {
    const HGDIOBJ oldPen = SelectObject(dc, GetStockObject(BLACK_PEN));
    const HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    for (const PixelPoint origin : GripOrigins(client, handleZone_)) {
        for (int row = 0; row < kGripSquares; ++row) {
            for (int column = 0; column < kGripSquares; ++column) {
                const int left = origin.x + column * kGripPitch;
                const int top = origin.y + row * kGripPitch;
                Rectangle(dc, left, top, left + kGripSquareSize, top + kGripSquareSize);
            }
        }
    }
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
}

PixelSize CalibrationWindow::ClientSize() const {
    RECT client{};
    GetClientRect(dialog_, &client);
    return {client.right - client.left, client.bottom - client.top};
}

void CalibrationWindow::SetControlRect(int id, const PixelRect& rect) {
    const HWND control = GetDlgItem(dialog_, id);
    RECT current{};
    GetWindowRect(control, &current);
    MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&current), 2);
    // Moving a control repaints it; only a real move, so that painting does not loop.
    if (current.left == rect.left && current.top == rect.top && current.right == rect.right &&
        current.bottom == rect.bottom) {
        return;
    }
    SetWindowPos(control, nullptr, rect.left, rect.top, rect.Width(), rect.Height(), SWP_NOZORDER | SWP_NOACTIVATE);
}

void CalibrationWindow::PostProgress(int counter) {
    if (const HWND dialog = dialog_) PostMessageW(dialog, kProgressMessage, static_cast<WPARAM>(counter), 0);
}

void CalibrationWindow::PostPoint() {
    if (const HWND dialog = dialog_) PostMessageW(dialog, kPointMessage, 0, 0);
}

void CalibrationWindow::PostClose() {
    if (const HWND dialog = dialog_) PostMessageW(dialog, WM_CLOSE, 0, 0);
}

void CalibrationWindow::PlaceWindow(RegionMode mode, int regionIndex) {
    const PixelSize screen = PrimaryScreen();
    PixelRect rect{0, 0, screen.width, screen.height};
    if (mode == RegionMode::kOneRegion) {
        const int left = (screen.width - config_.minWidth) / 2;
        const int top = (screen.height - config_.minHeight) / 2;
        rect = {left, top, left + config_.minWidth, top + config_.minHeight};
    } else if (mode == RegionMode::kQuadrants) {
        const int quadrant = std::clamp(regionIndex, 0, kMaxRegions - 1);
        const int left = quadrant % 2 * (screen.width / 2);
        const int top = quadrant / 2 * (screen.height / 2);
        rect = {left, top, left + screen.width / 2, top + screen.height / 2};
    }
    SetWindowPos(dialog_, HWND_TOPMOST, rect.left, rect.top, rect.Width(), rect.Height(), SWP_SHOWWINDOW);
}

void CalibrationWindow::StartTimer() {
    SetTimer(dialog_, kSecondTimer, kSecondMs, nullptr);
}

void CalibrationWindow::StopTimer() {
    KillTimer(dialog_, kSecondTimer);
}

void CalibrationWindow::ShowCursor(bool shown) {
    const ShowCursorStep step = [](bool show) { return ::ShowCursor(show ? TRUE : FALSE); };
    shown ? RepeatShowCursor(step) : RepeatHideCursor(step);
}

void CalibrationWindow::ShowButtons(bool shown) {
    if (shown) {
        const ButtonLayout layout = LayOutButtons(ClientSize(), config_);
        SetControlRect(IDC_RECALIBRATE, layout.reCalibrate);
        SetControlRect(IDC_CALIB_OK, layout.ok);
        SetControlRect(IDC_CALIB_CANCEL, layout.cancel);
        SetControlRect(IDC_STATUS_TEXT, layout.status);
        ShowWindow(GetDlgItem(dialog_, IDC_STATUS_TEXT), SW_SHOW);
    }
    for (const int id : kButtonIds) ShowWindow(GetDlgItem(dialog_, id), shown ? SW_SHOW : SW_HIDE);
}

void CalibrationWindow::ShowStatus(StatusText text, int counter) {
    if (const auto words = StatusWords(text, counter, config_, files_)) {
        SetDlgItemTextW(dialog_, IDC_STATUS_TEXT, Wide(*words));
    }
}

void CalibrationWindow::ShowCountdown(int secondsLeft) {
    const std::u16string text = CountdownText(ReadCalibText(files_, text_keys::kButtonCancel), secondsLeft);
    SetDlgItemTextW(dialog_, IDC_CALIB_CANCEL, Wide(text));
}

WindowGeometry CalibrationWindow::Geometry() {
    RECT window{};
    GetWindowRect(dialog_, &window);
    const PixelSize screen = PrimaryScreen();
    return {window.left,  window.top,   window.right - window.left, window.bottom - window.top,
            screen.width, screen.height};
}

void CalibrationWindow::Repaint() {
    InvalidateRect(dialog_, nullptr, TRUE);
}

void CalibrationWindow::EndWindow(bool ok) {
    EndDialog(dialog_, ok ? IDOK : IDCANCEL);
}

bool Win32WindowHost::RunWindow(WindowSession& session) {
    const GdiplusSession gdiplus;
    CalibrationWindow window(module_, session, files_, gdiplus.Started());
    return window.Run();
}

}  // namespace kav::calib::win32
