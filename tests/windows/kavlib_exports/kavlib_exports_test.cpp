// KavLib.dll as a program sees it that knows the library only by name: LoadLibraryW and
// GetProcAddress, no import library, no header beyond the record sizes it passes.
//
//   kavlib_exports_test exports    every export resolves; aliases share their function
//   kavlib_exports_test no-screen  no screen to find: every call fails cleanly
//   kavlib_exports_test real-hid   the system's HID list is walked for real (Wine offers
//                                  its own mouse and keyboard): KavLib finds them by their
//                                  IDs and lists none of them as a touch screen
//   kavlib_exports_test service    against `kavsim serve` (KAVLIB_PLATFORM=sim): one screen,
//                                  every record read, the device configuration written and
//                                  read back, the version and serial number texts
//
// Exit code 0 when every check passed; each failure is printed.
#include <windows.h>
// clang-format off
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}
// clang-format on

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const kExports[] = {
    "CloseDevice_HID",
    "EnumDevice_HID",
    "GetCalibPara",
    "GetCalibrateData",
    "GetDeviceConfig",
    "GetDriverConfig_Default",
    "GetDriverConfig_Register",
    "GetFeature",
    "GetFirewareVersion",
    "GetMode",
    "GetProductID",
    "GetScreenProperty",
    "GetToolbarConfig",
    "GetUSBCableVersion",
    "Get_Board_SN",
    "Get_Calib_Para1",
    "Get_Calib_Params",
    "Get_Calib_Params3",
    "Get_Calib_Params_X_Infrared",
    "Get_Calib_Params_Y_Infrared",
    "Get_Calib_Params_Z_Infrared",
    "Get_Camera_Params",
    "Get_Camera_Params_Linear",
    "Get_Camera_Propertys",
    "Get_Camera_SN",
    "Get_Device_Config",
    "Get_DriverConfig",
    "Get_Encrypt_Key",
    "Get_Image_Block",
    "Get_Image_Block_Count",
    "Get_Image_C_Version",
    "Get_Image_Line_Data",
    "Get_Image_Line_Reference",
    "Get_Image_Line_Top",
    "Get_Image_Size",
    "Get_Image_Start_Row",
    "Get_Img_C_Config",
    "Get_Mode",
    "Get_Product_SN",
    "Get_Product_Type",
    "Get_Product_Version",
    "Get_Screen_Property",
    "Get_Stylus_Status",
    "Get_Stylus_Version",
    "Get_Toolbar_Params",
    "Get_WorkMode",
    "Nerio_COM_CloseDevice",
    "Nerio_COM_OpenDevice",
    "Nerio_CloseTouchScreen",
    "Nerio_Device_CloseDevice",
    "Nerio_Device_EnumDevice",
    "Nerio_Device_OpenDevice",
    "Nerio_EnumTouchScreen",
    "Nerio_Gesture_InitContext",
    "Nerio_Gesture_Process",
    "Nerio_GetAntijammingMode",
    "Nerio_GetAntishakeMode",
    "Nerio_GetDriverConfig",
    "Nerio_GetEncryptKey",
    "Nerio_GetProductID",
    "Nerio_GetProductSN",
    "Nerio_GetProductSN_OEM",
    "Nerio_GetTouchMode",
    "Nerio_GetTouchScreenCount",
    "Nerio_GetTouchScreenInformation",
    "Nerio_GetWorkMode",
    "Nerio_HID_CloseDevice",
    "Nerio_HID_EnumDevice",
    "Nerio_HID_OpenDevice",
    "Nerio_OpenTouchScreen",
    "Nerio_RegisterDeviceNotifyCallback",
    "Nerio_RegisterImageDataCallback",
    "Nerio_RegisterTouchCallback",
    "Nerio_RegisterTouchDataCallback",
    "Nerio_SetAntijammingMode",
    "Nerio_SetAntishakeMode",
    "Nerio_SetDriverConfig",
    "Nerio_SetEncryptKey",
    "Nerio_SetTouchMode",
    "Nerio_SetWorkMode",
    "Nerio_UnRegisterDeviceNotifyCallback",
    "Nerio_UnRegisterImageDataCallback",
    "Nerio_UnRegisterTouchCallback",
    "Nerio_UnRegisterTouchDataCallback",
    "OpenDevice_HID",
    "SetCalibPara",
    "SetDeviceConfig",
    "SetFeature",
    "SetMode",
    "SetToolbarConfig",
    "Set_Board_SN",
    "Set_Calib_Para1",
    "Set_Calib_Params",
    "Set_Calib_Params3",
    "Set_Calib_Params_X_Infrared",
    "Set_Calib_Params_Y_Infrared",
    "Set_Calib_Params_Z_Infrared",
    "Set_Camera_Params",
    "Set_Camera_Params_Linear",
    "Set_Camera_Propertys",
    "Set_Camera_SN",
    "Set_Device_Config",
    "Set_DriverConfig",
    "Set_Encrypt_Key",
    "Set_Image_Collect_Start_Row",
    "Set_Image_Start_Row",
    "Set_Img_C_Config",
    "Set_Mode",
    "Set_Product_SN",
    "Set_Screen_Property",
    "Set_Toolbar_Params",
    "Set_Upgrade_Linear",
    "Set_WorkMode",
};

