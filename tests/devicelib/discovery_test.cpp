// Discovery and opening through the C exports, on a fake list of HID interfaces.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "devicelib/include/KavLib.h"
#include "devicelib/platform/failing_platform.h"

namespace kav::devicelib {
namespace {

using platform::Handle;
using platform::HidAttributes;

struct Interface {
    std::u16string path;
    HidAttributes attributes;
    bool opens = true;
};

std::u16string Path(std::uint16_t product, int collection, int instance = 0) {
    const std::string text = "\\\\?\\hid#vid_4b1d&pid_" +
                             std::string(product == 0x0A31   ? "0a31"
                                         : product == 0x0A07 ? "0a07"
                                         : product == 0x0A41 ? "0a41"
                                                             : "0b00") +
                             "&col0" + std::to_string(collection) + "#7&" + std::to_string(instance) +
                             "#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    return std::u16string(text.begin(), text.end());
}

// The six collections of one controller.
std::vector<Interface> Controller(std::uint16_t product, int instance = 0) {
    std::vector<Interface> interfaces;
    for (int c = 1; c <= 6; ++c) interfaces.push_back({Path(product, c, instance), {0x4B1D, product, 0x0100}});
    return interfaces;
}

class FakeHidList : public platform::FailingPlatform {
public:
    std::optional<std::vector<Interface>> interfaces = std::vector<Interface>{};
    std::set<Handle> open;
    int opens = 0;

    std::optional<std::vector<std::u16string>> EnumerateHidInterfaces() override {
        if (!interfaces) return std::nullopt;
        std::vector<std::u16string> paths;
        for (const Interface& i : *interfaces) paths.push_back(i.path);
        return paths;
    }
    Handle OpenHid(std::u16string_view path, bool) override {
        ++opens;
        for (std::size_t i = 0; i < interfaces->size(); ++i) {
            if ((*interfaces)[i].path != path || !(*interfaces)[i].opens) continue;
            const Handle handle = reinterpret_cast<Handle>(0x1000 + 0x10 * (opens));
            open.insert(handle);
            handles_[handle] = i;
            return handle;
        }
        return platform::kInvalidHandle;
    }
    bool Close(Handle handle) override { return open.erase(handle) == 1; }
    std::optional<HidAttributes> GetAttributes(Handle handle) override {
        if (!open.contains(handle)) return std::nullopt;
        return (*interfaces)[handles_.at(handle)].attributes;
    }
    const Interface& Of(Handle handle) const { return (*interfaces)[handles_.at(handle)]; }

private:
    std::map<Handle, std::size_t> handles_;
};

// 64 caller buffers of 260 characters.
struct PathTable {
    std::vector<std::array<KAVLIB_WCHAR, KAVLIB_MAX_PATH>> buffers{KAVLIB_MAX_DEVICES};
    std::array<KAVLIB_WCHAR*, KAVLIB_MAX_DEVICES> pointers{};
    PathTable() {
        for (std::size_t i = 0; i < pointers.size(); ++i) pointers[i] = buffers[i].data();
    }
    std::u16string At(std::size_t i) const {
        const auto* units = reinterpret_cast<const char16_t*>(buffers[i].data());
        return std::u16string(units);
    }
};

class Discovery : public ::testing::Test {
protected:
    void SetUp() override { platform::SetPlatform(&os_); }
    void TearDown() override { platform::SetPlatform(nullptr); }

    void Add(const std::vector<Interface>& interfaces) {
        os_.interfaces->insert(os_.interfaces->end(), interfaces.begin(), interfaces.end());
    }
    std::vector<std::u16string> List(unsigned char collection, unsigned char expected) {
        PathTable table;
        int count = -1;
        EXPECT_EQ(EnumDevice_HID(table.pointers.data(), count, collection), expected);
        std::vector<std::u16string> paths;
        for (int i = 0; i < count; ++i) paths.push_back(table.At(static_cast<std::size_t>(i)));
        EXPECT_TRUE(os_.open.empty()) << "the listing left handles open";
        return paths;
    }

