// The Win32 serial port where no port is at hand: what is not a port must be refused.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "devicelib/platform/win32/win32_platform.h"

namespace kav::platform::win32 {
namespace {

TEST(Win32Serial, RefusesWhatIsNoPort) {
    Win32Platform& os = Win32PlatformInstance();
    EXPECT_EQ(os.OpenSerial(u""), kInvalidHandle);
    EXPECT_EQ(os.OpenSerial(u"\\\\.\\COM250"), kInvalidHandle);
    EXPECT_EQ(os.OpenSerial(std::u16string(u"COM1\0x", 6)), kInvalidHandle);
    EXPECT_FALSE(os.PurgeSerial(kInvalidHandle));
    EXPECT_FALSE(os.WriteSerial(nullptr, std::span<const uint8_t>()));
    EXPECT_FALSE(os.ReadSerialByte(kInvalidHandle));
}

// A plain file opens but cannot be configured; the handle must not leak, or the file
// could not be removed.
TEST(Win32Serial, FileThatCannotBeConfiguredIsClosedAgain) {
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "kav_not_a_port.bin";
    { std::ofstream(file) << "x"; }
    const std::u16string path = file.u16string();
    EXPECT_EQ(Win32PlatformInstance().OpenSerial(path), kInvalidHandle);
    std::error_code error;
    EXPECT_TRUE(std::filesystem::remove(file, error)) << error.message();
}

}  // namespace
}  // namespace kav::platform::win32

#endif  // _WIN32
