#include "devicelib/listeners.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "shared/hid_reports.h"

namespace kav::devicelib {
namespace {

// --- Listeners reading a caller's handle ---

using ReportHandler = std::function<void(std::span<const uint8_t> report)>;

// One thread keeping one read pending. The reader's own cancellation ends a wait at once,
// so a stop never waits out a slice, and the reader never frees memory under a read.
class ReadingListener {
public:
    ReadingListener(std::unique_ptr<platform::InputReader> reader, std::size_t reportLength, uint32_t sliceMs,
                    ReportHandler handler)
        : state_(std::make_shared<State>(std::move(reader), std::move(handler))) {
        state_->thread = std::thread([state = state_, reportLength, sliceMs] { Run(*state, reportLength, sliceMs); });
    }

    void Stop() {
        state_->running = false;
        state_->reader->Cancel();
        if (state_->thread.get_id() == std::this_thread::get_id()) {
            state_->thread.detach();  // the thread holds the state until it ends
        } else {
            state_->thread.join();
        }
    }

private:
    struct State {
        State(std::unique_ptr<platform::InputReader> r, ReportHandler h)
            : reader(std::move(r)), handler(std::move(h)) {}
        // Only a thread that ended by itself (its device gone) is still joinable here, when
        // the registration goes with the process: it must not terminate the program.
        ~State() {
            if (thread.joinable()) thread.detach();
        }
        std::unique_ptr<platform::InputReader> reader;
        ReportHandler handler;
        std::atomic<bool> running{true};
        std::thread thread;
    };

    static void Run(State& state, std::size_t reportLength, uint32_t sliceMs) {
        std::vector<uint8_t> buffer(reportLength);
        while (state.running) {
            std::fill(buffer.begin(), buffer.end(), uint8_t{0});
            const platform::ReadResult result = state.reader->Read(buffer, sliceMs);
            switch (result.status) {
                case platform::ReadStatus::Report:
                    if (state.running) state.handler(std::span<const uint8_t>(buffer.data(), result.length));
                    break;
                case platform::ReadStatus::TimedOut:
                    break;
                // A handle that fails once is closed or its device gone: it never reads again.
                case platform::ReadStatus::Cancelled:
                case platform::ReadStatus::Failed:
                    return;
            }
        }
    }

    std::shared_ptr<State> state_;
};

struct ReadingSlot {
    std::mutex mutex;
    std::unique_ptr<ReadingListener> listener;  // guarded by mutex
};

ReadingSlot g_touchData;
ReadingSlot g_imageData;

bool Start(ReadingSlot& slot, platform::Handle handle, std::size_t reportLength, uint32_t sliceMs,
           ReportHandler handler) {
    if (!platform::IsValidHandle(handle)) return false;
    std::lock_guard lock(slot.mutex);
    if (slot.listener) return false;
    std::unique_ptr<platform::InputReader> reader = platform::CurrentPlatform().CreateInputReader(handle, reportLength);
    if (!reader) return false;
    slot.listener = std::make_unique<ReadingListener>(std::move(reader), reportLength, sliceMs, std::move(handler));
    return true;
}

bool Stop(ReadingSlot& slot) {
    std::unique_ptr<ReadingListener> listener;
    {
        std::lock_guard lock(slot.mutex);
        listener = std::move(slot.listener);
    }
    // Outside the lock: the callback in progress may itself register or unregister.
    if (!listener) return false;
    listener->Stop();
    return true;
}

// --- Raw input ---

bool IsTouchController(const std::u16string& deviceName) {
    std::u16string upper = deviceName;
    for (char16_t& c : upper)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - (u'a' - u'A'));
    return upper.find(kRawInputTouchDeviceName) != std::u16string::npos;
}

struct RawInputSlot {
    std::mutex mutex;
    std::condition_variable tornDown;
    std::unique_ptr<platform::Registration> registration;  // guarded by mutex
    int teardowns = 0;  // registrations stopped from their own callback, still going; guarded by mutex
};

RawInputSlot g_rawInput;
// Set on the platform's thread while it runs a raw-input callback of ours.
thread_local bool t_inRawInputCallback = false;

// --- Device notification ---

std::mutex g_notifyFactoryMutex;
NotifyWindowFactory g_notifyFactory;  // guarded by g_notifyFactoryMutex; empty for the default

struct NotifySlot {
    std::mutex mutex;
    DeviceNotifyCallback callback = nullptr;               // guarded by mutex
    std::unique_ptr<NotifyWindow> window;                  // guarded by mutex
    std::unique_ptr<platform::Registration> registration;  // guarded by mutex
};

NotifySlot g_notify;

}  // namespace

void ImageBlockPairer::Take(std::span<const uint8_t> report, const Deliver& deliver) {
    if (report.size() != kImageReportLength || !FrameChecksumValid(report.data(), report.size())) return;
    // FrameChecksumValid has bounded L to 1 .. 59, so the payload fits a block.
    const int length = report[3] - 1;
    const uint8_t subCode = report[4];
    Block* target = subCode == 0x00 ? &a_ : subCode == 0x01 ? &b_ : nullptr;
    if (target != nullptr) {
        std::memcpy(target->bytes, report.data() + kPacketHeaderSize, static_cast<std::size_t>(length));
        target->length = length;
        target->held = true;
    }
    if (a_.held && b_.held) {
        b_.held = false;
        deliver(a_.bytes, a_.length, b_.bytes, b_.length);
    }
}

