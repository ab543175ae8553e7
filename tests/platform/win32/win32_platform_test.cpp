#include "devicelib/platform/win32/win32_platform.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>

namespace kav::platform::win32 {
namespace {

std::u16string ToU16(const std::wstring& wide) {
    return std::u16string(wide.begin(), wide.end());
}

std::wstring TempDirectory() {
    std::array<wchar_t, MAX_PATH + 1> buffer{};
    const DWORD length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    return std::wstring(buffer.data(), length);
}

// A file of our own, so that the tests never depend on which devices are present.
class TempFile {
public:
    TempFile() {
        std::array<wchar_t, MAX_PATH + 1> name{};
        if (GetTempFileNameW(TempDirectory().c_str(), L"kav", 0, name.data()) != 0) path_ = name.data();
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (!path_.empty()) DeleteFileW(path_.c_str());
    }
    const std::wstring& path() const { return path_; }
    HANDLE OpenDirectly() const {
        return CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    }

private:
    std::wstring path_;
};

// Works on overlapped and synchronous handles alike.
bool TransferAtStart(HANDLE handle, void* data, DWORD size, bool write) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) return false;
    BOOL ok = write ? WriteFile(handle, data, size, nullptr, &overlapped)
                    : ReadFile(handle, data, size, nullptr, &overlapped);
    DWORD done = 0;
    if (ok || GetLastError() == ERROR_IO_PENDING) ok = GetOverlappedResult(handle, &overlapped, &done, TRUE);
    CloseHandle(overlapped.hEvent);
    return ok && done == size;
}

TEST(Win32Platform, InvalidHandleIsInvalidHandleValue) {
    EXPECT_EQ(kInvalidHandle, INVALID_HANDLE_VALUE);
}

TEST(Win32Platform, EnumerationGivesAListOfPaths) {
    // Wine usually has no HID devices: the list may be empty, but it must be obtained.
    const auto paths = Win32PlatformInstance().EnumerateHidInterfaces();
    ASSERT_TRUE(paths.has_value());
    for (const std::u16string& path : *paths) {
        EXPECT_FALSE(path.empty());
        EXPECT_EQ(path.find(u'\0'), std::u16string::npos);
    }
}

TEST(Win32Platform, OpenFailsForPathsNamingNoExistingObject) {
    TempFile file;
    ASSERT_FALSE(file.path().empty());
    const std::wstring missing = TempDirectory() + L"kav-no-such-device";
    DeleteFileW(missing.c_str());
    std::u16string truncated = ToU16(file.path());
    truncated += u'\0';
    truncated += u"-suffix";

    const std::u16string paths[] = {
        u"\\\\?\\hid#vid_0000&pid_0000#0&00000000&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}", u"", ToU16(missing),
        truncated,  // would open the temp file if the NUL were passed on
    };
    for (const std::u16string& path : paths) {
        for (bool overlapped : {false, true}) {
            SCOPED_TRACE(std::string(path.begin(), path.end()) + (overlapped ? " overlapped" : ""));
            EXPECT_EQ(Win32PlatformInstance().OpenHid(path, overlapped), kInvalidHandle);
        }
    }
    // Opening must never create.
    EXPECT_EQ(GetFileAttributesW(missing.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(Win32Platform, OpenGivesSharedReadWriteHandle) {
    TempFile file;
    ASSERT_FALSE(file.path().empty());
    // Held open for read and write, so the open below must share both.
    HANDLE held = file.OpenDirectly();
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    for (bool overlapped : {false, true}) {
        SCOPED_TRACE(overlapped ? "overlapped" : "synchronous");
        Win32Platform& platform = Win32PlatformInstance();
        Handle handle = platform.OpenHid(ToU16(file.path()), overlapped);
        ASSERT_NE(handle, kInvalidHandle);

        std::array<uint8_t, 4> written{0x4B, 0x41, 0x56, static_cast<uint8_t>(overlapped)};
        std::array<uint8_t, 4> read{};
        EXPECT_TRUE(TransferAtStart(handle, written.data(), written.size(), true));
        EXPECT_TRUE(TransferAtStart(handle, read.data(), read.size(), false));
        EXPECT_EQ(read, written);
        // Only synchronous handles keep a file position.
        EXPECT_EQ(SetFilePointer(handle, 0, nullptr, FILE_CURRENT), overlapped ? 0u : 4u);

        EXPECT_TRUE(platform.Close(handle));
    }
    CloseHandle(held);
}

TEST(Win32Platform, NonHidHandleFailsCleanlyAndClosesOnce) {
    TempFile file;
    ASSERT_FALSE(file.path().empty());
    HANDLE handle = file.OpenDirectly();
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    Win32Platform& platform = Win32PlatformInstance();

    EXPECT_FALSE(platform.GetAttributes(handle).has_value());
    std::array<uint8_t, 64> report{};
    report[0] = 1;
    EXPECT_FALSE(platform.GetFeature(handle, report));
    EXPECT_FALSE(platform.SetFeature(handle, report));
    EXPECT_EQ(report[0], 1);

    EXPECT_TRUE(platform.Close(handle));
    EXPECT_FALSE(platform.Close(handle));
}

TEST(Win32Platform, RefusesInvalidHandlesAndEmptyReportsBeforeTheOs) {
    TempFile file;
    ASSERT_FALSE(file.path().empty());
    HANDLE open = file.OpenDirectly();
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    Win32Platform& platform = Win32PlatformInstance();
    std::array<uint8_t, 64> report{};

    struct Case {
        const char* name;
        Handle handle;
        std::size_t size;
        DWORD error;
    };
    const Case cases[] = {
        // kInvalidHandle is also the current-process pseudo-handle, which CloseHandle accepts.
        {"invalid", kInvalidHandle, report.size(), ERROR_INVALID_HANDLE},
        {"null", nullptr, report.size(), ERROR_INVALID_HANDLE},
        {"empty report", open, 0, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::span<uint8_t> span(report.data(), c.size);
        SetLastError(0xBADF00D);
        EXPECT_FALSE(platform.GetFeature(c.handle, span));
        EXPECT_EQ(GetLastError(), c.error);
        SetLastError(0xBADF00D);
        EXPECT_FALSE(platform.SetFeature(c.handle, span));
        EXPECT_EQ(GetLastError(), c.error);
        if (c.size != 0) {
            SetLastError(0xBADF00D);
            EXPECT_FALSE(platform.Close(c.handle));
            EXPECT_EQ(GetLastError(), c.error);
            EXPECT_FALSE(platform.GetAttributes(c.handle).has_value());
        }
    }
    EXPECT_TRUE(platform.Close(open));
    platform.Sleep(0);
}

}  // namespace
}  // namespace kav::platform::win32
