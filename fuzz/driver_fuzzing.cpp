#include "driver_fuzzing.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <variant>

#include "fuzz_support.h"
#include "shared/device_packet.h"
#include "shared/driver_parameters.h"
#include "shared/driver_request.h"
#include "shared/hid_reports.h"
#include "shared/work_modes.h"
#include "simulator/hidstack/report_descriptor.h"

namespace kav::fuzz {
namespace {

template <typename Record>
void FillFromInput(FuzzedDataProvider& in, Record& record) {
    std::vector<std::uint8_t> bytes = in.ConsumeBytes<std::uint8_t>(sizeof(Record));
    bytes.resize(sizeof(Record));
    std::memcpy(&record, bytes.data(), sizeof(Record));
}

sim::Geometry ChooseGeometry(FuzzedDataProvider& in) {
    if (in.ConsumeBool()) return {400, 300, -20, 20, -20};
    return {in.ConsumeFloatingPointInRange(100.0, 3000.0), in.ConsumeFloatingPointInRange(100.0, 2000.0),
            in.ConsumeFloatingPointInRange(-60.0, -5.0), in.ConsumeFloatingPointInRange(5.0, 60.0),
            in.ConsumeFloatingPointInRange(-60.0, -5.0)};
}

// Fingers are rendered on a screen the optics can model, whatever the records claim.
sim::Geometry RenderGeometry(const SCREEN_PROPERTY& screen) {
    const sim::Geometry claimed = sim::Geometry::From(screen);
    const bool sane = claimed.width >= 50 && claimed.width <= 5000 && claimed.height >= 50 && claimed.height <= 5000 &&
                      claimed.baselineY < 0 && claimed.baselineY > -500 && claimed.cameraAX > -500 &&
                      claimed.cameraAX < 500 && claimed.cameraBX > -500 && claimed.cameraBX < 500 &&
                      claimed.width + claimed.cameraBX - claimed.cameraAX > 0;
    return sane ? claimed : sim::Geometry{400, 300, -20, 20, -20};
}

void AppendFrame(const sim::DeviceRecords& records, const sim::Geometry& geometry,
                 const std::vector<sim::Finger>& fingers, sim::Noise& noise,
                 std::vector<std::vector<std::uint8_t>>& transfers) {
    const sim::Lens lensA = sim::Lens::Nominal(false);
    const sim::Lens lensB = sim::Lens::Nominal(true);
    const sim::Imperfections clean;
    if (records.productId == sim::kImageProductId) {
        transfers.push_back(
            sim::ImageTransfer(geometry, lensA, lensB, fingers, clean, clean, sim::ImageLighting{}, noise));
        return;
    }
    const auto a = sim::RenderLine(geometry, false, lensA, fingers);
    const auto b = sim::RenderLine(geometry, true, lensB, fingers);
    transfers.push_back(sim::LineTransfer(0, b));
    transfers.push_back(sim::LineTransfer(1, a));
}

std::vector<std::uint8_t> Transfer() {
    return std::vector<std::uint8_t>(kUsbTransferSize, 0);
}

// The driver's descriptor as the class parses it: input report ID to declared length.
std::map<std::uint8_t, std::size_t> DeclaredInputReports() {
    std::map<std::uint8_t, std::size_t> lengths;
    const auto parsed = sim::ParseReportDescriptor(kReportDescriptor);
    const auto* collections = std::get_if<std::vector<sim::TopLevelCollection>>(&parsed);
    Require(collections != nullptr, "the driver's report descriptor does not parse");
    for (const sim::TopLevelCollection& c : *collections)
        for (const auto& [id, bits] : c.inputBits) lengths[id] = sim::ReportLength(bits);
    return lengths;
}

}  // namespace

sim::DeviceRecords ChooseRecords(FuzzedDataProvider& in) {
    sim::DeviceRecords records;
    const auto flags = in.ConsumeIntegral<std::uint8_t>();
    records.productId = (flags & 0x01) ? sim::kImageProductId : std::uint16_t{0x0A31};
    records.screen = sim::ScreenRecord(ChooseGeometry(in));
    if (flags & 0x02)
        for (int c = 0; c < 2; ++c) records.camera[c] = sim::CameraRecord(sim::Lens::Nominal(c == 1), c == 1);
    if (flags & 0x04) FillFromInput(in, records.screen);
    if (flags & 0x08) FillFromInput(in, records.camera[in.ConsumeIntegralInRange(0, 1)]);
    if (flags & 0x10) FillFromInput(in, records.deviceConfig);
    if (flags & 0x20) FillFromInput(in, records.calibration[0]);
    if (flags & 0x40) FillFromInput(in, records.calibration[1]);
    if (flags & 0x80) FillFromInput(in, records.toolbar);
    return records;
}

void ChooseParameters(FuzzedDataProvider& in, sim::RegistryStore& store) {
    const std::u16string key = kmdf::DriverParametersKeyPath() + u"\\" + kDriverParametersSubkey;
    store.CreateKey(key);
    const std::size_t count = in.ConsumeIntegralInRange<std::size_t>(0, 4);
    for (std::size_t i = 0; i < count; ++i) {
        const DriverParameter& row =
            kDriverParameters[in.ConsumeIntegralInRange<std::size_t>(0, kDriverParameterCount - 1)];
        const std::uint32_t value =
            in.ConsumeBool() ? in.ConsumeIntegralInRange<std::uint32_t>(0, 8) : in.ConsumeIntegral<std::uint32_t>();
        store.SetValue(key, row.name, sim::RegistryValue::FromDword(value));
    }
}

std::vector<std::vector<std::uint8_t>> ChooseFingerFrames(FuzzedDataProvider& in, const sim::DeviceRecords& records) {
    const sim::Geometry geometry = RenderGeometry(records.screen);
    std::vector<sim::Finger> fingers(in.ConsumeIntegralInRange<std::size_t>(0, 3));
    std::vector<std::pair<double, double>> steps;
    for (sim::Finger& f : fingers) {
        f.x = in.ConsumeFloatingPointInRange(-0.1, 1.1) * geometry.width;
        f.y = in.ConsumeFloatingPointInRange(-0.1, 1.1) * geometry.height;
        f.diameter = in.ConsumeFloatingPointInRange(1.0, 40.0);
        steps.emplace_back(in.ConsumeFloatingPointInRange(-15.0, 15.0), in.ConsumeFloatingPointInRange(-15.0, 15.0));
    }
    const std::size_t frames = in.ConsumeIntegralInRange<std::size_t>(1, 60);
    sim::Noise noise(in.ConsumeIntegral<std::uint8_t>());
    std::vector<std::vector<std::uint8_t>> transfers;
    for (std::size_t k = 0; k < frames; ++k) {
        AppendFrame(records, geometry, fingers, noise, transfers);
        for (std::size_t i = 0; i < fingers.size(); ++i) {
            fingers[i].x += steps[i].first;
            fingers[i].y += steps[i].second;
        }
    }
    return transfers;
}

std::vector<std::uint8_t> ChooseLinePacket(FuzzedDataProvider& in) {
    std::array<std::uint8_t, sim::kCameraPixels> line{};
    const std::size_t runs = in.ConsumeIntegralInRange<std::size_t>(0, 5);
    for (std::size_t r = 0; r < runs; ++r) {
        const std::size_t start = in.ConsumeIntegralInRange<std::size_t>(0, line.size() - 1);
        const std::size_t length = in.ConsumeIntegralInRange<std::size_t>(1, 120);
        std::fill(line.begin() + start, line.begin() + std::min(line.size(), start + length), 1);
    }
    std::vector<std::uint8_t> transfer = sim::LineTransfer(in.ConsumeIntegralInRange<std::uint8_t>(0, 1), line);
    switch (in.ConsumeIntegralInRange(0, 7)) {
        case 0:
            transfer[4] = in.ConsumeIntegral<std::uint8_t>();  // sub-code
            break;
        case 1:
            transfer[3] = in.ConsumeIntegral<std::uint8_t>();  // L
            break;
        case 2:
            transfer[in.ConsumeIntegralInRange<std::size_t>(0, transfer.size() - 1)] =
                in.ConsumeIntegral<std::uint8_t>();
            break;
        default:
            break;
    }
    return transfer;
}

std::vector<std::uint8_t> ChooseEventPacket(FuzzedDataProvider& in) {
    std::vector<std::uint8_t> transfer = Transfer();
    static constexpr std::uint8_t kCommands[] = {0x02, 0x40};
    const std::uint8_t command =
        in.ConsumeBool() ? kCommands[in.ConsumeIntegralInRange(0, 1)] : in.ConsumeIntegral<std::uint8_t>();
    const std::uint8_t type = in.ConsumeIntegral<std::uint8_t>();
    const std::uint8_t subCode = in.ConsumeIntegral<std::uint8_t>();
    const std::vector<std::uint8_t> payload =
        in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, kMaxPacketPayload));
    BuildFramedPacket(type, command, subCode, payload.data(), payload.size(), transfer.data());
    return transfer;
}