    FakeHidList os_;
};

TEST_F(Discovery, NoControllerMeansNothingListedAndNoScreen) {
    for (const bool listAvailable : {true, false}) {
        SCOPED_TRACE(listAvailable);
        if (!listAvailable) os_.interfaces.reset();
        EXPECT_TRUE(List(0x30, 0).empty());
        std::array<KAVLIB_HANDLE, KAVLIB_MAX_DEVICES> handles{};
        unsigned char count = 99;
        EXPECT_EQ(Nerio_GetTouchScreenInformation(handles.data(), count), 0);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(Nerio_GetTouchScreenCount(), 0);
    }
}

TEST_F(Discovery, EachControllerIsListedOnceByTheCollectionOfTheSelector) {
    Add(Controller(0x0A31));
    Add({{u"\\\\?\\hid#vid_845e&pid_0001#0&0000&0&0#{4d1e55b2-f16f-11cf-88cb-001111000030}", {0x845E, 0x0001, 1}}});
    Add(Controller(0x0A07, 1));
    Add(Controller(0x0A41, 2));
    Add(Controller(0x0B00, 3));  // the right vendor, another product
    EXPECT_EQ(List(0x30, 1), (std::vector{Path(0x0A31, 1), Path(0x0A07, 1, 1), Path(0x0A41, 1, 2)}));
    EXPECT_EQ(List(0x36, 1), (std::vector{Path(0x0A31, 6), Path(0x0A07, 6, 1), Path(0x0A41, 6, 2)}));
    EXPECT_TRUE(List(0x10, 0).empty());

    PathTable table;
    int count = 0;
    EXPECT_EQ(Nerio_EnumTouchScreen(table.pointers.data(), count), 1);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(Nerio_Device_EnumDevice(1, table.pointers.data(), count), 1);
    EXPECT_EQ(count, 3);
    for (const unsigned char kind : {0, 2}) {
        count = -1;
        EXPECT_EQ(Nerio_Device_EnumDevice(kind, table.pointers.data(), count), 0);
        EXPECT_EQ(count, 0);
    }
    // Another product is listed only when asked for by its IDs, all its collections.
    EXPECT_EQ(Nerio_HID_EnumDevice(table.pointers.data(), count, 0x4B1D, 0x0B00), 1);
    EXPECT_EQ(count, 6);
    EXPECT_EQ(table.At(5), Path(0x0B00, 6, 3));
    EXPECT_EQ(Nerio_HID_EnumDevice(table.pointers.data(), count, 0x845E, 0x0001), 1);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(Nerio_HID_EnumDevice(table.pointers.data(), count, 0x4B1D, 0x0C00), 0);
    EXPECT_EQ(count, 0);
}

TEST_F(Discovery, CollectionMarkersIgnoreCase) {
    Interface touch{u"\\\\?\\HID#VID_4B1D&PID_0A31&COL01#7&1#{4D1E55B2-F16F-11CF-88CB-001111000030}",
                    {0x4B1D, 0x0A31, 1}};
    Interface vendor = touch;
    vendor.path.replace(vendor.path.find(u"COL01"), 5, u"CoL06");
    Add({touch, vendor});
    EXPECT_EQ(List(0x30, 1), std::vector{touch.path});
    EXPECT_EQ(List(0x36, 1), std::vector{vendor.path});
}

// Interfaces that cannot be opened or identified are skipped; the list goes on.
TEST_F(Discovery, UnopenableInterfacesAreSkipped) {
    std::vector<Interface> first = Controller(0x0A31);
    first[0].opens = false;
    Add(first);
    Add(Controller(0x0A31, 1));
    EXPECT_EQ(List(0x30, 1), std::vector{Path(0x0A31, 1, 1)});
}

// Beyond the caller's 64 buffers listing stops; a path too long for a buffer is skipped
// rather than cut into a path of some other device.
TEST_F(Discovery, SixtyFifthScreenAndOverlongPathsAreNotListed) {
    std::u16string longPath = Path(0x0A31, 1, 999);
    longPath.insert(longPath.find(u"#{"), std::u16string(KAVLIB_MAX_PATH - longPath.size(), u'x'));
    ASSERT_EQ(longPath.size(), std::size_t{KAVLIB_MAX_PATH});  // no room for the terminator
    Add({{longPath, {0x4B1D, 0x0A31, 1}}});
    for (int i = 0; i < 65; ++i) Add({{Path(0x0A31, 1, i), {0x4B1D, 0x0A31, 1}}});
    const std::vector<std::u16string> listed = List(0x30, 1);
    ASSERT_EQ(listed.size(), 64u);
    EXPECT_EQ(listed.front(), Path(0x0A31, 1, 0));
    EXPECT_EQ(listed.back(), Path(0x0A31, 1, 63));
    EXPECT_EQ(Nerio_GetTouchScreenCount(), 64);
    EXPECT_TRUE(os_.open.empty());

    // A caller with fewer buffers ends its table with a null pointer.
    PathTable table;
    table.pointers[2] = nullptr;
    int count = 0;
    EXPECT_EQ(EnumDevice_HID(table.pointers.data(), count, 0x30), 1);
    EXPECT_EQ(count, 2);
}

TEST_F(Discovery, InformationOpensEveryScreenForTheCallerToClose) {
    Add(Controller(0x0A31));
    Add(Controller(0x0A07, 1));
    std::array<KAVLIB_HANDLE, KAVLIB_MAX_DEVICES> handles{};
    unsigned char count = 0;
    ASSERT_EQ(Nerio_GetTouchScreenInformation(handles.data(), count), 1);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(os_.Of(handles[0]).path, Path(0x0A31, 1));
    EXPECT_EQ(os_.Of(handles[1]).path, Path(0x0A07, 1, 1));
    EXPECT_EQ(os_.open.size(), 2u);
    unsigned short product = 0;
    EXPECT_EQ(GetProductID(handles[1], product), 1);
    EXPECT_EQ(product, 0x0A07);
    int wide = -1;
    EXPECT_EQ(Nerio_GetProductID(handles[0], wide), 1);
    EXPECT_EQ(wide, 0x0A31);
    unsigned short version = 0;
    EXPECT_EQ(GetUSBCableVersion(handles[0], version), 1);
    EXPECT_EQ(version, 0x0100);
    EXPECT_EQ(Nerio_CloseTouchScreen(handles[0]), 1);
    EXPECT_EQ(Nerio_Device_CloseDevice(2, handles[1]), 0);
    EXPECT_EQ(Nerio_Device_CloseDevice(1, handles[1]), 1);
    EXPECT_TRUE(os_.open.empty());

    EXPECT_EQ(Nerio_GetTouchScreenCount(), 2);
    EXPECT_TRUE(os_.open.empty());
    wide = -1;
    EXPECT_EQ(Nerio_GetProductID(handles[0], wide), 0);  // closed
    EXPECT_EQ(wide, 0);
}

TEST_F(Discovery, OpenersAlwaysWriteTheHandle) {
    Add(Controller(0x0A31));
    const std::u16string path = Path(0x0A31, 1);
    const auto* wide = reinterpret_cast<const KAVLIB_WCHAR*>(path.c_str());
    KAVLIB_HANDLE handle = nullptr;
    EXPECT_EQ(Nerio_OpenTouchScreen(wide, handle), 1);
    EXPECT_EQ(CloseDevice_HID(handle), 1);
    EXPECT_EQ(Nerio_HID_OpenDevice(wide, 0, handle), 1);
    EXPECT_EQ(Nerio_HID_CloseDevice(handle), 1);
    EXPECT_EQ(Nerio_Device_OpenDevice(1, wide, handle), 1);
    EXPECT_EQ(Nerio_Device_CloseDevice(0, handle), 1);

    const std::u16string missing = u"\\\\?\\hid#nothing";
    handle = nullptr;
    EXPECT_EQ(OpenDevice_HID(reinterpret_cast<const KAVLIB_WCHAR*>(missing.c_str()), handle), 0);
    EXPECT_EQ(handle, platform::kInvalidHandle);
    handle = nullptr;
    EXPECT_EQ(Nerio_Device_OpenDevice(0, reinterpret_cast<const KAVLIB_WCHAR*>(missing.c_str()), handle), 0);
    EXPECT_EQ(handle, platform::kInvalidHandle);  // no serial port on this platform
    handle = nullptr;
    EXPECT_EQ(Nerio_Device_OpenDevice(2, wide, handle), 0);
    EXPECT_EQ(handle, nullptr);  // other kinds touch nothing
    EXPECT_TRUE(os_.open.empty());
}

}  // namespace
}  // namespace kav::devicelib
