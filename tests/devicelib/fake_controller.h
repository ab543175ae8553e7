// A touch controller behind a fake platform on a virtual clock. It answers command reports
// (HID) and serial frames by command, can be told to misbehave per command, and counts
// every call and every millisecond slept, so tests check tries and polls exactly.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "devicelib/platform/failing_platform.h"
#include "devicelib/protocol.h"
#include "shared/device_packet.h"
#include "shared/driver_config.h"
#include "shared/driver_request.h"
#include "shared/hid_reports.h"

namespace kav::devicelib::testing {

using Bytes = std::vector<std::uint8_t>;
using Report = std::array<std::uint8_t, kFeatureReportSize>;

inline platform::Handle FakeHandle(std::uintptr_t value) {
    return reinterpret_cast<platform::Handle>(value);
}

// The frame's bytes without the zero fill.
inline Bytes FrameBytes(std::uint8_t type, std::uint8_t command, std::uint8_t subCode, const Bytes& payload) {
    Bytes frame(payload.size() + 6);
    const std::size_t size = BuildFramedPacket(type, command, subCode, payload.data(), payload.size(), frame.data());
    EXPECT_EQ(size, frame.size());
    return frame;
}

inline Bytes CorruptChecksum(Bytes frame) {
    frame.back() = static_cast<std::uint8_t>(frame.back() + 1);
    return frame;
}

inline Report AsReport(const Bytes& frame) {
    Report report{};
    for (std::size_t i = 0; i < frame.size() && i < report.size(); ++i) report[i] = frame[i];
    return report;
}

enum class Fault {
    None,
    Silent,        // HID: the read fails; serial: no byte comes
    WrongCommand,  // the reply names the next command code
    OtherSubCode,  // the reply's sub-code differs from the request's
    BadChecksum,
};

class FakeController : public platform::FailingPlatform {
public:
    const platform::Handle device = FakeHandle(0x40);
    const platform::Handle port = FakeHandle(0x50);

    // --- How the controller answers ---
    std::map<std::uint8_t, Bytes> payloads;      // reply payload by command; empty if absent
    std::map<std::uint8_t, Fault> faults;        // by command
    std::map<std::uint8_t, std::uint8_t> types;  // reply type by command; else request type | 0x10
    // HID: reports served by the next reads, whatever was asked; nullopt makes the read fail.
    std::deque<std::optional<Report>> hidReads;
    // Serial: bytes emitted after the next writes, one entry per write, instead of a reply.
    std::deque<Bytes> serialReplies;
    int failingWrites = 0;                        // the next so many feature writes fail
    std::optional<std::size_t> serialWriteLimit;  // a short write

    // --- The driver's side of feature 0x55 ---
    std::uint8_t workMode = 0xF1;
    _NERIO_DRIVER_CONFIG driverConfig{};

    // --- What happened ---
    std::uint64_t nowMs = 0;
    std::vector<std::uint32_t> sleeps;
    int featureWrites = 0;
    int featureReads = 0;
    std::vector<DEVICE_PACKET> requests;  // command reports and serial frames, in order
    std::vector<Report> driverWrites;
    std::array<std::uint8_t, kSpeedParametersSize> speed{};
    int serialWrites = 0;
    int serialReads = 0;
    int serialTimeouts = 0;
    int purges = 0;

    int DeviceCalls() const { return featureWrites + featureReads + serialWrites + serialReads + purges; }

    void Sleep(std::uint32_t milliseconds) override {
        sleeps.push_back(milliseconds);
        nowMs += milliseconds;
    }

    bool SetFeature(platform::Handle handle, std::span<const std::uint8_t> report) override {
        ++featureWrites;
        if (handle != device || report.size() != kFeatureReportSize) return false;
        if (failingWrites > 0) {
            --failingWrites;
            return false;
        }
        if (report[0] == kDriverRequestFeatureId) {
            Report copy;
            std::copy(report.begin(), report.end(), copy.begin());
            driverWrites.push_back(copy);
            ApplyDriverRequest(copy);
            return true;
        }
        DEVICE_PACKET request;
        if (report[0] != kPacketStart || !ParseFramedPacket(report.data(), report.size(), &request)) return false;
        requests.push_back(request);
        pending_ = Answer(request);
        return true;
    }

    bool GetFeature(platform::Handle handle, std::span<std::uint8_t> report) override {
        ++featureReads;
        if (handle != device || report.size() != kFeatureReportSize) return false;
        if (report[0] == kDriverRequestFeatureId) return AnswerDriverRequest(report);
        if (report[0] != kPacketStart) return false;
        if (!hidReads.empty()) {
            const std::optional<Report> next = hidReads.front();
            hidReads.pop_front();
            if (!next) return false;
            std::copy(next->begin(), next->end(), report.begin());
            return true;
        }
        if (!pending_) return false;
        const Report answer = AsReport(*pending_);
        std::copy(answer.begin(), answer.end(), report.begin());
        return true;
    }

