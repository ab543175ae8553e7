// The device accessors: each export is one row of the command catalogue run by ReadItem or
// WriteItem, with the caller's buffer or value as the item's bytes.
#include <array>
#include <span>

#include "devicelib/accessors.h"
#include "devicelib/guarded.h"
#include "devicelib/include/KavLib.h"
#include "shared/device_commands.h"

namespace {

using kav::devicelib::Guarded;
using kav::devicelib::Handle;
namespace protocol = kav::protocol;

unsigned char Get(const protocol::Command& row, unsigned char transport, Handle device, unsigned char subCode,
                  unsigned char* destination, std::size_t size) {
    if (destination == nullptr) return 0;
    return Guarded(
        [&] { return kav::devicelib::ReadItem(row, transport, device, subCode, {}, std::span(destination, size)); });
}

template <typename Record>
unsigned char GetRecord(const protocol::Command& row, unsigned char transport, Handle device, Record& record) {
    static_assert(sizeof(Record) >= 1);
    return Get(row, transport, device, 0, reinterpret_cast<unsigned char*>(&record), sizeof(Record));
}

unsigned char SetBytes(const protocol::Command& row, unsigned char transport, Handle device, unsigned char subCode,
                       const void* bytes, std::size_t size) {
    return Guarded([&] {
        return kav::devicelib::WriteItem(row, transport, device, subCode,
                                         std::span(static_cast<const unsigned char*>(bytes), size));
    });
}

template <typename Block>
unsigned char Set(const protocol::Command& row, unsigned char transport, Handle device, unsigned char subCode,
                  const Block& block) {
    return SetBytes(row, transport, device, subCode, &block, sizeof(Block));
}

// An exact-length 16-bit item, widened to int.
unsigned char GetNumbers(const protocol::Command& row, unsigned char transport, Handle device, unsigned char subCode,
                         std::initializer_list<int*> numbers) {
    std::array<std::uint8_t, 4> bytes{};
    if (!Guarded([&] {
            return kav::devicelib::ReadItem(row, transport, device, subCode, {},
                                            std::span(bytes.data(), numbers.size() * 2));
        }))
        return 0;
    std::size_t offset = 0;
    for (int* number : numbers) {
        *number = kav::devicelib::ReadU16(bytes, offset);
        offset += 2;
    }
    return 1;
}

unsigned char SetRow(const protocol::Command& row, unsigned char transport, Handle device, unsigned char subCode,
                     unsigned short value) {
    const std::array<std::uint8_t, 2> bytes{static_cast<std::uint8_t>(value & 0xFF),
                                            static_cast<std::uint8_t>(value >> 8)};
    return SetBytes(row, transport, device, subCode, bytes.data(), bytes.size());
}

// The fast image reads: the request names the piece; the length is reported before it is
// judged.
unsigned char GetImagePiece(const protocol::Command& row, unsigned char transport, Handle device, unsigned char subCode,
                            std::span<const std::uint8_t> request, unsigned char* destination, unsigned char& length) {
    if (destination == nullptr) return 0;
    return Guarded([&] {
        return kav::devicelib::ReadItem(row, transport, device, subCode, request,
                                        std::span(destination, protocol::kImageChunkSize), &length);
    });
}

}  // namespace

