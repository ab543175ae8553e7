// The *_INIT helpers set what KMDF sets.
#include <gtest/gtest.h>

#include <cstring>

#include "kavusb/kmdf/usermode/kmdf_sim.h"

namespace init_test {

template <typename T>
void Garble(T& value) {
    std::memset(static_cast<void*>(&value), 0xCD, sizeof value);
}

template <typename T>
bool ZeroFrom(const T& value, size_t offset) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
    for (size_t i = offset; i < sizeof value; ++i)
        if (bytes[i] != 0) return false;
    return true;
}

TEST(InitHelpers, SetSizeDefaultsAndZeroTheRest) {
    WDF_OBJECT_ATTRIBUTES attributes;
    Garble(attributes);
    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    EXPECT_EQ(attributes.Size, sizeof attributes);
    EXPECT_EQ(attributes.ExecutionLevel, WdfExecutionLevelInheritFromParent);
    EXPECT_EQ(attributes.SynchronizationScope, WdfSynchronizationScopeInheritFromParent);
    EXPECT_EQ(attributes.EvtCleanupCallback, nullptr);
    EXPECT_EQ(attributes.EvtDestroyCallback, nullptr);
    EXPECT_EQ(attributes.ParentObject, nullptr);
    EXPECT_EQ(attributes.ContextSizeOverride, 0u);
    EXPECT_EQ(attributes.ContextTypeInfo, nullptr);

    WDF_DRIVER_CONFIG driver;
    Garble(driver);
    WDF_DRIVER_CONFIG_INIT(&driver, nullptr);
    EXPECT_EQ(driver.Size, sizeof driver);
    EXPECT_TRUE(ZeroFrom(driver, sizeof(ULONG) + 4));

    WDF_PNPPOWER_EVENT_CALLBACKS callbacks;
    Garble(callbacks);
    WDF_PNPPOWER_EVENT_CALLBACKS_INIT(&callbacks);
    EXPECT_EQ(callbacks.Size, sizeof callbacks);
    EXPECT_TRUE(ZeroFrom(callbacks, sizeof(ULONG) + 4));

    WDF_DEVICE_PNP_CAPABILITIES caps;
    Garble(caps);
    WDF_DEVICE_PNP_CAPABILITIES_INIT(&caps);
    EXPECT_EQ(caps.Size, sizeof caps);
    for (WDF_TRI_STATE state : {caps.LockSupported, caps.EjectSupported, caps.Removable, caps.DockDevice, caps.UniqueID,
                                caps.SilentInstall, caps.SurpriseRemovalOK, caps.HardwareDisabled, caps.NoDisplayInUI})
        EXPECT_EQ(state, WdfUseDefault);
    EXPECT_EQ(caps.Address, static_cast<ULONG>(-1));
    EXPECT_EQ(caps.UINumber, static_cast<ULONG>(-1));

    for (bool defaultQueue : {false, true}) {
        SCOPED_TRACE(defaultQueue ? "default queue" : "queue");
        WDF_IO_QUEUE_CONFIG queue;
        Garble(queue);
        if (defaultQueue) {
            WDF_IO_QUEUE_CONFIG_INIT_DEFAULT_QUEUE(&queue, WdfIoQueueDispatchSequential);
        } else {
            WDF_IO_QUEUE_CONFIG_INIT(&queue, WdfIoQueueDispatchSequential);
        }
        EXPECT_EQ(queue.Size, sizeof queue);
        EXPECT_EQ(queue.DispatchType, WdfIoQueueDispatchSequential);
        EXPECT_EQ(queue.PowerManaged, WdfUseDefault);
        EXPECT_EQ(queue.DefaultQueue, defaultQueue ? 1 : 0);
        EXPECT_EQ(queue.AllowZeroLengthRequests, 0);
        EXPECT_EQ(queue.EvtIoDefault, nullptr);
        EXPECT_EQ(queue.EvtIoDeviceControl, nullptr);
        EXPECT_EQ(queue.EvtIoInternalDeviceControl, nullptr);
    }

    WDF_REQUEST_SEND_OPTIONS options;
    Garble(options);
    WDF_REQUEST_SEND_OPTIONS_INIT(&options, 0);
    EXPECT_EQ(options.Size, sizeof options);
    EXPECT_EQ(options.Flags, 0u);
    EXPECT_EQ(options.Timeout, 0);
    WDF_REQUEST_SEND_OPTIONS_SET_TIMEOUT(&options, WDF_REL_TIMEOUT_IN_MS(500));
    EXPECT_EQ(options.Flags, WDF_REQUEST_SEND_OPTION_TIMEOUT);
    EXPECT_EQ(options.Timeout, -5000000);

    WDF_USB_DEVICE_SELECT_CONFIG_PARAMS select;
    Garble(select);
    WDF_USB_DEVICE_SELECT_CONFIG_PARAMS_INIT_SINGLE_INTERFACE(&select);
    EXPECT_EQ(select.Size, sizeof select);
    EXPECT_EQ(select.Type, WdfUsbTargetDeviceSelectConfigTypeSingleInterface);
    EXPECT_EQ(select.SingleInterface.ConfiguredUsbInterface, nullptr);

    int context = 0;
    WDF_USB_CONTINUOUS_READER_CONFIG reader;
    Garble(reader);
    auto complete = [](WDFUSBPIPE, WDFMEMORY, size_t, WDFOBJECT) {};
    WDF_USB_CONTINUOUS_READER_CONFIG_INIT(&reader, complete, &context, 64);
    EXPECT_EQ(reader.Size, sizeof reader);
    EXPECT_EQ(reader.TransferLength, 64u);
    EXPECT_EQ(reader.EvtUsbTargetPipeReadCompleteContext, &context);
    EXPECT_NE(reader.EvtUsbTargetPipeReadComplete, nullptr);
    EXPECT_EQ(reader.NumPendingReads, 0);
    EXPECT_EQ(reader.HeaderLength, 0u);
    EXPECT_EQ(reader.BufferAttributes, nullptr);
    EXPECT_EQ(reader.EvtUsbTargetPipeReadersFailed, nullptr);

    WDF_MEMORY_DESCRIPTOR descriptor;
    Garble(descriptor);
    WDF_MEMORY_DESCRIPTOR_INIT_BUFFER(&descriptor, &context, sizeof context);
    EXPECT_EQ(descriptor.Buffer, &context);
    EXPECT_EQ(descriptor.Length, sizeof context);
}

