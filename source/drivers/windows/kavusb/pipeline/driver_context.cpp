#include "driver_context.h"

#include <cstring>

#include "spin_lock_guard.h"

namespace kav {
namespace {

// Set once by CreateDriverConfigLock before any device exists; only read afterwards.
WDFSPINLOCK g_configLock = nullptr;
WDFDRIVER g_configLockDriver = nullptr;

WDFSPINLOCK ConfigLockFor(WDFDRIVER driver) {
    return driver != nullptr && driver == g_configLockDriver ? g_configLock : nullptr;
}

}  // namespace

NTSTATUS CreateDriverConfigLock(WDFDRIVER driver) {
    if (driver == nullptr) return STATUS_INVALID_PARAMETER;
    WDF_OBJECT_ATTRIBUTES attributes;
    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    attributes.ParentObject = driver;
    WDFSPINLOCK lock = nullptr;
    const NTSTATUS status = WdfSpinLockCreate(&attributes, &lock);
    if (!NT_SUCCESS(status)) return status;
    g_configLock = lock;
    g_configLockDriver = driver;
    return STATUS_SUCCESS;
}

void SnapshotDriverConfig(WDFDRIVER driver, DRIVER_CONFIG_SNAPSHOT* snapshot) {
    if (snapshot == nullptr) return;
    const DRIVER_CONTEXT* context = driver != nullptr ? NerioGetDriverContext(driver) : nullptr;
    if (context == nullptr) {
        std::memset(snapshot, 0, sizeof *snapshot);
        return;
    }
    SpinLockGuard lock(ConfigLockFor(driver));
    std::memcpy(&snapshot->Config, &context->Config, sizeof snapshot->Config);
    snapshot->MaxSpeed = context->MaxSpeed;
    snapshot->VelocityRefCount = context->VelocityRefCount;
    snapshot->VelocityWeight = context->VelocityWeight;
}

NTSTATUS ReplaceDriverConfig(WDFDRIVER driver, const _NERIO_DRIVER_CONFIG& config) {
    DRIVER_CONTEXT* context = driver != nullptr ? NerioGetDriverContext(driver) : nullptr;
    WDFSPINLOCK lock = ConfigLockFor(driver);
    if (context == nullptr || lock == nullptr) return STATUS_INVALID_DEVICE_STATE;
    SpinLockGuard guard(lock);
    std::memcpy(&context->Config, &config, sizeof context->Config);
    return STATUS_SUCCESS;
}

NTSTATUS ReplaceSpeedParameters(WDFDRIVER driver, ULONG maxSpeed, UCHAR velocityRefCount, UCHAR velocityWeight) {
    DRIVER_CONTEXT* context = driver != nullptr ? NerioGetDriverContext(driver) : nullptr;
    WDFSPINLOCK lock = ConfigLockFor(driver);
    if (context == nullptr || lock == nullptr) return STATUS_INVALID_DEVICE_STATE;
    SpinLockGuard guard(lock);
    context->MaxSpeed = maxSpeed;
    context->VelocityRefCount = velocityRefCount;
    context->VelocityWeight = velocityWeight;
    return STATUS_SUCCESS;
}

}  // namespace kav
