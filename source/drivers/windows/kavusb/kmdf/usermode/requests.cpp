// Queues and requests: presentation to the driver, parking, completion.
#include <cstring>

#include "framework.h"

namespace kmdf::detail {
namespace {

// What presenting a request to the driver calls; read under the lock, called outside it.
struct Presentation {
    WDFQUEUE queue = nullptr;
    WDFREQUEST request = nullptr;
    PFN_WDF_IO_QUEUE_IO_DEFAULT ioDefault = nullptr;
    PFN_WDF_IO_QUEUE_IO_INTERNAL_DEVICE_CONTROL ioControl = nullptr;
    size_t outputLength = 0;
    size_t inputLength = 0;
    ULONG ioControlCode = 0;
};

Presentation Prepare(Queue* queue, Request* request) {
    Presentation p;
    p.queue = HandleOf<WDFQUEUE>(queue);
    p.request = HandleOf<WDFREQUEST>(request);
    if (request->type == WdfRequestTypeDeviceControlInternal) p.ioControl = queue->config.EvtIoInternalDeviceControl;
    if (request->type == WdfRequestTypeDeviceControl) p.ioControl = queue->config.EvtIoDeviceControl;
    if (p.ioControl == nullptr) p.ioDefault = queue->config.EvtIoDefault;
    p.outputLength = request->output.size();
    p.inputLength = request->input.size();
    p.ioControlCode = request->ioControlCode;
    return p;
}

void Present(const Presentation& p) {
    if (p.ioControl != nullptr) {
        p.ioControl(p.queue, p.request, p.outputLength, p.inputLength, p.ioControlCode);
    } else if (p.ioDefault != nullptr) {
        p.ioDefault(p.queue, p.request);
    } else {
        CompleteRequest(p.request, STATUS_INVALID_DEVICE_REQUEST, nullptr, "request presentation");
    }
}

// A request the driver may still touch: completed ones went back to their sender.
Request* LookupLive(WDFREQUEST handle, const char* function) {
    auto* request = LookupAs<Request>(handle, Kind::Request, function);
    if (request->completed) Fatal(function, "request used after it was completed");
    return request;
}

}  // namespace

void UnlinkObject(Object* object, std::vector<std::uintptr_t>& redispatch) {
    State& state = Framework();
    switch (object->kind) {
        case Kind::Queue: {
            auto* queue = static_cast<Queue*>(object);
            for (auto& [handle, other] : state.objects) {
                if (other->kind != Kind::Request) continue;
                auto* request = static_cast<Request*>(other.get());
                if (request->queue == queue) {
                    request->queue = nullptr;
                    request->waiting = false;
                }
            }
            if (queue->device != nullptr && queue->device->defaultQueue == queue) queue->device->defaultQueue = nullptr;
            break;
        }
        case Kind::Request: {
            auto* request = static_cast<Request*>(object);
            if (Queue* queue = request->queue; queue != nullptr) {
                if (request->waiting) std::erase(queue->waiting, request);
                if (queue->current == request) {
                    queue->current = nullptr;
                    redispatch.push_back(queue->handle);
                }
            }
            request->queue = nullptr;
            request->waiting = false;
            break;
        }
        case Kind::Memory:
            if (object->parent != nullptr && object->parent->kind == Kind::Request) {
                auto* request = static_cast<Request*>(object->parent);
                if (request->outputMemory == object) request->outputMemory = nullptr;
            }
            break;
        case Kind::Driver:
            if (state.driver == object) state.driver = nullptr;
            if (auto* driver = static_cast<Driver*>(object); driver->wdm != nullptr) driver->wdm->Driver = nullptr;
            break;
        case Kind::UsbDevice:
        case Kind::UsbInterface:
        case Kind::UsbPipe:
        case Kind::IoTarget:
            UnlinkUsbObject(object);
            break;
        case Kind::Device:
        case Kind::SpinLock:
        case Kind::Key:
            break;
    }
}

void CompleteRequest(WDFREQUEST handle, NTSTATUS status, const ULONG_PTR* information, const char* function) {
    std::function<void(WDFREQUEST)> callback;
    std::uintptr_t redispatch = 0;
    {
        std::lock_guard lock(Framework().mutex);
        auto* request = LookupAs<Request>(handle, Kind::Request, function);
        if (request->completed) Fatal(function, "request completed twice");
        request->completed = true;
        request->status = status;
        if (information != nullptr) request->information = *information;
        if (Queue* queue = request->queue; queue != nullptr) {
            if (request->waiting) std::erase(queue->waiting, request);
            if (queue->current == request) {
                queue->current = nullptr;
                redispatch = queue->handle;
            }
        }
        request->waiting = false;
        request->queue = nullptr;
        callback = std::move(request->onCompletion);
        request->onCompletion = nullptr;
    }
    if (callback) callback(handle);
    if (redispatch != 0) DispatchSequential(redispatch);
}

void DispatchSequential(std::uintptr_t queueHandle) {
    State& state = Framework();
    std::unique_lock lock(state.mutex);
    auto* queue = static_cast<Queue*>(FindObject(reinterpret_cast<void*>(queueHandle)));
    // Whoever is presenting already picks up what became ready.
    if (queue == nullptr || queue->dispatching) return;
    queue->dispatching = true;
    while (!queue->deleting && queue->current == nullptr && !queue->waiting.empty()) {
        Request* request = queue->waiting.front();
        queue->waiting.pop_front();
        request->waiting = false;
        queue->current = request;
        const Presentation p = Prepare(queue, request);
        lock.unlock();
        Present(p);
        lock.lock();
        queue = static_cast<Queue*>(FindObject(reinterpret_cast<void*>(queueHandle)));
        if (queue == nullptr) return;  // deleted by the driver meanwhile
    }
    queue->dispatching = false;
}

}  // namespace kmdf::detail

