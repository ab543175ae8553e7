// KavLib's receivers: the reply poller over HID command reports and the packet reader
// on the serial port, with the transactions around them and the driver requests, over a
// platform whose feature reports and serial bytes come from the fuzzer. An accepted
// reply must answer the request; every operation must end within its tries and polls.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "devicelib/driver_requests.h"
#include "devicelib/platform/failing_platform.h"
#include "devicelib/protocol.h"
#include "fuzz_support.h"

using namespace kav;
using namespace kav::devicelib;

namespace {

// Most replies are noise; a share are well-framed answers with fuzzed fields, so that the
// matching after the checksum is reached too.
class FuzzPlatform final : public platform::FailingPlatform {
public:
    explicit FuzzPlatform(FuzzedDataProvider& in) : in_(in) {}

    bool GetFeature(platform::Handle, std::span<std::uint8_t> report) override {
        ++featureGets;
        if (report.empty() || in_.ConsumeBool()) return false;
        std::fill(report.begin() + 1, report.end(), 0);
        std::vector<std::uint8_t> bytes = NextReply();
        std::copy_n(bytes.begin(), std::min(bytes.size(), report.size()), report.begin());
        return true;
    }

    bool SetFeature(platform::Handle, std::span<const std::uint8_t> report) override {
        ++featureSets;
        Remember(report);
        return in_.ConsumeIntegralInRange(0, 7) != 0;
    }

    bool PurgeSerial(platform::Handle) override {
        serialBytes_.clear();
        return in_.ConsumeBool();
    }

    std::optional<std::size_t> WriteSerial(platform::Handle, std::span<const std::uint8_t> bytes) override {
        ++serialWrites;
        Remember(bytes);
        switch (in_.ConsumeIntegralInRange(0, 5)) {
            case 0:
                return std::nullopt;
            case 1:
                return bytes.size() / 2;
            default:
                return bytes.size();
        }
    }

    std::optional<std::uint8_t> ReadSerialByte(platform::Handle) override {
        ++serialReads;
        if (serialBytes_.empty()) {
            if (in_.remaining_bytes() == 0) return std::nullopt;  // the line falls silent
            const std::vector<std::uint8_t> bytes = NextReply();
            serialBytes_.assign(bytes.begin(), bytes.end());
            if (serialBytes_.empty()) return std::nullopt;
        }
        const std::uint8_t byte = serialBytes_.front();
        serialBytes_.pop_front();
        return byte;
    }

    void Sleep(std::uint32_t milliseconds) override { sleptMs += milliseconds; }

    std::uint64_t featureGets = 0, featureSets = 0, serialWrites = 0, serialReads = 0, sleptMs = 0;

private:
    void Remember(std::span<const std::uint8_t> frame) {
        if (frame.size() > 2) lastCommand_ = frame[2];
    }

    // Noise, or a frame of any type, L and checksum, mostly for the last command sent.
    std::vector<std::uint8_t> NextReply() {
        if (in_.ConsumeIntegralInRange(0, 3) == 0)
            return in_.ConsumeBytes<std::uint8_t>(in_.ConsumeIntegralInRange<std::size_t>(0, 80));
        std::array<std::uint8_t, kFeatureReportSize> frame{};
        const std::uint8_t type = in_.ConsumeBool()
                                      ? static_cast<std::uint8_t>(0x10 | (in_.ConsumeIntegral<std::uint8_t>() & 0x0F))
                                      : in_.ConsumeIntegral<std::uint8_t>();
        const std::uint8_t command = in_.ConsumeBool() ? lastCommand_ : in_.ConsumeIntegral<std::uint8_t>();
        const std::size_t n = in_.ConsumeIntegralInRange<std::size_t>(0, kMaxPacketPayload);
        const std::vector<std::uint8_t> payload = in_.ConsumeBytes<std::uint8_t>(n);
        const std::size_t length = BuildFramedPacket(type, command, in_.ConsumeIntegral<std::uint8_t>(), payload.data(),
                                                     payload.size(), frame.data());
        // A frame that lies about its length or its checksum.
        if (in_.ConsumeIntegralInRange(0, 7) == 0) frame[3] = in_.ConsumeIntegral<std::uint8_t>();
        if (in_.ConsumeIntegralInRange(0, 7) == 0)
            frame[length - 1] ^= in_.ConsumeIntegralInRange<std::uint8_t>(1, 255);
        const std::size_t noise = in_.ConsumeIntegralInRange<std::size_t>(0, 3);
        std::vector<std::uint8_t> bytes = in_.ConsumeBytes<std::uint8_t>(noise);
        bytes.insert(bytes.end(), frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(length));
        return bytes;
    }

    FuzzedDataProvider& in_;
    std::deque<std::uint8_t> serialBytes_;
    std::uint8_t lastCommand_ = 0;
};

// Large enough to exercise the loops, small enough that every input runs quickly.
Timing FuzzTiming(FuzzedDataProvider& in) {
    return {in.ConsumeIntegralInRange<std::uint32_t>(0, 4), in.ConsumeIntegralInRange<std::uint32_t>(0, 50),
            in.ConsumeIntegralInRange<std::uint32_t>(0, 8), in.ConsumeIntegralInRange<std::uint32_t>(0, 10)};
}

DEVICE_PACKET FuzzRequest(FuzzedDataProvider& in) {
    const std::vector<std::uint8_t> payload =
        in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, kMaxPacketPayload));
    return *MakePacket(in.ConsumeIntegral<std::uint8_t>(), in.ConsumeIntegral<std::uint8_t>(),
                       in.ConsumeIntegral<std::uint8_t>(), payload);
}