// Second names of one function each.
const char* const kAliases[][2] = {
    {"OpenDevice_HID", "Nerio_OpenTouchScreen"},
    {"CloseDevice_HID", "Nerio_CloseTouchScreen"},
    {"Nerio_HID_CloseDevice", "Nerio_CloseTouchScreen"},
    {"Get_WorkMode", "Nerio_GetWorkMode"},
    {"Set_WorkMode", "Nerio_SetWorkMode"},
    {"Get_DriverConfig", "Nerio_GetDriverConfig"},
    {"Set_DriverConfig", "Nerio_SetDriverConfig"},
    {"Get_Calib_Params3", "Get_Calib_Para1"},
    {"Set_Calib_Para1", "Get_Calib_Para1"},
    {"Set_Calib_Params3", "Get_Calib_Para1"},
};

int g_failures = 0;

void Check(bool ok, const std::string& what) {
    if (ok) return;
    ++g_failures;
    std::fprintf(stderr, "FAILED: %s\n", what.c_str());
}

HMODULE g_library = nullptr;

template <typename Function>
Function* Resolve(const char* name) {
    auto* address = reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(g_library, name)));
    Check(address != nullptr, std::string("resolve ") + name);
    return address;
}

// The records the calls take, by size only.
struct Record58 {
    unsigned char bytes[58];
};
struct DriverConfig59 {
    unsigned char bytes[59];
};

using PathTable = std::vector<std::vector<wchar_t>>;
struct Paths {
    PathTable buffers = PathTable(64, std::vector<wchar_t>(260, 0));
    std::vector<wchar_t*> pointers;
    Paths() {
        for (auto& buffer : buffers) pointers.push_back(buffer.data());
    }
};

using Enum = unsigned char(wchar_t**, int&, unsigned char);
using HidEnum = unsigned char(wchar_t**, int&, unsigned short, unsigned short);
using Open = unsigned char(const wchar_t*, HANDLE&);
using Close = unsigned char(HANDLE);
using Information = unsigned char(HANDLE*, unsigned char&);
using Count = int();
using GetBytes = unsigned char(unsigned char, HANDLE, unsigned char, unsigned char*);
using GetRecord = unsigned char(unsigned char, HANDLE, unsigned char*);
using SetRecord = unsigned char(unsigned char, HANDLE, Record58);
using Version = unsigned char(HANDLE, unsigned char, char*, unsigned char&);
using SerialNumber = unsigned char(HANDLE, char*, int&);
using DriverConfigGet = unsigned char(HANDLE, DriverConfig59&);
using ProductId = unsigned char(HANDLE, unsigned short&);

void CheckExports() {
    for (const char* name : kExports) Resolve<void()>(name);
    for (const auto& alias : kAliases) {
        const FARPROC second = GetProcAddress(g_library, alias[0]);
        const FARPROC first = GetProcAddress(g_library, alias[1]);
        Check(second != nullptr && second == first, std::string(alias[0]) + " is " + alias[1]);
    }
    // Internal functions stay internal.
    Check(GetProcAddress(g_library, "ReadItem") == nullptr, "nothing but the exports is exported");
}

