#include "clicks.h"

#include <cstdint>
#include <limits>

#include "kavusb/kmdf/wdm.h"
#include "regions.h"
#include "report_composition.h"
#include "shared/work_modes.h"
#include "spin_lock_guard.h"

namespace kav {
namespace {

constexpr std::int64_t kTicksPerMs = 10000;

DRIVER_CONTEXT* CurrentDriverContext() {
    WDFDRIVER driver = WdfGetDriver();
    return driver != nullptr ? NerioGetDriverContext(driver) : nullptr;
}

// Holds the click state for one call. Taken after the device's spin lock.
class ClickStateGuard {
public:
    explicit ClickStateGuard(CLICK_STATE* state)
        : state_(state), fallback_(state->Lock == nullptr), lock_(state->Lock) {
        if (!fallback_) return;
        while (__atomic_exchange_n(&state_->FallbackLock, 1, __ATOMIC_ACQUIRE) != 0) {
            while (__atomic_load_n(&state_->FallbackLock, __ATOMIC_RELAXED) != 0) {
#if defined(__x86_64__) || defined(__i386__)
                __builtin_ia32_pause();
#endif
            }
        }
    }
    ~ClickStateGuard() {
        if (fallback_) __atomic_store_n(&state_->FallbackLock, 0, __ATOMIC_RELEASE);
    }
    ClickStateGuard(const ClickStateGuard&) = delete;
    ClickStateGuard& operator=(const ClickStateGuard&) = delete;

private:
    CLICK_STATE* state_;
    bool fallback_;
    SpinLockGuard lock_;  // holds nothing while the lock is not created
};

void KeyStroke(DEVICE_CONTEXT* context, std::uint8_t modifiers, std::uint8_t key) {
    SendKeyboardReport(context, modifiers, key, 1);
    SendKeyboardReport(context, modifiers, key, 0);
    SendKeyboardReport(context, 0, 0, 0);
}

// ---- where a lifted contact is released ----

CLICK_LAST_TOUCH* FindSlot(CLICK_STATE* state, const DEVICE_CONTEXT* context) {
    for (CLICK_LAST_TOUCH& slot : state->LastTouch)
        if (slot.Device == context) return &slot;
    return nullptr;
}

void RememberTouch(CLICK_STATE* state, const DEVICE_CONTEXT* context) {
    CLICK_LAST_TOUCH* slot = FindSlot(state, context);
    if (slot == nullptr) slot = FindSlot(state, nullptr);
    if (slot == nullptr) {
        // More screens than slots: the oldest claim gives way.
        slot = &state->LastTouch[state->NextSlot % kClickDeviceSlots];
        state->NextSlot = static_cast<std::uint8_t>((state->NextSlot + 1) % kClickDeviceSlots);
    }
    const TOUCH_POINT& point = context->OutputPoint[0];
    slot->Device = context;
    slot->X = point.X;
    slot->Y = point.Y;
    slot->Size = point.Size;
}

// The pipeline leaves a lifted contact's coordinates undefined; its release goes where it
// last touched. Restores the caller's sample when the release reports are sent.
class ReleasePlacement {
public:
    ReleasePlacement(CLICK_STATE* state, DEVICE_CONTEXT* context) : context_(context), saved_(context->OutputPoint[0]) {
        const CLICK_LAST_TOUCH* slot = FindSlot(state, context);
        if (slot == nullptr) return;
        TOUCH_POINT& point = context->OutputPoint[0];
        point.X = slot->X;
        point.Y = slot->Y;
        point.Size = slot->Size;
    }
    ~ReleasePlacement() { context_->OutputPoint[0] = saved_; }
    ReleasePlacement(const ReleasePlacement&) = delete;
    ReleasePlacement& operator=(const ReleasePlacement&) = delete;

private:
    DEVICE_CONTEXT* context_;
    TOUCH_POINT saved_;
};

// ---- the three mouse behaviours ----

void ClickOnTouch(DEVICE_CONTEXT* context, CLICK_STATE* state) {
    if (context->OutputPoint[0].Tip != 0) {
        if (state->Touching != 0) return;
        state->Touching = 1;
        SendMouseReport(context, kMouseButtonLeft);
        SendMouseReport(context, kMouseButtonNone);
        return;
    }
    // The touch ends even if its button-up found no read pending: waiting for a button
    // byte of 0 would wait for a report this mode never sends again.
    state->Touching = 0;
}

void ClickOnRelease(DEVICE_CONTEXT* context, CLICK_STATE* state) {
    if (context->OutputPoint[0].Tip != 0) {
        SendMouseReport(context, kMouseButtonNone);
        state->Touching = 1;
        return;
    }
    if (state->Touching != 1) return;
    state->Touching = 0;
    ReleasePlacement placement(state, context);
    // Tip set for the press: a release point outside every region repeats the last
    // position instead of dropping the button.
    context->OutputPoint[0].Tip = 1;
    context->LastMouseReport.Buttons = kMouseButtonLeft;
    SendMouseReport(context, kMouseButtonLeft);
    context->OutputPoint[0].Tip = 0;
    SendMouseReport(context, kMouseButtonNone);
}

std::int32_t ToMillimetres(std::uint32_t screenMm, std::int32_t logical) {
    // 64-bit so that a stray mapped value cannot overflow; screen-sized values give the
    // same result as 32-bit arithmetic.
    const std::int64_t value = static_cast<std::int64_t>(screenMm) * logical / kLogicalRange;
    if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

std::int64_t Distance(std::int32_t a, std::int32_t b) {
    const std::int64_t d = static_cast<std::int64_t>(a) - b;
    return d < 0 ? -d : d;
}

std::int64_t SystemTime() {
    LARGE_INTEGER now{};
    KeQuerySystemTime(&now);
    return now.QuadPart;
}

// Signed: a clock set back gives a negative time, which never reaches RightClickTime.
std::int64_t ElapsedMs(std::int64_t now, std::uint64_t start) {
    const std::uint64_t ticks = static_cast<std::uint64_t>(now) - start;
    return static_cast<std::int64_t>(ticks) / kTicksPerMs;
}

// The lift releases whatever button the touch left down: the left one, or the right one
// when the hold became a right click (even in the very sample after it).
void MouseLift(DEVICE_CONTEXT* context, CLICK_STATE* state) {
    state->HoldState = kHoldIdle;
    if (context->LastMouseReport.Buttons == kMouseButtonNone) return;
    ReleasePlacement placement(state, context);
    SendMouseReport(context, kMouseButtonNone);
}

// One touching sample of a hold that is still undecided. Returns true when this sample
// decided it (a drag, or a right click already sent): the sample then sends nothing more.
bool HoldDecidedNow(DEVICE_CONTEXT* context, CLICK_STATE* state) {
    const MAPPED_POINT mapped = MapPoint(context->OutputPoint[0], context->Region[0]);
    const std::int32_t px = ToMillimetres(context->ScreenProperty.Width, mapped.X);
    const std::int32_t py = ToMillimetres(context->ScreenProperty.Height, mapped.Y);
    const std::int64_t now = SystemTime();
    if (state->HoldState == kHoldIdle) {
        state->HoldElapsedMs = 0;
        state->HoldState = kHoldHolding;
        state->HoldStartX = px;
        state->HoldStartY = py;
        state->HoldStartTime = static_cast<std::uint64_t>(now);
        SendMouseReport(context, kMouseButtonLeft);
    }
    const std::int64_t elapsed = ElapsedMs(now, state->HoldStartTime);
    state->HoldElapsedMs = static_cast<std::uint64_t>(elapsed);
    const std::int64_t area = context->DriverConfig.Config.RightClickArea;
    if (Distance(px, state->HoldStartX) > area || Distance(py, state->HoldStartY) > area) {
        state->HoldState = kHoldDragging;
        return true;
    }
    if (elapsed >= static_cast<std::int64_t>(context->DriverConfig.Config.RightClickTime)) {
        state->HoldState = kHoldRightClicked;
        SendMouseReport(context, kMouseButtonRight);
        return true;
    }
    return false;
}

void MouseEmulation(DEVICE_CONTEXT* context, CLICK_STATE* state) {
    if (context->OutputPoint[0].Tip == 0) {
        MouseLift(context, state);
        return;
    }
    // The finger that opened a context menu must not click into it while it stays down.
    if (state->HoldState == kHoldRightClicked) return;
    const bool undecided = state->HoldState == kHoldIdle || state->HoldState == kHoldHolding;
    if (context->DriverConfig.Config.EnableRightClick == 1 && undecided && HoldDecidedNow(context, state)) return;
    SendMouseReport(context, kMouseButtonLeft);
}

}  // namespace

NTSTATUS InitClickState(WDFDRIVER driver) {
    if (driver == nullptr) return STATUS_INVALID_PARAMETER;
    DRIVER_CONTEXT* driverContext = NerioGetDriverContext(driver);
    if (driverContext == nullptr) return STATUS_INVALID_PARAMETER;
    if (driverContext->Click.Lock != nullptr) return STATUS_SUCCESS;

    WDF_OBJECT_ATTRIBUTES attributes;
    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    attributes.ParentObject = driver;
    WDFSPINLOCK lock = nullptr;
    const NTSTATUS status = WdfSpinLockCreate(&attributes, &lock);
    if (!NT_SUCCESS(status)) return status;
    driverContext->Click.Lock = lock;
    return STATUS_SUCCESS;
}

void DeviceButtons(DEVICE_CONTEXT* context, const std::uint8_t* packet) {
    if (context == nullptr || packet == nullptr) return;
    DRIVER_CONTEXT* driver = CurrentDriverContext();
    if (driver == nullptr) return;
    CLICK_STATE* state = &driver->Click;
    ClickStateGuard guard(state);

    // Shift tells the listener the previous button was released.
    if (state->LastToolbarKey != 0) {
        KeyStroke(context, kKeyModifierLeftShift, state->LastToolbarKey);
        state->LastToolbarKey = 0;
    }

    const std::uint8_t lines = packet[6];
    unsigned line = 0;
    while (line < 8 && (lines & (1u << line)) != 0) ++line;
    if (line == 8) return;
    if (line == 7) line = 4;  // wired to the same key as line 4
    const std::uint8_t key = KeyUsage(line + 7);
    KeyStroke(context, kKeyModifierLeftControl, key);
    state->LastToolbarKey = key;
}

void ComposeSample(DEVICE_CONTEXT* context) {
    if (context == nullptr) return;
    const std::uint8_t workMode = context->WorkMode;
    if (workMode == kWorkModeCalibrate) {
        SendRawTouchReport(context);
        return;
    }
    DRIVER_CONTEXT* driver = CurrentDriverContext();
    if (driver == nullptr) return;
    const std::uint8_t mode = context->DriverConfig.Config.Mode;
    const bool digitizer = workMode == kWorkModeDigitizer || workMode == kWorkModeDigitizer2;
    if (mode > kModeClickOnRelease && digitizer) {
        SendTouchReport(context);
        return;
    }

    CLICK_STATE* state = &driver->Click;
    ClickStateGuard guard(state);
    // After a right click the pointer stays where the menu opened, and the release goes there.
    const bool pointerHeld = mode > kModeClickOnRelease && state->HoldState == kHoldRightClicked;
    if (context->OutputPoint[0].Tip != 0 && !pointerHeld) RememberTouch(state, context);
    if (mode == kModeClickOnTouch)
        ClickOnTouch(context, state);
    else if (mode == kModeClickOnRelease)
        ClickOnRelease(context, state);
    else
        MouseEmulation(context, state);
}

void ToolbarTouch(DEVICE_CONTEXT* context) {
    if (context == nullptr) return;
    const TOUCH_POINT point = context->JamHoldPoint;
    ToolbarTouch(context, point);
}

void ToolbarTouch(DEVICE_CONTEXT* context, const TOUCH_POINT& point) {
    if (context == nullptr) return;
    const TOOLBAR_PARAMS& toolbar = context->ToolbarParams;
    if (toolbar.Enabled != 1) return;
    const std::int32_t x = point.X;
    const std::int32_t y = point.Y;
    for (unsigned r = 0; r < 4; ++r) {
        if ((toolbar.AreaMask & (1u << r)) == 0) continue;
        const TOOLBAR_AREA area = toolbar.Areas[r];
        const std::int32_t width = area.Width;
        const std::int32_t height = area.Height;
        for (std::int32_t i = 0; i < static_cast<std::int32_t>(kToolbarButtonsPerArea); ++i) {
            const std::int32_t left = area.X0 + area.DX * i;
            const std::int32_t top = area.Y0 + area.DY * i;
            if (x < left || x >= left + width || y < top || y >= top + height) continue;
            const std::uint8_t modifiers = i < 12 ? 0 : kKeyModifierLeftControl;
            KeyStroke(context, modifiers, KeyUsage(static_cast<std::size_t>(i)));
            return;
        }
    }
}

}  // namespace kav
