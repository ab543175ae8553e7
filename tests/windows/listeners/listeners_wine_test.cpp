// KavLib.dll's listeners under Wine. Each mode is one step of run_under_wine.sh, which
// drives the simulated screen between the steps this program announces on stdout
// ("ready NAME"): it waits for the announcement, sends its control line, and the program
// waits for what that line should bring.
//
//   listeners_wine_test packet        a screen of product 0x0A31 (KAVLIB_PLATFORM=sim):
//     tap       the touch data listener on a handle from Nerio_OpenTouchScreen and the
//               raw-input listener both get the tap's touch reports, on their own threads,
//               the same reports in the same order
//     image     in work mode 0xF5 the image listener on the vendor collection pairs the
//               camera-line blocks the driver forwards
//     plug      one arrival per interface of a screen plugged in, then (unplug) one removal
//               per interface, each inside this thread's message dispatch
//   listeners_wine_test other-product a screen of product 0x0A41: its tap reaches the
//               handle's listener and never the raw-input listener
//   listeners_wine_test win32         the Win32 platform: real mouse WM_INPUT from SendInput
//               reaches the hidden raw-input window and is dropped; the handle listeners
//               start and stop on Wine's virtual HID mouse, whose reads stay pending
//
// Exit code 0 when every check passed; each failure is printed.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "KavLib.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<unsigned char>;

constexpr unsigned char kTouchReportId = 0x30;
constexpr std::size_t kTouchReportLength = 22;
constexpr unsigned char kContactTouching = 7;  // byte 1: the first contact's status
constexpr unsigned char kContactLifted = 6;
constexpr unsigned char kWorkModeDigitizer = 0xF2;
constexpr unsigned char kWorkModeRawPacket = 0xF5;
constexpr int kLinePixels = 640;  // a camera line, run-length coded in the forwarded blocks
constexpr unsigned short kVendorId = 0x4B1D;
constexpr unsigned short kTouchProduct = 0x0A31;
constexpr unsigned short kWineVendorId = 0x845E;  // Wine's virtual HID mouse
constexpr unsigned short kWineMouseProduct = 0x0001;
constexpr uint32_t kArrival = 0x8000;
constexpr uint32_t kRemoval = 0x8004;

int g_failures = 0;

void Check(bool ok, const std::string& what) {
    if (!ok) {
        std::printf("FAILED: %s\n", what.c_str());
        std::fflush(stdout);
        ++g_failures;
    }
}

void Announce(const char* step) {
    std::printf("ready %s\n", step);
    std::fflush(stdout);
}

template <typename Predicate>
bool WaitUntil(Predicate done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// What one listener delivered, and on which threads.
struct Seen {
    std::mutex mutex;
    std::vector<Bytes> reports;
    std::vector<DWORD> threads;

    void Add(const unsigned char* bytes, std::size_t length) {
        std::lock_guard lock(mutex);
        reports.emplace_back(bytes, bytes + length);
        threads.push_back(GetCurrentThreadId());
    }
    std::size_t Count() {
        std::lock_guard lock(mutex);
        return reports.size();
    }
    // A whole tap: a touching report and, after it, the lift.
    bool HasWholeTap() {
        std::lock_guard lock(mutex);
        bool down = false;
        for (const Bytes& report : reports) {
            if (report[1] == kContactTouching) down = true;
            if (down && report[1] == kContactLifted) return true;
        }
        return false;
    }
};

Seen g_touchData;
Seen g_rawInput;

void OnTouchData(unsigned char* report) {
    g_touchData.Add(report, kTouchReportLength);
}
void OnRawInput(unsigned char* report) {
    g_rawInput.Add(report, kTouchReportLength);
}

bool OnlyTouchReportsOnOneOtherThread(Seen& seen) {
    std::lock_guard lock(seen.mutex);
    for (std::size_t i = 0; i < seen.reports.size(); ++i)
        if (seen.reports[i][0] != kTouchReportId || seen.threads[i] == GetCurrentThreadId() ||
            seen.threads[i] != seen.threads[0])
            return false;
    return true;
}

// The paths of one collection of the touch controllers, or of every interface of a product.
std::vector<std::wstring> Paths(unsigned char collection, unsigned short vendorId = 0, unsigned short productId = 0) {
    static wchar_t buffers[KAVLIB_MAX_DEVICES][KAVLIB_MAX_PATH];
    wchar_t* paths[KAVLIB_MAX_DEVICES];
    for (int i = 0; i < KAVLIB_MAX_DEVICES; ++i) paths[i] = buffers[i];
    int count = 0;
    if (productId != 0)
        Nerio_HID_EnumDevice(paths, count, vendorId, productId);
    else
        EnumDevice_HID(paths, count, collection);
    return std::vector<std::wstring>(paths, paths + count);
}

HANDLE OpenFirst(const std::vector<std::wstring>& paths) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (paths.empty() || Nerio_OpenTouchScreen(paths.front().c_str(), handle) != 1) return INVALID_HANDLE_VALUE;
    return handle;
}