using namespace kmdf::detail;

// ---- queues ----

void WDF_IO_QUEUE_CONFIG_INIT(PWDF_IO_QUEUE_CONFIG config, WDF_IO_QUEUE_DISPATCH_TYPE dispatchType) {
    std::memset(config, 0, sizeof *config);
    config->Size = sizeof *config;
    config->PowerManaged = WdfUseDefault;
    config->DispatchType = dispatchType;
}

void WDF_IO_QUEUE_CONFIG_INIT_DEFAULT_QUEUE(PWDF_IO_QUEUE_CONFIG config, WDF_IO_QUEUE_DISPATCH_TYPE dispatchType) {
    WDF_IO_QUEUE_CONFIG_INIT(config, dispatchType);
    config->DefaultQueue = 1;
}

NTSTATUS WdfIoQueueCreate(WDFDEVICE device, PWDF_IO_QUEUE_CONFIG config, PWDF_OBJECT_ATTRIBUTES queueAttributes,
                          WDFQUEUE* queue) {
    if (queue != nullptr) *queue = nullptr;
    if (config == nullptr || config->Size != sizeof(WDF_IO_QUEUE_CONFIG)) return STATUS_INVALID_PARAMETER;
    if (config->DispatchType != WdfIoQueueDispatchSequential && config->DispatchType != WdfIoQueueDispatchParallel &&
        config->DispatchType != WdfIoQueueDispatchManual)
        return STATUS_INVALID_PARAMETER;
    std::lock_guard lock(Framework().mutex);
    auto* owner = LookupAs<Device>(device, Kind::Device, "WdfIoQueueCreate");
    // A queue always belongs to its device.
    if (queueAttributes != nullptr && queueAttributes->ParentObject != nullptr &&
        queueAttributes->ParentObject != static_cast<WDFOBJECT>(device))
        return STATUS_INVALID_PARAMETER;
    if (config->DefaultQueue && owner->defaultQueue != nullptr) return STATUS_INVALID_DEVICE_STATE;

    auto object = std::make_unique<Queue>();
    object->device = owner;
    object->config = *config;
    Queue* created = object.get();
    const NTSTATUS status = Register(std::move(object), queueAttributes, owner, "WdfIoQueueCreate", nullptr);
    if (!NT_SUCCESS(status)) return status;
    if (config->DefaultQueue) owner->defaultQueue = created;
    if (queue != nullptr) *queue = HandleOf<WDFQUEUE>(created);
    return STATUS_SUCCESS;
}

