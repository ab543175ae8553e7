// The touch controller's firmware and USB endpoints: the records it stores, its answers
// to command packets on the default pipe, and the transfers it sends on its interrupt-in
// pipe. Faults can be injected to play a misbehaving device.
//
// Default pipe: a vendor request 0x40 / bRequest 0 carries one framed packet to the
// controller; every valid one gets a reply (type 0x1N for a request of type N, the
// request's command and sub-code), queued for the vendor read 0xC0 / bRequest 0, which
// returns the oldest queued reply in 64 bytes, or 64 zero bytes when none is waiting.
//
// Thread-safe: every member takes the controller's lock.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "kavusb/kmdf/usermode/kmdf_sim.h"
#include "shared/device_commands.h"
#include "shared/device_packet.h"
#include "shared/device_records.h"

namespace kav::sim {

constexpr std::uint16_t kVendorId = protocol::kVendorId;
constexpr std::uint16_t kProductPacket = protocol::kProductPacket;  // camera-line packets
constexpr std::uint16_t kProductImage = protocol::kProductImage;    // raw image lines
constexpr std::uint16_t kProductStylus = protocol::kProductStylus;  // packets, one-switch calibration bracket

constexpr std::uint8_t kReplyTypeNibble = protocol::kReplyTypeNibble;
constexpr std::size_t kReplyQueueDepth = 16;        // older replies are lost beyond it
constexpr std::size_t kInterruptQueueDepth = 4096;  // transfers waiting for the host

// Payload of a set command's reply.
enum class SetResult : std::uint8_t { Done = 0, BadLength = 1, UnknownSubCode = 2 };

enum class ReplyFault {
    Unanswered,    // carried out, but no reply is queued
    OtherCommand,  // the reply's command byte is the request's with bit 7 flipped
    OtherSubCode,  // the reply's sub-code is the request's with bit 0 flipped
    BadChecksum,   // the reply's checksum byte is off by one
    Duplicated,    // the reply is queued twice
};

constexpr unsigned kEveryTime = ~0u;

struct ReplyFaultRule {
    ReplyFault fault;
    std::optional<std::uint8_t> command;  // only requests with this command (any when empty)
    std::optional<std::uint8_t> subCode;  // and this sub-code
    unsigned count = 1;                   // requests it applies to; kEveryTime: all
};

enum class TransferDirection { HostToDevice, DeviceToHost };

struct ControlFaultRule {
    NTSTATUS status;                             // STATUS_UNSUCCESSFUL: a stall; STATUS_IO_TIMEOUT: a silent device
    std::optional<TransferDirection> direction;  // only transfers this way (any when empty)
    unsigned count = 1;
};

struct ControllerCounters {
    std::uint64_t requests = 0;         // valid frames received
    std::uint64_t badFrames = 0;        // received but not a valid frame: ignored
    std::uint64_t unknownCommands = 0;  // answered with an empty payload
    std::uint64_t repliesQueued = 0;
    std::uint64_t repliesRead = 0;
    std::uint64_t emptyReads = 0;     // reply reads with nothing waiting
    std::uint64_t repliesLost = 0;    // pushed out of a full reply queue
    std::uint64_t failedControl = 0;  // control transfers failed by a fault or a stall
    std::uint64_t transfersSent = 0;  // interrupt transfers handed to the host
    std::uint64_t transfersDropped = 0;
};

class Controller final : public kmdf::UsbDeviceModel {
public:
    explicit Controller(std::uint16_t productId = kProductPacket);

    // ---- USB endpoints (kmdf::UsbDeviceModel) ----
    USB_DEVICE_DESCRIPTOR DeviceDescriptor() override;
    NTSTATUS ControlTransfer(const WDF_USB_CONTROL_SETUP_PACKET& setup, std::span<std::uint8_t> data,
                             ULONG* transferred) override;
    std::optional<size_t> NextInterruptTransfer(std::span<std::uint8_t> buffer) override;

    void SetDescriptor(const USB_DEVICE_DESCRIPTOR& descriptor);
    void SetProductId(std::uint16_t productId);

    // ---- records ----
    // The stored block of a get command and sub-code (empty when the controller has
    // none), and its replacement; false when the pair is unknown or the size is wrong.
    std::vector<std::uint8_t> Block(std::uint8_t getCommand, std::uint8_t subCode) const;
    bool SetBlock(std::uint8_t getCommand, std::uint8_t subCode, std::span<const std::uint8_t> bytes);

    CAMERA_PROPERTIES CameraProperties(std::uint8_t camera) const;
    void SetCameraProperties(std::uint8_t camera, const CAMERA_PROPERTIES& record);
    SCREEN_PROPERTY ScreenProperty() const;
    void SetScreenProperty(const SCREEN_PROPERTY& record);
    DEVICE_CONFIG DeviceConfig() const;
    void SetDeviceConfig(const DEVICE_CONFIG& record);
    DEVICE_CALIB_PARAS CalibParams(std::uint8_t axis) const;
    void SetCalibParams(std::uint8_t axis, const DEVICE_CALIB_PARAS& record);
    TOOLBAR_PARAMS ToolbarParams() const;
    void SetToolbarParams(const TOOLBAR_PARAMS& record);