// What a program sees when there is no touch screen: nothing listed, every call fails.
void CheckNoScreen() {
    Check(Resolve<Count>("Nerio_GetTouchScreenCount")() == 0, "no screen counted");
    HANDLE handles[64] = {};
    unsigned char count = 99;
    Check(Resolve<Information>("Nerio_GetTouchScreenInformation")(handles, count) == 0 && count == 0,
          "no screen opened");
    Paths paths;
    for (const unsigned char collection : {0x30, 0x36}) {
        int listed = -1;
        Check(Resolve<Enum>("EnumDevice_HID")(paths.pointers.data(), listed, collection) == 0 && listed == 0,
              "no interface of collection " + std::to_string(collection));
    }
    HANDLE handle = nullptr;
    Check(Resolve<Open>("Nerio_OpenTouchScreen")(L"\\\\?\\hid#vid_4b1d&pid_0a31&col01#none", handle) == 0 &&
              handle == INVALID_HANDLE_VALUE,
          "opening a missing path fails with INVALID_HANDLE_VALUE");
    unsigned char bytes[64] = {};
    Check(Resolve<GetBytes>("Get_Camera_Propertys")(1, INVALID_HANDLE_VALUE, 0, bytes) == 0, "accessor fails");
    Check(Resolve<GetRecord>("GetScreenProperty") != nullptr, "GetScreenProperty");
    char text[64] = "untouched";
    unsigned char length = 0;
    Check(Resolve<Version>("GetFirewareVersion")(INVALID_HANDLE_VALUE, 0, text, length) == 0 &&
              std::strcmp(text, "untouched") == 0,
          "version fails, text untouched");
    int serialLength = -1;
    Check(Resolve<SerialNumber>("Nerio_GetProductSN")(INVALID_HANDLE_VALUE, text, serialLength) == 1 &&
              serialLength == -1,
          "serial number reports 1");
    DriverConfig59 config{};
    Check(Resolve<DriverConfigGet>("Nerio_GetDriverConfig")(INVALID_HANDLE_VALUE, config) == 0, "driver config fails");
    unsigned short product = 0;
    Check(Resolve<ProductId>("GetProductID")(INVALID_HANDLE_VALUE, product) == 0, "product ID fails");
}

// The HID interfaces of the system, walked here with SetupAPI directly.
std::vector<std::wstring> SystemHidPaths() {
    std::vector<std::wstring> paths;
    GUID hid;
    HidD_GetHidGuid(&hid);
    HDEVINFO list = SetupDiGetClassDevsW(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE) return paths;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(list, nullptr, &hid, i, &data); ++i) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailW(list, &data, nullptr, 0, &size, nullptr);
        std::vector<unsigned char> buffer(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (SetupDiGetDeviceInterfaceDetailW(list, &data, detail, size, nullptr, nullptr))
            paths.emplace_back(detail->DevicePath);
    }
    SetupDiDestroyDeviceInfoList(list);
    return paths;
}

void CheckRealHid() {
    CheckNoScreen();
    const std::vector<std::wstring> system = SystemHidPaths();
    Check(!system.empty(), "the system lists HID interfaces");
    // KavLib walks the same list and reads each device's attributes: it finds the first
    // system device again by its own IDs.
    for (const std::wstring& path : system) {
        HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (handle == INVALID_HANDLE_VALUE) continue;
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof attributes;
        const bool known = HidD_GetAttributes(handle, &attributes);
        CloseHandle(handle);
        if (!known) continue;
        Paths paths;
        int listed = 0;
        Check(Resolve<HidEnum>("Nerio_HID_EnumDevice")(paths.pointers.data(), listed, attributes.VendorID,
                                                       attributes.ProductID) == 1 &&
                  listed >= 1,
              "KavLib lists the system's device by its IDs");
        bool found = false;
        for (int i = 0; i < listed; ++i) found = found || path == paths.pointers[i];
        Check(found, "the same path");
        break;
    }
}

