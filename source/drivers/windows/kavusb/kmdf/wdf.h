// The part of the Kernel-Mode Driver Framework 1.9 that KavUSB calls, with KMDF's
// names and signatures. usermode/ implements it for the simulator and the tests.
#pragma once

#include "hidport.h"
#include "ntdef.h"
#include "wdm.h"

using WDFOBJECT = void*;
#define KAV_WDF_HANDLE(name) \
    struct name##__;         \
    using name = name##__*
KAV_WDF_HANDLE(WDFDRIVER);
KAV_WDF_HANDLE(WDFDEVICE);
KAV_WDF_HANDLE(WDFQUEUE);
KAV_WDF_HANDLE(WDFREQUEST);
KAV_WDF_HANDLE(WDFMEMORY);
KAV_WDF_HANDLE(WDFSPINLOCK);
KAV_WDF_HANDLE(WDFKEY);
KAV_WDF_HANDLE(WDFIOTARGET);
KAV_WDF_HANDLE(WDFUSBDEVICE);
KAV_WDF_HANDLE(WDFUSBINTERFACE);
KAV_WDF_HANDLE(WDFUSBPIPE);
KAV_WDF_HANDLE(WDFCMRESLIST);
#undef KAV_WDF_HANDLE

struct WDFDEVICE_INIT;
using PWDFDEVICE_INIT = WDFDEVICE_INIT*;

constexpr ULONG WDF_NO_OBJECT_ATTRIBUTES_VALUE = 0;
#define WDF_NO_OBJECT_ATTRIBUTES nullptr
#define WDF_NO_HANDLE nullptr

// ---- object attributes and typed contexts ----

struct WDF_OBJECT_CONTEXT_TYPE_INFO {
    ULONG Size;
    PCSTR ContextName;
    size_t ContextSize;
};

enum WDF_EXECUTION_LEVEL { WdfExecutionLevelInheritFromParent = 1, WdfExecutionLevelPassive, WdfExecutionLevelDispatch };
enum WDF_SYNCHRONIZATION_SCOPE {
    WdfSynchronizationScopeInheritFromParent = 1,
    WdfSynchronizationScopeDevice,
    WdfSynchronizationScopeQueue,
    WdfSynchronizationScopeNone
};

using PFN_WDF_OBJECT_CONTEXT_CLEANUP = void (*)(WDFOBJECT object);

struct WDF_OBJECT_ATTRIBUTES {
    ULONG Size;
    PFN_WDF_OBJECT_CONTEXT_CLEANUP EvtCleanupCallback;
    PFN_WDF_OBJECT_CONTEXT_CLEANUP EvtDestroyCallback;
    WDF_EXECUTION_LEVEL ExecutionLevel;
    WDF_SYNCHRONIZATION_SCOPE SynchronizationScope;
    WDFOBJECT ParentObject;
    size_t ContextSizeOverride;
    const WDF_OBJECT_CONTEXT_TYPE_INFO* ContextTypeInfo;
};
using PWDF_OBJECT_ATTRIBUTES = WDF_OBJECT_ATTRIBUTES*;

void WDF_OBJECT_ATTRIBUTES_INIT(PWDF_OBJECT_ATTRIBUTES attributes);
PVOID WdfObjectGetTypedContextWorker(WDFOBJECT handle, const WDF_OBJECT_CONTEXT_TYPE_INFO* typeInfo);
void WdfObjectDelete(WDFOBJECT object);