std::vector<std::uint8_t> ChooseDriverRequest(FuzzedDataProvider& in) {
    std::vector<std::uint8_t> report(kFeatureReportSize, 0);
    report[0] = kDriverRequestFeatureId;
    static constexpr std::uint8_t kCodes[] = {kDriverRequestWorkMode, kDriverRequestGetConfig, kDriverRequestSetConfig,
                                              kDriverRequestGetSpeed, kDriverRequestSetSpeed};
    report[kDriverRequestCodeOffset] = in.ConsumeIntegralInRange(0, 7) != 0
                                           ? kCodes[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kCodes) - 1)]
                                           : in.ConsumeIntegral<std::uint8_t>();
    if (report[kDriverRequestCodeOffset] == kDriverRequestWorkMode && in.ConsumeBool()) {
        report[kDriverRequestWorkModeOffset] = static_cast<std::uint8_t>(0xF1 + in.ConsumeIntegralInRange(0, 4));
        return report;
    }
    if (report[kDriverRequestCodeOffset] == kDriverRequestSetConfig && in.ConsumeBool()) {
        // The defaults with a few fields changed reach further than noise.
        for (const DriverParameter& row : kDriverParameters)
            SetParameterField(report.data() + kDriverRequestSetDataOffset, report.size() - kDriverRequestSetDataOffset,
                              row, row.defaultValue);
        const std::size_t changes = in.ConsumeIntegralInRange<std::size_t>(1, 3);
        for (std::size_t i = 0; i < changes; ++i)
            SetParameterField(report.data() + kDriverRequestSetDataOffset, report.size() - kDriverRequestSetDataOffset,
                              kDriverParameters[in.ConsumeIntegralInRange<std::size_t>(0, kConfigParameterCount - 1)],
                              in.ConsumeIntegral<std::uint32_t>());
        return report;
    }
    const std::vector<std::uint8_t> data = in.ConsumeBytes<std::uint8_t>(report.size() - kDriverRequestSetDataOffset);
    std::copy(data.begin(), data.end(), report.begin() + kDriverRequestSetDataOffset);
    return report;
}

