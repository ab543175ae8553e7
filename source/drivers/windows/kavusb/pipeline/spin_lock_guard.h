// The one way the driver holds a framework spin lock: for exactly one scope.
#pragma once

#include "kavusb/kmdf/wdf.h"

namespace kav {

// Acquires the lock for the guard's scope (raising to DISPATCH_LEVEL) and releases it
// on every way out. A null lock is held by nothing: it stands for a lock not created yet,
// and only code that can run before any concurrent caller exists may meet one.
class SpinLockGuard {
public:
    explicit SpinLockGuard(WDFSPINLOCK lock) : lock_(lock) {
        if (lock_ != nullptr) WdfSpinLockAcquire(lock_);
    }
    ~SpinLockGuard() {
        if (lock_ != nullptr) WdfSpinLockRelease(lock_);
    }
    SpinLockGuard(const SpinLockGuard&) = delete;
    SpinLockGuard& operator=(const SpinLockGuard&) = delete;

private:
    WDFSPINLOCK lock_;
};

}  // namespace kav
