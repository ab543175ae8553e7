// The HID class's internal requests at the dispatcher.
#include "kavusb/frame/hid_requests.h"

#include <cstring>
#include <string>

#include "pipeline/pipeline_fixture.h"
#include "simulator/registry/kmdf_registry.h"

namespace kav::test {
namespace {

class HidRequestsTest : public PipelineTest {
protected:
    struct Answer {
        NTSTATUS status;
        ULONG_PTR information;
        std::vector<std::uint8_t> output;
        bool pending;
    };

    Answer Send(ULONG ioctl, size_t outputLength, PVOID type3 = nullptr, PVOID userBuffer = nullptr) {
        kmdf::RequestSetup setup;
        setup.IoControlCode = ioctl;
        setup.OutputLength = outputLength;
        setup.Type3InputBuffer = type3;
        setup.UserBuffer = userBuffer;
        kmdf::ScopedRequest request(setup);
        kmdf::SendToDevice(DeviceHandle(), request);
        const kmdf::RequestResult result = request.Result();
        Answer answer{result.Status, result.Information, {}, !result.Completed};
        if (result.Completed && NT_SUCCESS(result.Status) && userBuffer == nullptr) {
            const std::span<std::uint8_t> out = request.Output();
            answer.output.assign(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(result.Information));
        }
        if (answer.pending) {
            // Leave nothing parked behind this helper's request.
            WDFREQUEST parked = nullptr;
            EXPECT_TRUE(NT_SUCCESS(WdfIoQueueRetrieveNextRequest(Context()->ReadQueue, &parked)));
            WdfRequestComplete(parked, STATUS_CANCELLED);
        }
        return answer;
    }