void CheckReply(const DEVICE_PACKET& request, const DEVICE_PACKET& reply) {
    fuzz::Require(IsReplyTo(request, reply), "accepted a reply to another command");
    fuzz::Require(reply.length <= kMaxPacketPayload, "accepted a reply longer than a frame");
}

const Handle kDevice = reinterpret_cast<Handle>(0x10);

void OneOperation(FuzzedDataProvider& in, FuzzPlatform& os) {
    const DEVICE_PACKET request = FuzzRequest(in);
    DEVICE_PACKET reply{};
    const std::uint64_t gets = os.featureGets, sets = os.featureSets, reads = os.serialReads, writes = os.serialWrites;
    switch (in.ConsumeIntegralInRange(0, 7)) {
        case 0: {
            const std::uint32_t polls = in.ConsumeIntegralInRange<std::uint32_t>(0, 60);
            if (ReceivePacket_HID(kDevice, request, reply, polls, in.ConsumeIntegralInRange<std::uint32_t>(0, 5)))
                CheckReply(request, reply);
            fuzz::Require(os.featureGets - gets <= polls, "polled more often than asked");
            break;
        }
        case 1: {
            const Timing timing = FuzzTiming(in);
            if (TransactPacket_HID(request, kDevice, reply, timing)) CheckReply(request, reply);
            fuzz::Require(os.featureSets - sets <= timing.tries, "sent more often than tried");
            fuzz::Require(os.featureGets - gets <= std::uint64_t{timing.tries} * timing.polls, "polled past the tries");
            break;
        }
        case 2: {
            std::array<std::uint8_t, kFeatureReportSize> buffer{};
            if (const std::optional<std::size_t> size = ReadPacket_COM(kDevice, buffer)) {
                fuzz::Require(*size >= 6 && *size <= kFeatureReportSize, "a frame of impossible size");
                fuzz::Require(buffer[0] == kPacketStart && *size == std::size_t{buffer[3]} + 5,
                              "a frame that is not one");
            }
            fuzz::Require(os.serialReads - reads <= kMaxSkippedSerialBytes + 1 + kFeatureReportSize,
                          "read on past the skip limit");
            break;
        }
        case 3: {
            const std::uint32_t maxPackets = in.ConsumeIntegralInRange<std::uint32_t>(0, 8);
            if (ReceivePacket_COM(kDevice, request, reply, maxPackets)) CheckReply(request, reply);
            fuzz::Require(os.serialReads - reads <= maxPackets * (kMaxSkippedSerialBytes + 1 + kFeatureReportSize),
                          "read more packets than asked");
            break;
        }
        case 4: {
            const std::uint32_t tries = in.ConsumeIntegralInRange<std::uint32_t>(0, 4);
            const std::uint32_t maxPackets = in.ConsumeIntegralInRange<std::uint32_t>(0, 8);
            if (TransactPacket_COM(request, kDevice, reply, tries, maxPackets)) CheckReply(request, reply);
            fuzz::Require(os.serialWrites - writes <= tries, "wrote more often than tried");
            break;
        }
        case 5: {
            // A reply copied into a smaller, equal or larger destination.
            std::vector<std::uint8_t> destination(in.ConsumeIntegralInRange<std::size_t>(0, 70), 0xEE);
            const std::vector<std::uint8_t> before = destination;
            const std::uint8_t transport = in.ConsumeIntegralInRange<std::uint8_t>(0, 2);
            const std::optional<std::size_t> copied = QueryInto(transport, kDevice, request.subCode, request.command,
                                                                PacketPayload(request), destination, FuzzTiming(in));
            if (!copied)
                fuzz::Require(destination == before, "a failed query wrote its destination");
            else
                fuzz::Require(*copied <= kMaxPacketPayload, "a reply longer than a frame");
            break;
        }
        case 6: {
            std::vector<std::uint8_t> destination(in.ConsumeIntegralInRange<std::size_t>(0, 70), 0xEE);
            const std::vector<std::uint8_t> before = destination;
            if (!QueryExact(in.ConsumeIntegralInRange<std::uint8_t>(0, 2), kDevice, request.subCode, request.command,
                            PacketPayload(request), destination, FuzzTiming(in)))
                fuzz::Require(destination == before, "a failed exact query wrote its destination");
            break;
        }
        default:
            switch (in.ConsumeIntegralInRange(0, 3)) {
                case 0:
                    ReadWorkMode(kDevice);
                    break;
                case 1:
                    ReadDriverConfig(kDevice);
                    break;
                case 2:
                    ReadSpeedParameters(kDevice);
                    break;
                default:
                    WriteWorkMode(kDevice, in.ConsumeIntegral<std::uint8_t>());
                    break;
            }
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    FuzzPlatform os(in);
    platform::SetPlatform(&os);
    while (in.remaining_bytes() > 0) OneOperation(in, os);
    platform::SetPlatform(nullptr);
    return 0;
}