#define WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(_contexttype, _castingfunction)                    \
    inline const WDF_OBJECT_CONTEXT_TYPE_INFO WDF_##_contexttype##_TYPE_INFO = {                \
        sizeof(WDF_OBJECT_CONTEXT_TYPE_INFO), #_contexttype, sizeof(_contexttype)};             \
    inline _contexttype* _castingfunction(WDFOBJECT handle) {                                  \
        return static_cast<_contexttype*>(WdfObjectGetTypedContextWorker(handle, &WDF_##_contexttype##_TYPE_INFO)); \
    }

#define WDF_OBJECT_ATTRIBUTES_INIT_CONTEXT_TYPE(_attributes, _contexttype) \
    (_attributes)->ContextTypeInfo = &WDF_##_contexttype##_TYPE_INFO

#define WDF_OBJECT_ATTRIBUTES_SET_CONTEXT_TYPE(_attributes, _contexttype) \
    (_attributes)->ContextTypeInfo = &WDF_##_contexttype##_TYPE_INFO

// ---- driver ----

using PFN_WDF_DRIVER_DEVICE_ADD = NTSTATUS (*)(WDFDRIVER driver, PWDFDEVICE_INIT deviceInit);
using PFN_WDF_DRIVER_UNLOAD = void (*)(WDFDRIVER driver);

struct WDF_DRIVER_CONFIG {
    ULONG Size;
    PFN_WDF_DRIVER_DEVICE_ADD EvtDriverDeviceAdd;
    PFN_WDF_DRIVER_UNLOAD EvtDriverUnload;
    ULONG DriverInitFlags;
    ULONG DriverPoolTag;
};
using PWDF_DRIVER_CONFIG = WDF_DRIVER_CONFIG*;

void WDF_DRIVER_CONFIG_INIT(PWDF_DRIVER_CONFIG config, PFN_WDF_DRIVER_DEVICE_ADD evtDriverDeviceAdd);
NTSTATUS WdfDriverCreate(PDRIVER_OBJECT driverObject, PCUNICODE_STRING registryPath,
                         PWDF_OBJECT_ATTRIBUTES driverAttributes, PWDF_DRIVER_CONFIG driverConfig, WDFDRIVER* driver);
PDRIVER_OBJECT WdfDriverWdmGetDriverObject(WDFDRIVER driver);
WDFDRIVER WdfGetDriver();

// ---- device ----

enum WDF_POWER_DEVICE_STATE {
    WdfPowerDeviceInvalid = 0,
    WdfPowerDeviceD0,
    WdfPowerDeviceD1,
    WdfPowerDeviceD2,
    WdfPowerDeviceD3,
    WdfPowerDeviceD3Final,
    WdfPowerDevicePrepareForHibernation,
    WdfPowerDeviceMaximum
};

using PFN_WDF_DEVICE_PREPARE_HARDWARE = NTSTATUS (*)(WDFDEVICE device, WDFCMRESLIST resourcesRaw,
                                                     WDFCMRESLIST resourcesTranslated);
using PFN_WDF_DEVICE_RELEASE_HARDWARE = NTSTATUS (*)(WDFDEVICE device, WDFCMRESLIST resourcesTranslated);
using PFN_WDF_DEVICE_D0_ENTRY = NTSTATUS (*)(WDFDEVICE device, WDF_POWER_DEVICE_STATE previousState);
using PFN_WDF_DEVICE_D0_EXIT = NTSTATUS (*)(WDFDEVICE device, WDF_POWER_DEVICE_STATE targetState);

struct WDF_PNPPOWER_EVENT_CALLBACKS {
    ULONG Size;
    PFN_WDF_DEVICE_D0_ENTRY EvtDeviceD0Entry;
    PFN_WDF_DEVICE_D0_EXIT EvtDeviceD0Exit;
    PFN_WDF_DEVICE_PREPARE_HARDWARE EvtDevicePrepareHardware;
    PFN_WDF_DEVICE_RELEASE_HARDWARE EvtDeviceReleaseHardware;
};
using PWDF_PNPPOWER_EVENT_CALLBACKS = WDF_PNPPOWER_EVENT_CALLBACKS*;

void WDF_PNPPOWER_EVENT_CALLBACKS_INIT(PWDF_PNPPOWER_EVENT_CALLBACKS callbacks);

enum WDF_TRI_STATE { WdfFalse = 0, WdfTrue = 1, WdfUseDefault = 2 };

struct WDF_DEVICE_PNP_CAPABILITIES {
    ULONG Size;
    WDF_TRI_STATE LockSupported;
    WDF_TRI_STATE EjectSupported;
    WDF_TRI_STATE Removable;
    WDF_TRI_STATE DockDevice;
    WDF_TRI_STATE UniqueID;
    WDF_TRI_STATE SilentInstall;
    WDF_TRI_STATE SurpriseRemovalOK;
    WDF_TRI_STATE HardwareDisabled;
    WDF_TRI_STATE NoDisplayInUI;
    ULONG Address;
    ULONG UINumber;
};
using PWDF_DEVICE_PNP_CAPABILITIES = WDF_DEVICE_PNP_CAPABILITIES*;

void WDF_DEVICE_PNP_CAPABILITIES_INIT(PWDF_DEVICE_PNP_CAPABILITIES caps);

void WdfFdoInitSetFilter(PWDFDEVICE_INIT deviceInit);
void WdfDeviceInitSetPowerPolicyOwnership(PWDFDEVICE_INIT deviceInit, BOOLEAN isPowerPolicyOwner);
void WdfDeviceInitSetPnpPowerEventCallbacks(PWDFDEVICE_INIT deviceInit,
                                            PWDF_PNPPOWER_EVENT_CALLBACKS pnpPowerEventCallbacks);
NTSTATUS WdfDeviceCreate(PWDFDEVICE_INIT* deviceInit, PWDF_OBJECT_ATTRIBUTES deviceAttributes, WDFDEVICE* device);
void WdfDeviceSetPnpCapabilities(WDFDEVICE device, PWDF_DEVICE_PNP_CAPABILITIES pnpCapabilities);
WDFDRIVER WdfDeviceGetDriver(WDFDEVICE device);
PDEVICE_OBJECT WdfDeviceWdmGetDeviceObject(WDFDEVICE device);

// ---- queues and requests ----

enum WDF_IO_QUEUE_DISPATCH_TYPE {
    WdfIoQueueDispatchInvalid = 0,
    WdfIoQueueDispatchSequential,
    WdfIoQueueDispatchParallel,
    WdfIoQueueDispatchManual
};

enum WDF_REQUEST_TYPE {
    WdfRequestTypeCreate = 0x0,
    WdfRequestTypeClose = 0x2,
    WdfRequestTypeRead = 0x3,
    WdfRequestTypeWrite = 0x4,
    WdfRequestTypeDeviceControl = 0xE,
    WdfRequestTypeDeviceControlInternal = 0xF,
    WdfRequestTypeOther = 0x1B
};

using PFN_WDF_IO_QUEUE_IO_DEFAULT = void (*)(WDFQUEUE queue, WDFREQUEST request);
using PFN_WDF_IO_QUEUE_IO_INTERNAL_DEVICE_CONTROL = void (*)(WDFQUEUE queue, WDFREQUEST request,
                                                             size_t outputBufferLength, size_t inputBufferLength,
                                                             ULONG ioControlCode);
using PFN_WDF_IO_QUEUE_IO_DEVICE_CONTROL = PFN_WDF_IO_QUEUE_IO_INTERNAL_DEVICE_CONTROL;

struct WDF_IO_QUEUE_CONFIG {
    ULONG Size;
    WDF_IO_QUEUE_DISPATCH_TYPE DispatchType;
    WDF_TRI_STATE PowerManaged;
    BOOLEAN AllowZeroLengthRequests;
    BOOLEAN DefaultQueue;
    PFN_WDF_IO_QUEUE_IO_DEFAULT EvtIoDefault;
    PFN_WDF_IO_QUEUE_IO_DEVICE_CONTROL EvtIoDeviceControl;
    PFN_WDF_IO_QUEUE_IO_INTERNAL_DEVICE_CONTROL EvtIoInternalDeviceControl;
};
using PWDF_IO_QUEUE_CONFIG = WDF_IO_QUEUE_CONFIG*;

void WDF_IO_QUEUE_CONFIG_INIT(PWDF_IO_QUEUE_CONFIG config, WDF_IO_QUEUE_DISPATCH_TYPE dispatchType);
void WDF_IO_QUEUE_CONFIG_INIT_DEFAULT_QUEUE(PWDF_IO_QUEUE_CONFIG config, WDF_IO_QUEUE_DISPATCH_TYPE dispatchType);

NTSTATUS WdfIoQueueCreate(WDFDEVICE device, PWDF_IO_QUEUE_CONFIG config, PWDF_OBJECT_ATTRIBUTES queueAttributes,
                          WDFQUEUE* queue);
WDFDEVICE WdfIoQueueGetDevice(WDFQUEUE queue);
// STATUS_NO_MORE_ENTRIES when the manual queue holds no request.
NTSTATUS WdfIoQueueRetrieveNextRequest(WDFQUEUE queue, WDFREQUEST* outRequest);

struct IO_STACK_LOCATION_PARAMETERS_DEVICE_IO_CONTROL {
    size_t OutputBufferLength;
    size_t InputBufferLength;
    ULONG IoControlCode;
    PVOID Type3InputBuffer;
};

struct WDF_REQUEST_PARAMETERS {
    USHORT Size;
    UCHAR MinorFunction;
    WDF_REQUEST_TYPE Type;
    union {
        struct {
            size_t Length;
            ULONG Key;
            LONGLONG DeviceOffset;
        } Read;
        struct {
            size_t Length;
            ULONG Key;
            LONGLONG DeviceOffset;
        } Write;
        IO_STACK_LOCATION_PARAMETERS_DEVICE_IO_CONTROL DeviceIoControl;
    } Parameters;
};
using PWDF_REQUEST_PARAMETERS = WDF_REQUEST_PARAMETERS*;

void WDF_REQUEST_PARAMETERS_INIT(PWDF_REQUEST_PARAMETERS parameters);
void WdfRequestGetParameters(WDFREQUEST request, PWDF_REQUEST_PARAMETERS parameters);
NTSTATUS WdfRequestForwardToIoQueue(WDFREQUEST request, WDFQUEUE destinationQueue);
WDFQUEUE WdfRequestGetIoQueue(WDFREQUEST request);
// STATUS_BUFFER_TOO_SMALL when the buffer is shorter than minimumRequiredSize.
NTSTATUS WdfRequestRetrieveOutputBuffer(WDFREQUEST request, size_t minimumRequiredSize, PVOID* buffer,
                                        size_t* length);
NTSTATUS WdfRequestRetrieveInputBuffer(WDFREQUEST request, size_t minimumRequiredSize, PVOID* buffer,
                                       size_t* length);
NTSTATUS WdfRequestRetrieveOutputMemory(WDFREQUEST request, WDFMEMORY* memory);
PIRP WdfRequestWdmGetIrp(WDFREQUEST request);
void WdfRequestSetInformation(WDFREQUEST request, ULONG_PTR information);
ULONG_PTR WdfRequestGetInformation(WDFREQUEST request);
void WdfRequestComplete(WDFREQUEST request, NTSTATUS status);
void WdfRequestCompleteWithInformation(WDFREQUEST request, NTSTATUS status, ULONG_PTR information);

// The IRP's stack location, as far as HID requests read it (METHOD_NEITHER buffers).
struct IO_STACK_LOCATION {
    union {
        IO_STACK_LOCATION_PARAMETERS_DEVICE_IO_CONTROL DeviceIoControl;
    } Parameters;
};
using PIO_STACK_LOCATION = IO_STACK_LOCATION*;
PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP irp);
// The IRP's user buffer, where the HID class puts its HID_XFER_PACKET.
PVOID IrpUserBuffer(PIRP irp);

// ---- memory ----

enum POOL_TYPE { NonPagedPool = 0, PagedPool = 1 };

NTSTATUS WdfMemoryCreate(PWDF_OBJECT_ATTRIBUTES attributes, POOL_TYPE poolType, ULONG poolTag, size_t bufferSize,
                         WDFMEMORY* memory, PVOID* buffer);
PVOID WdfMemoryGetBuffer(WDFMEMORY memory, size_t* bufferSize);
// STATUS_BUFFER_TOO_SMALL when the copy would run past the memory's end.
NTSTATUS WdfMemoryCopyFromBuffer(WDFMEMORY destinationMemory, size_t destinationOffset, PVOID buffer,
                                 size_t numBytesToCopyFrom);

struct WDF_MEMORY_DESCRIPTOR {
    PVOID Buffer;
    ULONG Length;
};
using PWDF_MEMORY_DESCRIPTOR = WDF_MEMORY_DESCRIPTOR*;
void WDF_MEMORY_DESCRIPTOR_INIT_BUFFER(PWDF_MEMORY_DESCRIPTOR descriptor, PVOID buffer, ULONG bufferLength);

// ---- spin lock ----

NTSTATUS WdfSpinLockCreate(PWDF_OBJECT_ATTRIBUTES spinLockAttributes, WDFSPINLOCK* spinLock);
void WdfSpinLockAcquire(WDFSPINLOCK spinLock);
void WdfSpinLockRelease(WDFSPINLOCK spinLock);

// ---- registry ----

using ACCESS_MASK = ULONG;
constexpr ACCESS_MASK KEY_QUERY_VALUE = 0x0001;
constexpr ACCESS_MASK KEY_SET_VALUE = 0x0002;
constexpr ACCESS_MASK KEY_CREATE_SUB_KEY = 0x0004;
constexpr ACCESS_MASK KEY_READ = 0x20019;
constexpr ACCESS_MASK KEY_WRITE = 0x20006;
constexpr ACCESS_MASK KEY_ALL_ACCESS = 0xF003F;
constexpr ACCESS_MASK STANDARD_RIGHTS_ALL = 0x1F0000;
constexpr ULONG REG_OPTION_NON_VOLATILE = 0;
// WdfRegistryCreateKey's createDisposition.
constexpr ULONG REG_CREATED_NEW_KEY = 1;
constexpr ULONG REG_OPENED_EXISTING_KEY = 2;

// parentKey nullptr with an absolute "\Registry\Machine\..." name opens from the root.
NTSTATUS WdfDriverOpenParametersRegistryKey(WDFDRIVER driver, ACCESS_MASK desiredAccess,
                                            PWDF_OBJECT_ATTRIBUTES keyAttributes, WDFKEY* key);
NTSTATUS WdfRegistryOpenKey(WDFKEY parentKey, PCUNICODE_STRING keyName, ACCESS_MASK desiredAccess,
                            PWDF_OBJECT_ATTRIBUTES keyAttributes, WDFKEY* key);
NTSTATUS WdfRegistryCreateKey(WDFKEY parentKey, PCUNICODE_STRING keyName, ACCESS_MASK desiredAccess,
                              ULONG createOptions, PULONG createDisposition, PWDF_OBJECT_ATTRIBUTES keyAttributes,
                              WDFKEY* key);
// Fails for an absent value and for one that is not REG_DWORD.
NTSTATUS WdfRegistryQueryULong(WDFKEY key, PCUNICODE_STRING valueName, ULONG* value);
NTSTATUS WdfRegistryAssignULong(WDFKEY key, PCUNICODE_STRING valueName, ULONG value);
void WdfRegistryClose(WDFKEY key);

// ---- USB ----

#pragma pack(push, 1)
struct USB_DEVICE_DESCRIPTOR {
    UCHAR bLength;
    UCHAR bDescriptorType;
    USHORT bcdUSB;
    UCHAR bDeviceClass;
    UCHAR bDeviceSubClass;
    UCHAR bDeviceProtocol;
    UCHAR bMaxPacketSize0;
    USHORT idVendor;
    USHORT idProduct;
    USHORT bcdDevice;
    UCHAR iManufacturer;
    UCHAR iProduct;
    UCHAR iSerialNumber;
    UCHAR bNumConfigurations;
};
#pragma pack(pop)
static_assert(sizeof(USB_DEVICE_DESCRIPTOR) == 18);
static_assert(offsetof(USB_DEVICE_DESCRIPTOR, idProduct) == 10);
using PUSB_DEVICE_DESCRIPTOR = USB_DEVICE_DESCRIPTOR*;

enum WDF_USB_PIPE_TYPE {
    WdfUsbPipeTypeInvalid = 0,
    WdfUsbPipeTypeControl,
    WdfUsbPipeTypeIsochronous,
    WdfUsbPipeTypeBulk,
    WdfUsbPipeTypeInterrupt
};

enum WdfUsbTargetDeviceSelectConfigType {
    WdfUsbTargetDeviceSelectConfigTypeInvalid = 0,
    WdfUsbTargetDeviceSelectConfigTypeDeconfig = 1,
    WdfUsbTargetDeviceSelectConfigTypeSingleInterface = 2,
    WdfUsbTargetDeviceSelectConfigTypeMultiInterface = 3,
};

struct WDF_USB_DEVICE_SELECT_CONFIG_PARAMS {
    ULONG Size;
    WdfUsbTargetDeviceSelectConfigType Type;
    struct {
        UCHAR NumberConfiguredPipes;
        WDFUSBINTERFACE ConfiguredUsbInterface;
    } SingleInterface;
};
using PWDF_USB_DEVICE_SELECT_CONFIG_PARAMS = WDF_USB_DEVICE_SELECT_CONFIG_PARAMS*;
void WDF_USB_DEVICE_SELECT_CONFIG_PARAMS_INIT_SINGLE_INTERFACE(PWDF_USB_DEVICE_SELECT_CONFIG_PARAMS params);

struct WDF_USB_PIPE_INFORMATION {
    ULONG Size;
    ULONG MaximumPacketSize;
    UCHAR EndpointAddress;
    UCHAR Interval;
    UCHAR SettingIndex;
    WDF_USB_PIPE_TYPE PipeType;
    ULONG MaximumTransferSize;
};
using PWDF_USB_PIPE_INFORMATION = WDF_USB_PIPE_INFORMATION*;

using PFN_WDF_USB_READER_COMPLETION_ROUTINE = void (*)(WDFUSBPIPE pipe, WDFMEMORY buffer, size_t numBytesTransferred,
                                                        WDFOBJECT context);
using PFN_WDF_USB_READERS_FAILED = BOOLEAN (*)(WDFUSBPIPE pipe, NTSTATUS status, NTSTATUS usbdStatus);

struct WDF_USB_CONTINUOUS_READER_CONFIG {
    ULONG Size;
    size_t TransferLength;
    size_t HeaderLength;
    size_t TrailerLength;
    UCHAR NumPendingReads;
    PWDF_OBJECT_ATTRIBUTES BufferAttributes;
    PFN_WDF_USB_READER_COMPLETION_ROUTINE EvtUsbTargetPipeReadComplete;
    WDFOBJECT EvtUsbTargetPipeReadCompleteContext;
    PFN_WDF_USB_READERS_FAILED EvtUsbTargetPipeReadersFailed;
};
using PWDF_USB_CONTINUOUS_READER_CONFIG = WDF_USB_CONTINUOUS_READER_CONFIG*;
void WDF_USB_CONTINUOUS_READER_CONFIG_INIT(PWDF_USB_CONTINUOUS_READER_CONFIG config,
                                           PFN_WDF_USB_READER_COMPLETION_ROUTINE evtUsbTargetPipeReadComplete,
                                           WDFOBJECT evtUsbTargetPipeReadCompleteContext, size_t transferLength);

enum WDF_USB_BMREQUEST_DIRECTION { BmRequestHostToDevice = 0, BmRequestDeviceToHost = 1 };
enum WDF_USB_BMREQUEST_TYPE { BmRequestStandard = 0, BmRequestClass = 1, BmRequestVendor = 2 };
enum WDF_USB_BMREQUEST_RECIPIENT {
    BmRequestToDevice = 0,
    BmRequestToInterface = 1,
    BmRequestToEndpoint = 2,
    BmRequestToOther = 3
};

#pragma pack(push, 1)
struct WDF_USB_CONTROL_SETUP_PACKET {
    union {
        struct {
            UCHAR Bm;
            UCHAR bRequest;
            USHORT wValue;
            USHORT wIndex;
            USHORT wLength;
        } Packet;
        UCHAR Generic[8];
    };
};
#pragma pack(pop)
static_assert(sizeof(WDF_USB_CONTROL_SETUP_PACKET) == 8);
using PWDF_USB_CONTROL_SETUP_PACKET = WDF_USB_CONTROL_SETUP_PACKET*;
void WDF_USB_CONTROL_SETUP_PACKET_INIT_VENDOR(PWDF_USB_CONTROL_SETUP_PACKET packet,
                                              WDF_USB_BMREQUEST_DIRECTION direction,
                                              WDF_USB_BMREQUEST_RECIPIENT recipient, UCHAR request, USHORT value,
                                              USHORT index);

struct WDF_REQUEST_SEND_OPTIONS {
    ULONG Size;
    ULONG Flags;
    LONGLONG Timeout;
};
using PWDF_REQUEST_SEND_OPTIONS = WDF_REQUEST_SEND_OPTIONS*;
constexpr ULONG WDF_REQUEST_SEND_OPTION_TIMEOUT = 0x00000001;
void WDF_REQUEST_SEND_OPTIONS_INIT(PWDF_REQUEST_SEND_OPTIONS options, ULONG flags);
void WDF_REQUEST_SEND_OPTIONS_SET_TIMEOUT(PWDF_REQUEST_SEND_OPTIONS options, LONGLONG timeout);

NTSTATUS WdfUsbTargetDeviceCreate(WDFDEVICE device, PWDF_OBJECT_ATTRIBUTES attributes, WDFUSBDEVICE* usbDevice);
NTSTATUS WdfUsbTargetDeviceSelectConfig(WDFUSBDEVICE usbDevice, PWDF_OBJECT_ATTRIBUTES pipeAttributes,
                                        PWDF_USB_DEVICE_SELECT_CONFIG_PARAMS params);
void WdfUsbTargetDeviceGetDeviceDescriptor(WDFUSBDEVICE usbDevice, PUSB_DEVICE_DESCRIPTOR usbDeviceDescriptor);
WDFUSBPIPE WdfUsbInterfaceGetConfiguredPipe(WDFUSBINTERFACE usbInterface, UCHAR pipeIndex,
                                            PWDF_USB_PIPE_INFORMATION pipeInfo);
void WdfUsbTargetPipeSetNoMaximumPacketSizeCheck(WDFUSBPIPE pipe);
NTSTATUS WdfUsbTargetPipeConfigContinuousReader(WDFUSBPIPE pipe, PWDF_USB_CONTINUOUS_READER_CONFIG config);
NTSTATUS WdfUsbTargetDeviceSendControlTransferSynchronously(WDFUSBDEVICE usbDevice, WDFREQUEST request,
                                                            PWDF_REQUEST_SEND_OPTIONS requestOptions,
                                                            PWDF_USB_CONTROL_SETUP_PACKET setupPacket,
                                                            PWDF_MEMORY_DESCRIPTOR memoryDescriptor,
                                                            PULONG bytesTransferred);
WDFIOTARGET WdfUsbTargetPipeGetIoTarget(WDFUSBPIPE pipe);
NTSTATUS WdfIoTargetStart(WDFIOTARGET ioTarget);

enum WDF_IO_TARGET_SENT_IO_ACTION {
    WdfIoTargetSentIoUndefined = 0,
    WdfIoTargetCancelSentIo,
    WdfIoTargetWaitForSentIoToComplete,
    WdfIoTargetLeaveSentIoPending
};
void WdfIoTargetStop(WDFIOTARGET ioTarget, WDF_IO_TARGET_SENT_IO_ACTION action);