    bool PurgeSerial(platform::Handle handle) override {
        ++purges;
        if (handle != port) return false;
        rx_.clear();
        return true;
    }

    std::optional<std::size_t> WriteSerial(platform::Handle handle, std::span<const std::uint8_t> bytes) override {
        ++serialWrites;
        if (handle != port) return std::nullopt;
        DEVICE_PACKET request;
        if (bytes.size() >= 6 && ParseFramedPacket(bytes.data(), bytes.size(), &request)) {
            // A serial frame carries no zero fill.
            EXPECT_EQ(bytes.size(), std::size_t{request.length} + 6);
            requests.push_back(request);
        }
        if (!serialReplies.empty()) {
            const Bytes reply = serialReplies.front();
            serialReplies.pop_front();
            rx_.insert(rx_.end(), reply.begin(), reply.end());
        } else if (!requests.empty()) {
            if (std::optional<Bytes> reply = Answer(requests.back()))
                rx_.insert(rx_.end(), reply->begin(), reply->end());
        }
        return serialWriteLimit ? std::min(*serialWriteLimit, bytes.size()) : bytes.size();
    }

    std::optional<std::uint8_t> ReadSerialByte(platform::Handle handle) override {
        ++serialReads;
        if (handle != port || rx_.empty()) {
            ++serialTimeouts;
            return std::nullopt;
        }
        const std::uint8_t byte = rx_.front();
        rx_.pop_front();
        return byte;
    }

    void QueueSerialBytes(const Bytes& bytes) { rx_.insert(rx_.end(), bytes.begin(), bytes.end()); }
    std::size_t SerialBytesLeft() const { return rx_.size(); }

    int CommandReportsSent() const { return static_cast<int>(requests.size()); }

private:
    std::optional<Bytes> Answer(const DEVICE_PACKET& request) const {
        const auto fault = faults.find(request.command);
        const Fault f = fault == faults.end() ? Fault::None : fault->second;
        if (f == Fault::Silent) return std::nullopt;
        const auto payload = payloads.find(request.command);
        const auto type = types.find(request.command);
        const std::uint8_t replyType =
            type != types.end() ? type->second : static_cast<std::uint8_t>(request.type | kReplyTypeNibble);
        std::uint8_t command = request.command;
        std::uint8_t subCode = request.subCode;
        if (f == Fault::WrongCommand) ++command;
        if (f == Fault::OtherSubCode) subCode ^= 0x5A;
        Bytes frame = FrameBytes(replyType, command, subCode, payload == payloads.end() ? Bytes{} : payload->second);
        if (f == Fault::BadChecksum) frame = CorruptChecksum(frame);
        return frame;
    }

    void ApplyDriverRequest(const Report& report) {
        const std::uint8_t code = report[kDriverRequestCodeOffset];
        if (code == kDriverRequestWorkMode) workMode = report[kDriverRequestWorkModeOffset];
        if (code == kDriverRequestSetConfig) {
            std::memcpy(&driverConfig, report.data() + kDriverRequestSetDataOffset, sizeof(driverConfig));
        }
        if (code == kDriverRequestSetSpeed) {
            std::memcpy(speed.data(), report.data() + kDriverRequestSetDataOffset, speed.size());
        }
    }

    bool AnswerDriverRequest(std::span<std::uint8_t> report) const {
        const std::uint8_t code = report[kDriverRequestCodeOffset];
        if (code == kDriverRequestWorkMode) {
            report[kDriverRequestWorkModeOffset] = workMode;
            return true;
        }
        if (code == kDriverRequestGetConfig) {
            std::memcpy(report.data() + kDriverRequestGetDataOffset, &driverConfig, sizeof(driverConfig));
            return true;
        }
        if (code == kDriverRequestGetSpeed) {
            std::memcpy(report.data() + kDriverRequestGetDataOffset, speed.data(), speed.size());
            return true;
        }
        return false;
    }

    std::optional<Bytes> pending_;
    std::deque<std::uint8_t> rx_;
};

// Installs a fresh controller as the platform for each test.
class ControllerTest : public ::testing::Test {
protected:
    void SetUp() override { platform::SetPlatform(&controller); }
    void TearDown() override { platform::SetPlatform(nullptr); }

    FakeController controller;
};

}  // namespace kav::devicelib::testing
