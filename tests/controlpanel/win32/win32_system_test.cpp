#include "controlpanel/win32/win32_system.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "controlpanel/cursor_hiding.h"

namespace kav::cpl::win32::test {
namespace {

// Language files in a scratch folder instead of beside the test program.
class ScratchLanguage : public Win32SystemServices {
public:
    explicit ScratchLanguage(std::string directory) : directory_(std::move(directory)) {}
    std::string ProgramDirectory() override { return directory_; }

private:
    std::string directory_;
};

class Win32LanguageTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = std::filesystem::temp_directory_path() / ("kavcpl-language-" + std::to_string(GetCurrentProcessId()));
        std::filesystem::create_directories(root_ / "Language");
    }
    void TearDown() override { std::filesystem::remove_all(root_); }
    void Write(const std::string& name, const std::string& text) {
        std::ofstream(root_ / "Language" / name, std::ios::binary) << text;
    }
    ScratchLanguage Files() { return ScratchLanguage(root_.string()); }

    std::filesystem::path root_;
};

TEST_F(Win32LanguageTest, ReadsTheProfileAsTheLookupNeeds) {
    auto files = Files();
    EXPECT_EQ(GetLanguageText(files, "1"), "");  // no file at all

    // Whatever the system language, 1033.ini answers when its own file is missing.
    Write("1033.ini", "[Language]\r\n1=TouchScreen Control Panel\r\n46= Duration\r\n");
    EXPECT_EQ(GetLanguageText(files, "1"), "TouchScreen Control Panel");
    EXPECT_EQ(GetLanguageText(files, "50"), "50");
    EXPECT_EQ(GetLanguageText(files, "46"), "Duration");  // the profile API trims blanks
    EXPECT_EQ(files.FileExists(root_.string() + "\\Language\\1033.in"), false);
}

TEST(Win32System, ProgramDirectoryIsTheModulePathWithoutItsName) {
    Win32SystemServices system;
    const std::string path = ModulePath();
    EXPECT_EQ(system.ProgramDirectory() + "\\", path.substr(0, path.rfind('\\') + 1));
    ASSERT_TRUE(system.GetVersion());
    EXPECT_GE(system.EnumDisplayMonitors().size(), 1u);
}

TEST(Win32System, ASecondMutexOfTheSameNameIsRefused) {
    const std::string name = "KavCplTest" + std::to_string(GetCurrentProcessId());
    Win32InstanceSystem first;
    Win32InstanceSystem second;
    EXPECT_TRUE(first.CreateInstanceMutex(name));
    EXPECT_FALSE(second.CreateInstanceMutex(name));
}

TEST(Win32System, RegistryValuesRoundTripByteForByte) {
    Win32CursorSystem system(GetModuleHandleA(nullptr));
    const std::string scratch = "Software\\KavCplTest" + std::to_string(GetCurrentProcessId());
    {
        auto key = system.CreateUserKey(scratch);
        ASSERT_TRUE(key);
        for (const RegistryValue& value :
             {HiddenCursorValue(), ShownCursorValue(), RegistryValue{kRegSz, std::string("x.cur\0", 6)}}) {
            ASSERT_TRUE(key->Set("Arrow", value));
            EXPECT_EQ(key->Query("Arrow"), value);
        }
        EXPECT_TRUE(key->Delete("Arrow"));
        EXPECT_FALSE(key->Query("Arrow"));
    }
    EXPECT_TRUE(system.OpenUserKey(scratch));
    RegDeleteKeyA(HKEY_CURRENT_USER, scratch.c_str());
    EXPECT_FALSE(system.OpenUserKey("Software\\KavCplTest-none"));
}

// Changes the user's real cursor scheme, so it runs only where asked to: in a throwaway
// Wine prefix, whose registry the test script then reads back with `wine reg query`.
TEST(Win32System, CursorStateInTheUsersRegistry) {
    const char* mode = std::getenv("KAVCPL_CURSOR_TEST");
    if (!mode) GTEST_SKIP() << "set KAVCPL_CURSOR_TEST=hide or show in a throwaway prefix";
    Win32CursorSystem system(GetModuleHandleA(nullptr));
    const bool hide = std::string(mode) == "hide";
    ApplyCursorState(system, hide);
    auto cursors = system.OpenUserKey(kCursorsKey);
    ASSERT_TRUE(cursors) << "create HKCU\\Control Panel\\Cursors first";
    // Shown again, a role holds the default or what the user had before; the script checks which.
    for (std::string_view role : kCursorRoles) {
        SCOPED_TRACE(role);
        if (hide) {
            EXPECT_EQ(cursors->Query(std::string(role)), HiddenCursorValue());
        } else {
            EXPECT_NE(cursors->Query(std::string(role)), HiddenCursorValue());
        }
    }
}

}  // namespace
}  // namespace kav::cpl::win32::test