// The tap the script sends reaches both listeners; it waits for the lift and a quiet spell.
void TapReachesBothListeners(HANDLE screen) {
    Check(Nerio_SetWorkMode(screen, kWorkModeDigitizer) == 1, "work mode 0xF2 set");
    Check(Nerio_RegisterTouchDataCallback(screen, OnTouchData) == 1, "touch data listener registered");
    Check(Nerio_RegisterTouchCallback(OnRawInput) == 1, "raw-input listener registered");
    Announce("tap");
    Check(WaitUntil([] { return g_touchData.HasWholeTap() && g_rawInput.HasWholeTap(); }, 15s),
          "both listeners saw the tap land and lift");
    std::this_thread::sleep_for(500ms);
    Check(Nerio_UnRegisterTouchDataCallback() == 1 && Nerio_UnRegisterTouchCallback() == 1, "both unregistered");
    Check(Nerio_UnRegisterTouchDataCallback() == 0 && Nerio_UnRegisterTouchCallback() == 0,
          "a second unregister finds nothing");

    Check(OnlyTouchReportsOnOneOtherThread(g_touchData), "touch data: 0x30 reports on the listener's thread");
    Check(OnlyTouchReportsOnOneOtherThread(g_rawInput), "raw input: 0x30 reports on the listener's thread");
    // Two routes through the service: the handle's buffered reads and the raw-input sink.
    // Agreeing report for report, they show that neither lost or reordered one.
    std::lock_guard a(g_touchData.mutex), b(g_rawInput.mutex);
    Check(g_touchData.reports == g_rawInput.reports, "the same reports in the same order on both routes (" +
                                                         std::to_string(g_touchData.reports.size()) + " and " +
                                                         std::to_string(g_rawInput.reports.size()) + ")");
    std::printf("tap: %zu touch reports\n", g_touchData.reports.size());
}

struct ImagePairs {
    std::mutex mutex;
    std::vector<std::pair<Bytes, Bytes>> pairs;
    std::vector<DWORD> threads;
} g_images;

void OnImage(unsigned char* a, int lengthA, unsigned char* b, int lengthB) {
    std::lock_guard lock(g_images.mutex);
    g_images.pairs.emplace_back(Bytes(a, a + lengthA), Bytes(b, b + lengthB));
    g_images.threads.push_back(GetCurrentThreadId());
}

// The pixels a run-length coded line covers: each byte is one run, bits 1-7 its length - 1.
int LinePixels(const Bytes& block) {
    int pixels = 0;
    for (unsigned char run : block) pixels += (run >> 1) + 1;
    return pixels;
}

void ImageListenerPairsForwardedLines(HANDLE screen) {
    Check(Nerio_SetWorkMode(screen, kWorkModeRawPacket) == 1, "work mode 0xF5 set");
    HANDLE vendor = OpenFirst(Paths(KAVLIB_COLLECTION_VENDOR));
    Check(vendor != INVALID_HANDLE_VALUE, "the vendor collection opened");
    Check(Nerio_RegisterImageDataCallback(vendor, OnImage) == 1, "image listener registered");
    Announce("image");
    const auto count = [] {
        std::lock_guard lock(g_images.mutex);
        return g_images.pairs.size();
    };
    Check(WaitUntil([&] { return count() >= 20; }, 10s), "twenty pairs of blocks");
    Check(Nerio_UnRegisterImageDataCallback() == 1, "image listener unregistered");
    Check(Nerio_SetWorkMode(screen, kWorkModeDigitizer) == 1, "work mode back to 0xF2");
    Nerio_CloseTouchScreen(vendor);

    std::lock_guard lock(g_images.mutex);
    bool lines = true, threads = true;
    for (std::size_t i = 0; i < g_images.pairs.size(); ++i) {
        const auto& [a, b] = g_images.pairs[i];
        lines = lines && !a.empty() && a.size() <= 58 && !b.empty() && b.size() <= 58 && LinePixels(a) == kLinePixels &&
                LinePixels(b) == kLinePixels;
        threads = threads && g_images.threads[i] != GetCurrentThreadId();
    }
    Check(lines, "every block is a whole 640-pixel camera line");
    Check(threads, "image callbacks on the listener's thread");
    std::printf("image: %zu pairs\n", g_images.pairs.size());
}

