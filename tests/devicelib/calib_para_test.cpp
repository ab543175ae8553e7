// Reading and writing the calibration records by product: which commands go out, inside
// which bracket, and what each record receives; then the same through the real driver.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "devicelib/include/KavLib.h"
#include "devicelib/platform/sim/sim_platform.h"
#include "fake_controller.h"
#include "shared/device_commands.h"
#include "simulator/controller/firmware.h"
#include "simulator/hidstack/hid_stack.h"

namespace kav::devicelib::testing {
namespace {

// A controller that reports a product ID and answers each (command, sub-code) with its
// own record.
class CalibrationController : public FakeController {
public:
    std::optional<platform::HidAttributes> attributes = platform::HidAttributes{0x4B1D, 0x0A31, 0x0100};
    std::map<std::pair<std::uint8_t, std::uint8_t>, Bytes> records;

    std::optional<platform::HidAttributes> GetAttributes(platform::Handle handle) override {
        if (handle != device) return std::nullopt;
        return attributes;
    }

    bool SetFeature(platform::Handle handle, std::span<const std::uint8_t> report) override {
        if (report.size() == kFeatureReportSize && report[0] == kPacketStart) {
            const auto record = records.find({report[2], report[4]});
            if (record != records.end())
                payloads[report[2]] = record->second;
            else
                payloads.erase(report[2]);
        }
        return FakeController::SetFeature(handle, report);
    }

    // The command reports sent, as "get 14.00" or "set 71.00 01" (a payload of one byte)
    // or "set 15.01 #58" (its length).
    std::vector<std::string> Sent() const {
        std::vector<std::string> sent;
        char line[32];
        for (const DEVICE_PACKET& p : requests) {
            const char* verb = p.type == 0x02 ? "get" : "set";
            if (p.length == 0)
                std::snprintf(line, sizeof line, "%s %02X.%02X", verb, p.command, p.subCode);
            else if (p.length == 1)
                std::snprintf(line, sizeof line, "%s %02X.%02X %02X", verb, p.command, p.subCode, p.payload[0]);
            else
                std::snprintf(line, sizeof line, "%s %02X.%02X #%d", verb, p.command, p.subCode, p.length);
            sent.emplace_back(line);
        }
        return sent;
    }
};

_DEVICE_CALIB_PARAS Record(float first) {
    _DEVICE_CALIB_PARAS record{};
    for (int i = 0; i < 10; ++i) record.Coef[i] = first + static_cast<float>(i);
    for (std::size_t i = 0; i < sizeof record.Reserved; ++i) record.Reserved[i] = static_cast<std::uint8_t>(0xA0 + i);
    return record;
}

Bytes BytesOf(const _DEVICE_CALIB_PARAS& record) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&record);
    return Bytes(bytes, bytes + sizeof record);
}