extern "C" {

unsigned char Get_Camera_Propertys(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                   unsigned char* destination) {
    return Get(protocol::kGetCameraPropertys, transport, device, subCode, destination, protocol::kRecordSize);
}

unsigned char Set_Camera_Propertys(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                   KAVLIB_RECORD block) {
    return Set(protocol::kSetCameraPropertys, transport, device, subCode, block);
}

unsigned char Get_Calib_Params(unsigned char transport, KAVLIB_HANDLE device, _DEVICE_CALIB_PARAS& recordX,
                               _DEVICE_CALIB_PARAS& recordY) {
    const protocol::Command& row = protocol::kGetCalibParams;
    const auto x = reinterpret_cast<unsigned char*>(&recordX);
    const auto y = reinterpret_cast<unsigned char*>(&recordY);
    // Both records are asked for, whatever became of the first.
    const unsigned char first = Get(row, transport, device, protocol::kSubCalibX, x, sizeof recordX);
    const unsigned char second = Get(row, transport, device, protocol::kSubCalibY, y, sizeof recordY);
    return first & second;
}

unsigned char Set_Calib_Params(unsigned char transport, KAVLIB_HANDLE device, _DEVICE_CALIB_PARAS recordX,
                               _DEVICE_CALIB_PARAS recordY) {
    const protocol::Command& row = protocol::kSetCalibParams;
    const unsigned char first = Set(row, transport, device, protocol::kSubCalibX, recordX);
    const unsigned char second = Set(row, transport, device, protocol::kSubCalibY, recordY);
    return first & second;
}

unsigned char Get_Calib_Params_X_Infrared(unsigned char transport, KAVLIB_HANDLE device, _DEVICE_CALIB_PARAS& record) {
    return GetRecord(protocol::kGetCalibParamsXInfrared, transport, device, record);
}
unsigned char Set_Calib_Params_X_Infrared(unsigned char transport, KAVLIB_HANDLE device, _DEVICE_CALIB_PARAS record) {
    return Set(protocol::kSetCalibParamsXInfrared, transport, device, 0, record);
}
unsigned char Get_Calib_Params_Y_Infrared(unsigned char transport, KAVLIB_HANDLE device, _DEVICE_CALIB_PARAS& record) {
    return GetRecord(protocol::kGetCalibParamsYInfrared, transport, device, record);
}
unsigned char Set_Calib_Params_Y_Infrared(unsigned char transport, KAVLIB_HANDLE device, _DEVICE_CALIB_PARAS record) {
    return Set(protocol::kSetCalibParamsYInfrared, transport, device, 0, record);
}
unsigned char Get_Calib_Params_Z_Infrared(unsigned char transport, KAVLIB_HANDLE device, _DEVICE_CALIB_PARAS& record) {
    return GetRecord(protocol::kGetCalibParamsZInfrared, transport, device, record);
}
unsigned char Set_Calib_Params_Z_Infrared(unsigned char transport, KAVLIB_HANDLE device, _DEVICE_CALIB_PARAS record) {
    return Set(protocol::kSetCalibParamsZInfrared, transport, device, 0, record);
}

// Retired calibration accessors: one operation under four names that does nothing.
unsigned char Get_Calib_Para1(void) {
    return 0;
}
unsigned char Get_Calib_Params3(void) KAV_EXPORT_ALIAS_OF(Get_Calib_Para1);
unsigned char Set_Calib_Para1(void) KAV_EXPORT_ALIAS_OF(Get_Calib_Para1);
unsigned char Set_Calib_Params3(void) KAV_EXPORT_ALIAS_OF(Get_Calib_Para1);

unsigned char Get_Encrypt_Key(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                              unsigned char* destination) {
    return Get(protocol::kGetEncryptKey, transport, device, subCode, destination, protocol::kRecordSize);
}
unsigned char Set_Encrypt_Key(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                              KAVLIB_RECORD block) {
    return Set(protocol::kSetEncryptKey, transport, device, subCode, block);
}

unsigned char Get_Toolbar_Params(unsigned char transport, KAVLIB_HANDLE device, _NERIO_TOOLBAR_CONFIG& config) {
    return GetRecord(protocol::kGetToolbarParams, transport, device, config);
}
unsigned char Set_Toolbar_Params(unsigned char transport, KAVLIB_HANDLE device, _NERIO_TOOLBAR_CONFIG config) {
    return Set(protocol::kSetToolbarParams, transport, device, 0, config);
}

unsigned char Get_Img_C_Config(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                               unsigned char* destination) {
    return Get(protocol::kGetImgCConfig, transport, device, subCode, destination, protocol::kRecordSize);
}
unsigned char Set_Img_C_Config(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                               KAVLIB_RECORD block) {
    return Set(protocol::kSetImgCConfig, transport, device, subCode, block);
}

unsigned char Get_Camera_Params(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                unsigned char* destination) {
    return Get(protocol::kGetCameraParams, transport, device, subCode, destination, protocol::kCameraParamsReadSize);
}
unsigned char Set_Camera_Params(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                KAVLIB_CAMERA_PARAMS block) {
    return Set(protocol::kSetCameraParams, transport, device, subCode, block);
}

unsigned char Get_Camera_Params_Linear(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                       unsigned char* destination) {
    return Get(protocol::kGetCameraParamsLinear, transport, device, subCode, destination, 1);
}
unsigned char Set_Camera_Params_Linear(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                       unsigned char value) {
    return Set(protocol::kSetCameraParamsLinear, transport, device, subCode, value);
}

unsigned char Get_Camera_SN(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                            unsigned char* destination) {
    return Get(protocol::kGetCameraSn, transport, device, subCode, destination, protocol::kCameraSnSize);
}
unsigned char Set_Camera_SN(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                            KAVLIB_CAMERA_SN block) {
    return Set(protocol::kSetCameraSn, transport, device, subCode, block);
}

unsigned char Get_Screen_Property(unsigned char transport, KAVLIB_HANDLE device, unsigned char* destination) {
    return Get(protocol::kGetScreenProperty, transport, device, 0, destination, protocol::kRecordSize);
}
unsigned char Set_Screen_Property(unsigned char transport, KAVLIB_HANDLE device, KAVLIB_RECORD block) {
    return Set(protocol::kSetScreenProperty, transport, device, 0, block);
}
unsigned char Get_Device_Config(unsigned char transport, KAVLIB_HANDLE device, unsigned char* destination) {
    return Get(protocol::kGetDeviceConfig, transport, device, 0, destination, protocol::kRecordSize);
}
unsigned char Set_Device_Config(unsigned char transport, KAVLIB_HANDLE device, KAVLIB_RECORD block) {
    return Set(protocol::kSetDeviceConfig, transport, device, 0, block);
}

unsigned char Get_Product_Version(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                  unsigned char* destination) {
    return Get(protocol::kGetProductVersion, transport, device, subCode, destination, protocol::kProductVersionSize);
}

unsigned char Get_Product_SN(unsigned char transport, KAVLIB_HANDLE device, unsigned char* destination) {
    return Get(protocol::kGetProductSn, transport, device, 0, destination, protocol::kSerialNumberSize);
}
unsigned char Set_Product_SN(unsigned char transport, KAVLIB_HANDLE device, KAVLIB_SERIAL_NUMBER block) {
    return Set(protocol::kSetProductSn, transport, device, 0, block);
}
unsigned char Get_Board_SN(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                           unsigned char* destination) {
    return Get(protocol::kGetBoardSn, transport, device, subCode, destination, protocol::kSerialNumberSize);
}
unsigned char Set_Board_SN(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                           KAVLIB_SERIAL_NUMBER block) {
    return Set(protocol::kSetBoardSn, transport, device, subCode, block);
}

unsigned char Get_Product_Type(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                               unsigned char* destination) {
    return Get(protocol::kGetProductType, transport, device, subCode, destination, protocol::kProductTypeSize);
}
unsigned char Get_Image_C_Version(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                  unsigned char* destination) {
    return Get(protocol::kGetImageCVersion, transport, device, subCode, destination, protocol::kImageCVersionSize);
}
unsigned char Get_Stylus_Status(unsigned char transport, KAVLIB_HANDLE device, _NERIO_STYLUS_STATUS& status) {
    return GetRecord(protocol::kGetStylusStatus, transport, device, status);
}
unsigned char Get_Stylus_Version(unsigned char transport, KAVLIB_HANDLE device, _NERIO_STYLUS_VERSION& version) {
    return GetRecord(protocol::kGetStylusVersion, transport, device, version);
}

unsigned char Get_Image_Block_Count(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode, int& count) {
    return GetNumbers(protocol::kGetImageBlockCount, transport, device, subCode, {&count});
}
unsigned char Get_Image_Size(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode, int& width,
                             int& height) {
    return GetNumbers(protocol::kGetImageSize, transport, device, subCode, {&width, &height});
}
unsigned char Get_Image_Start_Row(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode, int& row) {
    return GetNumbers(protocol::kGetImageStartRow, transport, device, subCode, {&row});
}
unsigned char Set_Image_Collect_Start_Row(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                          unsigned short row) {
    return SetRow(protocol::kSetImageCollectStartRow, transport, device, subCode, row);
}
unsigned char Set_Image_Start_Row(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                  unsigned short row) {
    return SetRow(protocol::kSetImageStartRow, transport, device, subCode, row);
}

unsigned char Get_Image_Block(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                              unsigned short block, unsigned char* destination, unsigned char& length) {
    const std::array<std::uint8_t, 2> request{static_cast<std::uint8_t>(block & 0xFF),
                                              static_cast<std::uint8_t>(block >> 8)};
    return GetImagePiece(protocol::kGetImageBlock, transport, device, subCode, request, destination, length);
}
unsigned char Get_Image_Line_Top(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                 unsigned char line, unsigned char* destination, unsigned char& length) {
    const std::array<std::uint8_t, 1> request{line};
    return GetImagePiece(protocol::kGetImageLineTop, transport, device, subCode, request, destination, length);
}
unsigned char Get_Image_Line_Data(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                  unsigned char line, unsigned char* destination, unsigned char& length) {
    const std::array<std::uint8_t, 1> request{line};
    return GetImagePiece(protocol::kGetImageLineData, transport, device, subCode, request, destination, length);
}
unsigned char Get_Image_Line_Reference(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode,
                                       unsigned char line, unsigned char* destination, unsigned char& length) {
    const std::array<std::uint8_t, 1> request{line};
    return GetImagePiece(protocol::kGetImageLineReference, transport, device, subCode, request, destination, length);
}

unsigned char Get_Mode(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode, unsigned char& mode) {
    return Get(protocol::kGetMode, transport, device, subCode, &mode, 1);
}
unsigned char Set_Mode(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode, unsigned char value) {
    return Set(protocol::kSetMode, transport, device, subCode, value);
}
unsigned char Set_Upgrade_Linear(unsigned char transport, KAVLIB_HANDLE device, unsigned char subCode) {
    return Set(protocol::kSetUpgradeLinear, transport, device, subCode, protocol::kUpgradeRequest);
}

}  // extern "C"
