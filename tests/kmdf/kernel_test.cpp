// Spin locks and IRQL, the clock, the event log, power requests.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "kavusb/kmdf/usermode/kmdf_sim.h"

namespace kernel_test {

class Kernel : public ::testing::Test {
protected:
    void SetUp() override { kmdf::ResetFramework(); }
    void TearDown() override { kmdf::ResetFramework(); }

    static WDFSPINLOCK MakeLock() {
        WDFSPINLOCK lock = nullptr;
        EXPECT_EQ(WdfSpinLockCreate(WDF_NO_OBJECT_ATTRIBUTES, &lock), STATUS_SUCCESS);
        return lock;
    }

    static PDRIVER_OBJECT Driver() {
        WDF_DRIVER_CONFIG config;
        WDF_DRIVER_CONFIG_INIT(&config, nullptr);
        PDRIVER_OBJECT object = kmdf::CreateDriverObject();
        EXPECT_EQ(WdfDriverCreate(object, nullptr, nullptr, &config, nullptr), STATUS_SUCCESS);
        return object;
    }
};

TEST_F(Kernel, SpinLockRaisesIrqlAndReleaseRestoresIt) {
    WDFSPINLOCK outer = MakeLock();
    WDFSPINLOCK inner = MakeLock();
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    WdfSpinLockAcquire(outer);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    WdfSpinLockAcquire(inner);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    WdfSpinLockRelease(inner);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL) << "the outer lock is still held";
    WdfSpinLockRelease(outer);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);

    // The level is per thread.
    WdfSpinLockAcquire(outer);
    KIRQL elsewhere = DISPATCH_LEVEL;
    std::thread([&elsewhere] { elsewhere = KeGetCurrentIrql(); }).join();
    EXPECT_EQ(elsewhere, PASSIVE_LEVEL);
    WdfSpinLockRelease(outer);
}

TEST_F(Kernel, SpinLockExcludesTheOtherThread) {
    WDFSPINLOCK lock = MakeLock();
    constexpr int kRounds = 20000;
    int counter = 0;  // deliberately not atomic: only the lock protects it
    bool irqlWrong = false;
    std::atomic<bool> otherIrqlWrong{false};
    auto work = [&](bool& wrong) {
        for (int i = 0; i < kRounds; ++i) {
            WdfSpinLockAcquire(lock);
            if (KeGetCurrentIrql() != DISPATCH_LEVEL) wrong = true;
            const int seen = counter;
            std::this_thread::yield();  // invites the other thread in, were the lock broken
            counter = seen + 1;
            WdfSpinLockRelease(lock);
            if (KeGetCurrentIrql() != PASSIVE_LEVEL) wrong = true;
        }
    };
    bool otherWrong = false;
    std::thread other([&] {
        work(otherWrong);
        otherIrqlWrong = otherWrong;
    });
    work(irqlWrong);
    other.join();
    EXPECT_EQ(counter, 2 * kRounds);
    EXPECT_FALSE(irqlWrong);
    EXPECT_FALSE(otherIrqlWrong.load());
}

TEST_F(Kernel, ErrorLogEntriesAreAllocatedOnlyInTheSizesThatHoldAPacket) {
    PDRIVER_OBJECT driver = Driver();
    struct Case {
        unsigned size;
        bool allocated;
    };
    const Case cases[] = {
        {0, false},  {43, false},  // shorter than IO_ERROR_LOG_PACKET
        {44, true},  {48, true},
        {255, true}, {256, false},  // a size computed past 255 wraps to 0 in the UCHAR the routine takes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "size " << c.size);
        auto* entry = static_cast<std::uint8_t*>(IoAllocateErrorLogEntry(driver, static_cast<UCHAR>(c.size)));
        ASSERT_EQ(entry != nullptr, c.allocated);
        if (entry == nullptr) continue;
        for (unsigned i = 0; i < c.size; ++i) ASSERT_EQ(entry[i], 0) << "byte " << i;
        std::memset(entry, 0x6B, c.size);  // the whole entry is ours to fill (ASan checks)
        IoWriteErrorLogEntry(entry);
        const std::vector<kmdf::ErrorLogEntry> log = kmdf::TakeErrorLog();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].IoObject, driver);
        ASSERT_EQ(log[0].Bytes.size(), c.size);
        EXPECT_EQ(log[0].Bytes, std::vector<std::uint8_t>(c.size, 0x6B));
    }
    EXPECT_TRUE(kmdf::ErrorLog().empty());

    EXPECT_EQ(IoAllocateErrorLogEntry(nullptr, 64), nullptr);
    // Allocated, never written: ResetFramework frees it (the leak checker watches).
    EXPECT_NE(IoAllocateErrorLogEntry(driver, 200), nullptr);
}

TEST_F(Kernel, ErrorLogAllocationCanBeMadeToFail) {
    PDRIVER_OBJECT driver = Driver();
    kmdf::FailErrorLogAllocation(true);
    EXPECT_EQ(IoAllocateErrorLogEntry(driver, 64), nullptr);
    kmdf::FailErrorLogAllocation(false);
    PVOID entry = IoAllocateErrorLogEntry(driver, 64);
    ASSERT_NE(entry, nullptr);
    IoWriteErrorLogEntry(entry);
    EXPECT_EQ(kmdf::ErrorLog().size(), 1u);

    kmdf::FailErrorLogAllocation(true);
    kmdf::ResetFramework();
    EXPECT_TRUE(kmdf::ErrorLog().empty());
    EXPECT_NE(IoAllocateErrorLogEntry(Driver(), 64), nullptr) << "reset ends the failure";
}