WDFDEVICE WdfIoQueueGetDevice(WDFQUEUE queue) {
    std::lock_guard lock(Framework().mutex);
    return HandleOf<WDFDEVICE>(LookupAs<Queue>(queue, Kind::Queue, "WdfIoQueueGetDevice")->device);
}

NTSTATUS WdfIoQueueRetrieveNextRequest(WDFQUEUE queue, WDFREQUEST* outRequest) {
    if (outRequest == nullptr) return STATUS_INVALID_PARAMETER;
    *outRequest = nullptr;
    std::lock_guard lock(Framework().mutex);
    auto* source = LookupAs<Queue>(queue, Kind::Queue, "WdfIoQueueRetrieveNextRequest");
    if (source->config.DispatchType != WdfIoQueueDispatchManual) return STATUS_INVALID_DEVICE_REQUEST;
    if (source->waiting.empty()) return STATUS_NO_MORE_ENTRIES;
    Request* request = source->waiting.front();
    source->waiting.pop_front();
    request->waiting = false;  // the driver's now; it still came from this queue
    *outRequest = HandleOf<WDFREQUEST>(request);
    return STATUS_SUCCESS;
}

// ---- requests ----

void WDF_REQUEST_PARAMETERS_INIT(PWDF_REQUEST_PARAMETERS parameters) {
    std::memset(parameters, 0, sizeof *parameters);
    parameters->Size = sizeof *parameters;
}

void WdfRequestGetParameters(WDFREQUEST request, PWDF_REQUEST_PARAMETERS parameters) {
    std::lock_guard lock(Framework().mutex);
    auto* source = LookupAs<Request>(request, Kind::Request, "WdfRequestGetParameters");
    if (parameters == nullptr) Fatal("WdfRequestGetParameters", "null parameters");
    const USHORT size = parameters->Size;
    std::memset(parameters, 0, sizeof *parameters);
    parameters->Size = size;
    parameters->Type = source->type;
    switch (source->type) {
        case WdfRequestTypeRead:
            parameters->Parameters.Read.Length = source->output.size();
            break;
        case WdfRequestTypeWrite:
            parameters->Parameters.Write.Length = source->input.size();
            break;
        case WdfRequestTypeDeviceControl:
        case WdfRequestTypeDeviceControlInternal:
            parameters->Parameters.DeviceIoControl = source->irp.Stack.Parameters.DeviceIoControl;
            break;
        default:
            break;
    }
}

NTSTATUS WdfRequestForwardToIoQueue(WDFREQUEST request, WDFQUEUE destinationQueue) {
    std::uintptr_t redispatch = 0;
    {
        std::lock_guard lock(Framework().mutex);
        Request* moving = LookupLive(request, "WdfRequestForwardToIoQueue");
        auto* destination = LookupAs<Queue>(destinationQueue, Kind::Queue, "WdfRequestForwardToIoQueue");
        if (destination->config.DispatchType != WdfIoQueueDispatchManual) return STATUS_INVALID_DEVICE_REQUEST;
        Queue* source = moving->queue;
        if (source != nullptr && source->device != destination->device) return STATUS_INVALID_DEVICE_REQUEST;
        // Waiting in a queue, it is not the driver's to move.
        if (moving->waiting) return STATUS_INVALID_DEVICE_STATE;
        if (destination->deleting) return STATUS_INVALID_DEVICE_STATE;
        if (source != nullptr && source->current == moving) {
            source->current = nullptr;
            redispatch = source->handle;
        }
        moving->sent = true;
        moving->queue = destination;
        moving->waiting = true;
        destination->waiting.push_back(moving);
    }
    if (redispatch != 0) DispatchSequential(redispatch);
    return STATUS_SUCCESS;
}

WDFQUEUE WdfRequestGetIoQueue(WDFREQUEST request) {
    std::lock_guard lock(Framework().mutex);
    return HandleOf<WDFQUEUE>(LookupAs<Request>(request, Kind::Request, "WdfRequestGetIoQueue")->queue);
}