bool Same(const _DEVICE_CALIB_PARAS& a, const _DEVICE_CALIB_PARAS& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

class CalibPara : public ::testing::Test {
protected:
    void SetUp() override { platform::SetPlatform(&controller); }
    void TearDown() override { platform::SetPlatform(nullptr); }

    CalibrationController controller;
    const _DEVICE_CALIB_PARAS x = Record(100), y = Record(200), untouched = Record(-50);
};

const std::vector<std::string> kBracketOn = {"set 71.00 01", "set 71.01 01"};
const std::vector<std::string> kBracketOff = {"set 71.00 00", "set 71.01 00"};

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> joined;
    for (const auto& part : parts) joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

TEST_F(CalibPara, EachProductHasItsCommandsAndBracket) {
    struct Case {
        std::uint16_t productId;
        std::pair<std::uint8_t, std::uint8_t> whereX, whereY;  // get command and sub-code
        std::vector<std::string> read, write;
    };
    const Case cases[] = {
        {0x0A31,
         {0x14, 0x00},
         {0x14, 0x01},
         Join({kBracketOn, {"get 14.00", "get 14.01"}, kBracketOff}),
         Join({kBracketOn, {"set 15.00 #58", "set 15.01 #58"}, kBracketOff})},
        {0x0A41,
         {0x14, 0x00},
         {0x14, 0x01},
         Join({kBracketOn, {"get 14.00", "get 14.01"}, kBracketOff}),
         Join({kBracketOn, {"set 15.00 #58", "set 15.01 #58"}, kBracketOff})},
        {0x0A07,
         {0x2D, 0x80},
         {0x2B, 0x80},
         {"set 71.80 01", "get 2D.80", "get 2B.80", "set 71.80 00"},
         {"set 71.80 01", "set 2E.80 #58", "set 2C.80 #58", "set 71.80 00"}},
        {0x0A32, {}, {}, {}, {}},
        {0x0000, {}, {}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.productId);
        controller.requests.clear();
        controller.attributes->ProductId = c.productId;
        controller.records = {{c.whereX, BytesOf(x)}, {c.whereY, BytesOf(y)}};
        const bool known = !c.read.empty();
        const int callsBefore = controller.DeviceCalls();

        _DEVICE_CALIB_PARAS readX = untouched, readY = untouched;
        EXPECT_EQ(GetCalibPara(controller.device, readX, readY), known ? 1 : 0);
        EXPECT_EQ(controller.Sent(), c.read);
        EXPECT_TRUE(Same(readX, known ? x : untouched));
        EXPECT_TRUE(Same(readY, known ? y : untouched));

        controller.requests.clear();
        EXPECT_EQ(SetCalibPara(controller.device, x, y), known ? 1 : 0);
        EXPECT_EQ(controller.Sent(), c.write);
        if (known) {
            // The records go out whole, X first.
            ASSERT_EQ(controller.requests.size(), c.write.size());
            const std::size_t first = c.productId == 0x0A07 ? 1 : 2;
            EXPECT_EQ(std::memcmp(controller.requests[first].payload, &x, sizeof x), 0);
            EXPECT_EQ(std::memcmp(controller.requests[first + 1].payload, &y, sizeof y), 0);
        } else {
            EXPECT_EQ(controller.DeviceCalls(), callsBefore);
        }
    }
}

TEST_F(CalibPara, TheSecondRecordMovesEvenWhenTheFirstFailed) {
    // The infrared controller does not answer for record X.
    controller.attributes->ProductId = 0x0A07;
    controller.records = {{{0x2B, 0x80}, BytesOf(y)}};
    controller.faults[0x2D] = Fault::Silent;
    _DEVICE_CALIB_PARAS readX = untouched, readY = untouched;
    EXPECT_EQ(GetCalibPara(controller.device, readX, readY), 0);
    EXPECT_TRUE(Same(readX, untouched));
    EXPECT_TRUE(Same(readY, y));
    EXPECT_EQ(controller.Sent().back(), "set 71.80 00");

    // The two switches on and record X fail, five tries each; record Y still goes.
    controller.attributes->ProductId = 0x0A31;
    controller.requests.clear();
    controller.failingWrites = 3 * 5;
    EXPECT_EQ(SetCalibPara(controller.device, x, y), 0);
    EXPECT_EQ(controller.Sent(), Join({{"set 15.01 #58"}, kBracketOff}));
}

TEST_F(CalibPara, NothingIsSentWithoutAttributesOrAHandle) {
    controller.attributes.reset();
    _DEVICE_CALIB_PARAS readX = untouched, readY = untouched;
    EXPECT_EQ(GetCalibPara(controller.device, readX, readY), 0);
    EXPECT_EQ(SetCalibPara(controller.device, x, y), 0);
    controller.attributes = platform::HidAttributes{0x4B1D, 0x0A31, 0};
    EXPECT_EQ(GetCalibPara(platform::kInvalidHandle, readX, readY), 0);
    EXPECT_EQ(SetCalibPara(nullptr, x, y), 0);
    EXPECT_EQ(controller.DeviceCalls(), 0);
    EXPECT_TRUE(Same(readX, untouched));
}

// Through the driver's relay to the simulated controller, which keeps the records, and
// back. The platform waits in real time here (about 50 ms a transaction).
TEST(CalibParaOnTheDriver, RecordsWrittenByProductComeBackFromTheController) {
    for (const std::uint16_t productId : {protocol::kProductPacket, protocol::kProductStylus}) {
        SCOPED_TRACE(productId);
        kmdf::VirtualClock clock{1'000'000};
        sim::Controller controller(productId);
        sim::HidStack stack{sim::HostEnvironment{&clock, nullptr}};
        ASSERT_EQ(stack.Attach(controller).status, STATUS_SUCCESS);
        platform::sim::SimPlatform simulated(&stack);
        platform::SetPlatform(&simulated);
        const platform::Handle touch = simulated.OpenHid(stack.Interfaces().front().path, true);
        ASSERT_TRUE(platform::IsValidHandle(touch));

        const _DEVICE_CALIB_PARAS x = Record(0.5f), y = Record(-3);
        EXPECT_EQ(SetCalibPara(touch, x, y), 1);
        _DEVICE_CALIB_PARAS readX{}, readY{};
        EXPECT_EQ(GetCalibPara(touch, readX, readY), 1);
        EXPECT_TRUE(Same(readX, x));
        EXPECT_TRUE(Same(readY, y));
        const std::uint8_t getX = productId == protocol::kProductStylus ? 0x2D : 0x14;
        const std::uint8_t subX = productId == protocol::kProductStylus ? 0x80 : 0x00;
        EXPECT_EQ(controller.Block(getX, subX), BytesOf(x));
        // Every switch was turned off again.
        EXPECT_EQ(controller.Mode(0x00), 0);
        EXPECT_EQ(controller.Mode(0x80), 0);

        simulated.Close(touch);
        platform::SetPlatform(nullptr);
        simulated.Attach(nullptr);
    }
}

}  // namespace
}  // namespace kav::devicelib::testing