    // Mode byte of a sub-unit (command 0x70/0x71; the access bracket switches 0 and 1).
    std::uint8_t Mode(std::uint8_t subCode) const;
    bool UpgradeRequested() const;
    // The image behind commands 0x50, 0x52 and 0x60 (per camera sub-code 0/1) and the
    // three 640-byte lines behind 0x64 (top), 0x66 (data) and 0x68 (reference).
    void SetImage(std::uint8_t camera, std::uint16_t width, std::uint16_t height, std::vector<std::uint8_t> pixels);
    void SetImageLine(std::uint8_t camera, std::uint8_t command, std::span<const std::uint8_t> line);

    // ---- input pipe ----
    // Queues one interrupt transfer (1 to 1024 bytes); false when it does not fit the
    // endpoint or the queue is full.
    bool QueueTransfer(std::span<const std::uint8_t> transfer);
    size_t PendingTransfers() const;
    // Button lines, bit i = button i pressed. A change sends a device event packet:
    // command 0x02 (or 0x40, see SetEventCommand), byte 5 = the event byte, byte 6 = the
    // eight lines active low. An image device (kProductImage) sends none.
    void SetButtons(std::uint8_t pressed);
    void PressButton(unsigned line);
    void ReleaseButton(unsigned line);
    std::uint8_t Buttons() const;
    void SetEventCommand(std::uint8_t command);  // 0x02 or 0x40
    void SetEventByte(std::uint8_t value);

    // ---- faults ----
    void AddReplyFault(const ReplyFaultRule& rule);
    void AddControlFault(const ControlFaultRule& rule);
    void DropTransfers(unsigned count);       // the next `count` interrupt transfers are lost
    void DuplicateTransfers(unsigned count);  // the next `count` are sent twice
    void ClearFaults();
    void Unplug();  // every transfer fails with STATUS_DEVICE_NOT_CONNECTED
    void Replug();
    bool Plugged() const;

    // ---- observation ----
    // Every valid frame received on the default pipe, oldest first; Take empties it.
    std::vector<DEVICE_PACKET> TakeReceived();
    size_t PendingReplies() const;
    ControllerCounters Counters() const;

private:
    struct BlockInfo {
        std::uint8_t size;     // bytes a get returns
        std::uint8_t setSize;  // bytes a set must carry
    };
    struct Image {
        std::uint16_t width = 0;
        std::uint16_t height = 0;
        std::vector<std::uint8_t> pixels;
        std::uint16_t startRow = 0;
        std::uint16_t collectStartRow = 0;
        std::map<std::uint8_t, std::vector<std::uint8_t>> lines;  // by get command
    };

    void HandleFrame(std::span<const std::uint8_t> frame);
    void Answer(const DEVICE_PACKET& request, std::span<const std::uint8_t> payload);
    void QueueReply(std::vector<std::uint8_t> frame);
    std::optional<ReplyFault> TakeReplyFault(const DEVICE_PACKET& request);
    std::optional<NTSTATUS> TakeControlFault(TransferDirection direction);
    bool QueueTransferLocked(std::vector<std::uint8_t> transfer);
    void SendButtonEvent();
    std::vector<std::uint8_t> Query(const DEVICE_PACKET& request, bool* known);
    std::optional<SetResult> Set(const DEVICE_PACKET& request);
    template <typename Record>
    Record RecordOf(std::uint8_t command, std::uint8_t subCode) const;
    template <typename Record>
    void StoreRecord(std::uint8_t command, std::uint8_t subCode, const Record& record);

    mutable std::mutex mutex_;
    USB_DEVICE_DESCRIPTOR descriptor_{};
    std::map<std::pair<std::uint8_t, std::uint8_t>, std::vector<std::uint8_t>> blocks_;  // (get command, sub-code)
    std::map<std::uint8_t, std::uint8_t> modes_;
    bool upgrade_ = false;
    Image images_[2];
    std::deque<std::vector<std::uint8_t>> replies_;
    std::deque<std::vector<std::uint8_t>> transfers_;
    std::optional<std::vector<std::uint8_t>> repeat_;  // a duplicated transfer's second copy
    std::uint8_t buttons_ = 0;
    std::uint8_t eventCommand_ = 0x02;
    std::uint8_t eventByte_ = 0;
    std::vector<ReplyFaultRule> replyFaults_;
    std::vector<ControlFaultRule> controlFaults_;
    unsigned dropTransfers_ = 0;
    unsigned duplicateTransfers_ = 0;
    bool plugged_ = true;
    std::vector<DEVICE_PACKET> received_;
    ControllerCounters counters_;
};

}  // namespace kav::sim
