// Queues: presentation by request type, sequential and parallel dispatch, manual queues,
// forwarding, and what device deletion does to waiting requests.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "kavusb/kmdf/hidport.h"
#include "kavusb/kmdf/usermode/kmdf_sim.h"

namespace queues_test {

struct Presented {
    std::string callback;
    WDFQUEUE queue;
    WDFREQUEST request;
    size_t outputLength;
    size_t inputLength;
    ULONG ioControlCode;
    WDFQUEUE requestQueue;  // WdfRequestGetIoQueue during the callback
};

std::vector<Presented> g_presented;
// What the callbacks do with the request once recorded.
enum class Then { Keep, Complete, ForwardToParked } g_then = Then::Keep;
WDFQUEUE g_parked = nullptr;

void Handle(WDFREQUEST request) {
    switch (g_then) {
        case Then::Keep:
            break;
        case Then::Complete:
            WdfRequestCompleteWithInformation(request, STATUS_SUCCESS, g_presented.size());
            break;
        case Then::ForwardToParked:
            ASSERT_EQ(WdfRequestForwardToIoQueue(request, g_parked), STATUS_SUCCESS);
            break;
    }
}

void EvtInternal(WDFQUEUE queue, WDFREQUEST request, size_t out, size_t in, ULONG code) {
    g_presented.push_back({"internal", queue, request, out, in, code, WdfRequestGetIoQueue(request)});
    Handle(request);
}

void EvtControl(WDFQUEUE queue, WDFREQUEST request, size_t out, size_t in, ULONG code) {
    g_presented.push_back({"control", queue, request, out, in, code, WdfRequestGetIoQueue(request)});
    Handle(request);
}

void EvtDefault(WDFQUEUE queue, WDFREQUEST request) {
    g_presented.push_back({"default", queue, request, 0, 0, 0, WdfRequestGetIoQueue(request)});
    Handle(request);
}

class Queues : public ::testing::Test {
protected:
    void SetUp() override {
        kmdf::ResetFramework();
        g_presented.clear();
        g_then = Then::Keep;
        g_parked = nullptr;
        WDF_DRIVER_CONFIG config;
        WDF_DRIVER_CONFIG_INIT(&config, nullptr);
        ASSERT_EQ(WdfDriverCreate(kmdf::CreateDriverObject(), nullptr, nullptr, &config, nullptr), STATUS_SUCCESS);
        PWDFDEVICE_INIT init = kmdf::AllocateDeviceInit(WdfGetDriver());
        ASSERT_EQ(WdfDeviceCreate(&init, WDF_NO_OBJECT_ATTRIBUTES, &device_), STATUS_SUCCESS);
    }

    void TearDown() override {
        for (WDFREQUEST request : requests_) kmdf::DeleteRequest(request);
        kmdf::ResetFramework();
    }

    WDFQUEUE MakeDefaultQueue(WDF_IO_QUEUE_DISPATCH_TYPE dispatch, bool internal = true, bool control = true,
                              bool fallback = true) {
        WDF_IO_QUEUE_CONFIG config;
        WDF_IO_QUEUE_CONFIG_INIT_DEFAULT_QUEUE(&config, dispatch);
        if (internal) config.EvtIoInternalDeviceControl = EvtInternal;
        if (control) config.EvtIoDeviceControl = EvtControl;
        if (fallback) config.EvtIoDefault = EvtDefault;
        WDFQUEUE queue = nullptr;
        EXPECT_EQ(WdfIoQueueCreate(device_, &config, WDF_NO_OBJECT_ATTRIBUTES, &queue), STATUS_SUCCESS);
        return queue;
    }

    WDFQUEUE MakeManualQueue(PWDF_OBJECT_ATTRIBUTES attributes = WDF_NO_OBJECT_ATTRIBUTES) {
        WDF_IO_QUEUE_CONFIG config;
        WDF_IO_QUEUE_CONFIG_INIT(&config, WdfIoQueueDispatchManual);
        WDFQUEUE queue = nullptr;
        EXPECT_EQ(WdfIoQueueCreate(device_, &config, attributes, &queue), STATUS_SUCCESS);
        return queue;
    }

