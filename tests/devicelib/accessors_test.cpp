// The device accessors through their C exports, against the fake controller: what each
// sends, how much of the reply it takes, the exact-length reads, the pauses, the bracket.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "devicelib/include/KavLib.h"
#include "fake_controller.h"
#include "shared/device_commands.h"

namespace kav::devicelib::testing {
namespace {

constexpr unsigned char kSerial = 0;
constexpr unsigned char kHid = 1;
constexpr std::uint8_t kUntouched = 0xCD;

Bytes Counting(std::size_t n, std::uint8_t from = 1) {
    Bytes bytes(n);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(from + i);
    return bytes;
}

// A getter reached through its export: the transport, the handle, a destination of 64
// bytes filled with kUntouched.
struct Getter {
    const char* name;
    std::uint8_t command;
    std::uint8_t subCode;  // what goes on the wire when the call passes 0x01 (caller sub-codes)
    std::size_t copyLimit;
    std::function<unsigned char(unsigned char, platform::Handle, unsigned char*)> call;
};

const std::vector<Getter>& Getters() {
    static const std::vector<Getter> getters = {
        {"Get_Camera_Propertys", 0x10, 0x01, 58,
         [](auto t, auto h, auto* d) { return Get_Camera_Propertys(t, h, 0x01, d); }},
        {"Get_Encrypt_Key", 0x18, 0x01, 58, [](auto t, auto h, auto* d) { return Get_Encrypt_Key(t, h, 0x01, d); }},
        {"Get_Toolbar_Params", 0x1A, 0x00, 58,
         [](auto t, auto h, auto* d) {
             return Get_Toolbar_Params(t, h, *reinterpret_cast<::_NERIO_TOOLBAR_CONFIG*>(d));
         }},
        {"Get_Img_C_Config", 0x20, 0x01, 58, [](auto t, auto h, auto* d) { return Get_Img_C_Config(t, h, 0x01, d); }},
        {"Get_Camera_Params", 0x22, 0x01, 8, [](auto t, auto h, auto* d) { return Get_Camera_Params(t, h, 0x01, d); }},
        {"Get_Camera_Params_Linear", 0x24, 0x01, 1,
         [](auto t, auto h, auto* d) { return Get_Camera_Params_Linear(t, h, 0x01, d); }},
        {"Get_Camera_SN", 0x26, 0x01, 16, [](auto t, auto h, auto* d) { return Get_Camera_SN(t, h, 0x01, d); }},
        {"Get_Calib_Params_Z_Infrared", 0x29, 0x80, 58,
         [](auto t, auto h, auto* d) {
             return Get_Calib_Params_Z_Infrared(t, h, *reinterpret_cast<_DEVICE_CALIB_PARAS*>(d));
         }},
        {"Get_Calib_Params_Y_Infrared", 0x2B, 0x80, 58,
         [](auto t, auto h, auto* d) {
             return Get_Calib_Params_Y_Infrared(t, h, *reinterpret_cast<_DEVICE_CALIB_PARAS*>(d));
         }},
        {"Get_Calib_Params_X_Infrared", 0x2D, 0x80, 58,
         [](auto t, auto h, auto* d) {
             return Get_Calib_Params_X_Infrared(t, h, *reinterpret_cast<_DEVICE_CALIB_PARAS*>(d));
         }},
        {"Get_Screen_Property", 0x30, 0x00, 58, [](auto t, auto h, auto* d) { return Get_Screen_Property(t, h, d); }},
        {"Get_Device_Config", 0x30, 0x01, 58, [](auto t, auto h, auto* d) { return Get_Device_Config(t, h, d); }},
        {"Get_Product_Version", 0x32, 0x01, 4,
         [](auto t, auto h, auto* d) { return Get_Product_Version(t, h, 0x01, d); }},
        {"Get_Product_SN", 0x34, 0x00, 20, [](auto t, auto h, auto* d) { return Get_Product_SN(t, h, d); }},
        {"Get_Board_SN", 0x36, 0x01, 20, [](auto t, auto h, auto* d) { return Get_Board_SN(t, h, 0x01, d); }},
        {"Get_Product_Type", 0x3A, 0x01, 2, [](auto t, auto h, auto* d) { return Get_Product_Type(t, h, 0x01, d); }},
        {"Get_Image_C_Version", 0x3C, 0x01, 4,
         [](auto t, auto h, auto* d) { return Get_Image_C_Version(t, h, 0x01, d); }},
        {"Get_Stylus_Status", 0x40, 0x0F, 7,
         [](auto t, auto h, auto* d) { return Get_Stylus_Status(t, h, *reinterpret_cast<_NERIO_STYLUS_STATUS*>(d)); }},
        {"Get_Stylus_Version", 0x42, 0x0F, 6,
         [](auto t, auto h, auto* d) {
             return Get_Stylus_Version(t, h, *reinterpret_cast<_NERIO_STYLUS_VERSION*>(d));
         }},
        {"Get_Mode", 0x70, 0x01, 1, [](auto t, auto h, auto* d) { return Get_Mode(t, h, 0x01, *d); }},
    };
    return getters;
}

using Accessors = ControllerTest;

// A full reply fills exactly the copy limit; a reply shorter by one fills only its own
// bytes; a reply longer than the limit never writes past it.
TEST_F(Accessors, GettersCopyOnlyTheReplysBytesUpToTheirLimit) {
    for (const Getter& g : Getters()) {
        SCOPED_TRACE(g.name);
        for (const std::size_t replyLength : {g.copyLimit, g.copyLimit - 1, std::size_t{58}}) {
            SCOPED_TRACE(replyLength);
            controller.requests.clear();
            controller.payloads[g.command] = Counting(replyLength);
            std::array<std::uint8_t, 64> destination;
            destination.fill(kUntouched);
            ASSERT_EQ(g.call(kHid, controller.device, destination.data()), 1);
            ASSERT_EQ(controller.requests.size(), 1u);
            EXPECT_EQ(controller.requests[0].type, protocol::kTypeGet);
            EXPECT_EQ(controller.requests[0].command, g.command);
            EXPECT_EQ(controller.requests[0].subCode, g.subCode);
            EXPECT_EQ(controller.requests[0].length, 0);
            const std::size_t copied = std::min(replyLength, g.copyLimit);
            for (std::size_t i = 0; i < destination.size(); ++i)
                ASSERT_EQ(destination[i], i < copied ? i + 1 : kUntouched) << "byte " << i;
        }
    }
}

TEST_F(Accessors, FailuresAndUnknownTransportsLeaveTheDestinationUntouched) {
    for (const Getter& g : Getters()) {
        SCOPED_TRACE(g.name);
        std::array<std::uint8_t, 64> destination;
        destination.fill(kUntouched);
        const int callsBefore = controller.DeviceCalls();
        EXPECT_EQ(g.call(2, controller.device, destination.data()), 0);
        EXPECT_EQ(g.call(0xFF, controller.device, destination.data()), 0);
        EXPECT_EQ(controller.DeviceCalls(), callsBefore);

        controller.faults[g.command] = Fault::Silent;
        EXPECT_EQ(g.call(kHid, controller.device, destination.data()), 0);
        controller.faults.erase(g.command);
        for (const std::uint8_t byte : destination) ASSERT_EQ(byte, kUntouched);
    }
}

TEST_F(Accessors, GettersSpeakSerialWithTransportZero) {
    controller.payloads[0x32] = {0x01, 0x05, 0x07, 0x0A};
    std::array<std::uint8_t, 4> version{};
    ASSERT_EQ(Get_Product_Version(kSerial, controller.port, 0x00, version.data()), 1);
    EXPECT_EQ(version, (std::array<std::uint8_t, 4>{0x01, 0x05, 0x07, 0x0A}));
    EXPECT_EQ(controller.serialWrites, 1);
    EXPECT_EQ(controller.featureWrites, 0);
}

struct Setter {
    const char* name;
    std::uint8_t command;
    std::uint8_t subCode;
    Bytes payload;
    bool pauses;
    std::function<unsigned char(unsigned char, platform::Handle)> call;
};

template <typename Block>
Block Filled(std::uint8_t from) {
    Block block;
    const Bytes bytes = Counting(sizeof(Block), from);
    std::memcpy(&block, bytes.data(), sizeof block);
    return block;
}

const std::vector<Setter>& Setters() {
    static const std::vector<Setter> setters = {
        {"Set_Camera_Propertys", 0x11, 0x01, Counting(58), false,
         [](auto t, auto h) { return Set_Camera_Propertys(t, h, 0x01, Filled<KAVLIB_RECORD>(1)); }},
        {"Set_Encrypt_Key", 0x19, 0x01, Counting(58), false,
         [](auto t, auto h) { return Set_Encrypt_Key(t, h, 0x01, Filled<KAVLIB_RECORD>(1)); }},
        {"Set_Toolbar_Params", 0x1B, 0x00, Counting(58), false,
         [](auto t, auto h) { return Set_Toolbar_Params(t, h, Filled<::_NERIO_TOOLBAR_CONFIG>(1)); }},
        {"Set_Img_C_Config", 0x21, 0x01, Counting(58), false,
         [](auto t, auto h) { return Set_Img_C_Config(t, h, 0x01, Filled<KAVLIB_RECORD>(1)); }},
        {"Set_Camera_Params", 0x23, 0x01, Counting(6), true,
         [](auto t, auto h) { return Set_Camera_Params(t, h, 0x01, Filled<KAVLIB_CAMERA_PARAMS>(1)); }},
        {"Set_Camera_Params_Linear",
         0x25,
         0x01,
         {0x07},
         true,
         [](auto t, auto h) { return Set_Camera_Params_Linear(t, h, 0x01, 0x07); }},
        {"Set_Camera_SN", 0x27, 0x01, Counting(16), false,
         [](auto t, auto h) { return Set_Camera_SN(t, h, 0x01, Filled<KAVLIB_CAMERA_SN>(1)); }},
        {"Set_Calib_Params_Z_Infrared", 0x2A, 0x80, Counting(58), false,
         [](auto t, auto h) { return Set_Calib_Params_Z_Infrared(t, h, Filled<_DEVICE_CALIB_PARAS>(1)); }},
        {"Set_Calib_Params_Y_Infrared", 0x2C, 0x80, Counting(58), false,
         [](auto t, auto h) { return Set_Calib_Params_Y_Infrared(t, h, Filled<_DEVICE_CALIB_PARAS>(1)); }},
        {"Set_Calib_Params_X_Infrared", 0x2E, 0x80, Counting(58), false,
         [](auto t, auto h) { return Set_Calib_Params_X_Infrared(t, h, Filled<_DEVICE_CALIB_PARAS>(1)); }},
        {"Set_Screen_Property", 0x31, 0x00, Counting(58), false,
         [](auto t, auto h) { return Set_Screen_Property(t, h, Filled<KAVLIB_RECORD>(1)); }},
        {"Set_Device_Config", 0x31, 0x01, Counting(58), false,
         [](auto t, auto h) { return Set_Device_Config(t, h, Filled<KAVLIB_RECORD>(1)); }},
        {"Set_Product_SN", 0x35, 0x00, Counting(20), false,
         [](auto t, auto h) { return Set_Product_SN(t, h, Filled<KAVLIB_SERIAL_NUMBER>(1)); }},
        {"Set_Board_SN", 0x37, 0x01, Counting(20), false,
         [](auto t, auto h) { return Set_Board_SN(t, h, 0x01, Filled<KAVLIB_SERIAL_NUMBER>(1)); }},
        {"Set_Image_Collect_Start_Row",
         0x53,
         0x01,
         {0x34, 0x12},
         false,
         [](auto t, auto h) { return Set_Image_Collect_Start_Row(t, h, 0x01, 0x1234); }},
        {"Set_Image_Start_Row",
         0x61,
         0x01,
         {0x34, 0x12},
         true,
         [](auto t, auto h) { return Set_Image_Start_Row(t, h, 0x01, 0x1234); }},
        {"Set_Mode", 0x71, 0x01, {0x01}, false, [](auto t, auto h) { return Set_Mode(t, h, 0x01, 0x01); }},
        {"Set_Upgrade_Linear",
         0x75,
         0x01,
         {0x55},
         false,
         [](auto t, auto h) { return Set_Upgrade_Linear(t, h, 0x01); }},
    };
    return setters;
}

// Each setter sends its row's payload; the three camera sets pause 3 s, only after success.
TEST_F(Accessors, SettersSendTheirBlockAndPauseOnlyAfterSuccess) {
    for (const Setter& s : Setters()) {
        SCOPED_TRACE(s.name);
        for (const bool answered : {true, false}) {
            SCOPED_TRACE(answered);
            controller.requests.clear();
            controller.sleeps.clear();
            if (!answered) controller.faults[s.command] = Fault::Silent;
            EXPECT_EQ(s.call(kHid, controller.device), answered ? 1 : 0);
            controller.faults.erase(s.command);
            ASSERT_FALSE(controller.requests.empty());
            const DEVICE_PACKET& sent = controller.requests[0];
            EXPECT_EQ(sent.type, protocol::kTypeSet);
            EXPECT_EQ(sent.command, s.command);
            EXPECT_EQ(sent.subCode, s.subCode);
            EXPECT_EQ(Bytes(sent.payload, sent.payload + sent.length), s.payload);
            const bool paused = !controller.sleeps.empty() && controller.sleeps.back() == 3000;
            EXPECT_EQ(paused, answered && s.pauses);
        }
        EXPECT_EQ(s.call(2, controller.device), 0);
    }
}

TEST_F(Accessors, SetterOverSerialStopsAtAFailedSend) {
    controller.serialWriteLimit = 3;
    EXPECT_EQ(Set_Mode(kSerial, controller.port, 0x00, 0x01), 0);
    EXPECT_EQ(controller.serialWrites, 1);
}

// The exact-length reads: any other length fails even though the exchange succeeded, and
// leaves the outputs as they were.
TEST_F(Accessors, ExactReadsRefuseEveryOtherLength) {
    struct Case {
        Bytes reply;
        bool ok;
    };
    for (const Case& c : {Case{{0x80, 0x02, 0xE0, 0x01}, true}, Case{{0x80, 0x02, 0xE0}, false},
                          Case{{0x80, 0x02, 0xE0, 0x01, 0x00}, false}, Case{{}, false}}) {
        SCOPED_TRACE(c.reply.size());
        controller.payloads[0x52] = c.reply;
        int width = -1;
        int height = -1;
        EXPECT_EQ(Get_Image_Size(kHid, controller.device, 0x00, width, height), c.ok ? 1 : 0);
        EXPECT_EQ(width, c.ok ? 640 : -1);
        EXPECT_EQ(height, c.ok ? 480 : -1);
    }
    controller.payloads[0x50] = {0x10, 0x01};
    controller.payloads[0x62] = {0xFF, 0xFF, 0x00};
    int count = -1;
    int row = -1;
    EXPECT_EQ(Get_Image_Block_Count(kHid, controller.device, 0x01, count), 1);
    EXPECT_EQ(count, 0x0110);
    EXPECT_EQ(Get_Image_Start_Row(kHid, controller.device, 0x01, row), 0);
    EXPECT_EQ(row, -1);
    controller.payloads[0x62] = {0xFF, 0xFF};
    EXPECT_EQ(Get_Image_Start_Row(kHid, controller.device, 0x01, row), 1);
    EXPECT_EQ(row, 0xFFFF);  // widened, not sign-extended
}

// The fast reads name their piece, use fast timing, and report the length and the data
// before judging the length.
TEST_F(Accessors, FastImageReadsReportLengthAndDataBeforeJudgingThem) {
    using Read = std::function<unsigned char(unsigned char*, unsigned char&)>;
    struct Case {
        const char* name;
        std::uint8_t command;
        Bytes request;
        Read read;
    };
    const Case cases[] = {
        {"Get_Image_Block",
         0x60,
         {0x02, 0x01},
         [&](unsigned char* d, unsigned char& n) { return Get_Image_Block(kHid, controller.device, 0, 0x0102, d, n); }},
        {"Get_Image_Line_Top",
         0x64,
         {0x07},
         [&](unsigned char* d, unsigned char& n) { return Get_Image_Line_Top(kHid, controller.device, 0, 7, d, n); }},
        {"Get_Image_Line_Data",
         0x66,
         {0x07},
         [&](unsigned char* d, unsigned char& n) { return Get_Image_Line_Data(kHid, controller.device, 0, 7, d, n); }},
        {"Get_Image_Line_Reference",
         0x68,
         {0x07},
         [&](unsigned char* d, unsigned char& n) {
             return Get_Image_Line_Reference(kHid, controller.device, 0, 7, d, n);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const std::size_t replyLength : {std::size_t{32}, std::size_t{31}, std::size_t{40}}) {
            SCOPED_TRACE(replyLength);
            controller.requests.clear();
            controller.payloads[c.command] = Counting(replyLength);
            std::array<std::uint8_t, 64> destination;
            destination.fill(kUntouched);
            unsigned char length = 0;
            EXPECT_EQ(c.read(destination.data(), length), replyLength == 32 ? 1 : 0);
            EXPECT_EQ(length, replyLength);
            ASSERT_EQ(controller.requests.size(), 1u);
            EXPECT_EQ(
                Bytes(controller.requests[0].payload, controller.requests[0].payload + controller.requests[0].length),
                c.request);
            // Never more than one piece, whatever the controller sends.
            for (std::size_t i = 0; i < destination.size(); ++i)
                ASSERT_EQ(destination[i], i < std::min<std::size_t>(replyLength, 32) ? i + 1 : kUntouched);
        }
        controller.faults[c.command] = Fault::Silent;
        controller.sleeps.clear();
        unsigned char length = 0xEE;
        std::array<std::uint8_t, 32> destination{};
        EXPECT_EQ(c.read(destination.data(), length), 0);
        EXPECT_EQ(length, 0xEE);
        EXPECT_EQ(controller.sleeps, std::vector<std::uint32_t>(3 * 30, 1));  // three tries of 30 1-ms polls
        controller.faults.erase(c.command);
    }
}

TEST_F(Accessors, CalibrationRecordPairMovesBothRecordsEvenAfterAFailure) {
    _DEVICE_CALIB_PARAS x;
    _DEVICE_CALIB_PARAS y;
    std::memset(&x, kUntouched, sizeof x);
    std::memset(&y, kUntouched, sizeof y);
    controller.payloads[0x14] = Counting(58);
    ASSERT_EQ(Get_Calib_Params(kHid, controller.device, x, y), 1);
    ASSERT_EQ(controller.requests.size(), 2u);
    EXPECT_EQ(controller.requests[0].subCode, 0x00);
    EXPECT_EQ(controller.requests[1].subCode, 0x01);

    controller.requests.clear();
    controller.faults[0x15] = Fault::Silent;
    EXPECT_EQ(Set_Calib_Params(kHid, controller.device, x, y), 0);
    EXPECT_EQ(controller.CommandReportsSent(), 10);  // five tries for each record
}

TEST_F(Accessors, RetiredCalibrationNamesDoNothing) {
    EXPECT_EQ(Get_Calib_Para1(), 0);
    EXPECT_EQ(Get_Calib_Params3(), 0);
    EXPECT_EQ(Set_Calib_Para1(), 0);
    EXPECT_EQ(Set_Calib_Params3(), 0);
    EXPECT_EQ(controller.DeviceCalls(), 0);
}

// --- Handle-only accessors ---

// The bracket's switches and the access between them, as (command, sub-code) pairs.
std::vector<std::pair<std::uint8_t, std::uint8_t>> Exchange(const std::vector<DEVICE_PACKET>& requests) {
    std::vector<std::pair<std::uint8_t, std::uint8_t>> sent;
    for (const DEVICE_PACKET& p : requests) {
        if (!sent.empty() && sent.back() == std::pair(p.command, p.subCode)) continue;  // a retry
        sent.emplace_back(p.command, p.subCode);
    }
    return sent;
}

TEST_F(Accessors, BracketedAccessorsSwitchAroundEvenAFailingAccessAndReportOnlyIt) {
    struct Case {
        const char* name;
        std::uint8_t command;
        std::uint8_t subCode;
        std::function<unsigned char(platform::Handle)> call;
    };
    std::array<std::uint8_t, 64> buffer{};
    const Case cases[] = {
        {"GetToolbarConfig", 0x1A, 0x00,
         [&](auto h) { return GetToolbarConfig(h, *reinterpret_cast<::_NERIO_TOOLBAR_CONFIG*>(buffer.data())); }},
        {"SetToolbarConfig", 0x1B, 0x00, [](auto h) { return SetToolbarConfig(h, ::_NERIO_TOOLBAR_CONFIG{}); }},
        {"GetScreenProperty", 0x30, 0x00, [&](auto h) { return GetScreenProperty(h, buffer.data()); }},
        {"GetDeviceConfig", 0x30, 0x01, [&](auto h) { return GetDeviceConfig(h, buffer.data()); }},
        {"SetDeviceConfig", 0x31, 0x01, [](auto h) { return SetDeviceConfig(h, KAVLIB_RECORD{}); }},
        {"Nerio_GetEncryptKey", 0x18, 0x00, [&](auto h) { return Nerio_GetEncryptKey(h, buffer.data()); }},
        {"Nerio_SetEncryptKey", 0x19, 0x00, [](auto h) { return Nerio_SetEncryptKey(h, KAVLIB_RECORD{}); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const bool answered : {true, false}) {
            SCOPED_TRACE(answered);
            controller.requests.clear();
            if (!answered) controller.faults[c.command] = Fault::Silent;
            EXPECT_EQ(c.call(controller.device), answered ? 1 : 0);
            controller.faults.erase(c.command);
            const std::vector<std::pair<std::uint8_t, std::uint8_t>> expected = {
                {0x71, 0x00}, {0x71, 0x01}, {c.command, c.subCode}, {0x71, 0x00}, {0x71, 0x01}};
            EXPECT_EQ(Exchange(controller.requests), expected);
            EXPECT_EQ(controller.requests.front().payload[0], 0x01);
            EXPECT_EQ(controller.requests.back().payload[0], 0x00);
        }
    }
    // Failing switches do not stop the access, nor change its result.
    controller.faults[0x71] = Fault::Silent;
    controller.payloads[0x30] = Counting(58);
    EXPECT_EQ(GetScreenProperty(controller.device, buffer.data()), 1);
}

TEST_F(Accessors, ModeWithoutTheBracket) {
    controller.payloads[0x70] = {0x01};
    unsigned char mode = 0;
    EXPECT_EQ(GetMode(controller.device, 0x01, mode), 1);
    EXPECT_EQ(mode, 0x01);
    EXPECT_EQ(SetMode(controller.device, 0x00, 0x00), 1);
    EXPECT_EQ(Exchange(controller.requests),
              (std::vector<std::pair<std::uint8_t, std::uint8_t>>{{0x70, 0x01}, {0x71, 0x00}}));
}

TEST_F(Accessors, FirmwareVersionText) {
    struct Case {
        Bytes version;
        const char* text;
    };
    for (const Case& c : {Case{{0x01, 0x05, 0x07, 0x0A}, "5.01.1007"}, Case{{0x00, 0x00, 0x00, 0x00}, "0.00.0000"},
                          Case{{0xFF, 0xFF, 0xFF, 0xFF}, "255.255.255255"}, Case{{0x02, 0x03}, "3.02.0000"}}) {
        SCOPED_TRACE(c.text);
        controller.payloads[0x32] = c.version;
        std::array<char, 64> text;
        text.fill('#');
        unsigned char length = 0;
        ASSERT_EQ(GetFirewareVersion(controller.device, 0x00, text.data(), length), 1);
        EXPECT_EQ(std::string(text.data()), c.text);
        EXPECT_EQ(length, std::string(c.text).size());
    }
    controller.faults[0x32] = Fault::Silent;
    std::array<char, 64> text;
    text.fill('#');
    unsigned char length = 77;
    EXPECT_EQ(GetFirewareVersion(controller.device, 0x00, text.data(), length), 0);
    EXPECT_EQ(length, 77);
    EXPECT_EQ(text[0], '#');
}

// --- Product serial numbers: 0 means written ---

Bytes SerialRecord() {
    Bytes s(20, 0);
    s[0] = 'A';
    s[1] = 10;
    s[2] = 'B';
    s[3] = 20;
    s[4] = 'C';
    s[5] = 'D';
    s[6] = 5;
    s[7] = 'E';
    s[8] = 11;
    s[11] = 12;
    s[12] = 13;
    const std::uint32_t sequence = 1234567;
    std::memcpy(&s[13], &sequence, 4);
    return s;
}

TEST_F(Accessors, ProductSerialNumberFormsAndRefusals) {
    struct Case {
        const char* name;
        std::function<void(Bytes&)> edit;
        bool written;
    };
    const Case cases[] = {
        {"the example", [](Bytes&) {}, true},
        {"unprinted bytes are free", [](Bytes& s) { s[9] = s[10] = s[17] = s[18] = s[19] = 0xFF; }, true},
        {"largest fields", [](Bytes& s) { s[1] = s[3] = s[8] = s[11] = s[12] = 99, s[6] = 9; }, true},
        {"lower-case s0", [](Bytes& s) { s[0] = 'a'; }, false},
        {"s7 not a letter", [](Bytes& s) { s[7] = '5'; }, false},
        {"100 in s1", [](Bytes& s) { s[1] = 100; }, false},
        {"100 in s12", [](Bytes& s) { s[12] = 100; }, false},
        {"10 in s6", [](Bytes& s) { s[6] = 10; }, false},
        {"sequence of eight digits",
         [](Bytes& s) {
             const std::uint32_t big = 10'000'000;
             std::memcpy(&s[13], &big, 4);
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes record = SerialRecord();
        c.edit(record);
        controller.payloads[0x34] = record;
        for (const bool oem : {false, true}) {
            std::array<char, 40> text;
            text.fill('#');
            int length = -1;
            const unsigned char result = oem ? Nerio_GetProductSN_OEM(controller.device, text.data(), length)
                                             : Nerio_GetProductSN(controller.device, text.data(), length);
            EXPECT_EQ(result, c.written ? 0 : 1);
            if (!c.written) {
                EXPECT_EQ(length, -1);
                EXPECT_EQ(text[0], '#');
                continue;
            }
            EXPECT_EQ(length, oem ? 27 : 35);
            EXPECT_EQ(std::string(text.data()).size(), static_cast<std::size_t>(length));
        }
    }
    controller.payloads[0x34] = SerialRecord();
    controller.requests.clear();
    std::array<char, 40> text{};
    int length = 0;
    ASSERT_EQ(Nerio_GetProductSN(controller.device, text.data(), length), 0);
    EXPECT_EQ(std::string(text.data()), "TARNEVO-A10B20C-D5E-11-1213-1234567");
    ASSERT_EQ(Nerio_GetProductSN_OEM(controller.device, text.data(), length), 0);
    EXPECT_EQ(std::string(text.data()), "A10B20C-D5E-11-1213-1234567");
    // The read is bracketed.
    EXPECT_EQ(Exchange(controller.requests).size(), 10u);

    controller.faults[0x34] = Fault::Silent;
    EXPECT_EQ(Nerio_GetProductSN(controller.device, text.data(), length), 1);
    // A short record reads as zeros beyond its end: s0 = 0 is not a letter.
    controller.faults.erase(0x34);
    controller.payloads[0x34] = {};
    EXPECT_EQ(Nerio_GetProductSN(controller.device, text.data(), length), 1);
}

}  // namespace
}  // namespace kav::devicelib::testing
