// USB target: the device, its single interface, the interrupt-in pipe 0 and that pipe's
// I/O target, backed by the UsbDeviceModel attached to the WDFDEVICE.
//
// The interface, pipe and I/O target are children of the USB device object, which is a
// child of the WDFDEVICE: they go with it. Models are called without the framework's
// lock held; a model serialises itself.
#include <algorithm>
#include <cstring>

#include "framework.h"

namespace kmdf::detail {

void UnlinkUsbObject(Object* object) {
    switch (object->kind) {
        case Kind::UsbDevice:
            break;
        case Kind::UsbInterface: {
            auto* usbInterface = static_cast<UsbInterface*>(object);
            if (usbInterface->usbDevice != nullptr && usbInterface->usbDevice->usbInterface == object)
                usbInterface->usbDevice->usbInterface = nullptr;
            break;
        }
        case Kind::UsbPipe: {
            auto* pipe = static_cast<UsbPipe*>(object);
            for (auto& [handle, other] : Framework().objects) {
                if (other->kind == Kind::UsbInterface && static_cast<UsbInterface*>(other.get())->pipe == pipe)
                    static_cast<UsbInterface*>(other.get())->pipe = nullptr;
            }
            if (pipe->target != nullptr) pipe->target->pipe = nullptr;
            break;
        }
        case Kind::IoTarget: {
            auto* target = static_cast<IoTarget*>(object);
            if (target->pipe != nullptr && target->pipe->target == target) target->pipe->target = nullptr;
            break;
        }
        default:
            break;
    }
}

}  // namespace kmdf::detail

using namespace kmdf::detail;

namespace {

constexpr UCHAR kInterruptInEndpoint = 0x81;
constexpr ULONG kInterruptMaxPacket = 64;
constexpr ULONG kMaximumTransferSize = 64 * 1024;

kmdf::UsbDeviceModel* ModelOf(const UsbDevice* usbDevice) {
    return usbDevice->device != nullptr ? usbDevice->device->usbModel : nullptr;
}

// The read-complete callback runs at DISPATCH_LEVEL, as the framework's completion does.
class DispatchLevel {
public:
    DispatchLevel() : saved_(ThreadIrql()) { ThreadIrql() = DISPATCH_LEVEL; }
    ~DispatchLevel() { ThreadIrql() = saved_; }
    DispatchLevel(const DispatchLevel&) = delete;
    DispatchLevel& operator=(const DispatchLevel&) = delete;

private:
    KIRQL saved_;
};

// Lets the request's time-out pass on the clock, as a device that never answers makes
// the host controller wait: a relative time-out (negative) in full, an absolute one up
// to that system time.
void WaitForTimeout(LONGLONG timeout) {
    if (timeout == 0) return;
    LARGE_INTEGER interval;
    interval.QuadPart = timeout;
    KeDelayExecutionThread(KernelMode, FALSE, &interval);
}

}  // namespace

void WDF_USB_DEVICE_SELECT_CONFIG_PARAMS_INIT_SINGLE_INTERFACE(PWDF_USB_DEVICE_SELECT_CONFIG_PARAMS params) {
    std::memset(params, 0, sizeof *params);
    params->Size = sizeof *params;
    params->Type = WdfUsbTargetDeviceSelectConfigTypeSingleInterface;
}

void WDF_USB_CONTINUOUS_READER_CONFIG_INIT(PWDF_USB_CONTINUOUS_READER_CONFIG config,
                                           PFN_WDF_USB_READER_COMPLETION_ROUTINE evtUsbTargetPipeReadComplete,
                                           WDFOBJECT evtUsbTargetPipeReadCompleteContext, size_t transferLength) {
    std::memset(config, 0, sizeof *config);
    config->Size = sizeof *config;
    config->EvtUsbTargetPipeReadComplete = evtUsbTargetPipeReadComplete;
    config->EvtUsbTargetPipeReadCompleteContext = evtUsbTargetPipeReadCompleteContext;
    config->TransferLength = transferLength;
}

void WDF_USB_CONTROL_SETUP_PACKET_INIT_VENDOR(PWDF_USB_CONTROL_SETUP_PACKET packet,
                                              WDF_USB_BMREQUEST_DIRECTION direction,
                                              WDF_USB_BMREQUEST_RECIPIENT recipient, UCHAR request, USHORT value,
                                              USHORT index) {
    std::memset(packet, 0, sizeof *packet);
    // bmRequestType: recipient in bits 0-4, type in bits 5-6, direction in bit 7.
    packet->Packet.Bm = static_cast<UCHAR>((recipient & 0x1F) | (BmRequestVendor << 5) | ((direction & 1) << 7));
    packet->Packet.bRequest = request;
    packet->Packet.wValue = value;
    packet->Packet.wIndex = index;
}

