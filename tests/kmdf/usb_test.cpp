// USB target: creation against the attached device model, the single interface and its
// interrupt pipe, the continuous reader, control transfers with their time-outs on the
// virtual clock, and unplugging.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <functional>
#include <thread>
#include <vector>

#include "kavusb/kmdf/usermode/kmdf_sim.h"

namespace usb_test {

// Packed fields are compared through a copy: no reference to them is bound.
template <typename T>
T Value(T value) {
    return value;
}

// A device whose every answer the test sets.
class FakeDevice final : public kmdf::UsbDeviceModel {
public:
    USB_DEVICE_DESCRIPTOR descriptor{};
    NTSTATUS controlStatus = STATUS_SUCCESS;
    ULONG reportMoved = ~0u;              // ~0: all of data
    std::vector<std::uint8_t> readBytes;  // what a device-to-host transfer returns
    std::deque<std::vector<std::uint8_t>> transfers;

    struct Seen {
        WDF_USB_CONTROL_SETUP_PACKET setup;
        std::vector<std::uint8_t> data;
    };
    std::vector<Seen> seen;
    int descriptorReads = 0;

    FakeDevice() {
        descriptor.bLength = 18;
        descriptor.bDescriptorType = 1;
        descriptor.idVendor = 0x4B1D;
        descriptor.idProduct = 0x0A31;
        descriptor.bNumConfigurations = 1;
    }

