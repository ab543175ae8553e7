// Driver bugs that the real system would bugcheck on stop the run with a message.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "kavusb/kmdf/usermode/kmdf_sim.h"

namespace misuse_test {

WDFSPINLOCK MakeLock() {
    WDFSPINLOCK lock = nullptr;
    EXPECT_EQ(WdfSpinLockCreate(WDF_NO_OBJECT_ATTRIBUTES, &lock), STATUS_SUCCESS);
    return lock;
}

PDRIVER_OBJECT MakeDriver() {
    WDF_DRIVER_CONFIG config;
    WDF_DRIVER_CONFIG_INIT(&config, nullptr);
    PDRIVER_OBJECT object = kmdf::CreateDriverObject();
    EXPECT_EQ(WdfDriverCreate(object, nullptr, nullptr, &config, nullptr), STATUS_SUCCESS);
    return object;
}

class KmdfMisuseDeathTest : public ::testing::Test {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        kmdf::ResetFramework();
    }
    void TearDown() override { kmdf::ResetFramework(); }
};

TEST_F(KmdfMisuseDeathTest, DriverBugsAbortWithAMessage) {
    struct Case {
        const char* name;
        std::function<void()> bug;
        const char* message;
    };
    const Case cases[] = {
        {"completing a request twice",
         [] {
             WDFREQUEST request = kmdf::CreateRequest({});
             WdfRequestComplete(request, STATUS_SUCCESS);
             WdfRequestComplete(request, STATUS_SUCCESS);
         },
         "completed twice"},
        {"touching a request's buffer after completion",
         [] {
             kmdf::RequestSetup setup;
             setup.OutputLength = 8;
             WDFREQUEST request = kmdf::CreateRequest(setup);
             WdfRequestComplete(request, STATUS_SUCCESS);
             PVOID buffer = nullptr;
             WdfRequestRetrieveOutputBuffer(request, 1, &buffer, nullptr);
         },
         "after it was completed"},
        {"acquiring a spin lock twice",
         [] {
             WDFSPINLOCK lock = MakeLock();
             WdfSpinLockAcquire(lock);
             WdfSpinLockAcquire(lock);
         },
         "acquired twice"},
        {"releasing a spin lock not held", [] { WdfSpinLockRelease(MakeLock()); }, "does not hold it"},
        {"releasing another thread's spin lock",
         [] {
             WDFSPINLOCK lock = MakeLock();
             std::thread([lock] { WdfSpinLockAcquire(lock); }).join();
             WdfSpinLockRelease(lock);
         },
         "does not hold it"},
        {"waiting under a spin lock",
         [] {
             WdfSpinLockAcquire(MakeLock());
             LARGE_INTEGER interval;
             interval.QuadPart = WDF_REL_TIMEOUT_IN_MS(1);
             KeDelayExecutionThread(KernelMode, 0, &interval);
         },
         "above PASSIVE_LEVEL"},
        {"a deleted handle",
         [] {
             WDFMEMORY memory = nullptr;
             WdfMemoryCreate(WDF_NO_OBJECT_ATTRIBUTES, NonPagedPool, 0, 8, &memory, nullptr);
             WdfObjectDelete(memory);
             WdfMemoryGetBuffer(memory, nullptr);
         },
         "does not exist"},
        {"a handle of another kind", [] { WdfMemoryGetBuffer(reinterpret_cast<WDFMEMORY>(MakeLock()), nullptr); },
         "WDFSPINLOCK handle where a WDFMEMORY"},
        {"writing an error log entry twice",
         [] {
             PVOID entry = IoAllocateErrorLogEntry(MakeDriver(), 64);
             IoWriteErrorLogEntry(entry);
             IoWriteErrorLogEntry(entry);
         },
         "written already"},
        {"writing an error log entry the reset freed",
         [] {
             PVOID entry = IoAllocateErrorLogEntry(MakeDriver(), 64);
             kmdf::ResetFramework();
             IoWriteErrorLogEntry(entry);
         },
         "not an entry"},
        {"deleting a request the driver received", [] { WdfObjectDelete(kmdf::CreateRequest({})); },
         "completed, not deleted"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_DEATH(c.bug(), c.message);
    }
}

}  // namespace misuse_test