void WDF_REQUEST_SEND_OPTIONS_INIT(PWDF_REQUEST_SEND_OPTIONS options, ULONG flags) {
    std::memset(options, 0, sizeof *options);
    options->Size = sizeof *options;
    options->Flags = flags;
}

void WDF_REQUEST_SEND_OPTIONS_SET_TIMEOUT(PWDF_REQUEST_SEND_OPTIONS options, LONGLONG timeout) {
    options->Flags |= WDF_REQUEST_SEND_OPTION_TIMEOUT;
    options->Timeout = timeout;
}

NTSTATUS WdfUsbTargetDeviceCreate(WDFDEVICE device, PWDF_OBJECT_ATTRIBUTES attributes, WDFUSBDEVICE* usbDevice) {
    constexpr const char* kFunction = "WdfUsbTargetDeviceCreate";
    if (usbDevice == nullptr) return STATUS_INVALID_PARAMETER;
    *usbDevice = nullptr;
    kmdf::UsbDeviceModel* model;
    {
        std::lock_guard lock(Framework().mutex);
        model = LookupAs<Device>(device, Kind::Device, kFunction)->usbModel;
    }
    if (model == nullptr) return STATUS_DEVICE_NOT_CONNECTED;
    // The framework reads the descriptor once, while it creates the target.
    const USB_DEVICE_DESCRIPTOR descriptor = model->DeviceDescriptor();

    std::lock_guard lock(Framework().mutex);
    auto* owner = LookupAs<Device>(device, Kind::Device, kFunction);
    if (owner->usbModel == nullptr) return STATUS_DEVICE_NOT_CONNECTED;  // unplugged meanwhile
    auto object = std::make_unique<UsbDevice>();
    object->device = owner;
    object->descriptor = descriptor;
    Object* registered = nullptr;
    const NTSTATUS status = Register(std::move(object), attributes, owner, kFunction, &registered);
    if (!NT_SUCCESS(status)) return status;
    *usbDevice = HandleOf<WDFUSBDEVICE>(registered);
    return STATUS_SUCCESS;
}

NTSTATUS WdfUsbTargetDeviceSelectConfig(WDFUSBDEVICE usbDevice, PWDF_OBJECT_ATTRIBUTES pipeAttributes,
                                        PWDF_USB_DEVICE_SELECT_CONFIG_PARAMS params) {
    constexpr const char* kFunction = "WdfUsbTargetDeviceSelectConfig";
    if (params == nullptr || params->Size != sizeof *params) return STATUS_INVALID_PARAMETER;
    if (params->Type != WdfUsbTargetDeviceSelectConfigTypeSingleInterface) return STATUS_NOT_SUPPORTED;
    params->SingleInterface.NumberConfiguredPipes = 0;
    params->SingleInterface.ConfiguredUsbInterface = nullptr;
    if (pipeAttributes != nullptr && pipeAttributes->Size != sizeof *pipeAttributes) return STATUS_INVALID_PARAMETER;

    std::lock_guard lock(Framework().mutex);
    auto* target = LookupAs<UsbDevice>(usbDevice, Kind::UsbDevice, kFunction);
    if (ModelOf(target) == nullptr) return STATUS_DEVICE_NOT_CONNECTED;
    // Selecting again (a restart) keeps the interface and pipe the driver already holds.
    if (target->usbInterface == nullptr) {
        Object* registeredInterface = nullptr;
        auto usbInterface = std::make_unique<UsbInterface>();
        usbInterface->usbDevice = target;
        NTSTATUS status = Register(std::move(usbInterface), nullptr, target, kFunction, &registeredInterface);
        if (!NT_SUCCESS(status)) return status;
        auto* created = static_cast<UsbInterface*>(registeredInterface);

        auto pipe = std::make_unique<UsbPipe>();
        pipe->usbDevice = target;
        pipe->info.Size = sizeof pipe->info;
        pipe->info.MaximumPacketSize = kInterruptMaxPacket;
        pipe->info.EndpointAddress = kInterruptInEndpoint;
        pipe->info.Interval = 1;
        pipe->info.SettingIndex = 0;
        pipe->info.PipeType = WdfUsbPipeTypeInterrupt;
        pipe->info.MaximumTransferSize = kMaximumTransferSize;
        Object* registeredPipe = nullptr;
        status = Register(std::move(pipe), pipeAttributes, created, kFunction, &registeredPipe);
        if (!NT_SUCCESS(status)) {
            std::vector<std::uintptr_t> unused;
            // Nothing references the bare interface yet: take it back out.
            std::erase(target->children, registeredInterface);
            UnlinkObject(registeredInterface, unused);
            Framework().objects.erase(registeredInterface->handle);
            return status;
        }
        auto* createdPipe = static_cast<UsbPipe*>(registeredPipe);
        auto ioTarget = std::make_unique<IoTarget>();
        ioTarget->pipe = createdPipe;
        Object* registeredTarget = nullptr;
        status = Register(std::move(ioTarget), nullptr, createdPipe, kFunction, &registeredTarget);
        if (!NT_SUCCESS(status)) return status;  // cannot fail: no attributes, live parent
        createdPipe->target = static_cast<IoTarget*>(registeredTarget);
        created->pipe = createdPipe;
        target->usbInterface = created;
    }
    params->SingleInterface.ConfiguredUsbInterface = HandleOf<WDFUSBINTERFACE>(target->usbInterface);
    params->SingleInterface.NumberConfiguredPipes =
        static_cast<UsbInterface*>(target->usbInterface)->pipe != nullptr ? 1 : 0;
    return STATUS_SUCCESS;
}