namespace {

NTSTATUS RetrieveBuffer(WDFREQUEST request, std::vector<std::uint8_t> Request::*which, size_t minimumRequiredSize,
                        PVOID* buffer, size_t* length, const char* function) {
    if (buffer != nullptr) *buffer = nullptr;
    if (length != nullptr) *length = 0;
    std::lock_guard lock(Framework().mutex);
    Request* source = LookupLive(request, function);
    if (buffer == nullptr) return STATUS_INVALID_PARAMETER;
    std::vector<std::uint8_t>& bytes = source->*which;
    if (bytes.empty() || bytes.size() < minimumRequiredSize) return STATUS_BUFFER_TOO_SMALL;
    *buffer = bytes.data();
    if (length != nullptr) *length = bytes.size();
    return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS WdfRequestRetrieveOutputBuffer(WDFREQUEST request, size_t minimumRequiredSize, PVOID* buffer, size_t* length) {
    return RetrieveBuffer(request, &Request::output, minimumRequiredSize, buffer, length,
                          "WdfRequestRetrieveOutputBuffer");
}

NTSTATUS WdfRequestRetrieveInputBuffer(WDFREQUEST request, size_t minimumRequiredSize, PVOID* buffer, size_t* length) {
    return RetrieveBuffer(request, &Request::input, minimumRequiredSize, buffer, length,
                          "WdfRequestRetrieveInputBuffer");
}

NTSTATUS WdfRequestRetrieveOutputMemory(WDFREQUEST request, WDFMEMORY* memory) {
    if (memory == nullptr) return STATUS_INVALID_PARAMETER;
    *memory = nullptr;
    std::lock_guard lock(Framework().mutex);
    Request* source = LookupLive(request, "WdfRequestRetrieveOutputMemory");
    if (source->output.empty()) return STATUS_BUFFER_TOO_SMALL;
    if (source->outputMemory == nullptr) {
        // A view of the request's buffer, which stays the sender's.
        auto object = std::make_unique<Memory>();
        object->data = source->output.data();
        object->size = source->output.size();
        Memory* created = object.get();
        const NTSTATUS status = Register(std::move(object), nullptr, source, "WdfRequestRetrieveOutputMemory", nullptr);
        if (!NT_SUCCESS(status)) return status;
        source->outputMemory = created;
    }
    *memory = HandleOf<WDFMEMORY>(source->outputMemory);
    return STATUS_SUCCESS;
}

PIRP WdfRequestWdmGetIrp(WDFREQUEST request) {
    std::lock_guard lock(Framework().mutex);
    return &LookupAs<Request>(request, Kind::Request, "WdfRequestWdmGetIrp")->irp;
}

void WdfRequestSetInformation(WDFREQUEST request, ULONG_PTR information) {
    std::lock_guard lock(Framework().mutex);
    LookupLive(request, "WdfRequestSetInformation")->information = information;
}

ULONG_PTR WdfRequestGetInformation(WDFREQUEST request) {
    std::lock_guard lock(Framework().mutex);
    return LookupAs<Request>(request, Kind::Request, "WdfRequestGetInformation")->information;
}

void WdfRequestComplete(WDFREQUEST request, NTSTATUS status) {
    CompleteRequest(request, status, nullptr, "WdfRequestComplete");
}

void WdfRequestCompleteWithInformation(WDFREQUEST request, NTSTATUS status, ULONG_PTR information) {
    CompleteRequest(request, status, &information, "WdfRequestCompleteWithInformation");
}

PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP irp) {
    if (irp == nullptr) Fatal("IoGetCurrentIrpStackLocation", "null IRP");
    return &irp->Stack;
}

PVOID IrpUserBuffer(PIRP irp) {
    if (irp == nullptr) Fatal("IrpUserBuffer", "null IRP");
    return irp->UserBuffer;
}

// ---- control surface ----

namespace kmdf {

WDFREQUEST CreateRequest(const RequestSetup& setup) {
    auto object = std::make_unique<Request>();
    object->type = setup.Type;
    object->ioControlCode = setup.IoControlCode;
    object->input = setup.Input;
    object->output.assign(setup.OutputLength, 0);
    object->testOwned = true;
    IO_STACK_LOCATION_PARAMETERS_DEVICE_IO_CONTROL& control = object->irp.Stack.Parameters.DeviceIoControl;
    control.OutputBufferLength = setup.OutputLength;
    control.InputBufferLength = setup.Input.size();
    control.IoControlCode = setup.IoControlCode;
    control.Type3InputBuffer = setup.Type3InputBuffer;
    object->irp.UserBuffer = setup.UserBuffer;
    Object* created = nullptr;
    std::lock_guard lock(Framework().mutex);
    Register(std::move(object), nullptr, nullptr, "kmdf::CreateRequest", &created);
    return HandleOf<WDFREQUEST>(created);
}

void DeleteRequest(WDFREQUEST request) {
    if (request == nullptr) return;
    {
        std::lock_guard lock(Framework().mutex);
        if (!LookupAs<Request>(request, Kind::Request, "kmdf::DeleteRequest")->testOwned)
            Fatal("kmdf::DeleteRequest", "not a request from kmdf::CreateRequest");
    }
    DeleteObjectTree(request, "kmdf::DeleteRequest");
}

RequestResult ResultOf(WDFREQUEST request) {
    std::lock_guard lock(Framework().mutex);
    auto* source = LookupAs<Request>(request, Kind::Request, "kmdf::ResultOf");
    return RequestResult{source->completed, source->status, source->information};
}

std::span<std::uint8_t> OutputOf(WDFREQUEST request) {
    std::lock_guard lock(Framework().mutex);
    auto* source = LookupAs<Request>(request, Kind::Request, "kmdf::OutputOf");
    return {source->output.data(), source->output.size()};
}

void OnCompletion(WDFREQUEST request, std::function<void(WDFREQUEST)> callback) {
    std::lock_guard lock(Framework().mutex);
    auto* target = LookupAs<Request>(request, Kind::Request, "kmdf::OnCompletion");
    if (target->completed) Fatal("kmdf::OnCompletion", "the request is already completed");
    target->onCompletion = std::move(callback);
}

void SendToDevice(WDFDEVICE device, WDFREQUEST request) {
    NTSTATUS failure = STATUS_SUCCESS;
    Presentation now;
    bool present = false;
    std::uintptr_t sequential = 0;
    {
        std::lock_guard lock(Framework().mutex);
        auto* target = LookupAs<Device>(device, Kind::Device, "kmdf::SendToDevice");
        auto* sent = LookupAs<Request>(request, Kind::Request, "kmdf::SendToDevice");
        if (sent->sent || sent->completed) Fatal("kmdf::SendToDevice", "the request was sent before");
        sent->sent = true;
        Queue* queue = target->defaultQueue;
        if (target->deleting || (queue != nullptr && queue->deleting)) {
            failure = STATUS_INVALID_DEVICE_STATE;
        } else if (queue == nullptr) {
            failure = STATUS_INVALID_DEVICE_REQUEST;
        } else {
            sent->queue = queue;
            switch (queue->config.DispatchType) {
                case WdfIoQueueDispatchParallel:
                    now = Prepare(queue, sent);
                    present = true;
                    break;
                case WdfIoQueueDispatchSequential:
                    sequential = queue->handle;
                    [[fallthrough]];
                default:
                    sent->waiting = true;
                    queue->waiting.push_back(sent);
                    break;
            }
        }
    }
    if (failure != STATUS_SUCCESS) {
        CompleteRequest(request, failure, nullptr, "kmdf::SendToDevice");
    } else if (present) {
        Present(now);
    } else if (sequential != 0) {
        DispatchSequential(sequential);
    }
}

size_t PendingRequestCount(WDFQUEUE queue) {
    std::lock_guard lock(Framework().mutex);
    return LookupAs<Queue>(queue, Kind::Queue, "kmdf::PendingRequestCount")->waiting.size();
}

WDFQUEUE DefaultQueueOf(WDFDEVICE device) {
    std::lock_guard lock(Framework().mutex);
    return HandleOf<WDFQUEUE>(LookupAs<Device>(device, Kind::Device, "kmdf::DefaultQueueOf")->defaultQueue);
}

}  // namespace kmdf