struct Notified {
    std::vector<uint32_t> events;
    std::vector<DWORD> threads;
    std::atomic<int> parameterNotZero{0};
} g_notified;

void OnDeviceChange(uint32_t event, uint32_t parameter) {
    g_notified.events.push_back(event);
    g_notified.threads.push_back(GetCurrentThreadId());
    if (parameter != 0) ++g_notified.parameterNotZero;
}

// Pumps this thread's messages for `spell`, or until `done`.
template <typename Predicate>
bool PumpUntil(Predicate done, std::chrono::milliseconds spell) {
    const auto deadline = std::chrono::steady_clock::now() + spell;
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

std::size_t CountOf(uint32_t event) {
    std::size_t n = 0;
    for (uint32_t e : g_notified.events) n += e == event;
    return n;
}

void OneNotificationPerInterface() {
    const std::size_t interfaces = Paths(0, kVendorId, kTouchProduct).size();
    Check(interfaces > 1, "the screen has several interfaces");
    Check(Nerio_RegisterDeviceNotifyCallback(OnDeviceChange) == 1, "notification registered");
    Check(Nerio_RegisterDeviceNotifyCallback(OnDeviceChange) == 0, "a second registration refused");

    Announce("plug");
    PumpUntil([&] { return CountOf(kArrival) >= interfaces; }, 15s);
    PumpUntil([] { return false; }, 500ms);  // anything extra would come now
    Check(g_notified.events == std::vector<uint32_t>(interfaces, kArrival),
          "one arrival per interface (" + std::to_string(g_notified.events.size()) + " events for " +
              std::to_string(interfaces) + " interfaces)");
    Check(Paths(0, kVendorId, kTouchProduct).size() == 2 * interfaces, "the second screen is listed");

    g_notified.events.clear();
    Announce("unplug");
    PumpUntil([&] { return CountOf(kRemoval) >= interfaces; }, 15s);
    PumpUntil([] { return false; }, 500ms);
    Check(g_notified.events == std::vector<uint32_t>(interfaces, kRemoval), "one removal per interface");

    bool here = true;
    for (DWORD thread : g_notified.threads) here = here && thread == GetCurrentThreadId();
    Check(here, "every notification inside this thread's dispatch");
    Check(g_notified.parameterNotZero == 0, "the second argument is always 0");
    Check(Nerio_UnRegisterDeviceNotifyCallback() == 1, "notification unregistered");
    Check(Nerio_UnRegisterDeviceNotifyCallback() == 0, "a second unregister finds nothing");
}

void Packet() {
    HANDLE handles[KAVLIB_MAX_DEVICES] = {};
    unsigned char count = 0;
    Check(Nerio_GetTouchScreenInformation(handles, count) == 1 && count == 1, "one screen opened");
    if (count != 1) return;
    TapReachesBothListeners(handles[0]);
    ImageListenerPairsForwardedLines(handles[0]);
    OneNotificationPerInterface();
    Nerio_CloseTouchScreen(handles[0]);
}

void OtherProduct() {
    HANDLE screen = OpenFirst(Paths(KAVLIB_COLLECTION_TOUCH));
    Check(screen != INVALID_HANDLE_VALUE, "the other product's screen opened");
    Check(Nerio_SetWorkMode(screen, kWorkModeDigitizer) == 1, "work mode 0xF2 set");
    Check(Nerio_RegisterTouchDataCallback(screen, OnTouchData) == 1, "touch data listener registered");
    Check(Nerio_RegisterTouchCallback(OnRawInput) == 1, "raw-input listener registered");
    Announce("tap");
    Check(WaitUntil([] { return g_touchData.HasWholeTap(); }, 15s), "the handle's listener saw the tap");
    std::this_thread::sleep_for(500ms);
    Check(Nerio_UnRegisterTouchDataCallback() == 1 && Nerio_UnRegisterTouchCallback() == 1, "both unregistered");
    Check(g_rawInput.Count() == 0, "nothing from another product reached the raw-input listener");
    Nerio_CloseTouchScreen(screen);
}

std::atomic<int> g_wmInput{0};
std::atomic<int> g_rawInputCalls{0};

LRESULT CALLBACK CountInput(int code, WPARAM removed, LPARAM lParam) {
    const auto* message = reinterpret_cast<const MSG*>(lParam);
    if (code == HC_ACTION && removed == PM_REMOVE && message->message == WM_INPUT) ++g_wmInput;
    return CallNextHookEx(nullptr, code, removed, lParam);
}

void SendMouse(DWORD flags) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    input.mi.dx = 1;
    SendInput(1, &input, sizeof input);
}