void CheckService() {
    Check(Resolve<Count>("Nerio_GetTouchScreenCount")() == 1, "one simulated screen");
    HANDLE handles[64] = {};
    unsigned char count = 0;
    Check(Resolve<Information>("Nerio_GetTouchScreenInformation")(handles, count) == 1 && count == 1,
          "the screen opened");
    if (count != 1) return;
    HANDLE screen = handles[0];
    unsigned short product = 0;
    Check(Resolve<ProductId>("GetProductID")(screen, product) == 1 && product == 0x0A31, "product 0x0A31");

    // Every record the handle-only and transport accessors read.
    unsigned char bytes[64] = {};
    for (const char* name : {"GetScreenProperty", "GetDeviceConfig", "Nerio_GetEncryptKey"})
        Check(Resolve<unsigned char(HANDLE, unsigned char*)>(name)(screen, bytes) == 1, name);
    for (const char* name : {"Get_Screen_Property", "Get_Device_Config", "Get_Product_SN"})
        Check(Resolve<GetRecord>(name)(1, screen, bytes) == 1, name);
    for (const char* name : {"Get_Camera_Propertys", "Get_Encrypt_Key", "Get_Img_C_Config", "Get_Camera_Params",
                             "Get_Camera_Params_Linear", "Get_Camera_SN", "Get_Product_Version", "Get_Board_SN",
                             "Get_Product_Type", "Get_Image_C_Version"})
        Check(Resolve<GetBytes>(name)(1, screen, 0, bytes) == 1, name);
    for (const char* name :
         {"Get_Toolbar_Params", "Get_Stylus_Status", "Get_Stylus_Version", "Get_Calib_Params_X_Infrared",
          "Get_Calib_Params_Y_Infrared", "Get_Calib_Params_Z_Infrared"})
        Check(Resolve<GetRecord>(name)(1, screen, bytes) == 1, name);
    unsigned char x[58];
    unsigned char y[58];
    Check(Resolve<unsigned char(unsigned char, HANDLE, unsigned char*, unsigned char*)>("Get_Calib_Params")(1, screen,
                                                                                                            x, y) == 1,
          "Get_Calib_Params");

    // The device configuration written and read back.
    Record58 config{};
    Check(Resolve<GetRecord>("Get_Device_Config")(1, screen, config.bytes) == 1, "read the configuration");
    Record58 changed = config;
    changed.bytes[57] ^= 0x5A;
    Check(Resolve<unsigned char(HANDLE, Record58)>("SetDeviceConfig")(screen, changed) == 1, "SetDeviceConfig");
    Record58 back{};
    Check(Resolve<unsigned char(HANDLE, unsigned char*)>("GetDeviceConfig")(screen, back.bytes) == 1 &&
              std::memcmp(back.bytes, changed.bytes, 58) == 0,
          "the configuration reads back as written");
    Resolve<unsigned char(HANDLE, Record58)>("SetDeviceConfig")(screen, config);

    char text[64] = {};
    unsigned char length = 0;
    Check(Resolve<Version>("GetFirewareVersion")(screen, 0, text, length) == 1 && std::strcmp(text, "5.01.1007") == 0 &&
              length == 9,
          std::string("firmware version text: ") + text);
    int serialLength = 0;
    Check(Resolve<SerialNumber>("Nerio_GetProductSN")(screen, text, serialLength) == 0 && serialLength == 35,
          std::string("serial number: ") + text);
    std::printf("screen: firmware %s, serial number %s\n", "5.01.1007", text);
    Resolve<Close>("Nerio_CloseTouchScreen")(screen);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"exports";
    g_library = LoadLibraryW(L"KavLib.dll");
    if (g_library == nullptr) {
        std::fprintf(stderr, "FAILED: LoadLibraryW(KavLib.dll), error %lu\n", GetLastError());
        return 1;
    }
    if (mode == L"exports") {
        CheckExports();
    } else if (mode == L"no-screen") {
        CheckNoScreen();
    } else if (mode == L"real-hid") {
        CheckRealHid();
    } else if (mode == L"service") {
        CheckService();
    } else {
        std::fprintf(stderr, "usage: kavlib_exports_test [exports | no-screen | real-hid | service]\n");
        return 2;
    }
    FreeLibrary(g_library);
    if (g_failures == 0) std::printf("kavlib_exports_test %ls: all checks passed\n", mode.c_str());
    return g_failures == 0 ? 0 : 1;
}
