// The Win32 platform's readers, sinks and registry reads against the real calls. Under Wine
// the only HID devices are its virtual mouse and keyboard (vendor 0x845E): reads on them stay
// pending, which is what cancellation needs.
#include <gtest/gtest.h>

#include <windows.h>
// After <windows.h>, which it relies on.
#include <dbt.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devicelib/include/KavLib.h"
#include "devicelib/platform/win32/win32_platform.h"

namespace kav::platform::win32 {
namespace {

using namespace std::chrono_literals;

template <typename Predicate>
bool WaitUntil(Predicate done, std::chrono::milliseconds limit = 3000ms) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

std::u16string Lower(std::u16string text) {
    for (char16_t& c : text)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + (u'a' - u'A'));
    return text;
}

// A HID device whose reads never complete by themselves; kInvalidHandle when there is none.
Handle OpenQuietHidDevice() {
    const auto paths = Win32PlatformInstance().EnumerateHidInterfaces();
    if (!paths) return kInvalidHandle;
    for (const std::u16string& path : *paths)
        if (Lower(path).find(u"vid_845e") != std::u16string::npos) {
            Handle handle = Win32PlatformInstance().OpenHid(path, true);
            if (IsValidHandle(handle)) return handle;
        }
    return kInvalidHandle;
}

TEST(Win32InputReader, RefusesWhatCannotBeRead) {
    Win32Platform& platform = Win32PlatformInstance();
    EXPECT_EQ(platform.CreateInputReader(kInvalidHandle, 22), nullptr);
    EXPECT_EQ(platform.CreateInputReader(nullptr, 22), nullptr);
    HANDLE process = GetCurrentProcess();
    EXPECT_EQ(platform.CreateInputReader(process, 0), nullptr);
}

TEST(Win32InputReader, CompletedReadsCopyTheReportAndFailuresEndTheRead) {
    std::array<wchar_t, MAX_PATH + 1> directory{}, name{};
    GetTempPathW(static_cast<DWORD>(directory.size()), directory.data());
    ASSERT_NE(GetTempFileNameW(directory.data(), L"kav", 0, name.data()), 0u);
    HANDLE file = CreateFileW(name.data(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    Win32Platform& platform = Win32PlatformInstance();
    {
        // An empty file: the read fails at its end.
        auto reader = platform.CreateInputReader(file, 4);
        ASSERT_NE(reader, nullptr);
        std::array<uint8_t, 8> buffer{};
        EXPECT_EQ(reader->Read(buffer, 1000).status, ReadStatus::Failed);
    }
    const std::array<uint8_t, 6> bytes{0x30, 1, 2, 3, 4, 5};
    OVERLAPPED at{};
    DWORD written = 0;
    at.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &at)) {
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    }
    ASSERT_TRUE(GetOverlappedResult(file, &at, &written, TRUE));
    CloseHandle(at.hEvent);

    struct Case {
        std::size_t reportLength;
        std::size_t bufferLength;
        std::size_t expected;
    };
    // A report is cut to the reader's length and to the caller's buffer.
    for (const Case& c : {Case{4, 8, 4}, Case{6, 3, 3}}) {
        SCOPED_TRACE(c.reportLength);
        auto reader = platform.CreateInputReader(file, c.reportLength);
        ASSERT_NE(reader, nullptr);
        std::vector<uint8_t> buffer(c.bufferLength, 0xEE);
        const ReadResult result = reader->Read(buffer, 1000);
        ASSERT_EQ(result.status, ReadStatus::Report);
        EXPECT_EQ(result.length, c.expected);
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + c.expected, bytes.begin()));
    }
    CloseHandle(file);
    DeleteFileW(name.data());
}