    WDFREQUEST Make(WDF_REQUEST_TYPE type = WdfRequestTypeDeviceControlInternal, ULONG code = IOCTL_HID_READ_REPORT,
                    size_t output = 16, std::vector<std::uint8_t> input = {1, 2, 3}) {
        kmdf::RequestSetup setup;
        setup.Type = type;
        setup.IoControlCode = code;
        setup.OutputLength = output;
        setup.Input = std::move(input);
        requests_.push_back(kmdf::CreateRequest(setup));
        return requests_.back();
    }

    WDFDEVICE device_ = nullptr;
    std::vector<WDFREQUEST> requests_;
};

TEST_F(Queues, DefaultQueuePresentsEachRequestTypeToItsCallback) {
    struct Case {
        const char* name;
        bool internal, control, fallback;
        WDF_REQUEST_TYPE type;
        const char* expected;  // nullptr: no callback, the framework fails the request
    };
    const Case cases[] = {
        {"internal IOCTL", true, true, true, WdfRequestTypeDeviceControlInternal, "internal"},
        {"IOCTL", true, true, true, WdfRequestTypeDeviceControl, "control"},
        {"read", true, true, true, WdfRequestTypeRead, "default"},
        {"internal IOCTL, default only", false, false, true, WdfRequestTypeDeviceControlInternal, "default"},
        {"IOCTL, default only", false, false, true, WdfRequestTypeDeviceControl, "default"},
        {"IOCTL, internal only", true, false, false, WdfRequestTypeDeviceControl, nullptr},
        {"write, IOCTL callbacks only", true, true, false, WdfRequestTypeWrite, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        WDFQUEUE queue = MakeDefaultQueue(WdfIoQueueDispatchParallel, c.internal, c.control, c.fallback);
        ASSERT_EQ(kmdf::DefaultQueueOf(device_), queue);
        EXPECT_EQ(WdfIoQueueGetDevice(queue), device_);
        WDFREQUEST request = Make(c.type, IOCTL_HID_GET_DEVICE_ATTRIBUTES, 32, {9, 8, 7, 6, 5});
        kmdf::SendToDevice(device_, request);

        if (c.expected == nullptr) {
            EXPECT_TRUE(g_presented.empty());
            const kmdf::RequestResult result = kmdf::ResultOf(request);
            EXPECT_TRUE(result.Completed);
            EXPECT_EQ(result.Status, STATUS_INVALID_DEVICE_REQUEST);
        } else {
            ASSERT_EQ(g_presented.size(), 1u);
            const Presented& p = g_presented[0];
            EXPECT_EQ(p.callback, c.expected);
            EXPECT_EQ(p.queue, queue);
            EXPECT_EQ(p.request, request);
            EXPECT_EQ(p.requestQueue, queue);
            if (p.callback != "default") {
                EXPECT_EQ(p.outputLength, 32u);
                EXPECT_EQ(p.inputLength, 5u);
                EXPECT_EQ(p.ioControlCode, IOCTL_HID_GET_DEVICE_ATTRIBUTES);
            }
            EXPECT_FALSE(kmdf::ResultOf(request).Completed);
            WdfRequestComplete(request, STATUS_SUCCESS);
        }
        TearDown();
        requests_.clear();
    }
}

TEST_F(Queues, SequentialPresentsOneAtATimeParallelAllAtOnce) {
    WDFQUEUE sequential = MakeDefaultQueue(WdfIoQueueDispatchSequential);
    WDFREQUEST a = Make(), b = Make(), c = Make();
    for (WDFREQUEST r : {a, b, c}) kmdf::SendToDevice(device_, r);
    ASSERT_EQ(g_presented.size(), 1u);
    EXPECT_EQ(g_presented[0].request, a);
    EXPECT_EQ(kmdf::PendingRequestCount(sequential), 2u);

    WdfRequestComplete(a, STATUS_SUCCESS);
    ASSERT_EQ(g_presented.size(), 2u);
    EXPECT_EQ(g_presented[1].request, b);
    // Forwarding hands the request on, which frees the queue as completing does.
    g_parked = MakeManualQueue();
    ASSERT_EQ(WdfRequestForwardToIoQueue(b, g_parked), STATUS_SUCCESS);
    ASSERT_EQ(g_presented.size(), 3u);
    EXPECT_EQ(g_presented[2].request, c);
    EXPECT_EQ(kmdf::PendingRequestCount(sequential), 0u);

    SetUp();
    MakeDefaultQueue(WdfIoQueueDispatchParallel);
    WDFREQUEST d = Make(), e = Make();
    kmdf::SendToDevice(device_, d);
    kmdf::SendToDevice(device_, e);
    ASSERT_EQ(g_presented.size(), 2u);
    EXPECT_EQ(g_presented[0].request, d);
    EXPECT_EQ(g_presented[1].request, e);
}

TEST_F(Queues, SequentialQueueDrainsRequestsCompletedInsideTheCallback) {
    MakeDefaultQueue(WdfIoQueueDispatchSequential);
    g_then = Then::Complete;
    std::vector<WDFREQUEST> sent;
    for (int i = 0; i < 50; ++i) {
        sent.push_back(Make());
        kmdf::SendToDevice(device_, sent.back());
    }
    ASSERT_EQ(g_presented.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(g_presented[i].request, sent[i]);
        const kmdf::RequestResult result = kmdf::ResultOf(sent[i]);
        EXPECT_TRUE(result.Completed);
        EXPECT_EQ(result.Information, i + 1);
    }
}

std::atomic<int> g_inside{0};
std::atomic<int> g_overlaps{0};
std::atomic<int> g_serialPresented{0};
void EvtSerial(WDFQUEUE, WDFREQUEST request, size_t, size_t, ULONG) {
    if (g_inside.fetch_add(1) != 0) g_overlaps.fetch_add(1);
    std::this_thread::yield();  // invites an overlapping presentation, were one possible
    g_serialPresented.fetch_add(1);
    g_inside.fetch_sub(1);
    WdfRequestComplete(request, STATUS_SUCCESS);
}

TEST_F(Queues, SequentialQueueNeverOverlapsWhenTwoThreadsSend) {
    WDF_IO_QUEUE_CONFIG config;
    WDF_IO_QUEUE_CONFIG_INIT_DEFAULT_QUEUE(&config, WdfIoQueueDispatchSequential);
    config.EvtIoInternalDeviceControl = EvtSerial;
    ASSERT_EQ(WdfIoQueueCreate(device_, &config, WDF_NO_OBJECT_ATTRIBUTES, nullptr), STATUS_SUCCESS);
    g_overlaps = 0;
    g_serialPresented = 0;
    constexpr int kPerThread = 400;
    std::vector<WDFREQUEST> mine, theirs;
    for (int i = 0; i < kPerThread; ++i) {
        mine.push_back(Make());
        theirs.push_back(Make());
    }
    auto send = [this](const std::vector<WDFREQUEST>& requests) {
        for (WDFREQUEST r : requests) kmdf::SendToDevice(device_, r);
    };
    std::thread other(send, std::cref(theirs));
    send(mine);
    other.join();
    EXPECT_EQ(g_overlaps.load(), 0);
    EXPECT_EQ(g_serialPresented.load(), 2 * kPerThread);
    for (WDFREQUEST r : requests_) EXPECT_TRUE(kmdf::ResultOf(r).Completed);
}

TEST_F(Queues, ManualQueueHandsRequestsOutInArrivalOrder) {
    WDFQUEUE manual = MakeManualQueue();
    WDFREQUEST empty = reinterpret_cast<WDFREQUEST>(1);
    EXPECT_EQ(WdfIoQueueRetrieveNextRequest(manual, &empty), STATUS_NO_MORE_ENTRIES);
    EXPECT_EQ(empty, nullptr);

    const std::vector<WDFREQUEST> sent = {Make(), Make(), Make()};
    for (WDFREQUEST r : sent) ASSERT_EQ(WdfRequestForwardToIoQueue(r, manual), STATUS_SUCCESS);
    EXPECT_EQ(kmdf::PendingRequestCount(manual), 3u);
    for (WDFREQUEST r : sent) EXPECT_FALSE(kmdf::ResultOf(r).Completed);

    for (WDFREQUEST expected : sent) {
        WDFREQUEST next = nullptr;
        ASSERT_EQ(WdfIoQueueRetrieveNextRequest(manual, &next), STATUS_SUCCESS);
        EXPECT_EQ(next, expected);
        EXPECT_EQ(WdfRequestGetIoQueue(next), manual);
    }
    EXPECT_EQ(kmdf::PendingRequestCount(manual), 0u);
    WDFREQUEST next = reinterpret_cast<WDFREQUEST>(1);
    EXPECT_EQ(WdfIoQueueRetrieveNextRequest(manual, &next), STATUS_NO_MORE_ENTRIES);
    EXPECT_EQ(next, nullptr);

    // A queue that presents requests has none to retrieve.
    WDFQUEUE parallel = MakeDefaultQueue(WdfIoQueueDispatchParallel);
    EXPECT_EQ(WdfIoQueueRetrieveNextRequest(parallel, &next), STATUS_INVALID_DEVICE_REQUEST);
}

TEST_F(Queues, ForwardParksInManualQueuesOnly) {
    g_parked = MakeManualQueue();
    MakeDefaultQueue(WdfIoQueueDispatchParallel);
    g_then = Then::ForwardToParked;
    WDFREQUEST read = Make();
    kmdf::SendToDevice(device_, read);
    ASSERT_EQ(g_presented.size(), 1u);
    EXPECT_EQ(kmdf::PendingRequestCount(g_parked), 1u);
    EXPECT_EQ(WdfRequestGetIoQueue(read), g_parked);
    EXPECT_FALSE(kmdf::ResultOf(read).Completed);

    // Not to a queue that presents requests; the request stays where it was.
    WDF_IO_QUEUE_CONFIG config;
    WDF_IO_QUEUE_CONFIG_INIT(&config, WdfIoQueueDispatchSequential);
    config.EvtIoDefault = EvtDefault;
    WDFQUEUE sequential = nullptr;
    ASSERT_EQ(WdfIoQueueCreate(device_, &config, WDF_NO_OBJECT_ATTRIBUTES, &sequential), STATUS_SUCCESS);
    WDFREQUEST other = Make();
    EXPECT_EQ(WdfRequestForwardToIoQueue(other, sequential), STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(kmdf::PendingRequestCount(sequential), 0u);
    EXPECT_EQ(WdfRequestGetIoQueue(other), nullptr);

    // Nor can a request still waiting in a queue be moved by the driver.
    EXPECT_NE(WdfRequestForwardToIoQueue(read, MakeManualQueue()), STATUS_SUCCESS);
    EXPECT_EQ(kmdf::PendingRequestCount(g_parked), 1u);
}

size_t g_completedAtQueueCleanup = 0;
std::vector<WDFREQUEST>* g_watched = nullptr;
void QueueCleanup(WDFOBJECT) {
    g_completedAtQueueCleanup = 0;
    for (WDFREQUEST r : *g_watched) g_completedAtQueueCleanup += kmdf::ResultOf(r).Completed ? 1 : 0;
}

TEST_F(Queues, DeletingTheDeviceCancelsWaitingRequestsBeforeCleanup) {
    WDF_OBJECT_ATTRIBUTES attributes;
    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    attributes.EvtCleanupCallback = QueueCleanup;
    WDFQUEUE manual = MakeManualQueue(&attributes);
    MakeDefaultQueue(WdfIoQueueDispatchSequential);

    std::vector<WDFREQUEST> parked = {Make(), Make()};
    std::vector<int> calls(parked.size(), 0);
    for (size_t i = 0; i < parked.size(); ++i) {
        kmdf::OnCompletion(parked[i], [&calls, i](WDFREQUEST) { ++calls[i]; });
        ASSERT_EQ(WdfRequestForwardToIoQueue(parked[i], manual), STATUS_SUCCESS);
    }
    // One presented (the driver holds it), one waiting behind it in the sequential queue.
    WDFREQUEST held = Make(), behind = Make();
    kmdf::SendToDevice(device_, held);
    kmdf::SendToDevice(device_, behind);
    g_watched = &parked;

    kmdf::DeleteDevice(device_);
    EXPECT_EQ(g_completedAtQueueCleanup, parked.size());
    for (size_t i = 0; i < parked.size(); ++i) {
        const kmdf::RequestResult result = kmdf::ResultOf(parked[i]);
        EXPECT_TRUE(result.Completed);
        EXPECT_EQ(result.Status, STATUS_CANCELLED);
        EXPECT_EQ(calls[i], 1);
    }
    EXPECT_EQ(kmdf::ResultOf(behind).Status, STATUS_CANCELLED);
    EXPECT_FALSE(kmdf::ResultOf(held).Completed);  // the driver's to complete
    EXPECT_EQ(WdfRequestGetIoQueue(held), nullptr);
    WdfRequestComplete(held, STATUS_SUCCESS);
    g_watched = nullptr;
}

TEST_F(Queues, DeletingAWaitingRequestTakesItOutOfItsQueue) {
    WDFQUEUE manual = MakeManualQueue();
    WDFREQUEST first = kmdf::CreateRequest({});
    WDFREQUEST second = Make();
    ASSERT_EQ(WdfRequestForwardToIoQueue(first, manual), STATUS_SUCCESS);
    ASSERT_EQ(WdfRequestForwardToIoQueue(second, manual), STATUS_SUCCESS);
    kmdf::DeleteRequest(first);
    EXPECT_EQ(kmdf::PendingRequestCount(manual), 1u);
    WDFREQUEST next = nullptr;
    ASSERT_EQ(WdfIoQueueRetrieveNextRequest(manual, &next), STATUS_SUCCESS);
    EXPECT_EQ(next, second);
}

TEST_F(Queues, DeviceWithoutADefaultQueueFailsWhatIsSentToIt) {
    EXPECT_EQ(kmdf::DefaultQueueOf(device_), nullptr);
    WDFREQUEST request = Make();
    kmdf::SendToDevice(device_, request);
    EXPECT_TRUE(kmdf::ResultOf(request).Completed);
    EXPECT_EQ(kmdf::ResultOf(request).Status, STATUS_INVALID_DEVICE_REQUEST);

    MakeDefaultQueue(WdfIoQueueDispatchParallel);
    WDF_IO_QUEUE_CONFIG config;
    WDF_IO_QUEUE_CONFIG_INIT_DEFAULT_QUEUE(&config, WdfIoQueueDispatchParallel);
    WDFQUEUE second = reinterpret_cast<WDFQUEUE>(1);
    EXPECT_FALSE(NT_SUCCESS(WdfIoQueueCreate(device_, &config, WDF_NO_OBJECT_ATTRIBUTES, &second)));
    EXPECT_EQ(second, nullptr);
}

TEST_F(Queues, ResetLeavesTestRequestsValidAndOutOfQueues) {
    WDFQUEUE manual = MakeManualQueue();
    WDFREQUEST request = Make();
    ASSERT_EQ(WdfRequestForwardToIoQueue(request, manual), STATUS_SUCCESS);
    kmdf::ResetFramework();
    EXPECT_FALSE(kmdf::ResultOf(request).Completed);
    EXPECT_EQ(WdfRequestGetIoQueue(request), nullptr);
    EXPECT_EQ(kmdf::OutputOf(request).size(), 16u);
}

}  // namespace queues_test