void MouseInputIsDroppedByTheFilter() {
    Check(Nerio_RegisterTouchCallback([](unsigned char*) { ++g_rawInputCalls; }) == 1, "raw-input listener registered");
    HWND window = nullptr;
    WaitUntil([&] { return (window = FindWindowW(L"RawInputWnd", nullptr)) != nullptr; }, 5s);
    Check(window != nullptr, "the hidden RawInputWnd window exists");
    if (window == nullptr) return;
    Check(!IsWindowVisible(window), "RawInputWnd is hidden");
    const DWORD thread = GetWindowThreadProcessId(window, nullptr);
    Check(thread != GetCurrentThreadId(), "RawInputWnd runs on a thread of its own");
    // Sees each message the window's loop takes from its queue.
    HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, CountInput, nullptr, thread);
    Check(hook != nullptr, "a message hook on the listener's thread");
    // Injected input can miss a sink that has only just registered: send until it arrives.
    for (int attempt = 0; attempt < 20 && g_wmInput < 2; ++attempt) {
        SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTDOWN);
        SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTUP);
        WaitUntil([] { return g_wmInput >= 2; }, 250ms);
    }
    Check(g_wmInput >= 2, "real mouse WM_INPUT reached the window");
    if (hook != nullptr) UnhookWindowsHookEx(hook);
    Check(g_rawInputCalls == 0, "the mouse's input was dropped, never called back");
    Check(Nerio_UnRegisterTouchCallback() == 1, "raw-input listener unregistered");
    Check(FindWindowW(L"RawInputWnd", nullptr) == nullptr, "RawInputWnd destroyed");
    Check(Nerio_RegisterTouchCallback([](unsigned char*) {}) == 1 && Nerio_UnRegisterTouchCallback() == 1,
          "registered again from scratch");
    std::printf("win32: %d WM_INPUT messages dropped\n", g_wmInput.load());
}

// Wine's virtual mouse completes no reads: every stop finds one pending, which it must
// cancel and wait for before the listener's buffer goes.
void PendingReadsAreStopped() {
    HANDLE mouse = OpenFirst(Paths(0, kWineVendorId, kWineMouseProduct));
    Check(mouse != INVALID_HANDLE_VALUE, "Wine's virtual HID mouse opened");
    if (mouse == INVALID_HANDLE_VALUE) return;
    for (int round = 0; round < 20; ++round) {
        Check(Nerio_RegisterTouchDataCallback(mouse, [](unsigned char*) { ++g_rawInputCalls; }) == 1 &&
                  Nerio_RegisterImageDataCallback(mouse, [](unsigned char*, int, unsigned char*, int) {}) == 1,
              "listeners on the mouse registered");
        std::this_thread::sleep_for(10ms);
        Check(Nerio_UnRegisterTouchDataCallback() == 1 && Nerio_UnRegisterImageDataCallback() == 1,
              "listeners on the mouse unregistered");
    }
    Check(g_rawInputCalls == 0, "nothing read from the mouse");
    Check(Nerio_CloseTouchScreen(mouse) == 1, "the handle closes after the stops");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"packet") {
        Packet();
    } else if (mode == L"other-product") {
        OtherProduct();
    } else if (mode == L"win32") {
        MouseInputIsDroppedByTheFilter();
        PendingReadsAreStopped();
    } else {
        std::fprintf(stderr, "usage: listeners_wine_test packet | other-product | win32\n");
        return 2;
    }
    if (g_failures == 0) std::printf("listeners_wine_test %ls: all checks passed\n", mode.c_str());
    return g_failures == 0 ? 0 : 1;
}