void WdfUsbTargetDeviceGetDeviceDescriptor(WDFUSBDEVICE usbDevice, PUSB_DEVICE_DESCRIPTOR usbDeviceDescriptor) {
    constexpr const char* kFunction = "WdfUsbTargetDeviceGetDeviceDescriptor";
    if (usbDeviceDescriptor == nullptr) Fatal(kFunction, "null descriptor");
    std::lock_guard lock(Framework().mutex);
    *usbDeviceDescriptor = LookupAs<UsbDevice>(usbDevice, Kind::UsbDevice, kFunction)->descriptor;
}

WDFUSBPIPE WdfUsbInterfaceGetConfiguredPipe(WDFUSBINTERFACE usbInterface, UCHAR pipeIndex,
                                            PWDF_USB_PIPE_INFORMATION pipeInfo) {
    constexpr const char* kFunction = "WdfUsbInterfaceGetConfiguredPipe";
    std::lock_guard lock(Framework().mutex);
    auto* target = LookupAs<UsbInterface>(usbInterface, Kind::UsbInterface, kFunction);
    UsbPipe* pipe = pipeIndex == 0 ? target->pipe : nullptr;
    if (pipeInfo != nullptr) {
        if (pipe != nullptr) {
            *pipeInfo = pipe->info;
        } else {
            std::memset(pipeInfo, 0, sizeof *pipeInfo);
            pipeInfo->Size = sizeof *pipeInfo;
        }
    }
    return HandleOf<WDFUSBPIPE>(pipe);
}

void WdfUsbTargetPipeSetNoMaximumPacketSizeCheck(WDFUSBPIPE pipe) {
    std::lock_guard lock(Framework().mutex);
    LookupAs<UsbPipe>(pipe, Kind::UsbPipe, "WdfUsbTargetPipeSetNoMaximumPacketSizeCheck")->packetSizeCheck = false;
}

NTSTATUS WdfUsbTargetPipeConfigContinuousReader(WDFUSBPIPE pipe, PWDF_USB_CONTINUOUS_READER_CONFIG config) {
    constexpr const char* kFunction = "WdfUsbTargetPipeConfigContinuousReader";
    std::lock_guard lock(Framework().mutex);
    auto* target = LookupAs<UsbPipe>(pipe, Kind::UsbPipe, kFunction);
    if (config == nullptr || config->Size != sizeof *config || config->EvtUsbTargetPipeReadComplete == nullptr)
        return STATUS_INVALID_PARAMETER;
    if (config->TransferLength == 0 || config->TransferLength > target->info.MaximumTransferSize)
        return STATUS_INVALID_PARAMETER;
    // With the check on, a transfer must be a whole number of packets.
    if (target->packetSizeCheck && config->TransferLength % target->info.MaximumPacketSize != 0)
        return STATUS_INVALID_BUFFER_SIZE;
    if (target->readerConfigured) return STATUS_INVALID_DEVICE_STATE;
    if (target->started) return STATUS_INVALID_DEVICE_STATE;
    target->reader = *config;
    target->readerConfigured = true;
    return STATUS_SUCCESS;
}