void ImageBlockPairer::Clear() {
    a_ = Block{};
    b_ = Block{};
}

bool StartTouchDataListener(platform::Handle handle, TouchDataCallback callback) {
    if (callback == nullptr) return false;
    return Start(
        g_touchData, handle, kTouchDataReportLength, kTouchDataWaitSliceMs,
        [callback, record = std::array<uint8_t, kTouchDataReportLength>{}](std::span<const uint8_t> report) mutable {
            if (report.empty() || report[0] != kTouchReportId) return;
            // The callback's record is always whole, a short read zero-filled.
            record.fill(0);
            std::copy(report.begin(), report.end(), record.begin());
            callback(record.data());
        });
}

bool StopTouchDataListener() {
    return Stop(g_touchData);
}

bool StartImageDataListener(platform::Handle handle, ImageDataCallback callback) {
    if (callback == nullptr) return false;
    auto pairer = std::make_shared<ImageBlockPairer>();
    return Start(g_imageData, handle, kImageReportLength, kImageWaitSliceMs,
                 [callback, pairer](std::span<const uint8_t> report) {
                     pairer->Take(report, [callback](uint8_t* a, int lengthA, uint8_t* b, int lengthB) {
                         callback(a, lengthA, b, lengthB);
                     });
                 });
}

bool StopImageDataListener() {
    return Stop(g_imageData);
}

bool StartRawInputTouchListener(TouchDataCallback callback) {
    if (callback == nullptr) return false;
    std::unique_lock lock(g_rawInput.mutex);
    // The system keeps one raw-input target per process, so a teardown still going would
    // remove the new registration's. From inside a callback it cannot be waited for.
    if (t_inRawInputCallback && g_rawInput.teardowns > 0) return false;
    g_rawInput.tornDown.wait(lock, [] { return g_rawInput.teardowns == 0; });
    if (g_rawInput.registration) return false;
    static constexpr std::array<platform::RawInputUsage, 2> kUsages{{{0x01, 0x02}, {0x0D, 0x04}}};
    auto handler = [callback, record = std::array<uint8_t, kTouchDataReportLength>{}](
                       const platform::RawInputEvent& event) mutable {
        if (event.kind != platform::RawInputEvent::Kind::Hid || !IsTouchController(event.deviceName)) return;
        // A shorter report is not a touch report, and copying it whole would read past it.
        if (event.report.size() < record.size() || event.report[0] != kTouchReportId) return;
        std::copy_n(event.report.begin(), record.size(), record.begin());
        t_inRawInputCallback = true;
        callback(record.data());
        t_inRawInputCallback = false;
    };
    g_rawInput.registration = platform::CurrentPlatform().RegisterRawInput(kUsages, std::move(handler));
    return g_rawInput.registration != nullptr;
}

bool StopRawInputTouchListener() {
    std::unique_ptr<platform::Registration> registration;
    {
        std::lock_guard lock(g_rawInput.mutex);
        registration = std::move(g_rawInput.registration);
        if (registration && t_inRawInputCallback) ++g_rawInput.teardowns;
    }
    if (!registration) return false;
    if (t_inRawInputCallback) {
        // A registration waits for its callback, so it cannot go from inside it.
        std::thread([gone = std::move(registration)]() mutable {
            gone.reset();
            {
                std::lock_guard lock(g_rawInput.mutex);
                --g_rawInput.teardowns;
            }
            g_rawInput.tornDown.notify_all();
        }).detach();
    }
    return true;
}

void SetNotifyWindowFactory(NotifyWindowFactory factory) {
    std::lock_guard lock(g_notifyFactoryMutex);
    g_notifyFactory = std::move(factory);
}

bool StartDeviceNotify(DeviceNotifyCallback callback) {
    if (callback == nullptr) return false;
    NotifyWindowFactory factory;
    {
        std::lock_guard lock(g_notifyFactoryMutex);
        factory = g_notifyFactory ? g_notifyFactory : DefaultNotifyWindowFactory();
    }
    std::lock_guard lock(g_notify.mutex);
    if (g_notify.callback != nullptr || !factory) return false;
    // Runs inside the registering thread's dispatch; the window only exists while registered.
    std::unique_ptr<NotifyWindow> window = factory([callback](uint32_t event) { callback(event, 0); });
    if (!window) return false;
    NotifyWindow* target = window.get();
    auto registration = platform::CurrentPlatform().RegisterDeviceChange(
        [target](platform::DeviceChange change, const std::u16string&) {
            target->Post(static_cast<uint32_t>(change));
        });
    if (!registration) return false;
    g_notify.callback = callback;
    g_notify.window = std::move(window);
    g_notify.registration = std::move(registration);
    return true;
}

bool StopDeviceNotify() {
    std::unique_ptr<NotifyWindow> window;
    std::unique_ptr<platform::Registration> registration;
    {
        std::lock_guard lock(g_notify.mutex);
        if (g_notify.callback == nullptr) return false;
        g_notify.callback = nullptr;
        window = std::move(g_notify.window);
        registration = std::move(g_notify.registration);
    }
    // The platform stops posting before the window that receives the posts goes.
    registration.reset();
    window.reset();
    return true;
}

#ifndef _WIN32
NotifyWindowFactory DefaultNotifyWindowFactory() {
    return {};
}
#endif

}  // namespace kav::devicelib
