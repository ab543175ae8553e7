#include "report_composition.h"

#include <cstring>

#include "kavusb/eventlog/event_log.h"
#include "regions.h"

namespace kav {
namespace {

WDFREQUEST TakeReadRequest(DEVICE_CONTEXT* context) {
    WDFREQUEST request = nullptr;
    if (!NT_SUCCESS(WdfIoQueueRetrieveNextRequest(context->ReadQueue, &request))) return nullptr;
    context->CurrentRequest = request;
    return request;
}

void CompleteReadRequest(DEVICE_CONTEXT* context, NTSTATUS status, ULONG_PTR length) {
    WDFREQUEST request = context->CurrentRequest;
    context->CurrentRequest = nullptr;
    WdfRequestCompleteWithInformation(request, status, length);
}

// Takes the next request and its output buffer of at least `size` bytes. A request whose
// buffer is too small is failed here; nullptr then, as when none is pending.
std::uint8_t* TakeReportBuffer(DEVICE_CONTEXT* context, size_t size, bool* refused) {
    *refused = false;
    if (TakeReadRequest(context) == nullptr) return nullptr;
    PVOID buffer = nullptr;
    if (!NT_SUCCESS(WdfRequestRetrieveOutputBuffer(context->CurrentRequest, size, &buffer, nullptr))) {
        CompleteReadRequest(context, STATUS_INVALID_DEVICE_REQUEST, 0);
        *refused = true;
        return nullptr;
    }
    return static_cast<std::uint8_t*>(buffer);
}

bool BothIdle(const DEVICE_CONTEXT* context) {
    return context->OutputPoint[0].Tip == 0 && context->OutputPoint[1].Tip == 0 &&
           context->LastTouchReport.Contact[0].Status != kContactTouching &&
           context->LastTouchReport.Contact[1].Status != kContactTouching;
}

void SetContactPosition(TOUCH_CONTACT* contact, std::int32_t x, std::int32_t y, std::int32_t size) {
    contact->Status = kContactTouching;
    contact->X = static_cast<std::uint16_t>(x & kLowWord);
    contact->Y = static_cast<std::uint16_t>(y & kLowWord);
    contact->Width = static_cast<std::uint16_t>(size & kLowWord);
    contact->Height = contact->Width;
}

bool InLogicalRange(std::int32_t value) {
    return value >= 0 && value < kLogicalRange;
}

}  // namespace

void SendTouchReport(DEVICE_CONTEXT* context) {
    if (BothIdle(context)) return;
    bool refused = false;
    std::uint8_t* buffer = TakeReportBuffer(context, sizeof(TOUCH_REPORT), &refused);
    if (buffer == nullptr) {
        if (refused)
            WriteEventLogEntry(KAV_EVENT_START_FAILED, STATUS_INVALID_DEVICE_REQUEST, u"STATUS_INVALID_DEVICE_REQUEST");
        return;
    }

    TOUCH_REPORT report{};
    report.ReportId = kTouchReportId;
    report.ContactCount = 2;
    for (int i = 0; i < 2; ++i) {
        TOUCH_CONTACT& contact = report.Contact[i];
        contact = context->LastTouchReport.Contact[i];
        const TOUCH_POINT& point = context->OutputPoint[i];
        if (point.Tip != 0) {
            MAPPED_POINT mapped{};
            if (FindRegion(context, point, &mapped)) SetContactPosition(&contact, mapped.X, mapped.Y, mapped.Size);
        } else {
            contact.Status = context->PrevOutputPoint[i].Tip != 0 ? kContactLifted : kContactNone;
        }
        context->PrevOutputPoint[i] = point;
    }

    std::memcpy(buffer, &report, sizeof(report));
    context->LastTouchReport = report;
    CompleteReadRequest(context, STATUS_SUCCESS, sizeof(report));
}

void SendRawTouchReport(DEVICE_CONTEXT* context) {
    if (BothIdle(context)) return;
    bool refused = false;
    std::uint8_t* buffer = TakeReportBuffer(context, sizeof(TOUCH_REPORT), &refused);
    if (buffer == nullptr) return;

    TOUCH_REPORT report{};
    report.ReportId = kTouchReportId;
    report.ContactCount = 0;
    for (int i = 0; i < 2; ++i) {
        TOUCH_CONTACT& contact = report.Contact[i];
        contact = context->LastTouchReport.Contact[i];
        const TOUCH_POINT& point = context->OutputPoint[i];
        if (point.Tip != 0) {
            if (InLogicalRange(point.X) && InLogicalRange(point.Y))
                SetContactPosition(&contact, point.X, point.Y, point.Size);
        } else {
            contact.Status = contact.Status == kContactTouching ? kContactLifted : kContactNone;
        }
        contact.ContactId = static_cast<std::uint8_t>(i);
    }

    std::memcpy(buffer, &report, sizeof(report));
    context->LastTouchReport = report;
    CompleteReadRequest(context, STATUS_SUCCESS, sizeof(report));
}

void SendMouseReport(DEVICE_CONTEXT* context, std::uint8_t buttons) {
    MOUSE_REPORT report = context->LastMouseReport;
    const TOUCH_POINT& point = context->OutputPoint[0];
    MAPPED_POINT mapped{};
    if (FindRegion(context, point, &mapped)) {
        report.ReportId = kMouseReportId;
        report.Buttons = buttons;
        report.X = static_cast<std::uint16_t>(mapped.X & kLowWord);
        report.Y = static_cast<std::uint16_t>(mapped.Y & kLowWord);
    } else if (point.Tip == 0) {
        report.Buttons = kMouseButtonNone;
    }
    // Until a point has mapped inside a region there is no position to report; a report
    // built from the zeroed record would carry report ID 0, which the descriptor lacks.
    if (report.ReportId != kMouseReportId) return;

    bool refused = false;
    std::uint8_t* buffer = TakeReportBuffer(context, sizeof(MOUSE_REPORT), &refused);
    if (buffer == nullptr) return;
    std::memcpy(buffer, &report, sizeof(report));
    context->LastMouseReport = report;
    CompleteReadRequest(context, STATUS_SUCCESS, sizeof(report));
}

void SendKeyboardReport(DEVICE_CONTEXT* context, std::uint8_t modifiers, std::uint8_t key, std::uint8_t second) {
    bool refused = false;
    std::uint8_t* buffer = TakeReportBuffer(context, sizeof(KEYBOARD_REPORT), &refused);
    if (buffer == nullptr) return;
    KEYBOARD_REPORT report{};
    report.ReportId = kKeyboardReportId;
    report.Modifiers = modifiers;
    report.Keys[0] = key;
    report.Keys[1] = second;
    std::memcpy(buffer, &report, sizeof(report));
    CompleteReadRequest(context, STATUS_SUCCESS, sizeof(report));
}

void SendDeviceEventReport(DEVICE_CONTEXT* context, const std::uint8_t* packet) {
    bool refused = false;
    std::uint8_t* buffer = TakeReportBuffer(context, sizeof(DEVICE_EVENT_REPORT), &refused);
    if (buffer == nullptr) return;
    DEVICE_EVENT_REPORT report{};
    report.ReportId = kDeviceEventReportId;
    report.Data[0] = packet[5];
    report.Data[1] = packet[6];
    std::memcpy(buffer, &report, sizeof(report));
    CompleteReadRequest(context, STATUS_SUCCESS, sizeof(report));
}

void SendRawPacketReport(DEVICE_CONTEXT* context, const std::uint8_t* packet) {
    if (TakeReadRequest(context) == nullptr) return;
    PVOID buffer = nullptr;
    size_t length = 0;
    if (!NT_SUCCESS(WdfRequestRetrieveOutputBuffer(context->CurrentRequest, 0, &buffer, &length)) || length == 0) {
        CompleteReadRequest(context, STATUS_INVALID_DEVICE_REQUEST, 0);
        return;
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::memset(out, 0, length);
    const size_t copied = length < kUsbTransferSize ? length : kUsbTransferSize;
    std::memcpy(out, packet, copied);
    out[0] = kRawPacketReportId;
    CompleteReadRequest(context, STATUS_SUCCESS, copied);
}

}  // namespace kav
