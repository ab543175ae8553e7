// Control surface of the user-mode framework: what the simulator and the tests use to
// play the parts of the operating system (PnP manager, HID class, clock, event log).
// Driver code never includes this header.
//
// A driver bug that the real system bugchecks on (a stale or wrong handle, completing
// a request twice, a spin lock taken twice ...) ends the run with a message on stderr.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "../wdf.h"

namespace kmdf {

// ---- time ----

// System time in 100 ns units. KeQuerySystemTime reads it, KeDelayExecutionThread
// advances it (a virtual clock costs no real time).
class Clock {
public:
    virtual ~Clock() = default;
    virtual LONGLONG Now() = 0;
    virtual void Delay(LONGLONG duration100ns) = 0;
};

class VirtualClock final : public Clock {
public:
    explicit VirtualClock(LONGLONG start = 0) : now_(start) {}
    LONGLONG Now() override { return now_; }
    // Saturates: a driver may ask for an endless wait.
    void Delay(LONGLONG duration100ns) override {
        constexpr LONGLONG kMax = std::numeric_limits<LONGLONG>::max();
        now_ = duration100ns > 0 && now_ > kMax - duration100ns ? kMax : now_ + duration100ns;
    }
    void AdvanceMs(LONGLONG ms) { now_ += ms * 10000; }

private:
    LONGLONG now_;
};

// nullptr restores the built-in virtual clock. The clock must outlive its use.
// The framework serialises its calls into a VirtualClock; any other clock is called
// without a lock (Delay may block) and must be thread-safe if threads share it.
void SetClock(Clock* clock);
Clock& CurrentClock();

// ---- event log ----

struct ErrorLogEntry {
    PVOID IoObject = nullptr;
    std::vector<std::uint8_t> Bytes;  // the whole entry as allocated