WDFIOTARGET WdfUsbTargetPipeGetIoTarget(WDFUSBPIPE pipe) {
    std::lock_guard lock(Framework().mutex);
    return HandleOf<WDFIOTARGET>(LookupAs<UsbPipe>(pipe, Kind::UsbPipe, "WdfUsbTargetPipeGetIoTarget")->target);
}

NTSTATUS WdfIoTargetStart(WDFIOTARGET ioTarget) {
    std::lock_guard lock(Framework().mutex);
    auto* target = LookupAs<IoTarget>(ioTarget, Kind::IoTarget, "WdfIoTargetStart");
    UsbPipe* pipe = target->pipe;
    if (pipe == nullptr) return STATUS_INVALID_DEVICE_STATE;
    if (ModelOf(pipe->usbDevice) == nullptr) return STATUS_DEVICE_NOT_CONNECTED;
    pipe->started = true;
    pipe->readersFailedReported = false;
    return STATUS_SUCCESS;
}

void WdfIoTargetStop(WDFIOTARGET ioTarget, WDF_IO_TARGET_SENT_IO_ACTION action) {
    constexpr const char* kFunction = "WdfIoTargetStop";
    State& state = Framework();
    std::unique_lock lock(state.mutex);
    auto* target = LookupAs<IoTarget>(ioTarget, Kind::IoTarget, kFunction);
    if (action != WdfIoTargetCancelSentIo && action != WdfIoTargetWaitForSentIoToComplete &&
        action != WdfIoTargetLeaveSentIoPending)
        Fatal(kFunction, "not a WDF_IO_TARGET_SENT_IO_ACTION");
    UsbPipe* pipe = target->pipe;
    if (pipe == nullptr) return;
    pipe->started = false;
    // A read the reader completed is handed over whole: once Stop returns, no callback
    // runs. From inside the callback itself there is nothing to wait for.
    const std::uintptr_t handle = pipe->handle;
    const std::thread::id self = std::this_thread::get_id();
    state.readerIdle.wait(lock, [&] {
        auto* live = static_cast<UsbPipe*>(FindObject(reinterpret_cast<void*>(handle)));
        return live == nullptr || live->deliveringThread == std::thread::id{} || live->deliveringThread == self;
    });
}

NTSTATUS WdfUsbTargetDeviceSendControlTransferSynchronously(WDFUSBDEVICE usbDevice, WDFREQUEST request,
                                                            PWDF_REQUEST_SEND_OPTIONS requestOptions,
                                                            PWDF_USB_CONTROL_SETUP_PACKET setupPacket,
                                                            PWDF_MEMORY_DESCRIPTOR memoryDescriptor,
                                                            PULONG bytesTransferred) {
    constexpr const char* kFunction = "WdfUsbTargetDeviceSendControlTransferSynchronously";
    if (bytesTransferred != nullptr) *bytesTransferred = 0;
    if (ThreadIrql() > PASSIVE_LEVEL) Fatal(kFunction, "a synchronous send above PASSIVE_LEVEL (under a spin lock?)");
    kmdf::UsbDeviceModel* model;
    {
        std::lock_guard lock(Framework().mutex);
        auto* target = LookupAs<UsbDevice>(usbDevice, Kind::UsbDevice, kFunction);
        if (request != nullptr) LookupAs<Request>(request, Kind::Request, kFunction);
        model = ModelOf(target);
    }
    if (setupPacket == nullptr) return STATUS_INVALID_PARAMETER;
    if (requestOptions != nullptr && requestOptions->Size != sizeof *requestOptions) return STATUS_INVALID_PARAMETER;
    std::span<std::uint8_t> data;
    if (memoryDescriptor != nullptr && memoryDescriptor->Length != 0) {
        // The setup packet's length field is 16 bits wide.
        if (memoryDescriptor->Buffer == nullptr || memoryDescriptor->Length > 0xFFFF) return STATUS_INVALID_PARAMETER;
        data = {static_cast<std::uint8_t*>(memoryDescriptor->Buffer), memoryDescriptor->Length};
    }
    if (model == nullptr) return STATUS_DEVICE_NOT_CONNECTED;

    WDF_USB_CONTROL_SETUP_PACKET setup = *setupPacket;
    setup.Packet.wLength = static_cast<USHORT>(data.size());
    ULONG moved = 0;
    const NTSTATUS status = model->ControlTransfer(setup, data, &moved);
    if (status == STATUS_IO_TIMEOUT) {
        // Without a time-out the real request would wait as long as the device stays
        // silent; here it gives up at once, leaving the clock alone.
        if (requestOptions != nullptr && (requestOptions->Flags & WDF_REQUEST_SEND_OPTION_TIMEOUT) != 0)
            WaitForTimeout(requestOptions->Timeout);
        return STATUS_IO_TIMEOUT;
    }
    if (!NT_SUCCESS(status)) return status;
    if (bytesTransferred != nullptr) *bytesTransferred = std::min<ULONG>(moved, static_cast<ULONG>(data.size()));
    return status;
}

