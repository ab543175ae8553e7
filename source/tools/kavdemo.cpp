// Feeds a short, fixed sequence of controller transfers through the driver's pipeline
// on the user-mode framework and prints every report the pipeline completes.
#include <cstdio>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "kavusb/kmdf/usermode/kmdf_sim.h"
#include "kavusb/pipeline/device_context.h"
#include "kavusb/pipeline/driver_context.h"
#include "kavusb/pipeline/packet_entry.h"
#include "report_text.h"
#include "shared/device_packet.h"
#include "shared/work_modes.h"
#include "simulator/controller/run_length.h"
#include "simulator/hidstack/direct_host.h"

namespace {

using Transfer = std::vector<std::uint8_t>;

constexpr std::size_t kPendingReads = 4;

Transfer Framed(std::uint8_t command, std::uint8_t subCode, const std::vector<std::uint8_t>& payload) {
    Transfer transfer(kav::kUsbTransferSize, 0);
    kav::BuildFramedPacket(0x10, command, subCode, payload.data(), payload.size(), transfer.data());
    return transfer;
}

// A 640-pixel line lit everywhere but [start, end), run-length coded.
Transfer CameraLine(std::uint8_t subCode, std::size_t start, std::size_t end) {
    return Framed(0x01, subCode,
                  kav::sim::RunLengthEncode(kav::sim::LineWithShadows(kav::kLinePixels, {{start, end}})));
}

std::string Shadows(const std::uint8_t* line) {
    std::string text;
    for (std::size_t i = 0; i < kav::kLinePixels; ++i) {
        if (line[i] == 1 && (i == 0 || line[i - 1] == 0)) {
            std::size_t end = i;
            while (end < kav::kLinePixels && line[end] == 1) ++end;
            text += (text.empty() ? "" : ", ") + std::to_string(i) + ".." + std::to_string(end - 1);
        }
    }
    return text.empty() ? "none" : text;
}

// The driver on one device of the simulated world, its reads kept pending.
class Demo {
public:
    Demo() : host_(kav::sim::NominalRecords(), kPendingReads) {}

    void Step(const char* what, const Transfer& transfer) {
        std::printf("\n> %s\n", what);
        const NTSTATUS status = kav::ProcessTransfer(host_.Context(), transfer.data());
        if (NT_SUCCESS(status)) {
            const kav::TRIANGULATION& t = host_.Context()->Triangulation;
            std::printf("  frame complete: camera A shadows %s; camera B shadows %s\n",
                        Shadows(t.Camera[0].Line).c_str(), Shadows(t.Camera[1].Line).c_str());
        }
        const auto reports = host_.TakeReports();
        for (const auto& report : reports)
            std::printf("  report (%zu bytes): %s\n", report.size(), kav::tools::DescribeReport(report).c_str());
        if (reports.empty()) std::printf("  no report\n");
    }

    kav::DEVICE_CONTEXT* context() { return host_.Context(); }
    kav::DRIVER_CONTEXT* driver() { return host_.Driver(); }

private:
    kav::sim::DirectHost host_;
};

void Usage(std::FILE* out) {
    std::fputs(
        "usage: kavdemo\n"
        "Feeds controller transfers (a button press, a camera-line pair, raw packet mode)\n"
        "through the KavUSB pipeline and prints the HID reports it completes.\n",
        out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        const bool help = std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0;
        Usage(help ? stdout : stderr);
        if (!help) std::fprintf(stderr, "kavdemo: unexpected argument '%s'\n", argv[1]);
        return help ? 0 : 2;
    }
    Demo demo;
    std::puts(
        "KavUSB pipeline on the user-mode framework: packet device, work mode F1, the driver's default parameters.");

    demo.Step("device event (command 02): button line 0 pressed, byte 6 = FE", Framed(0x02, 0, {0x00, 0xFE}));
    demo.Step("camera line, sub-code 0: shadow at pixels 300..311 (stored as the half frame)", CameraLine(0, 300, 312));
    demo.Step("camera line, sub-code 1: shadow at pixels 250..259 (completes the frame)", CameraLine(1, 250, 260));
    demo.Step("camera line, sub-code 1 again: no stored half frame, dropped", CameraLine(1, 250, 260));

    demo.context()->SwapCameras = 1;
    demo.Step("swap flag set; camera line, sub-code 0: shadow at 100..103", CameraLine(0, 100, 104));
    demo.Step("camera line, sub-code 1: shadow at 500..509; sub-code 0 now feeds camera A", CameraLine(1, 500, 510));

    demo.context()->WorkMode = kav::kWorkModeRawPacket;
    demo.Step("work mode F5 (raw packets): camera line, sub-code 0", CameraLine(0, 10, 20));
    demo.Step("work mode F5: device event", Framed(0x40, 0, {0x11, 0x7F}));

    demo.context()->WorkMode = kav::kWorkModeCalibrate;
    demo.Step("work mode F4 (calibrating): device event is ignored", Framed(0x02, 0, {0x00, 0xFE}));

    demo.context()->WorkMode = kav::kWorkModeDigitizer;
    demo.driver()->Config.EnableTouch = 0;
    demo.Step("EnableTouch 0: device event produces nothing", Framed(0x02, 0, {0x00, 0xFE}));
    return 0;
}
