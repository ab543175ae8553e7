// The handle-only accessors: the access bracket around a catalogue row over HID, and the
// texts made of the version and serial number records.
#include <array>
#include <cstring>
#include <span>

#include "devicelib/access_bracket.h"
#include "devicelib/accessors.h"
#include "devicelib/guarded.h"
#include "devicelib/include/KavLib.h"
#include "devicelib/product_text.h"
#include "shared/device_commands.h"

namespace {

using kav::devicelib::Guarded;
using kav::devicelib::Handle;
using kav::devicelib::WithAccessBracket;
namespace protocol = kav::protocol;

constexpr std::uint8_t kHid = static_cast<std::uint8_t>(kav::devicelib::Transport::Hid);

bool BracketedRead(const protocol::Command& row, Handle device, std::uint8_t subCode, std::span<std::uint8_t> into) {
    return WithAccessBracket(device, [&] { return kav::devicelib::ReadItem(row, kHid, device, subCode, {}, into); });
}

template <typename Block>
unsigned char BracketedWrite(const protocol::Command& row, Handle device, const Block& block) {
    const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(&block), sizeof(Block));
    return Guarded([&] {
        return WithAccessBracket(device, [&] { return kav::devicelib::WriteItem(row, kHid, device, 0, bytes); });
    });
}

unsigned char BracketedGet(const protocol::Command& row, Handle device, unsigned char* destination) {
    if (destination == nullptr) return 0;
    return Guarded([&] { return BracketedRead(row, device, 0, std::span(destination, protocol::kRecordSize)); });
}

// Success is 0 here, failure 1: the serial number's own convention.
unsigned char ProductSerialNumber(Handle device, char* text, int& length, kav::devicelib::SerialNumberForm form) {
    constexpr unsigned char kWritten = 0;
    constexpr unsigned char kNotWritten = 1;
    if (text == nullptr) return kNotWritten;
    return Guarded<unsigned char>(kNotWritten, [&] {
        std::array<std::uint8_t, protocol::kSerialNumberSize> record{};
        if (!BracketedRead(protocol::kGetProductSn, device, 0, record)) return kNotWritten;
        const std::optional<std::string> printed = kav::devicelib::ProductSerialNumberText(record, form);
        if (!printed) return kNotWritten;
        std::memcpy(text, printed->c_str(), printed->size() + 1);
        length = static_cast<int>(printed->size());
        return kWritten;
    });
}

}  // namespace

extern "C" {

unsigned char GetToolbarConfig(KAVLIB_HANDLE device, _NERIO_TOOLBAR_CONFIG& config) {
    return BracketedGet(protocol::kGetToolbarParams, device, reinterpret_cast<unsigned char*>(&config));
}

unsigned char SetToolbarConfig(KAVLIB_HANDLE device, _NERIO_TOOLBAR_CONFIG config) {
    return BracketedWrite(protocol::kSetToolbarParams, device, config);
}

unsigned char GetScreenProperty(KAVLIB_HANDLE device, unsigned char* destination) {
    return BracketedGet(protocol::kGetScreenProperty, device, destination);
}

unsigned char GetDeviceConfig(KAVLIB_HANDLE device, unsigned char* destination) {
    return BracketedGet(protocol::kGetDeviceConfig, device, destination);
}

unsigned char SetDeviceConfig(KAVLIB_HANDLE device, KAVLIB_RECORD block) {
    return BracketedWrite(protocol::kSetDeviceConfig, device, block);
}

unsigned char Nerio_GetEncryptKey(KAVLIB_HANDLE device, unsigned char* destination) {
    if (destination == nullptr) return 0;
    return Guarded([&] {
        return BracketedRead(protocol::kGetEncryptKey, device, protocol::kSubEncryptKey,
                             std::span(destination, protocol::kRecordSize));
    });
}

unsigned char Nerio_SetEncryptKey(KAVLIB_HANDLE device, KAVLIB_RECORD block) {
    // kSetEncryptKey passes the caller's sub-code, which is 0 here: WriteItem is given 0.
    static_assert(protocol::kSubEncryptKey == 0);
    return BracketedWrite(protocol::kSetEncryptKey, device, block);
}

unsigned char GetFirewareVersion(KAVLIB_HANDLE device, unsigned char subCode, char* text, unsigned char& length) {
    if (text == nullptr) return 0;
    return Guarded([&] {
        std::array<std::uint8_t, protocol::kProductVersionSize> version{};
        if (!BracketedRead(protocol::kGetProductVersion, device, subCode, version)) return false;
        const std::string printed = kav::devicelib::FirmwareVersionText(version);
        const std::size_t n = std::min(printed.size(), kav::devicelib::kVersionTextChars - 1);
        std::memcpy(text, printed.data(), n);
        text[n] = '\0';
        length = static_cast<unsigned char>(n);
        return true;
    });
}

unsigned char GetMode(KAVLIB_HANDLE device, unsigned char subCode, unsigned char& mode) {
    return Get_Mode(kHid, device, subCode, mode);
}

unsigned char SetMode(KAVLIB_HANDLE device, unsigned char subCode, unsigned char value) {
    return Set_Mode(kHid, device, subCode, value);
}

unsigned char Nerio_GetProductSN(KAVLIB_HANDLE device, char* text, int& length) {
    return ProductSerialNumber(device, text, length, kav::devicelib::SerialNumberForm::Full);
}

unsigned char Nerio_GetProductSN_OEM(KAVLIB_HANDLE device, char* text, int& length) {
    return ProductSerialNumber(device, text, length, kav::devicelib::SerialNumberForm::Oem);
}

}  // extern "C"