// ---- control surface ----

namespace kmdf {

void AttachUsbDevice(WDFDEVICE device, UsbDeviceModel* model) {
    std::lock_guard lock(Framework().mutex);
    LookupAs<Device>(device, Kind::Device, "kmdf::AttachUsbDevice")->usbModel = model;
}

size_t PumpContinuousReaders() {
    State& state = Framework();
    std::vector<std::uintptr_t> pipes;
    {
        std::lock_guard lock(state.mutex);
        for (const auto& [handle, object] : state.objects)
            if (object->kind == Kind::UsbPipe && static_cast<UsbPipe*>(object.get())->readerConfigured)
                pipes.push_back(handle);
    }
    // Oldest pipe first, whatever the map's order: runs are repeatable.
    std::sort(pipes.begin(), pipes.end());

    size_t delivered = 0;
    const std::thread::id self = std::this_thread::get_id();
    for (const std::uintptr_t handle : pipes) {
        for (;;) {
            UsbDeviceModel* model = nullptr;
            WDF_USB_CONTINUOUS_READER_CONFIG reader{};
            PFN_WDF_USB_READERS_FAILED readersFailed = nullptr;
            {
                std::lock_guard lock(state.mutex);
                auto* pipe = static_cast<UsbPipe*>(FindObject(reinterpret_cast<void*>(handle)));
                if (pipe == nullptr || !pipe->started) break;
                if (pipe->deliveringThread != std::thread::id{}) break;  // another pump has it, or a callback pumps
                model = ModelOf(pipe->usbDevice);
                if (model == nullptr) {
                    // Unplugged under a running reader: its reads fail, reported once.
                    if (!pipe->readersFailedReported) {
                        pipe->readersFailedReported = true;
                        readersFailed = pipe->reader.EvtUsbTargetPipeReadersFailed;
                    }
                } else {
                    reader = pipe->reader;
                    pipe->deliveringThread = self;
                }
            }
            if (model == nullptr) {
                if (readersFailed != nullptr) {
                    DispatchLevel irql;
                    readersFailed(reinterpret_cast<WDFUSBPIPE>(handle), STATUS_DEVICE_NOT_CONNECTED, 0);
                }
                break;
            }

            auto finish = [&] {
                std::lock_guard lock(state.mutex);
                if (auto* pipe = static_cast<UsbPipe*>(FindObject(reinterpret_cast<void*>(handle))); pipe != nullptr)
                    pipe->deliveringThread = std::thread::id{};
                state.readerIdle.notify_all();
            };

            WDFMEMORY memory = nullptr;
            void* buffer = nullptr;
            if (!NT_SUCCESS(WdfMemoryCreate(nullptr, NonPagedPool, 0, reader.TransferLength, &memory, &buffer))) {
                finish();
                break;
            }
            std::span<std::uint8_t> span(static_cast<std::uint8_t*>(buffer), reader.TransferLength);
            const std::optional<size_t> length = model->NextInterruptTransfer(span);
            if (length.has_value()) {
                DispatchLevel irql;
                reader.EvtUsbTargetPipeReadComplete(reinterpret_cast<WDFUSBPIPE>(handle), memory,
                                                    std::min(*length, span.size()),
                                                    reader.EvtUsbTargetPipeReadCompleteContext);
                ++delivered;
            }
            // The buffer is the framework's again once the callback returned.
            bool live;
            {
                std::lock_guard lock(state.mutex);
                live = FindObject(memory) != nullptr;
            }
            if (live) DeleteObjectTree(memory, "kmdf::PumpContinuousReaders");
            finish();
            if (!length.has_value()) break;
        }
    }
    return delivered;
}

}  // namespace kmdf
