// Requests: parameters, buffers and their minimum sizes, the IRP view, completion.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "kavusb/kmdf/hidport.h"
#include "kavusb/kmdf/usermode/kmdf_sim.h"

namespace requests_test {

class Requests : public ::testing::Test {
protected:
    void SetUp() override { kmdf::ResetFramework(); }
    void TearDown() override { kmdf::ResetFramework(); }
};

TEST_F(Requests, ParametersAndTheIrpDescribeTheRequest) {
    int type3 = 0;
    HID_XFER_PACKET packet{};
    kmdf::RequestSetup setup;
    setup.Type = WdfRequestTypeDeviceControlInternal;
    setup.IoControlCode = IOCTL_HID_GET_FEATURE;
    setup.OutputLength = 24;
    setup.Input = {1, 2, 3, 4, 5, 6};
    setup.Type3InputBuffer = &type3;
    setup.UserBuffer = &packet;
    kmdf::ScopedRequest request(setup);

    WDF_REQUEST_PARAMETERS parameters;
    std::memset(&parameters, 0xCC, sizeof parameters);
    WDF_REQUEST_PARAMETERS_INIT(&parameters);
    EXPECT_EQ(parameters.Size, sizeof(WDF_REQUEST_PARAMETERS));
    WdfRequestGetParameters(request, &parameters);
    EXPECT_EQ(parameters.Type, WdfRequestTypeDeviceControlInternal);
    EXPECT_EQ(parameters.Parameters.DeviceIoControl.OutputBufferLength, 24u);
    EXPECT_EQ(parameters.Parameters.DeviceIoControl.InputBufferLength, 6u);
    EXPECT_EQ(parameters.Parameters.DeviceIoControl.IoControlCode, IOCTL_HID_GET_FEATURE);
    EXPECT_EQ(parameters.Parameters.DeviceIoControl.Type3InputBuffer, &type3);

    PIRP irp = WdfRequestWdmGetIrp(request);
    ASSERT_NE(irp, nullptr);
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    EXPECT_EQ(stack->Parameters.DeviceIoControl.OutputBufferLength, 24u);
    EXPECT_EQ(stack->Parameters.DeviceIoControl.InputBufferLength, 6u);
    EXPECT_EQ(stack->Parameters.DeviceIoControl.IoControlCode, IOCTL_HID_GET_FEATURE);
    EXPECT_EQ(stack->Parameters.DeviceIoControl.Type3InputBuffer, &type3);
    EXPECT_EQ(IrpUserBuffer(irp), &packet);

    setup.Type = WdfRequestTypeRead;
    kmdf::ScopedRequest read(setup);
    WdfRequestGetParameters(read, &parameters);
    EXPECT_EQ(parameters.Type, WdfRequestTypeRead);
    EXPECT_EQ(parameters.Parameters.Read.Length, 24u);
}

TEST_F(Requests, OutputBufferIsHandedOutOnlyWhenLargeEnough) {
    struct Case {
        size_t length;
        NTSTATUS status;
    };
    const Case cases[] = {
        {0, STATUS_BUFFER_TOO_SMALL},
        {7, STATUS_BUFFER_TOO_SMALL},
        {8, STATUS_SUCCESS},
        {64, STATUS_SUCCESS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "output length " << c.length);
        kmdf::RequestSetup setup;
        setup.OutputLength = c.length;
        kmdf::ScopedRequest request(setup);
        PVOID buffer = reinterpret_cast<PVOID>(1);
        size_t length = 99;
        EXPECT_EQ(WdfRequestRetrieveOutputBuffer(request, 8, &buffer, &length), c.status);
        if (c.status == STATUS_SUCCESS) {
            EXPECT_EQ(buffer, request.Output().data());
            EXPECT_EQ(length, c.length);
        } else {
            EXPECT_EQ(buffer, nullptr);
            EXPECT_EQ(length, 0u);
        }
        // A minimum of 0 still needs a buffer to hand out.
        EXPECT_EQ(WdfRequestRetrieveOutputBuffer(request, 0, &buffer, nullptr),
                  c.length == 0 ? STATUS_BUFFER_TOO_SMALL : STATUS_SUCCESS);
    }
}

TEST_F(Requests, InputBufferIsHandedOutOnlyWhenLargeEnough) {
    struct Case {
        std::vector<std::uint8_t> input;
        NTSTATUS status;
    };
    const Case cases[] = {
        {{}, STATUS_BUFFER_TOO_SMALL},
        {{1, 2, 3}, STATUS_BUFFER_TOO_SMALL},
        {{1, 2, 3, 4}, STATUS_SUCCESS},
        {std::vector<std::uint8_t>(40, 7), STATUS_SUCCESS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "input length " << c.input.size());
        kmdf::RequestSetup setup;
        setup.Input = c.input;
        kmdf::ScopedRequest request(setup);
        PVOID buffer = reinterpret_cast<PVOID>(1);
        size_t length = 99;
        ASSERT_EQ(WdfRequestRetrieveInputBuffer(request, 4, &buffer, &length), c.status);
        if (c.status == STATUS_SUCCESS) {
            ASSERT_EQ(length, c.input.size());
            EXPECT_EQ(std::memcmp(buffer, c.input.data(), length), 0);
        } else {
            EXPECT_EQ(buffer, nullptr);
            EXPECT_EQ(length, 0u);
        }
    }
}

TEST_F(Requests, OutputMemoryIsTheOutputBufferAndRefusesOversizedCopies) {
    kmdf::RequestSetup setup;
    setup.OutputLength = 12;
    kmdf::ScopedRequest request(setup);
    WDFMEMORY memory = nullptr;
    ASSERT_EQ(WdfRequestRetrieveOutputMemory(request, &memory), STATUS_SUCCESS);
    size_t size = 0;
    EXPECT_EQ(WdfMemoryGetBuffer(memory, &size), request.Output().data());
    EXPECT_EQ(size, 12u);
    WDFMEMORY again = nullptr;
    ASSERT_EQ(WdfRequestRetrieveOutputMemory(request, &again), STATUS_SUCCESS);
    EXPECT_EQ(again, memory);

    const std::uint8_t report[13] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD};
    EXPECT_EQ(WdfMemoryCopyFromBuffer(memory, 0, const_cast<std::uint8_t*>(report), 13), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(WdfMemoryCopyFromBuffer(memory, 1, const_cast<std::uint8_t*>(report), 12), STATUS_BUFFER_TOO_SMALL);
    for (std::uint8_t byte : request.Output()) ASSERT_EQ(byte, 0) << "a refused copy wrote";
    ASSERT_EQ(WdfMemoryCopyFromBuffer(memory, 2, const_cast<std::uint8_t*>(report), 10), STATUS_SUCCESS);
    EXPECT_EQ(request.Output()[0], 0);
    EXPECT_EQ(request.Output()[2], 0x11);
    EXPECT_EQ(request.Output()[11], 0xAA);

    kmdf::ScopedRequest none(kmdf::RequestSetup{});
    WDFMEMORY absent = reinterpret_cast<WDFMEMORY>(1);
    EXPECT_EQ(WdfRequestRetrieveOutputMemory(none, &absent), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(absent, nullptr);
}

TEST_F(Requests, CompletionRecordsTheResultAndCallsBackOnce) {
    struct Case {
        const char* name;
        bool withInformation;
        NTSTATUS status;
        ULONG_PTR information;
    };
    const Case cases[] = {
        {"complete with information", true, STATUS_SUCCESS, 18},
        {"set information, then complete", false, STATUS_SUCCESS, 65},
        {"failure", true, STATUS_DEVICE_NOT_CONNECTED, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kmdf::RequestSetup setup;
        setup.OutputLength = 64;
        kmdf::ScopedRequest request(setup);
        int calls = 0;
        kmdf::RequestResult seen;
        kmdf::OnCompletion(request, [&](WDFREQUEST completed) {
            ++calls;
            EXPECT_EQ(completed, request.get());
            seen = kmdf::ResultOf(completed);  // the framework's lock is not held here
        });
        EXPECT_FALSE(request.Result().Completed);
        if (c.withInformation) {
            WdfRequestCompleteWithInformation(request, c.status, c.information);
        } else {
            WdfRequestSetInformation(request, c.information);
            EXPECT_EQ(WdfRequestGetInformation(request), c.information);
            WdfRequestComplete(request, c.status);
        }
        EXPECT_EQ(calls, 1);
        EXPECT_TRUE(seen.Completed);
        EXPECT_EQ(seen.Status, c.status);
        EXPECT_EQ(seen.Information, c.information);
        const kmdf::RequestResult result = request.Result();
        EXPECT_TRUE(result.Completed);
        EXPECT_EQ(result.Status, c.status);
        EXPECT_EQ(result.Information, c.information);
    }
}

TEST_F(Requests, TwoThreadsCompleteRequestsAtOnce) {
    constexpr int kPerThread = 300;
    std::vector<WDFREQUEST> requests;
    std::atomic<int> callbacks{0};
    for (int i = 0; i < 2 * kPerThread; ++i) {
        kmdf::RequestSetup setup;
        setup.OutputLength = 4;
        requests.push_back(kmdf::CreateRequest(setup));
        kmdf::OnCompletion(requests.back(), [&callbacks](WDFREQUEST) { callbacks.fetch_add(1); });
    }
    auto complete = [&requests](int first) {
        for (int i = first; i < first + kPerThread; ++i) {
            PVOID buffer = nullptr;
            ASSERT_EQ(WdfRequestRetrieveOutputBuffer(requests[i], 4, &buffer, nullptr), STATUS_SUCCESS);
            std::memcpy(buffer, &i, sizeof i);
            WdfRequestCompleteWithInformation(requests[i], STATUS_SUCCESS, sizeof i);
        }
    };
    std::thread other(complete, kPerThread);
    complete(0);
    other.join();
    EXPECT_EQ(callbacks.load(), 2 * kPerThread);
    for (int i = 0; i < 2 * kPerThread; ++i) {
        int written = -1;
        std::memcpy(&written, kmdf::OutputOf(requests[i]).data(), sizeof written);
        EXPECT_EQ(written, i);
        EXPECT_EQ(kmdf::ResultOf(requests[i]).Information, sizeof i);
        kmdf::DeleteRequest(requests[i]);
    }
}

}  // namespace requests_test
