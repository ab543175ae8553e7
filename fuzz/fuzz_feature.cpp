// KavUSB's feature relay on the virtual HID stack, with a hostile controller: any reply
// to the records read at device start, to a relayed command or to a poll, and any
// interrupt transfer, may come from the input instead of the firmware. Then command
// reports (record writes with any record, other commands, gets), driver requests,
// features 0x02 and 0x03, feature requests of any length straight to the driver, the
// other HID requests with odd buffers, and frames afterwards so that rebuilt models and
// regions are used.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "driver_fuzzing.h"
#include "fuzz_support.h"
#include "kavusb/kmdf/hidport.h"
#include "shared/device_packet.h"
#include "shared/hid_reports.h"
#include "simulator/controller/firmware.h"
#include "simulator/hidstack/hid_stack.h"

using namespace kav;

namespace {

// The firmware, unless the input says otherwise. With the input spent it is the firmware.
class HostileController final : public kmdf::UsbDeviceModel {
public:
    HostileController(FuzzedDataProvider& in, sim::Controller& firmware) : in_(in), firmware_(firmware) {}

    USB_DEVICE_DESCRIPTOR DeviceDescriptor() override { return firmware_.DeviceDescriptor(); }

    NTSTATUS ControlTransfer(const WDF_USB_CONTROL_SETUP_PACKET& setup, std::span<std::uint8_t> data,
                             ULONG* transferred) override {
        const NTSTATUS status = firmware_.ControlTransfer(setup, data, transferred);
        const bool toHost = (setup.Packet.Bm & 0x80) != 0;
        switch (in_.ConsumeIntegralInRange(0, 9)) {
            case 1:
                return STATUS_IO_TIMEOUT;
            case 2:
                return STATUS_UNSUCCESSFUL;
            case 3:
                if (toHost) Overwrite(data, transferred);
                return STATUS_SUCCESS;
            case 4:
                if (toHost) Reframe(data);
                return status;
            default:
                return status;
        }
    }

    std::optional<size_t> NextInterruptTransfer(std::span<std::uint8_t> buffer) override {
        if (!hostileTransfers_) return firmware_.NextInterruptTransfer(buffer);
        const std::vector<std::uint8_t> bytes =
            in_.ConsumeBytes<std::uint8_t>(in_.ConsumeIntegralInRange<std::size_t>(0, buffer.size()));
        if (bytes.empty()) return std::nullopt;
        std::copy(bytes.begin(), bytes.end(), buffer.begin());
        return bytes.size();
    }

    void HostileTransfers(bool on) { hostileTransfers_ = on; }

private:
    void Overwrite(std::span<std::uint8_t> data, ULONG* transferred) {
        const std::vector<std::uint8_t> bytes = in_.ConsumeBytes<std::uint8_t>(data.size());
        std::fill(data.begin(), data.end(), 0);
        std::copy(bytes.begin(), bytes.end(), data.begin());
        if (transferred != nullptr)
            *transferred = static_cast<ULONG>(in_.ConsumeIntegralInRange<std::size_t>(0, data.size()));
    }

    // A well-framed reply whose record bytes are the input's: what a controller with
    // corrupt storage answers.
    void Reframe(std::span<std::uint8_t> data) {
        if (data.size() < kFeatureReportSize) return;
        std::vector<std::uint8_t> payload = in_.ConsumeBytes<std::uint8_t>(kMaxPacketPayload);
        payload.resize(kMaxPacketPayload);
        BuildFramedPacket(data[1], data[2], data[4], payload.data(), payload.size(), data.data());
    }

    FuzzedDataProvider& in_;
    sim::Controller& firmware_;
    bool hostileTransfers_ = false;
};

// A command report as KavLib sends it: a framed packet for the record commands the
// relay keeps copies of, or for any other.
std::vector<std::uint8_t> CommandReport(FuzzedDataProvider& in) {
    static constexpr std::uint8_t kCommands[] = {0x11, 0x15, 0x1B, 0x31, 0x10, 0x30, 0x14, 0x70};
    std::vector<std::uint8_t> report(kFeatureReportSize, 0);
    const std::uint8_t command = in.ConsumeIntegralInRange(0, 7) != 0
                                     ? kCommands[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kCommands) - 1)]
                                     : in.ConsumeIntegral<std::uint8_t>();
    const std::uint8_t subCode =
        in.ConsumeBool() ? in.ConsumeIntegralInRange<std::uint8_t>(0, 1) : in.ConsumeIntegral<std::uint8_t>();
    std::vector<std::uint8_t> payload =
        in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, kMaxPacketPayload));
    BuildFramedPacket(in.ConsumeIntegralInRange<std::uint8_t>(1, 2), command, subCode, payload.data(), payload.size(),
                      report.data());
    if (in.ConsumeIntegralInRange(0, 7) == 0) report[3] = in.ConsumeIntegral<std::uint8_t>();  // L lies
    return report;
}

class Session {
public:
    Session(FuzzedDataProvider& in, const sim::DeviceRecords& records)
        : in_(in),
          records_(records),
          firmware_(records.productId),
          hostile_(in, firmware_),
          stack_(sim::HostEnvironment{&clock_, &Store(in)}) {
        firmware_.SetScreenProperty(records.screen);
        for (std::uint8_t c = 0; c < 2; ++c) {
            firmware_.SetCameraProperties(c, records.camera[c]);
            firmware_.SetCalibParams(c, records.calibration[c]);
        }
        firmware_.SetDeviceConfig(records.deviceConfig);
        firmware_.SetToolbarParams(records.toolbar);
    }