TEST(Win32InputReader, APendingReadOnAHidDeviceIsCancelledBeforeItsMemoryGoes) {
    Handle device = OpenQuietHidDevice();
    if (!IsValidHandle(device)) GTEST_SKIP() << "no HID device whose reads stay pending";
    Win32Platform& platform = Win32PlatformInstance();
    {
        auto reader = platform.CreateInputReader(device, 64);
        ASSERT_NE(reader, nullptr);
        std::array<uint8_t, 64> buffer{};
        // Slices keep the same read pending.
        EXPECT_EQ(reader->Read(buffer, 30).status, ReadStatus::TimedOut);
        EXPECT_EQ(reader->Read(buffer, 30).status, ReadStatus::TimedOut);

        // Cancel from another thread ends a long wait at once.
        std::thread canceller([&] {
            std::this_thread::sleep_for(50ms);
            reader->Cancel();
        });
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(reader->Read(buffer, 20000).status, ReadStatus::Cancelled);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
        canceller.join();

        // A cancel with no Read in progress is taken by the next one, which reads nothing.
        reader->Cancel();
        EXPECT_EQ(reader->Read(buffer, 20000).status, ReadStatus::Cancelled);
        // The reader then reads again, and leaves this read pending for its destructor.
        EXPECT_EQ(reader->Read(buffer, 30).status, ReadStatus::TimedOut);
    }
    // The destructor cancelled and waited: a second reader on the handle starts cleanly.
    auto again = platform.CreateInputReader(device, 64);
    ASSERT_NE(again, nullptr);
    std::array<uint8_t, 64> buffer{};
    EXPECT_EQ(again->Read(buffer, 30).status, ReadStatus::TimedOut);
    again.reset();
    EXPECT_TRUE(platform.Close(device));
}

TEST(Win32InputReader, ClosingTheHandleFailsTheRead) {
    Handle device = OpenQuietHidDevice();
    if (!IsValidHandle(device)) GTEST_SKIP() << "no HID device whose reads stay pending";
    auto reader = Win32PlatformInstance().CreateInputReader(device, 64);
    ASSERT_NE(reader, nullptr);
    std::array<uint8_t, 64> buffer{};
    EXPECT_EQ(reader->Read(buffer, 30).status, ReadStatus::TimedOut);
    CancelIoEx(device, nullptr);
    EXPECT_EQ(reader->Read(buffer, 5000).status, ReadStatus::Failed);
    EXPECT_TRUE(Win32PlatformInstance().Close(device));
    EXPECT_EQ(reader->Read(buffer, 30).status, ReadStatus::Failed);
}

void SendMouse(DWORD flags) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    input.mi.dx = 1;
    SendInput(1, &input, sizeof(input));
}

TEST(Win32RawInput, HiddenSinkReceivesMouseInputOnItsOwnThreadUntilItGoes) {
    struct Seen {
        std::mutex mutex;
        std::vector<RawInputEvent> events;
        std::thread::id thread;
    } seen;
    const std::array<RawInputUsage, 2> usages{{{0x01, 0x02}, {0x0D, 0x04}}};
    auto registration = Win32PlatformInstance().RegisterRawInput(usages, [&](const RawInputEvent& event) {
        std::lock_guard lock(seen.mutex);
        seen.events.push_back(event);
        seen.thread = std::this_thread::get_id();
    });
    ASSERT_NE(registration, nullptr);
    EXPECT_NE(FindWindowW(kRawInputSinkClass, nullptr), nullptr);
    auto count = [&] {
        std::lock_guard lock(seen.mutex);
        return seen.events.size();
    };
    // The injected input can miss a sink that has only just registered: send until one arrives.
    bool arrived = false;
    for (int attempt = 0; attempt < 20 && !arrived; ++attempt) {
        SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTDOWN);
        SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTUP);
        arrived = WaitUntil([&] { return count() >= 2; }, 250ms);
    }
    ASSERT_TRUE(arrived);
    {
        std::lock_guard lock(seen.mutex);
        EXPECT_NE(seen.thread, std::this_thread::get_id());
        uint16_t flags = 0;
        for (const RawInputEvent& event : seen.events) {
            EXPECT_EQ(event.kind, RawInputEvent::Kind::Mouse);
            EXPECT_FALSE(event.deviceName.empty());
            flags = static_cast<uint16_t>(flags | event.mouseButtonFlags);
        }
        EXPECT_EQ(flags & (kMouseLeftDown | kMouseLeftUp), kMouseLeftDown | kMouseLeftUp);
    }

    registration.reset();
    EXPECT_EQ(FindWindowW(kRawInputSinkClass, nullptr), nullptr);
    const std::size_t before = count();
    SendMouse(MOUSEEVENTF_MOVE);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(count(), before);
    // Registering again after the first went works from scratch.
    auto again = Win32PlatformInstance().RegisterRawInput(usages, [](const RawInputEvent&) {});
    EXPECT_NE(again, nullptr);
}

TEST(Win32RawInput, RefusesAnEmptyUsageList) {
    EXPECT_EQ(Win32PlatformInstance().RegisterRawInput({}, [](const RawInputEvent&) {}), nullptr);
}