    const IO_ERROR_LOG_PACKET& Packet() const { return *reinterpret_cast<const IO_ERROR_LOG_PACKET*>(Bytes.data()); }
    // The first insertion string, without its terminator; empty without one.
    std::u16string InsertionString() const;
};

// Entries written so far, oldest first; TakeErrorLog empties the log. ErrorLog's
// reference is for reading while no driver thread writes entries.
const std::vector<ErrorLogEntry>& ErrorLog();
std::vector<ErrorLogEntry> TakeErrorLog();
// While set, IoAllocateErrorLogEntry returns nullptr as when the system has no entry free.
void FailErrorLogAllocation(bool fail);

// ---- debug output ----

// DbgPrintEx's messages so far, oldest first (the latest 256), as ASCII with '?' for any
// other character; TakeDebugOutput empties the list.
std::vector<std::string> DebugOutput();
std::vector<std::string> TakeDebugOutput();

// ---- power ----

// Number of PoSetSystemState(ES_USER_PRESENT) calls since the last reset.
std::uint64_t UserPresentCount();

// ---- objects ----

// Frees every object, restores the built-in clock (at time 0), empties the event log,
// resets the registry backend and restores the registry settings below. Driver callbacks
// are not called. Requests from CreateRequest stay the test's: they
// survive, out of any queue, until DeleteRequest.
void ResetFramework();

// A DRIVER_OBJECT for the driver's entry point; the framework owns it until ResetFramework.
PDRIVER_OBJECT CreateDriverObject();
// The configuration WdfDriverCreate was given (EvtDriverDeviceAdd, EvtDriverUnload ...).
const WDF_DRIVER_CONFIG& DriverConfigOf(WDFDRIVER driver);

PWDFDEVICE_INIT AllocateDeviceInit(WDFDRIVER driver);
void FreeDeviceInit(PWDFDEVICE_INIT deviceInit);  // only when WdfDeviceCreate was not called or failed

struct DeviceInitInfo {
    bool IsFilter = false;
    bool PowerPolicyOwner = true;
    WDF_PNPPOWER_EVENT_CALLBACKS PnpPower{};
};
// What the driver asked of the device's init record; valid until the device is deleted.
const DeviceInitInfo& DeviceInitOf(WDFDEVICE device);

// The driver's devices in creation order: how the PnP manager learns which device its
// call of EvtDriverDeviceAdd created.
std::vector<WDFDEVICE> DevicesOf(WDFDRIVER driver);

// Deletes the device with its children (queues, locks, memory, requests still queued
// are completed with STATUS_CANCELLED).
void DeleteDevice(WDFDEVICE device);

// What the device reports after WdfDeviceSetPnpCapabilities; valid until it is deleted.
const WDF_DEVICE_PNP_CAPABILITIES& PnpCapabilitiesOf(WDFDEVICE device);
// The queue SendToDevice hands requests to; nullptr without one.
WDFQUEUE DefaultQueueOf(WDFDEVICE device);

// ---- requests ----

struct RequestSetup {
    WDF_REQUEST_TYPE Type = WdfRequestTypeDeviceControlInternal;
    ULONG IoControlCode = 0;
    size_t OutputLength = 0;  // an output buffer of this many bytes (0: none)
    std::vector<std::uint8_t> Input;
    PVOID Type3InputBuffer = nullptr;
    PVOID UserBuffer = nullptr;  // where a HID_XFER_PACKET sits for feature requests
};

struct RequestResult {
    bool Completed = false;
    NTSTATUS Status = STATUS_SUCCESS;
    ULONG_PTR Information = 0;
};

// A request the test owns; it stays valid after completion until DeleteRequest.
WDFREQUEST CreateRequest(const RequestSetup& setup);
void DeleteRequest(WDFREQUEST request);
RequestResult ResultOf(WDFREQUEST request);
std::span<std::uint8_t> OutputOf(WDFREQUEST request);
// Called once when the request completes (the HID class's completion routine), on the
// completing thread, outside the framework's lock. Set it before sending the request.
void OnCompletion(WDFREQUEST request, std::function<void(WDFREQUEST)> callback);

// Hands a request to the device's default queue, as the I/O manager does. A request is
// sent once; without a default queue it completes with STATUS_INVALID_DEVICE_REQUEST.
void SendToDevice(WDFDEVICE device, WDFREQUEST request);
// Requests waiting in a queue (parked in a manual one, or not yet presented by a
// sequential one).
size_t PendingRequestCount(WDFQUEUE queue);

// RAII owner for tests.
class ScopedRequest {
public:
    explicit ScopedRequest(const RequestSetup& setup) : request_(CreateRequest(setup)) {}
    ~ScopedRequest() { DeleteRequest(request_); }
    ScopedRequest(const ScopedRequest&) = delete;
    ScopedRequest& operator=(const ScopedRequest&) = delete;
    WDFREQUEST get() const { return request_; }
    operator WDFREQUEST() const { return request_; }
    RequestResult Result() const { return ResultOf(request_); }
    std::span<std::uint8_t> Output() const { return OutputOf(request_); }

private:
    WDFREQUEST request_;
};

// ---- registry ----

class RegistryBackend;  // registry_backend.h

// The registry behind the registry operations; nullptr detaches it. A backend set here
// must outlive its use. ResetFramework keeps it and calls its Reset. Registry operations
// with none attached end the run. The simulator's store attaches itself to every process
// that links it (simulator/registry/kmdf_registry.h).
void SetRegistryBackend(RegistryBackend* backend);
RegistryBackend* CurrentRegistryBackend();

// WdfDriverOpenParametersRegistryKey opens "<registry path>\Parameters" of the path that
// WdfDriverCreate was given, or without one the key of this service ("KavUSB" by default)
// under \Registry\Machine\System\CurrentControlSet\Services. It creates the key if it is
// missing, as the framework does.
void SetDriverServiceName(std::u16string name);
// That key for the current driver (or for none).
std::u16string DriverParametersKeyPath();

// While set, every WDFKEY open and create fails with STATUS_ACCESS_DENIED.
void FailRegistryOpen(bool fail);
// While set, WdfRegistryAssignULong fails with STATUS_ACCESS_DENIED and writes nothing.
void FailRegistryWrite(bool fail);

struct RegistryWrite {
    std::u16string KeyPath;
    std::u16string ValueName;
    ULONG Value = 0;
    NTSTATUS Status = STATUS_SUCCESS;
};
// WdfRegistryAssignULong calls since the last take, failed ones included, oldest first.
std::vector<RegistryWrite> TakeRegistryWrites();

// WDFKEY handles not yet closed (nor freed with their parent).
size_t OpenRegistryKeyCount();

// ---- USB ----

// The device behind a WDFUSBDEVICE, as the simulated controller offers it to the
// framework. Calls come from the thread that issues the request (control transfers) or
// that pumps the readers, without the framework's lock held: a model used from several
// threads serialises itself.
class UsbDeviceModel {
public:
    virtual ~UsbDeviceModel() = default;
    // Read once, when WdfUsbTargetDeviceCreate creates the target.
    virtual USB_DEVICE_DESCRIPTOR DeviceDescriptor() = 0;
    // A control transfer on the default pipe; setup.Packet.wLength is data.size().
    // Host to device: `data` holds what the host sends; device to host: the device fills
    // `data`. Returns the bus status and the bytes moved (at most data.size()). A device
    // that does not answer returns STATUS_IO_TIMEOUT: with a time-out in the send options
    // the framework lets it pass on the clock (relative in full, absolute up to that
    // time) and fails the request with STATUS_IO_TIMEOUT; without one the request fails
    // the same way at once, without waiting, since nothing would ever end the wait. An
    // unplugged device returns STATUS_DEVICE_NOT_CONNECTED.
    virtual NTSTATUS ControlTransfer(const WDF_USB_CONTROL_SETUP_PACKET& setup, std::span<std::uint8_t> data,
                                     ULONG* transferred) = 0;
    // The next interrupt-in transfer the device has ready: copied into `buffer` (the
    // reader's TransferLength bytes, zeroed; a longer transfer is cut), length returned;
    // nothing when it has none (yet).
    virtual std::optional<size_t> NextInterruptTransfer(std::span<std::uint8_t> buffer) = 0;
};

// The device model that WdfUsbTargetDeviceCreate on this device talks to; nullptr
// unplugs it: creation, configuration, I/O target start and control transfers then fail
// with STATUS_DEVICE_NOT_CONNECTED and readers deliver nothing (a readers-failed
// callback is told once). Attaching a model again plugs it back in. The model must
// outlive its use.
void AttachUsbDevice(WDFDEVICE device, UsbDeviceModel* model);

// Hands every transfer the attached devices have ready to their started continuous
// readers, one read-complete callback per transfer (at DISPATCH_LEVEL, with a WDFMEMORY
// of TransferLength bytes that the framework frees when the callback returns), on the
// calling thread, pipes in creation order. Returns the number delivered. A stopped
// reader takes nothing from its device: transfers wait there until it is started again.
// WdfIoTargetStop waits for a callback in progress on another thread.
size_t PumpContinuousReaders();

}  // namespace kmdf