TEST(InitHelpers, VendorSetupPacketEncodesTheRequestType) {
    struct Case {
        WDF_USB_BMREQUEST_DIRECTION direction;
        WDF_USB_BMREQUEST_RECIPIENT recipient;
        UCHAR bm;
    };
    const Case cases[] = {
        {BmRequestHostToDevice, BmRequestToDevice, 0x40},
        {BmRequestDeviceToHost, BmRequestToDevice, 0xC0},
        {BmRequestHostToDevice, BmRequestToInterface, 0x41},
        {BmRequestDeviceToHost, BmRequestToEndpoint, 0xC2},
    };
    for (const Case& c : cases) {
        WDF_USB_CONTROL_SETUP_PACKET packet;
        Garble(packet);
        WDF_USB_CONTROL_SETUP_PACKET_INIT_VENDOR(&packet, c.direction, c.recipient, 0x21, 0x1234, 0x0005);
        EXPECT_EQ(packet.Packet.Bm, c.bm);
        EXPECT_EQ(packet.Packet.bRequest, 0x21);
        EXPECT_EQ(packet.Packet.wValue, 0x1234);
        EXPECT_EQ(packet.Packet.wIndex, 0x0005);
        EXPECT_EQ(packet.Packet.wLength, 0) << "the framework fills in the length";
    }
}

}  // namespace init_test