NTSTATUS SendFeature(WDFDEVICE device, ULONG ioControlCode, std::span<std::uint8_t> report, bool withPacket) {
    HID_XFER_PACKET packet{report.empty() ? nullptr : report.data(), static_cast<ULONG>(report.size()),
                           report.empty() ? std::uint8_t{0} : report[0]};
    kmdf::RequestSetup setup;
    setup.IoControlCode = ioControlCode;
    setup.Input.assign(withPacket ? sizeof(HID_XFER_PACKET) : sizeof(HID_XFER_PACKET) / 2, 0);
    setup.UserBuffer = &packet;
    kmdf::ScopedRequest request(setup);
    kmdf::SendToDevice(device, request);
    const kmdf::RequestResult result = request.Result();
    Require(result.Completed, "a feature request left pending");
    return result.Status;
}

RecordsGuard::RecordsGuard(const DEVICE_CONTEXT& c) {
    auto add = [&](const auto& field) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&field);
        bytes_.insert(bytes_.end(), bytes, bytes + sizeof(field));
    };
    add(c.UsbDevice);
    add(c.UsbInterface);
    add(c.InterruptPipe);
    add(c.DeviceDescriptor);
    add(c.ReadQueue);
    add(c.SpinLock);
    add(c.RegionCount);
    add(c.SwapCameras);
    add(c.WorkMode);
    add(c.Triangulation.Model);
    add(c.Triangulation.Scale);
    add(c.ScreenProperty);
    add(c.CameraProperties);
    add(c.ToolbarParams);
    add(c.CalibParams);
    add(c.Region);
    add(c.DeviceConfig);
}

void RecordsGuard::RequireUnchanged(const DEVICE_CONTEXT& context) const {
    Require(RecordsGuard(context).bytes_ == bytes_, "a transfer changed the records, models or handles");
}

void CheckPipelineState(const DEVICE_CONTEXT& c) {
    Require(c.RegionCount <= kMaxRegions, "region count beyond the regions");
    Require(c.HalfFramePending <= 1, "half frame flag not a flag");
    for (const CAMERA_LINE& camera : c.Triangulation.Camera) {
        Require(camera.Count >= 0 && camera.Count <= 2, "shadow count out of range");
        Require(camera.CountFound >= 0 && camera.CountFound <= 2, "shadows found out of range");
        Require(camera.Tracker.state <= 3, "merge tracker in no state");
    }
    for (const HISTORY_RING& ring : c.Triangulation.History)
        Require(ring.Newest >= -1 && ring.Newest < static_cast<std::int32_t>(kHistoryLength), "history index wild");
    const TAP_STABILIZER& tap = c.TapStabilizer;
    Require(tap.Window >= 0 && tap.Window <= static_cast<std::int32_t>(kMaxSamplesPerFrame), "tap window too large");
    Require(tap.Count >= 0 && tap.Count <= static_cast<std::int32_t>(kMaxSamplesPerFrame), "tap sample count wild");
    Require(tap.State <= 4, "tap stabilizer in no state");
}

void CheckInputReport(std::span<const std::uint8_t> report, std::size_t bufferLength) {
    static const std::map<std::uint8_t, std::size_t> declared = DeclaredInputReports();
    Require(!report.empty(), "an empty input report");
    Require(report.size() <= bufferLength, "a report longer than its buffer");
    const auto it = declared.find(report[0]);
    Require(it != declared.end(), "an input report with an undeclared ID");
    Require(report.size() >= it->second, "an input report shorter than declared");
}

}  // namespace kav::fuzz