// What Windows broadcasts for a HID interface, with its path after the header.
struct InterfaceBroadcast {
    DEV_BROADCAST_DEVICEINTERFACE_W header{};
    wchar_t rest[128]{};
};

TEST(Win32DeviceChange, OnlyInterfaceArrivalAndRemovalArePassedOnInOrder) {
    std::mutex mutex;
    std::vector<std::pair<DeviceChange, std::u16string>> events;
    std::thread::id thread;
    auto registration =
        Win32PlatformInstance().RegisterDeviceChange([&](DeviceChange change, const std::u16string& path) {
            std::lock_guard lock(mutex);
            events.emplace_back(change, path);
            thread = std::this_thread::get_id();
        });
    ASSERT_NE(registration, nullptr);
    HWND window = FindWindowW(kDeviceChangeSinkClass, nullptr);
    ASSERT_NE(window, nullptr);

    auto broadcast = [&](WPARAM event, const wchar_t* path) {
        InterfaceBroadcast message;
        message.header.dbcc_size = sizeof(message);
        message.header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        wcsncpy(message.header.dbcc_name, path, 120);
        SendMessageW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&message));
    };
    broadcast(DBT_DEVICEARRIVAL, L"\\\\?\\HID#VID_4B1D&PID_0A31&Col01#1");
    broadcast(DBT_DEVICEQUERYREMOVE, L"\\\\?\\HID#VID_4B1D&PID_0A31&Col01#1");
    broadcast(DBT_DEVICEREMOVEPENDING, L"\\\\?\\HID#VID_4B1D&PID_0A31&Col01#1");
    SendMessageW(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    DEV_BROADCAST_HDR volume{sizeof(DEV_BROADCAST_HDR), DBT_DEVTYP_VOLUME, 0};
    SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume));
    broadcast(DBT_DEVICEREMOVECOMPLETE, L"\\\\?\\HID#VID_4B1D&PID_0A31&Col02#1");

    {
        std::lock_guard lock(mutex);
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(events[0].first, DeviceChange::Arrival);
        EXPECT_EQ(events[0].second, u"\\\\?\\HID#VID_4B1D&PID_0A31&Col01#1");
        EXPECT_EQ(events[1].first, DeviceChange::RemoveComplete);
        EXPECT_EQ(events[1].second, u"\\\\?\\HID#VID_4B1D&PID_0A31&Col02#1");
        EXPECT_NE(thread, std::this_thread::get_id());
    }
    registration.reset();
    EXPECT_EQ(FindWindowW(kDeviceChangeSinkClass, nullptr), nullptr);
}

std::vector<std::pair<uint32_t, DWORD>> g_kavLibNotified;

void RecordKavLibNotify(uint32_t event, uint32_t parameter) {
    EXPECT_EQ(parameter, 0u);
    g_kavLibNotified.emplace_back(event, GetCurrentThreadId());
}

TEST(Win32DeviceNotify, KavLibsCallbackRunsInTheRegisteringThreadsMessageLoop) {
    SetPlatform(&Win32PlatformInstance());
    g_kavLibNotified.clear();
    ASSERT_EQ(Nerio_RegisterDeviceNotifyCallback(RecordKavLibNotify), 1);
    HWND msgWnd = FindWindowW(L"MsgWnd", nullptr);
    ASSERT_NE(msgWnd, nullptr);
    EXPECT_EQ(GetWindowThreadProcessId(msgWnd, nullptr), GetCurrentThreadId());
    EXPECT_FALSE(IsWindowVisible(msgWnd));
    HWND sink = FindWindowW(kDeviceChangeSinkClass, nullptr);
    ASSERT_NE(sink, nullptr);

    InterfaceBroadcast arrival;
    arrival.header.dbcc_size = sizeof(arrival);
    arrival.header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    SendMessageW(sink, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&arrival));
    // A volume's arrival is broadcast to every top-level window, MsgWnd too: not a HID interface.
    DEV_BROADCAST_HDR volume{sizeof(DEV_BROADCAST_HDR), DBT_DEVTYP_VOLUME, 0};
    SendMessageW(msgWnd, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume));
    SendMessageW(sink, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(&arrival));
    EXPECT_TRUE(g_kavLibNotified.empty());  // only this thread's dispatch runs it

    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    const std::vector<std::pair<uint32_t, DWORD>> expected{{0x8000, GetCurrentThreadId()},
                                                           {0x8004, GetCurrentThreadId()}};
    EXPECT_EQ(g_kavLibNotified, expected);

    ASSERT_EQ(Nerio_UnRegisterDeviceNotifyCallback(), 1);
    EXPECT_EQ(FindWindowW(L"MsgWnd", nullptr), nullptr);
    EXPECT_EQ(FindWindowW(kDeviceChangeSinkClass, nullptr), nullptr);
    // The class stayed registered: a new registration makes its window from it.
    ASSERT_EQ(Nerio_RegisterDeviceNotifyCallback(RecordKavLibNotify), 1);
    EXPECT_EQ(Nerio_UnRegisterDeviceNotifyCallback(), 1);
    SetPlatform(nullptr);
}