    void Run() {
        const sim::HidStack::AttachResult attached = stack_.Attach(hostile_);
        if (!NT_SUCCESS(attached.status)) return;
        device_ = attached.device;
        for (const sim::HidInterfaceInfo& i : stack_.Interfaces()) handles_.push_back(stack_.Open(i.path));
        fuzz::Require(!handles_.empty(), "a started device lists no collection");
        while (in_.remaining_bytes() > 0) {
            switch (in_.ConsumeIntegralInRange(0, 8)) {
                case 0:
                case 1: {
                    std::vector<std::uint8_t> report = CommandReport(in_);
                    if (in_.ConsumeBool())
                        stack_.SetFeature(Handle(), report);
                    else
                        stack_.GetFeature(Handle(), report);
                    break;
                }
                case 2: {
                    std::vector<std::uint8_t> report = fuzz::ChooseDriverRequest(in_);
                    if (in_.ConsumeBool())
                        stack_.SetFeature(Handle(), report);
                    else
                        stack_.GetFeature(Handle(), report);
                    break;
                }
                case 3: {
                    std::vector<std::uint8_t> report(in_.ConsumeIntegralInRange<std::size_t>(1, 8), 0);
                    report[0] = in_.ConsumeBool() ? kContactCountMaxFeatureId : kDeviceModeFeatureId;
                    if (in_.ConsumeBool())
                        stack_.SetFeature(Handle(), report);
                    else
                        stack_.GetFeature(Handle(), report);
                    break;
                }
                case 4:
                    RawFeature();
                    break;
                case 5:
                    OtherRequest();
                    break;
                case 6:
                    Frames();
                    break;
                case 7:
                    clock_.AdvanceMs(in_.ConsumeIntegralInRange(0, 3000));
                    break;
                default:
                    hostile_.HostileTransfers(true);
                    stack_.Pump();
                    hostile_.HostileTransfers(false);
                    Drain();
                    break;
            }
            fuzz::CheckPipelineState(*stack_.DeviceContextOf(device_));
        }
        Drain();
    }

private:
    static sim::RegistryStore& Store(FuzzedDataProvider& in) {
        static sim::RegistryStore store;
        store.Clear();
        fuzz::ChooseParameters(in, store);
        return store;
    }

    sim::HidHandle Handle() { return handles_[in_.ConsumeIntegralInRange<std::size_t>(0, handles_.size() - 1)]; }

    // Past the class's checks: any ID, any length, no buffer at all, a short packet.
    void RawFeature() {
        std::vector<std::uint8_t> report(in_.ConsumeIntegralInRange<std::size_t>(0, 80), 0);
        const std::vector<std::uint8_t> bytes = in_.ConsumeBytes<std::uint8_t>(report.size());
        std::copy(bytes.begin(), bytes.end(), report.begin());
        const ULONG code = in_.ConsumeBool() ? IOCTL_HID_SET_FEATURE : IOCTL_HID_GET_FEATURE;
        fuzz::SendFeature(stack_.DeviceObject(device_), code, report, in_.ConsumeIntegralInRange(0, 7) != 0);
    }

    void OtherRequest() {
        static constexpr ULONG kCodes[] = {IOCTL_HID_GET_DEVICE_DESCRIPTOR, IOCTL_HID_GET_REPORT_DESCRIPTOR,
                                           IOCTL_HID_GET_DEVICE_ATTRIBUTES, IOCTL_HID_GET_STRING,
                                           IOCTL_HID_SET_OUTPUT_REPORT,     IOCTL_HID_GET_INPUT_REPORT,
                                           IOCTL_HID_WRITE_REPORT,          IOCTL_HID_ACTIVATE_DEVICE};
        std::vector<std::uint8_t> user(in_.ConsumeIntegralInRange<std::size_t>(0, 600), 0);
        kmdf::RequestSetup setup;
        setup.IoControlCode = kCodes[in_.ConsumeIntegralInRange<std::size_t>(0, std::size(kCodes) - 1)];
        setup.OutputLength = user.size();
        setup.UserBuffer = user.empty() ? nullptr : user.data();
        // The string IDs the driver knows, or any.
        const std::uint32_t type3 = in_.ConsumeBool() ? in_.ConsumeIntegralInRange<std::uint32_t>(14, 16)
                                                      : in_.ConsumeIntegral<std::uint32_t>();
        setup.Type3InputBuffer = reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(type3));
        kmdf::ScopedRequest request(setup);
        kmdf::SendToDevice(stack_.DeviceObject(device_), request);
        const kmdf::RequestResult result = request.Result();
        fuzz::Require(result.Completed, "a HID request left pending");
        if (NT_SUCCESS(result.Status)) fuzz::Require(result.Information <= user.size(), "more bytes than the buffer");
    }

    void Frames() {
        for (const std::vector<std::uint8_t>& transfer : fuzz::ChooseFingerFrames(in_, records_)) {
            firmware_.QueueTransfer(transfer);
            stack_.Pump();
            clock_.AdvanceMs(5);
        }
        Drain();
    }

    // Every report a reader gets is one the descriptor declares.
    void Drain() {
        for (sim::HidHandle handle : handles_) {
            for (;;) {
                const sim::ReadResult read = stack_.Read(handle, std::chrono::milliseconds(0));
                if (read.status != sim::ReadStatus::Report) break;
                fuzz::CheckInputReport(read.report, kFeatureReportSize);
            }
        }
    }

    FuzzedDataProvider& in_;
    const sim::DeviceRecords records_;
    kmdf::VirtualClock clock_;
    sim::Controller firmware_;
    HostileController hostile_;
    sim::HidStack stack_;
    sim::HidDeviceId device_ = 0;
    std::vector<sim::HidHandle> handles_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const sim::DeviceRecords records = fuzz::ChooseRecords(in);
    Session(in, records).Run();
    return 0;
}