    USB_DEVICE_DESCRIPTOR DeviceDescriptor() override {
        ++descriptorReads;
        return descriptor;
    }
    NTSTATUS ControlTransfer(const WDF_USB_CONTROL_SETUP_PACKET& setup, std::span<std::uint8_t> data,
                             ULONG* transferred) override {
        seen.push_back({setup, std::vector<std::uint8_t>(data.begin(), data.end())});
        if ((setup.Packet.Bm & 0x80) != 0)
            std::copy_n(readBytes.begin(), std::min(readBytes.size(), data.size()), data.begin());
        *transferred = reportMoved == ~0u ? static_cast<ULONG>(data.size()) : reportMoved;
        return controlStatus;
    }
    std::optional<size_t> NextInterruptTransfer(std::span<std::uint8_t> buffer) override {
        if (transfers.empty()) return std::nullopt;
        const std::vector<std::uint8_t> next = transfers.front();
        transfers.pop_front();
        const size_t n = std::min(next.size(), buffer.size());
        std::copy_n(next.begin(), n, buffer.begin());
        return n;
    }
};

struct Delivery {
    WDFUSBPIPE pipe;
    std::vector<std::uint8_t> bytes;  // the whole WDFMEMORY
    size_t transferred;
    WDFOBJECT context;
    KIRQL irql;
};
std::vector<Delivery> g_deliveries;
// Run inside the callback, once: lets a test act at delivery time.
std::function<void()> g_onDelivery;

void ReadComplete(WDFUSBPIPE pipe, WDFMEMORY memory, size_t transferred, WDFOBJECT context) {
    size_t size = 0;
    auto* data = static_cast<std::uint8_t*>(WdfMemoryGetBuffer(memory, &size));
    g_deliveries.push_back(
        {pipe, std::vector<std::uint8_t>(data, data + size), transferred, context, KeGetCurrentIrql()});
    if (g_onDelivery) std::exchange(g_onDelivery, nullptr)();
}

int g_readersFailed = 0;
NTSTATUS g_readersFailedStatus = STATUS_SUCCESS;
BOOLEAN ReadersFailed(WDFUSBPIPE, NTSTATUS status, NTSTATUS) {
    ++g_readersFailed;
    g_readersFailedStatus = status;
    return TRUE;
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> out;
    for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

class Usb : public ::testing::Test {
protected:
    void SetUp() override {
        kmdf::ResetFramework();
        g_deliveries.clear();
        g_onDelivery = nullptr;
        g_readersFailed = 0;
        WDF_DRIVER_CONFIG config;
        WDF_DRIVER_CONFIG_INIT(&config, nullptr);
        WDFDRIVER driver = nullptr;
        ASSERT_EQ(WdfDriverCreate(kmdf::CreateDriverObject(), nullptr, WDF_NO_OBJECT_ATTRIBUTES, &config, &driver),
                  STATUS_SUCCESS);
        PWDFDEVICE_INIT init = kmdf::AllocateDeviceInit(driver);
        ASSERT_EQ(WdfDeviceCreate(&init, WDF_NO_OBJECT_ATTRIBUTES, &device_), STATUS_SUCCESS);
    }
    void TearDown() override { kmdf::ResetFramework(); }

    // Target, configuration and pipe 0, as prepare hardware sets them up.
    void Open() {
        kmdf::AttachUsbDevice(device_, &fake_);
        ASSERT_EQ(WdfUsbTargetDeviceCreate(device_, WDF_NO_OBJECT_ATTRIBUTES, &usb_), STATUS_SUCCESS);
        WDF_USB_DEVICE_SELECT_CONFIG_PARAMS select;
        WDF_USB_DEVICE_SELECT_CONFIG_PARAMS_INIT_SINGLE_INTERFACE(&select);
        ASSERT_EQ(WdfUsbTargetDeviceSelectConfig(usb_, WDF_NO_OBJECT_ATTRIBUTES, &select), STATUS_SUCCESS);
        interface_ = select.SingleInterface.ConfiguredUsbInterface;
        pipe_ = WdfUsbInterfaceGetConfiguredPipe(interface_, 0, nullptr);
        ASSERT_NE(pipe_, nullptr);
        target_ = WdfUsbTargetPipeGetIoTarget(pipe_);
        ASSERT_NE(target_, nullptr);
    }

    void ConfigureReader(size_t length = 1024, PFN_WDF_USB_READERS_FAILED failed = nullptr) {
        WdfUsbTargetPipeSetNoMaximumPacketSizeCheck(pipe_);
        WDF_USB_CONTINUOUS_READER_CONFIG reader;
        WDF_USB_CONTINUOUS_READER_CONFIG_INIT(&reader, ReadComplete, device_, length);
        reader.EvtUsbTargetPipeReadersFailed = failed;
        ASSERT_EQ(WdfUsbTargetPipeConfigContinuousReader(pipe_, &reader), STATUS_SUCCESS);
    }

    NTSTATUS Send(WDF_USB_BMREQUEST_DIRECTION direction, std::vector<std::uint8_t>& buffer, ULONG* moved,
                  PWDF_REQUEST_SEND_OPTIONS options = nullptr) {
        WDF_USB_CONTROL_SETUP_PACKET setup;
        WDF_USB_CONTROL_SETUP_PACKET_INIT_VENDOR(&setup, direction, BmRequestToDevice, 0, 0, 0);
        WDF_MEMORY_DESCRIPTOR memory;
        WDF_MEMORY_DESCRIPTOR_INIT_BUFFER(&memory, buffer.data(), static_cast<ULONG>(buffer.size()));
        return WdfUsbTargetDeviceSendControlTransferSynchronously(usb_, WDF_NO_HANDLE, options, &setup, &memory, moved);
    }

    static LONGLONG Now() {
        LARGE_INTEGER now;
        KeQuerySystemTime(&now);
        return now.QuadPart;
    }

    FakeDevice fake_;
    WDFDEVICE device_ = nullptr;
    WDFUSBDEVICE usb_ = nullptr;
    WDFUSBINTERFACE interface_ = nullptr;
    WDFUSBPIPE pipe_ = nullptr;
    WDFIOTARGET target_ = nullptr;
};

TEST_F(Usb, CreationNeedsAnAttachedDevice) {
    WDFUSBDEVICE usb = reinterpret_cast<WDFUSBDEVICE>(1);
    EXPECT_EQ(WdfUsbTargetDeviceCreate(device_, WDF_NO_OBJECT_ATTRIBUTES, &usb), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(usb, nullptr);

    kmdf::AttachUsbDevice(device_, &fake_);
    kmdf::AttachUsbDevice(device_, nullptr);
    EXPECT_EQ(WdfUsbTargetDeviceCreate(device_, WDF_NO_OBJECT_ATTRIBUTES, &usb), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(usb, nullptr);
}

TEST_F(Usb, TargetInterfacePipeAndDescriptor) {
    Open();
    // The descriptor is read when the target is created and kept.
    fake_.descriptor.idProduct = 0x0A41;
    USB_DEVICE_DESCRIPTOR descriptor;
    std::memset(&descriptor, 0xCD, sizeof descriptor);
    WdfUsbTargetDeviceGetDeviceDescriptor(usb_, &descriptor);
    EXPECT_EQ(fake_.descriptorReads, 1);
    EXPECT_EQ(Value(descriptor.idVendor), 0x4B1D);
    EXPECT_EQ(Value(descriptor.idProduct), 0x0A31);
    EXPECT_EQ(descriptor.bLength, 18);

    WDF_USB_PIPE_INFORMATION info;
    std::memset(&info, 0xCD, sizeof info);
    EXPECT_EQ(WdfUsbInterfaceGetConfiguredPipe(interface_, 0, &info), pipe_);
    EXPECT_EQ(info.Size, sizeof info);
    EXPECT_EQ(info.PipeType, WdfUsbPipeTypeInterrupt);
    EXPECT_EQ(info.EndpointAddress & 0x80, 0x80) << "an IN endpoint";
    EXPECT_GT(info.MaximumPacketSize, 0u);
    EXPECT_EQ(WdfUsbInterfaceGetConfiguredPipe(interface_, 1, &info), nullptr) << "one pipe only";
    EXPECT_EQ(info.PipeType, WdfUsbPipeTypeInvalid);

    // Selecting again, as a restart does, hands back the same interface and pipe.
    WDF_USB_DEVICE_SELECT_CONFIG_PARAMS select;
    WDF_USB_DEVICE_SELECT_CONFIG_PARAMS_INIT_SINGLE_INTERFACE(&select);
    ASSERT_EQ(WdfUsbTargetDeviceSelectConfig(usb_, WDF_NO_OBJECT_ATTRIBUTES, &select), STATUS_SUCCESS);
    EXPECT_EQ(select.SingleInterface.ConfiguredUsbInterface, interface_);
    EXPECT_EQ(select.SingleInterface.NumberConfiguredPipes, 1);
    EXPECT_EQ(WdfUsbInterfaceGetConfiguredPipe(interface_, 0, nullptr), pipe_);
}

TEST_F(Usb, SelectConfigTakesOnlyTheSingleInterfaceForm) {
    Open();
    WDF_USB_DEVICE_SELECT_CONFIG_PARAMS select;
    WDF_USB_DEVICE_SELECT_CONFIG_PARAMS_INIT_SINGLE_INTERFACE(&select);
    select.Type = WdfUsbTargetDeviceSelectConfigTypeMultiInterface;
    EXPECT_EQ(WdfUsbTargetDeviceSelectConfig(usb_, WDF_NO_OBJECT_ATTRIBUTES, &select), STATUS_NOT_SUPPORTED);
    WDF_USB_DEVICE_SELECT_CONFIG_PARAMS_INIT_SINGLE_INTERFACE(&select);
    select.Size = 0;
    EXPECT_EQ(WdfUsbTargetDeviceSelectConfig(usb_, WDF_NO_OBJECT_ATTRIBUTES, &select), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(WdfUsbTargetDeviceSelectConfig(usb_, WDF_NO_OBJECT_ATTRIBUTES, nullptr), STATUS_INVALID_PARAMETER);
}

TEST_F(Usb, ReaderDeliversOncePerTransferOnlyWhileStarted) {
    Open();
    ConfigureReader();
    fake_.transfers = {Bytes({0xAA, 1, 2}), Bytes({0x07})};

    // Stopped (never started): nothing is taken from the device.
    EXPECT_EQ(kmdf::PumpContinuousReaders(), 0u);
    EXPECT_EQ(fake_.transfers.size(), 2u);

    ASSERT_EQ(WdfIoTargetStart(target_), STATUS_SUCCESS);
    EXPECT_EQ(kmdf::PumpContinuousReaders(), 2u);
    ASSERT_EQ(g_deliveries.size(), 2u);
    for (const Delivery& d : g_deliveries) {
        EXPECT_EQ(d.pipe, pipe_);
        EXPECT_EQ(d.bytes.size(), 1024u) << "a WDFMEMORY of the transfer length";
        EXPECT_EQ(d.context, device_);
        EXPECT_EQ(d.irql, DISPATCH_LEVEL);
    }
    EXPECT_EQ(g_deliveries[0].transferred, 3u);
    EXPECT_EQ(g_deliveries[0].bytes[2], 2);
    EXPECT_EQ(g_deliveries[0].bytes[3], 0) << "the rest of the buffer is zero";
    EXPECT_EQ(g_deliveries[1].transferred, 1u);
    EXPECT_EQ(g_deliveries[1].bytes[1], 0) << "a fresh buffer, not the last transfer's";
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    EXPECT_EQ(kmdf::PumpContinuousReaders(), 0u) << "each transfer once";

    // D0 exit stops the target twice; transfers then wait in the device.
    WdfIoTargetStop(target_, WdfIoTargetLeaveSentIoPending);
    WdfIoTargetStop(target_, WdfIoTargetCancelSentIo);
    fake_.transfers = {Bytes({0xAA, 9})};
    EXPECT_EQ(kmdf::PumpContinuousReaders(), 0u);
    EXPECT_EQ(fake_.transfers.size(), 1u);
    ASSERT_EQ(WdfIoTargetStart(target_), STATUS_SUCCESS);
    EXPECT_EQ(kmdf::PumpContinuousReaders(), 1u);
    EXPECT_EQ(g_deliveries.back().bytes[1], 9);
}

TEST_F(Usb, StopInsideTheCallbackEndsDeliveryAtOnce) {
    Open();
    ConfigureReader();
    fake_.transfers = {Bytes({1}), Bytes({2}), Bytes({3})};
    ASSERT_EQ(WdfIoTargetStart(target_), STATUS_SUCCESS);
    g_onDelivery = [this] { WdfIoTargetStop(target_, WdfIoTargetCancelSentIo); };
    EXPECT_EQ(kmdf::PumpContinuousReaders(), 1u);
    EXPECT_EQ(fake_.transfers.size(), 2u);
}

TEST_F(Usb, StopWaitsForACallbackRunningOnAnotherThread) {
    Open();
    ConfigureReader();
    fake_.transfers = {Bytes({1})};
    ASSERT_EQ(WdfIoTargetStart(target_), STATUS_SUCCESS);
    std::atomic<bool> inCallback{false};
    std::atomic<bool> release{false};
    std::atomic<bool> callbackDone{false};
    g_onDelivery = [&] {
        inCallback = true;
        while (!release) std::this_thread::yield();
        callbackDone = true;
    };
    std::thread pump([] { kmdf::PumpContinuousReaders(); });
    while (!inCallback) std::this_thread::yield();
    std::thread stopper([&] {
        WdfIoTargetStop(target_, WdfIoTargetWaitForSentIoToComplete);
        EXPECT_TRUE(callbackDone.load()) << "Stop returned while the callback ran";
    });
    release = true;
    stopper.join();
    pump.join();
}

TEST_F(Usb, ReaderConfigurationIsChecked) {
    Open();
    WDF_USB_CONTINUOUS_READER_CONFIG reader;
    WDF_USB_CONTINUOUS_READER_CONFIG_INIT(&reader, nullptr, nullptr, 1024);
    EXPECT_EQ(WdfUsbTargetPipeConfigContinuousReader(pipe_, &reader), STATUS_INVALID_PARAMETER) << "no callback";
    WDF_USB_CONTINUOUS_READER_CONFIG_INIT(&reader, ReadComplete, nullptr, 0);
    EXPECT_EQ(WdfUsbTargetPipeConfigContinuousReader(pipe_, &reader), STATUS_INVALID_PARAMETER) << "no length";
    // A transfer of part of a packet passes only without the packet-size check.
    WDF_USB_CONTINUOUS_READER_CONFIG_INIT(&reader, ReadComplete, nullptr, 100);
    EXPECT_EQ(WdfUsbTargetPipeConfigContinuousReader(pipe_, &reader), STATUS_INVALID_BUFFER_SIZE);
    WdfUsbTargetPipeSetNoMaximumPacketSizeCheck(pipe_);
    EXPECT_EQ(WdfUsbTargetPipeConfigContinuousReader(pipe_, &reader), STATUS_SUCCESS);
    EXPECT_EQ(WdfUsbTargetPipeConfigContinuousReader(pipe_, &reader), STATUS_INVALID_DEVICE_STATE) << "only once";

    // A longer transfer than the reader asked for is cut to its length.
    fake_.transfers = {std::vector<std::uint8_t>(300, 0x5A)};
    ASSERT_EQ(WdfIoTargetStart(target_), STATUS_SUCCESS);
    EXPECT_EQ(kmdf::PumpContinuousReaders(), 1u);
    EXPECT_EQ(g_deliveries[0].bytes.size(), 100u);
    EXPECT_EQ(g_deliveries[0].transferred, 100u);
}

TEST_F(Usb, ControlTransfersInBothDirections) {
    Open();
    std::vector<std::uint8_t> command = Bytes({0xAA, 0x02, 0x10, 0x01, 0x00, 0x10});
    ULONG moved = 99;
    ASSERT_EQ(Send(BmRequestHostToDevice, command, &moved), STATUS_SUCCESS);
    EXPECT_EQ(moved, 6u);
    ASSERT_EQ(fake_.seen.size(), 1u);
    EXPECT_EQ(fake_.seen[0].setup.Packet.Bm, 0x40);
    EXPECT_EQ(fake_.seen[0].setup.Packet.bRequest, 0);
    EXPECT_EQ(Value(fake_.seen[0].setup.Packet.wLength), 6) << "the length comes from the memory descriptor";
    EXPECT_EQ(fake_.seen[0].data, command);

    fake_.readBytes = Bytes({0xAA, 0x12, 0x10});
    std::vector<std::uint8_t> reply(64, 0xEE);
    ASSERT_EQ(Send(BmRequestDeviceToHost, reply, &moved), STATUS_SUCCESS);
    EXPECT_EQ(moved, 64u);
    EXPECT_EQ(fake_.seen[1].setup.Packet.Bm, 0xC0);
    EXPECT_EQ(Value(fake_.seen[1].setup.Packet.wLength), 64);
    EXPECT_EQ(reply[1], 0x12);
    EXPECT_EQ(reply[3], 0xEE) << "bytes the device did not write stay";

    // A device claiming more than the buffer holds is not believed.
    fake_.reportMoved = 1000;
    ASSERT_EQ(Send(BmRequestDeviceToHost, reply, &moved), STATUS_SUCCESS);
    EXPECT_EQ(moved, 64u);

    // A failing device: its status, nothing moved.
    fake_.reportMoved = ~0u;
    fake_.controlStatus = STATUS_UNSUCCESSFUL;
    moved = 99;
    EXPECT_EQ(Send(BmRequestHostToDevice, command, &moved), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(moved, 0u);
}

TEST_F(Usb, ControlTransferArgumentsAreChecked) {
    Open();
    ULONG moved = 99;
    WDF_USB_CONTROL_SETUP_PACKET setup;
    WDF_USB_CONTROL_SETUP_PACKET_INIT_VENDOR(&setup, BmRequestHostToDevice, BmRequestToDevice, 0, 0, 0);
    WDF_MEMORY_DESCRIPTOR memory;
    WDF_MEMORY_DESCRIPTOR_INIT_BUFFER(&memory, nullptr, 4);
    EXPECT_EQ(WdfUsbTargetDeviceSendControlTransferSynchronously(usb_, nullptr, nullptr, &setup, &memory, &moved),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(WdfUsbTargetDeviceSendControlTransferSynchronously(usb_, nullptr, nullptr, nullptr, nullptr, &moved),
              STATUS_INVALID_PARAMETER);
    std::vector<std::uint8_t> big(0x10000);
    WDF_MEMORY_DESCRIPTOR_INIT_BUFFER(&memory, big.data(), static_cast<ULONG>(big.size()));
    EXPECT_EQ(WdfUsbTargetDeviceSendControlTransferSynchronously(usb_, nullptr, nullptr, &setup, &memory, &moved),
              STATUS_INVALID_PARAMETER)
        << "longer than wLength can say";
    EXPECT_EQ(moved, 0u);
    EXPECT_TRUE(fake_.seen.empty());

    // No data stage at all.
    ASSERT_EQ(WdfUsbTargetDeviceSendControlTransferSynchronously(usb_, nullptr, nullptr, &setup, nullptr, &moved),
              STATUS_SUCCESS);
    ASSERT_EQ(fake_.seen.size(), 1u);
    EXPECT_EQ(Value(fake_.seen[0].setup.Packet.wLength), 0);
    EXPECT_EQ(moved, 0u);
}

TEST_F(Usb, SilentDeviceLetsTheTimeoutPassOnTheClock) {
    Open();
    fake_.controlStatus = STATUS_IO_TIMEOUT;
    std::vector<std::uint8_t> command = Bytes({0xAA, 1, 0x71, 2, 0, 1, 0x74});
    struct Case {
        const char* name;
        bool setTimeout;
        LONGLONG timeout;  // relative when negative, absolute (from now) when positive
        LONGLONG expectedWait;
    };
    const Case cases[] = {
        {"2 s relative", true, WDF_REL_TIMEOUT_IN_MS(2000), 20000000},
        {"absolute, 1 s ahead", true, 10000000, 10000000},
        {"zero: no wait", true, 0, 0},
        {"no time-out: fails at once", false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WDF_REQUEST_SEND_OPTIONS options;
        WDF_REQUEST_SEND_OPTIONS_INIT(&options, 0);
        const LONGLONG before = Now();
        if (c.setTimeout)
            WDF_REQUEST_SEND_OPTIONS_SET_TIMEOUT(&options, c.timeout > 0 ? before + c.timeout : c.timeout);
        ULONG moved = 99;
        EXPECT_EQ(Send(BmRequestHostToDevice, command, &moved, &options), STATUS_IO_TIMEOUT);
        EXPECT_EQ(moved, 0u);
        EXPECT_EQ(Now() - before, c.expectedWait);
    }
    // An absolute time already past costs nothing.
    kmdf::VirtualClock clock(50000000);
    kmdf::SetClock(&clock);
    WDF_REQUEST_SEND_OPTIONS options;
    WDF_REQUEST_SEND_OPTIONS_INIT(&options, 0);
    WDF_REQUEST_SEND_OPTIONS_SET_TIMEOUT(&options, 10000000);
    ULONG moved = 0;
    EXPECT_EQ(Send(BmRequestHostToDevice, command, &moved, &options), STATUS_IO_TIMEOUT);
    EXPECT_EQ(clock.Now(), 50000000);
    kmdf::SetClock(nullptr);

    // An answering device costs no time, time-out or not.
    fake_.controlStatus = STATUS_SUCCESS;
    WDF_REQUEST_SEND_OPTIONS_INIT(&options, 0);
    WDF_REQUEST_SEND_OPTIONS_SET_TIMEOUT(&options, WDF_REL_TIMEOUT_IN_MS(2000));
    const LONGLONG before = Now();
    EXPECT_EQ(Send(BmRequestHostToDevice, command, &moved, &options), STATUS_SUCCESS);
    EXPECT_EQ(Now(), before);
}

TEST_F(Usb, UnplugFailsTransfersAndStarvesTheReader) {
    Open();
    ConfigureReader(1024, ReadersFailed);
    ASSERT_EQ(WdfIoTargetStart(target_), STATUS_SUCCESS);
    fake_.transfers = {Bytes({1})};
    kmdf::AttachUsbDevice(device_, nullptr);

    std::vector<std::uint8_t> buffer(64);
    ULONG moved = 99;
    EXPECT_EQ(Send(BmRequestHostToDevice, buffer, &moved), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(Send(BmRequestDeviceToHost, buffer, &moved), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(moved, 0u);
    EXPECT_TRUE(fake_.seen.empty());
    EXPECT_EQ(kmdf::PumpContinuousReaders(), 0u);
    EXPECT_EQ(kmdf::PumpContinuousReaders(), 0u);
    EXPECT_EQ(g_readersFailed, 1) << "the driver hears of it once";
    EXPECT_EQ(g_readersFailedStatus, STATUS_DEVICE_NOT_CONNECTED);
    WdfIoTargetStop(target_, WdfIoTargetCancelSentIo);
    EXPECT_EQ(WdfIoTargetStart(target_), STATUS_DEVICE_NOT_CONNECTED);
    WDF_USB_DEVICE_SELECT_CONFIG_PARAMS select;
    WDF_USB_DEVICE_SELECT_CONFIG_PARAMS_INIT_SINGLE_INTERFACE(&select);
    EXPECT_EQ(WdfUsbTargetDeviceSelectConfig(usb_, WDF_NO_OBJECT_ATTRIBUTES, &select), STATUS_DEVICE_NOT_CONNECTED);

    // Plugged back in, the same objects work again.
    kmdf::AttachUsbDevice(device_, &fake_);
    ASSERT_EQ(WdfIoTargetStart(target_), STATUS_SUCCESS);
    EXPECT_EQ(kmdf::PumpContinuousReaders(), 1u);
    EXPECT_EQ(Send(BmRequestHostToDevice, buffer, &moved), STATUS_SUCCESS);
}

TEST_F(Usb, ObjectsGoWithTheDevice) {
    Open();
    ConfigureReader();
    ASSERT_EQ(WdfIoTargetStart(target_), STATUS_SUCCESS);
    kmdf::DeleteDevice(device_);
    fake_.transfers = {Bytes({1})};
    EXPECT_EQ(kmdf::PumpContinuousReaders(), 0u);
    EXPECT_EQ(fake_.transfers.size(), 1u);
}

TEST_F(Usb, DeviceDeletedInsideTheCallbackIsSafe) {
    Open();
    ConfigureReader();
    ASSERT_EQ(WdfIoTargetStart(target_), STATUS_SUCCESS);
    fake_.transfers = {Bytes({1}), Bytes({2})};
    g_onDelivery = [this] { kmdf::DeleteDevice(device_); };
    EXPECT_EQ(kmdf::PumpContinuousReaders(), 1u);
    EXPECT_EQ(fake_.transfers.size(), 1u);
}

class UsbDeathTest : public Usb {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        Usb::SetUp();
    }
};

TEST_F(UsbDeathTest, DriverBugsStopTheRun) {
    Open();
    struct Case {
        const char* name;
        std::function<void()> bug;
        const char* message;
    };
    const Case cases[] = {
        {"a pipe where a USB device is expected",
         [this] {
             USB_DEVICE_DESCRIPTOR descriptor;
             WdfUsbTargetDeviceGetDeviceDescriptor(reinterpret_cast<WDFUSBDEVICE>(pipe_), &descriptor);
         },
         "is expected"},
        {"a stale USB device",
         [this] {
             kmdf::DeleteDevice(device_);
             USB_DEVICE_DESCRIPTOR descriptor;
             WdfUsbTargetDeviceGetDeviceDescriptor(usb_, &descriptor);
         },
         "does not exist"},
        {"a synchronous transfer under a spin lock",
         [this] {
             WDFSPINLOCK lock = nullptr;
             WdfSpinLockCreate(WDF_NO_OBJECT_ATTRIBUTES, &lock);
             WdfSpinLockAcquire(lock);
             std::vector<std::uint8_t> buffer(8);
             ULONG moved = 0;
             Send(BmRequestHostToDevice, buffer, &moved);
         },
         "above PASSIVE_LEVEL"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_DEATH(c.bug(), c.message);
    }
}

}  // namespace usb_test
