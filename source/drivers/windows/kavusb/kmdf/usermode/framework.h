// Internals of the user-mode framework, shared by its translation units only.
//
// Handles are serial numbers, never addresses: a handle that was deleted (or belongs
// to a framework that was reset) is recognised as such instead of aliasing a newer
// object, so a stale handle stops the run with a message rather than corrupting it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "../wdf.h"
#include "kmdf_sim.h"

struct DRIVER_OBJECT {
    WDFDRIVER Driver = nullptr;
};

struct DEVICE_OBJECT {
    WDFDEVICE Device = nullptr;
    PDRIVER_OBJECT DriverObject = nullptr;
};

struct IRP {
    IO_STACK_LOCATION Stack{};
    PVOID UserBuffer = nullptr;
};

struct WDFDEVICE_INIT {
    WDFDRIVER Driver = nullptr;
    kmdf::DeviceInitInfo Info;
};

namespace kmdf::detail {

enum class Kind { Driver, Device, Queue, Request, Memory, SpinLock, Key, UsbDevice, UsbInterface, UsbPipe, IoTarget };
const char* KindName(Kind kind);

// A driver bug the real system would bugcheck on: say what happened and stop.
[[noreturn]] void Fatal(const char* function, const char* message);

struct Object {
    explicit Object(Kind k) : kind(k) {}
    virtual ~Object();
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    Kind kind;
    std::uintptr_t handle = 0;
    Object* parent = nullptr;
    std::vector<Object*> children;
    const WDF_OBJECT_CONTEXT_TYPE_INFO* contextType = nullptr;
    void* context = nullptr;
    size_t contextSize = 0;
    PFN_WDF_OBJECT_CONTEXT_CLEANUP cleanup = nullptr;
    PFN_WDF_OBJECT_CONTEXT_CLEANUP destroy = nullptr;
    bool deleting = false;
};

struct Queue;
struct Request;

struct Driver final : Object {
    Driver() : Object(Kind::Driver) {}
    PDRIVER_OBJECT wdm = nullptr;
    WDF_DRIVER_CONFIG config{};
    std::u16string registryPath;
};

struct Device final : Object {
    Device() : Object(Kind::Device) {}
    DEVICE_OBJECT wdm;
    WDFDRIVER driver = nullptr;
    DeviceInitInfo init;
    WDF_DEVICE_PNP_CAPABILITIES caps{};
    Queue* defaultQueue = nullptr;
    UsbDeviceModel* usbModel = nullptr;  // AttachUsbDevice; nullptr: nothing plugged in
};

struct Queue final : Object {
    Queue() : Object(Kind::Queue) {}
    Device* device = nullptr;
    WDF_IO_QUEUE_CONFIG config{};
    // Manual queues park requests here; sequential queues keep those not yet presented.
    std::deque<Request*> waiting;
    Request* current = nullptr;  // sequential: the request the driver has now
    bool dispatching = false;    // a thread is presenting this queue's requests
};

struct Memory;

struct Request final : Object {
    Request() : Object(Kind::Request) {}
    WDF_REQUEST_TYPE type = WdfRequestTypeDeviceControlInternal;
    ULONG ioControlCode = 0;
    std::vector<std::uint8_t> input;
    std::vector<std::uint8_t> output;
    IRP irp;
    bool testOwned = false;
    bool sent = false;
    bool completed = false;
    bool waiting = false;  // in queue->waiting
    Queue* queue = nullptr;
    NTSTATUS status = STATUS_SUCCESS;
    ULONG_PTR information = 0;
    std::function<void(WDFREQUEST)> onCompletion;
    Memory* outputMemory = nullptr;
};

struct Memory final : Object {
    Memory() : Object(Kind::Memory) {}
    std::unique_ptr<std::uint8_t[]> owned;
    std::uint8_t* data = nullptr;
    size_t size = 0;
};

struct SpinLock final : Object {
    SpinLock() : Object(Kind::SpinLock) {}
    std::mutex mutex;
    std::atomic<std::thread::id> owner{};
    KIRQL previousIrql = PASSIVE_LEVEL;  // written by the owner only
};

struct Key final : Object {
    Key() : Object(Kind::Key) {}
    std::u16string path;  // absolute, in the store's spelling
    ACCESS_MASK access = 0;
};

struct UsbPipe;

struct UsbDevice final : Object {
    UsbDevice() : Object(Kind::UsbDevice) {}
    Device* device = nullptr;
    USB_DEVICE_DESCRIPTOR descriptor{};
    Object* usbInterface = nullptr;  // after the configuration was selected
};

struct UsbInterface final : Object {
    UsbInterface() : Object(Kind::UsbInterface) {}
    UsbDevice* usbDevice = nullptr;
    UsbPipe* pipe = nullptr;
};

struct IoTarget final : Object {
    IoTarget() : Object(Kind::IoTarget) {}
    UsbPipe* pipe = nullptr;
};

struct UsbPipe final : Object {
    UsbPipe() : Object(Kind::UsbPipe) {}
    UsbDevice* usbDevice = nullptr;
    IoTarget* target = nullptr;
    WDF_USB_PIPE_INFORMATION info{};
    bool packetSizeCheck = true;
    bool readerConfigured = false;
    WDF_USB_CONTINUOUS_READER_CONFIG reader{};
    bool started = false;
    bool readersFailedReported = false;
    std::thread::id deliveringThread{};  // a read-complete callback runs on it
};

struct State {
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, std::unique_ptr<Object>> objects;
    std::uintptr_t lastSerial = 0;
    Driver* driver = nullptr;
    std::vector<std::unique_ptr<DRIVER_OBJECT>> driverObjects;
    std::unordered_map<WDFDEVICE_INIT*, std::unique_ptr<WDFDEVICE_INIT>> deviceInits;
    std::condition_variable readerIdle;  // a read-complete callback returned
};

State& Framework();

// ---- with Framework().mutex held ----

Object* FindObject(const void* handle);
Object* LookupAny(const void* handle, const char* function);
Object* Lookup(const void* handle, Kind kind, const char* function);

template <typename T>
T* LookupAs(const void* handle, Kind kind, const char* function) {
    return static_cast<T*>(Lookup(handle, kind, function));
}

// Validates the attributes, gives the object its context and callbacks, a handle and
// a place under its parent (the attributes' ParentObject, else defaultParent).
NTSTATUS Register(std::unique_ptr<Object> object, PWDF_OBJECT_ATTRIBUTES attributes, Object* defaultParent,
                  const char* function, Object** registered);

template <typename Handle>
Handle HandleOf(const Object* object) {
    return object == nullptr ? nullptr : reinterpret_cast<Handle>(object->handle);
}

// ---- without the mutex held (they call back into driver or test code) ----

void DeleteObjectTree(const void* handle, const char* function);
void CompleteRequest(WDFREQUEST request, NTSTATUS status, const ULONG_PTR* information, const char* function);
void DispatchSequential(std::uintptr_t queueHandle);

// With the mutex held, before the object is freed: drops every reference other objects
// keep to it. Sequential queues that lost their current request are added to redispatch.
void UnlinkObject(Object* object, std::vector<std::uintptr_t>& redispatch);
void UnlinkUsbObject(Object* object);  // usb.cpp

// ---- kernel state ----

KIRQL& ThreadIrql();
void ResetKernelState();  // clock, event log, power counters; takes its own locks
// Built-in store emptied and chosen again, test switches off; takes its own lock.
void ResetRegistryState();

}  // namespace kmdf::detail
