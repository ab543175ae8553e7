// KavUSB's transfer path: the continuous reader's completion (and so ProcessTransfer)
// with sequences of 1024-byte transfers (raw bytes, camera-line packets, fingers
// rendered by the simulator's optics, device events) on a device whose records and
// parameters come from the input, interleaved with driver requests, reads of odd sizes
// and time passing. Each input gets a fresh driver and device.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "driver_fuzzing.h"
#include "fuzz_support.h"
#include "kavusb/kmdf/hidport.h"
#include "shared/hid_reports.h"

using namespace kav;

namespace {

// What the HID class keeps pending besides the host's own reads: any buffer size.
constexpr std::size_t kHostReadLength = 64;

class Session {
public:
    Session(FuzzedDataProvider& in, const sim::DeviceRecords& records)
        : in_(in),
          records_(records),
          host_(std::make_unique<sim::DirectHost>(records, 4, sim::HostEnvironment{&clock_, &Store(in)})) {}

    ~Session() {
        // The device goes with the host; reads still parked are cancelled with it.
        host_.reset();
        extraReads_.clear();
    }

    void Run() {
        while (in_.remaining_bytes() > 0) {
            switch (in_.ConsumeIntegralInRange(0, 9)) {
                case 0:
                    Feed(in_.ConsumeBytes<std::uint8_t>(in_.ConsumeIntegralInRange<std::size_t>(0, kUsbTransferSize)));
                    break;
                case 1:
                case 2:
                    Feed(fuzz::ChooseLinePacket(in_));
                    break;
                case 3:
                case 4:
                    for (const std::vector<std::uint8_t>& transfer : fuzz::ChooseFingerFrames(in_, records_)) {
                        Feed(transfer);
                        clock_.AdvanceMs(5);
                    }
                    break;
                case 5:
                    Feed(fuzz::ChooseEventPacket(in_));
                    break;
                case 6:
                    DriverRequest();
                    break;
                case 7:
                    SendOddRead();
                    break;
                case 8:
                    clock_.AdvanceMs(in_.ConsumeIntegralInRange(0, 3000));
                    break;
                default:
                    TakeReports();
                    break;
            }
        }
        TakeReports();
    }

private:
    static sim::RegistryStore& Store(FuzzedDataProvider& in) {
        static sim::RegistryStore store;
        store.Clear();
        fuzz::ChooseParameters(in, store);
        return store;
    }

    // A transfer is always 1024 bytes; a shorter one is zero-filled, as the reader's buffer is.
    void Feed(std::vector<std::uint8_t> transfer) {
        transfer.resize(kUsbTransferSize, 0);
        DEVICE_CONTEXT& context = *host_->Context();
        const fuzz::RecordsGuard guard(context);
        host_->Feed(transfer);
        guard.RequireUnchanged(context);
        fuzz::CheckPipelineState(context);
    }

    void DriverRequest() {
        std::vector<std::uint8_t> report = fuzz::ChooseDriverRequest(in_);
        const ULONG code = in_.ConsumeBool() ? IOCTL_HID_SET_FEATURE : IOCTL_HID_GET_FEATURE;
        if (in_.ConsumeIntegralInRange(0, 7) == 0) report[0] = kContactCountMaxFeatureId;
        // Rarely a report shorter than the 64 bytes the vendor reports have.
        if (in_.ConsumeIntegralInRange(0, 7) == 0) report.resize(in_.ConsumeIntegralInRange<std::size_t>(0, 63));
        fuzz::SendFeature(host_->Device(), code, report, in_.ConsumeIntegralInRange(0, 15) != 0);
        fuzz::CheckPipelineState(*host_->Context());
    }

    void SendOddRead() {
        kmdf::RequestSetup setup;
        setup.IoControlCode = IOCTL_HID_READ_REPORT;
        setup.OutputLength = in_.ConsumeIntegralInRange<std::size_t>(0, 70);
        extraReads_.push_back(std::make_unique<kmdf::ScopedRequest>(setup));
        kmdf::SendToDevice(host_->Device(), extraReads_.back()->get());
    }

    void TakeReports() {
        for (const std::vector<std::uint8_t>& report : host_->TakeReports())
            fuzz::CheckInputReport(report, kHostReadLength);
        std::erase_if(extraReads_, [](const std::unique_ptr<kmdf::ScopedRequest>& read) {
            const kmdf::RequestResult result = read->Result();
            if (!result.Completed) return false;
            if (NT_SUCCESS(result.Status))
                fuzz::CheckInputReport(read->Output().first(std::min(result.Information, read->Output().size())),
                                       read->Output().size());
            return true;
        });
    }

    FuzzedDataProvider& in_;
    const sim::DeviceRecords records_;
    kmdf::VirtualClock clock_;
    std::vector<std::unique_ptr<kmdf::ScopedRequest>> extraReads_;  // outlive the device
    std::unique_ptr<sim::DirectHost> host_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const sim::DeviceRecords records = fuzz::ChooseRecords(in);
    Session(in, records).Run();
    return 0;
}