    Answer String(USHORT id, USHORT language, size_t length, std::vector<std::uint8_t>* text) {
        text->assign(length + 8, 0xEE);
        const auto type3 = reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(language) << 16 | id);
        return Send(IOCTL_HID_GET_STRING, length, type3, text->data());
    }
};

TEST_F(HidRequestsTest, DescriptorsComeWholeAndThePhysicalSizeFollowsTheScreen) {
    Answer hid = Send(IOCTL_HID_GET_DEVICE_DESCRIPTOR, 64);
    EXPECT_EQ(hid.status, STATUS_SUCCESS);
    EXPECT_EQ(hid.output, std::vector<std::uint8_t>(kHidDescriptor.begin(), kHidDescriptor.end()));

    Context()->ScreenProperty.Width = 0x12345;  // low 16 bits only
    Context()->ScreenProperty.Height = 300;
    Answer report = Send(IOCTL_HID_GET_REPORT_DESCRIPTOR, 512);
    ASSERT_EQ(report.status, STATUS_SUCCESS);
    ASSERT_EQ(report.information, 417u);
    EXPECT_EQ(report.output[58], 0x45);
    EXPECT_EQ(report.output[59], 0x23);
    EXPECT_EQ(report.output[138], 0x45);
    EXPECT_EQ(report.output[69] | (report.output[70] << 8), 300);

    const std::u16string qvn = u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\QVN";
    kmdf::CurrentRegistryStore().PutDword(qvn, u"Width", 1000);
    kmdf::CurrentRegistryStore().PutDword(qvn, u"Height", 600);
    report = Send(IOCTL_HID_GET_REPORT_DESCRIPTOR, 417);
    ASSERT_EQ(report.status, STATUS_SUCCESS);
    for (size_t offset : {58, 138}) {
        EXPECT_EQ(report.output[offset], 0xE8);
        EXPECT_EQ(report.output[offset + 1], 0x03);
    }
    for (size_t offset : {69, 149}) {
        EXPECT_EQ(report.output[offset], 0x58);
        EXPECT_EQ(report.output[offset + 1], 0x02);
    }
    EXPECT_EQ(Send(IOCTL_HID_GET_REPORT_DESCRIPTOR, 416).status, STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(Send(IOCTL_HID_GET_DEVICE_DESCRIPTOR, 8).status, STATUS_BUFFER_TOO_SMALL);
}

TEST_F(HidRequestsTest, StringsByIdWhateverTheLanguage) {
    std::vector<std::uint8_t> text;
    struct Case {
        USHORT id, language;
        size_t length;
        NTSTATUS status;
        std::u16string expected;
    };
    const Case cases[] = {
        {15, 0x0409, 48, STATUS_SUCCESS, u"Zandric USB TouchScreen"},
        {15, 0x0804, 64, STATUS_SUCCESS, u"Zandric USB TouchScreen"},
        {15, 0x0409, 46, STATUS_BUFFER_TOO_SMALL, u""},
        {14, 0x0409, 2, STATUS_SUCCESS, u""},
        {16, 0x0409, 4, STATUS_SUCCESS, u"0"},
        {17, 0x0409, 64, STATUS_INVALID_PARAMETER, u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.id << " " << c.length);
        const Answer answer = String(c.id, c.language, c.length, &text);
        EXPECT_EQ(answer.status, c.status);
        if (c.status != STATUS_SUCCESS) {
            EXPECT_EQ(text[0], 0xEE);
            continue;
        }
        const size_t bytes = (c.expected.size() + 1) * 2;
        EXPECT_EQ(answer.information, bytes);
        EXPECT_EQ(std::memcmp(text.data(), c.expected.c_str(), bytes), 0);
        EXPECT_EQ(text[bytes], 0xEE);  // nothing written past the string
    }
}

TEST_F(HidRequestsTest, AttributesComeFromTheUsbDescriptor) {
    Context()->DeviceDescriptor.idVendor = 0x1234;
    Context()->DeviceDescriptor.idProduct = 0x5678;
    Context()->DeviceDescriptor.bcdDevice = 0x0100;
    const Answer answer = Send(IOCTL_HID_GET_DEVICE_ATTRIBUTES, 32);
    ASSERT_EQ(answer.status, STATUS_SUCCESS);
    ASSERT_EQ(answer.information, 32u);
    HID_DEVICE_ATTRIBUTES attributes;
    std::memcpy(&attributes, answer.output.data(), sizeof(attributes));
    EXPECT_EQ(attributes.Size, 32u);
    EXPECT_EQ(attributes.VendorID, 0x1234);
    EXPECT_EQ(attributes.ProductID, 0x5678);
    EXPECT_EQ(attributes.VersionNumber, 0x0100);
    EXPECT_EQ(Send(IOCTL_HID_GET_DEVICE_ATTRIBUTES, 31).status, STATUS_BUFFER_TOO_SMALL);
}

TEST_F(HidRequestsTest, EveryOtherCodeAsTheHidClassExpects) {
    struct Case {
        ULONG ioctl;
        NTSTATUS status;
    };
    const Case cases[] = {
        {IOCTL_HID_WRITE_REPORT, STATUS_NOT_SUPPORTED},
        {IOCTL_HID_ACTIVATE_DEVICE, STATUS_NOT_SUPPORTED},
        {IOCTL_HID_DEACTIVATE_DEVICE, STATUS_NOT_SUPPORTED},
        {IOCTL_HID_SEND_IDLE_NOTIFICATION_REQUEST, STATUS_NOT_SUPPORTED},
        {IOCTL_HID_SET_OUTPUT_REPORT, STATUS_SUCCESS},
        {IOCTL_HID_GET_INPUT_REPORT, STATUS_SUCCESS},
        {0x000B0FFF, STATUS_NOT_SUPPORTED},
    };
    for (const Case& c : cases) {
        const Answer answer = Send(c.ioctl, 64);
        EXPECT_FALSE(answer.pending) << std::hex << c.ioctl;
        EXPECT_EQ(answer.status, c.status) << std::hex << c.ioctl;
        EXPECT_EQ(answer.information, 0u) << std::hex << c.ioctl;
    }
    const Answer read = Send(IOCTL_HID_READ_REPORT, 64);
    EXPECT_TRUE(read.pending);
}

}  // namespace
}  // namespace kav::test