TEST_F(Kernel, InsertionStringIsReadBackWithinTheEntry) {
    PDRIVER_OBJECT driver = Driver();
    struct Case {
        const char* name;
        UCHAR size;
        USHORT strings;
        USHORT offset;
        std::u16string text;  // written at offset, terminated if it fits
        std::u16string expected;
    };
    const Case cases[] = {
        {"terminated", 64, 1, 40, u"KavUSB", u"KavUSB"},
        {"at the end of the packet", 60, 1, 44, u"ok", u"ok"},
        {"no strings", 64, 0, 40, u"KavUSB", u""},
        {"runs to the end of the entry", 50, 1, 40, u"abcdefgh", u"abcde"},
        {"offset past the entry", 48, 1, 200, u"", u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto* entry = static_cast<PIO_ERROR_LOG_PACKET>(IoAllocateErrorLogEntry(driver, c.size));
        ASSERT_NE(entry, nullptr);
        entry->NumberOfStrings = c.strings;
        entry->StringOffset = c.offset;
        entry->ErrorCode = NtStatus(0xC0040004);
        auto* bytes = reinterpret_cast<std::uint8_t*>(entry);
        for (size_t i = 0; i < c.text.size() && c.offset + (i + 1) * 2 <= c.size; ++i)
            std::memcpy(bytes + c.offset + i * 2, &c.text[i], 2);
        IoWriteErrorLogEntry(entry);
        const kmdf::ErrorLogEntry& written = kmdf::ErrorLog().back();
        EXPECT_EQ(written.InsertionString(), c.expected);
        EXPECT_EQ(written.Packet().ErrorCode, NtStatus(0xC0040004));
    }
    EXPECT_EQ(kmdf::ErrorLog().size(), std::size(cases));
}

class RecordingClock final : public kmdf::Clock {
public:
    LONGLONG Now() override { return now; }
    void Delay(LONGLONG duration) override {
        delays.push_back(duration);
        now += duration;
    }
    LONGLONG now = 0;
    std::vector<LONGLONG> delays;
};

TEST_F(Kernel, DelayWaitsOnTheInjectedClock) {
    constexpr LONGLONG kMax = std::numeric_limits<LONGLONG>::max();
    struct Case {
        const char* name;
        LONGLONG start;
        LONGLONG interval;
        LONGLONG after;
    };
    const Case cases[] = {
        {"relative 5 ms", 1000, WDF_REL_TIMEOUT_IN_MS(5), 1000 + 50000},
        {"relative 100 ns", 1000, -1, 1001},
        {"absolute, ahead", 1000, 7000, 7000},
        {"absolute, passed", 9000, 7000, 9000},
        {"zero", 1000, 0, 1000},
        {"longest relative wait", 0, std::numeric_limits<LONGLONG>::min(), kMax},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kmdf::VirtualClock clock(c.start);
        kmdf::SetClock(&clock);
        EXPECT_EQ(&kmdf::CurrentClock(), &clock);
        LARGE_INTEGER interval;
        interval.QuadPart = c.interval;
        EXPECT_EQ(KeDelayExecutionThread(KernelMode, 0, &interval), STATUS_SUCCESS);
        LARGE_INTEGER now;
        KeQuerySystemTime(&now);
        EXPECT_EQ(now.QuadPart, c.after);
        EXPECT_EQ(KeQueryInterruptTime(), static_cast<ULONGLONG>(c.after));
        kmdf::SetClock(nullptr);
    }

    // A clock of the simulator's own sees the durations.
    RecordingClock recording;
    recording.now = 500;
    kmdf::SetClock(&recording);
    LARGE_INTEGER interval;
    interval.QuadPart = WDF_REL_TIMEOUT_IN_MS(2);
    KeDelayExecutionThread(KernelMode, 0, &interval);
    interval.QuadPart = 30500;
    KeDelayExecutionThread(KernelMode, 0, &interval);
    EXPECT_EQ(recording.delays, (std::vector<LONGLONG>{20000, 10000}));
}

TEST_F(Kernel, BuiltInClockStartsAtZeroAfterReset) {
    LARGE_INTEGER interval;
    interval.QuadPart = WDF_REL_TIMEOUT_IN_MS(3);
    KeDelayExecutionThread(KernelMode, 0, &interval);
    LARGE_INTEGER now;
    KeQuerySystemTime(&now);
    EXPECT_EQ(now.QuadPart, 30000);

    kmdf::VirtualClock mine(123);
    kmdf::SetClock(&mine);
    kmdf::ResetFramework();
    EXPECT_NE(&kmdf::CurrentClock(), &mine);
    KeQuerySystemTime(&now);
    EXPECT_EQ(now.QuadPart, 0);
}

TEST_F(Kernel, UserPresentRequestsAreCounted) {
    struct Case {
        EXECUTION_STATE flags;
        std::uint64_t countAfter;
    };
    const Case cases[] = {
        {ES_USER_PRESENT, 1},
        {ES_SYSTEM_REQUIRED, 1},
        {ES_USER_PRESENT | ES_CONTINUOUS, 2},
        {ES_DISPLAY_REQUIRED | ES_SYSTEM_REQUIRED, 2},
        {0, 2},
        {ES_USER_PRESENT | ES_DISPLAY_REQUIRED, 3},
    };
    EXPECT_EQ(kmdf::UserPresentCount(), 0u);
    for (const Case& c : cases) {
        PoSetSystemState(c.flags);
        EXPECT_EQ(kmdf::UserPresentCount(), c.countAfter) << "flags " << c.flags;
    }
    kmdf::ResetFramework();
    EXPECT_EQ(kmdf::UserPresentCount(), 0u);
}

}  // namespace kernel_test