TEST(Win32InputReader, KavLibsTouchListenerStopsAPendingReadOnAHidDevice) {
    Handle device = OpenQuietHidDevice();
    if (!IsValidHandle(device)) GTEST_SKIP() << "no HID device whose reads stay pending";
    SetPlatform(&Win32PlatformInstance());
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(Nerio_RegisterTouchDataCallback(device, [](unsigned char*) { ADD_FAILURE(); }), 1);
        ASSERT_EQ(Nerio_RegisterImageDataCallback(device, [](unsigned char*, int, unsigned char*, int) {}), 1);
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(Nerio_UnRegisterTouchDataCallback(), 1);
        EXPECT_EQ(Nerio_UnRegisterImageDataCallback(), 1);
    }
    EXPECT_TRUE(Win32PlatformInstance().Close(device));
    SetPlatform(nullptr);
}

// `reg.exe add`, as a test script or an administrator writes the value.
bool RegAdd(const std::wstring& arguments) {
    std::wstring command = L"reg.exe add " + arguments + L" /f";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process)) {
        return false;
    }
    WaitForSingleObject(process.hProcess, 30000);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code == 0;
}

TEST(Win32Registry, ValuesWrittenByRegAddReadBackInTheOrderAsked) {
    const std::wstring key = L"Software\\KavTests\\Win32Platform";
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    ASSERT_TRUE(RegAdd(L"\"HKCU\\" + key + L"\" /v Mode /t REG_DWORD /d 305419896"));
    ASSERT_TRUE(RegAdd(L"\"HKCU\\" + key + L"\" /v Name /t REG_SZ /d Kav"));

    Win32Platform& platform = Win32PlatformInstance();
    const std::u16string keyName(key.begin(), key.end());
    const std::u16string_view names[] = {u"Name", u"Missing", u"Mode", std::u16string_view(u"Mode\0X", 6)};
    const auto values = platform.QueryRegistryValues(RegistryRoot::CurrentUser, keyName, names);
    ASSERT_TRUE(values.has_value());
    ASSERT_EQ(values->size(), 4u);
    ASSERT_TRUE((*values)[0].has_value());
    EXPECT_EQ((*values)[0]->type, kRegSz);
    EXPECT_EQ((*values)[0]->bytes, (std::vector<uint8_t>{'K', 0, 'a', 0, 'v', 0, 0, 0}));
    EXPECT_FALSE((*values)[1].has_value());
    EXPECT_EQ(AsDword((*values)[2]), 0x12345678u);
    // A name with a NUL inside would reach the OS as another name.
    EXPECT_FALSE((*values)[3].has_value());

    EXPECT_FALSE(platform.QueryRegistryValues(RegistryRoot::CurrentUser, keyName + u"\\Absent", names).has_value());
    EXPECT_FALSE(platform.QueryRegistryValues(RegistryRoot::LocalMachine, keyName, names).has_value());
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
}

TEST(Win32HidStrings, RefusedForHandlesThatAreNotHid) {
    Win32Platform& platform = Win32PlatformInstance();
    EXPECT_FALSE(platform.GetHidString(kInvalidHandle, HidString::Product).has_value());
    Handle device = OpenQuietHidDevice();
    if (!IsValidHandle(device)) GTEST_SKIP() << "no HID device to name";
    const auto product = platform.GetHidString(device, HidString::Product);
    ASSERT_TRUE(product.has_value());
    EXPECT_FALSE(product->empty());
    EXPECT_EQ(product->find(u'\0'), std::u16string::npos);
    EXPECT_TRUE(platform.Close(device));
}

}  // namespace
}  // namespace kav::platform::win32
