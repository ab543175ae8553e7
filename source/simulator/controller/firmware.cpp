#include "firmware.h"

#include "optics.h"

#include <algorithm>
#include <cstring>

namespace kav::sim {
namespace {

namespace protocol = ::kav::protocol;

constexpr std::uint8_t kVendorOut = 0x40;  // host to device, vendor, device
constexpr std::uint8_t kVendorIn = 0xC0;   // device to host, vendor, device
constexpr std::uint8_t kInputType = 0x01;
constexpr std::size_t kMaxInterruptTransfer = kUsbTransferSize;
constexpr std::size_t kImageChunk = protocol::kImageChunkSize;
constexpr std::size_t kLineBytes = kCameraPixels;
constexpr std::uint16_t kImageRows = 8;  // rows of the sensor an image covers

// A stored block: the catalogue's get row, its set row (none: read-only) and the sub-codes
// this controller keeps it under. A get returns the get row's size; a set must carry the
// set row's.
struct BlockKind {
    const protocol::Command* get;
    const protocol::Command* set;
    std::uint8_t subCount;
    std::uint8_t subCodes[2];

    std::uint8_t Size() const { return get->replySize; }
    std::uint8_t SetSize() const { return set->requestSize; }
};

const BlockKind kBlocks[] = {
    {&protocol::kGetCameraPropertys, &protocol::kSetCameraPropertys, 2, {0, 1}},
    {&protocol::kGetCalibParams, &protocol::kSetCalibParams, 2, {protocol::kSubCalibX, protocol::kSubCalibY}},
    {&protocol::kGetEncryptKey, &protocol::kSetEncryptKey, 1, {protocol::kSubEncryptKey}},
    {&protocol::kGetToolbarParams, &protocol::kSetToolbarParams, 1, {protocol::kSubToolbar}},
    {&protocol::kGetImgCConfig, &protocol::kSetImgCConfig, 2, {0, 1}},      // per camera
    {&protocol::kGetCameraParams, &protocol::kSetCameraParams, 2, {0, 1}},  // six settable, two status bytes
    {&protocol::kGetCameraParamsLinear, &protocol::kSetCameraParamsLinear, 2, {0, 1}},
    {&protocol::kGetCameraSn, &protocol::kSetCameraSn, 2, {0, 1}},
    {&protocol::kGetCalibParamsZInfrared, &protocol::kSetCalibParamsZInfrared, 1, {protocol::kSubInfrared}},
    {&protocol::kGetCalibParamsYInfrared, &protocol::kSetCalibParamsYInfrared, 1, {protocol::kSubInfrared}},
    {&protocol::kGetCalibParamsXInfrared, &protocol::kSetCalibParamsXInfrared, 1, {protocol::kSubInfrared}},
    {&protocol::kGetScreenProperty,
     &protocol::kSetScreenProperty,
     2,
     {protocol::kSubScreenProperty, protocol::kSubDeviceConfig}},
    {&protocol::kGetProductVersion, nullptr, 2, {0, 1}},
    {&protocol::kGetProductSn, &protocol::kSetProductSn, 1, {protocol::kSubProductSn}},
    {&protocol::kGetBoardSn, &protocol::kSetBoardSn, 2, {0, 1}},
    {&protocol::kGetProductType, nullptr, 2, {0, 1}},
    {&protocol::kGetImageCVersion, nullptr, 2, {0, 1}},
    {&protocol::kGetStylusStatus, nullptr, 1, {protocol::kSubStylus}},
    {&protocol::kGetStylusVersion, nullptr, 1, {protocol::kSubStylus}},
};

const BlockKind* FindByGet(std::uint8_t command) {
    for (const BlockKind& kind : kBlocks)
        if (kind.get->code == command) return &kind;
    return nullptr;
}

const BlockKind* FindBySet(std::uint8_t command) {
    for (const BlockKind& kind : kBlocks)
        if (kind.set != nullptr && kind.set->code == command) return &kind;
    return nullptr;
}

// The queries that address a camera's image: sub-code 0 or 1.
bool IsImageQuery(std::uint8_t command) {
    for (const protocol::Command* row :
         {&protocol::kGetImageBlockCount, &protocol::kGetImageSize, &protocol::kGetImageBlock,
          &protocol::kGetImageStartRow, &protocol::kGetImageLineTop, &protocol::kGetImageLineData,
          &protocol::kGetImageLineReference})
        if (row->code == command) return true;
    return false;
}

bool HasSubCode(const BlockKind& kind, std::uint8_t subCode) {
    return std::find(kind.subCodes, kind.subCodes + kind.subCount, subCode) != kind.subCodes + kind.subCount;
}

template <typename Record>
std::vector<std::uint8_t> BytesOf(const Record& record) {
    std::vector<std::uint8_t> bytes(sizeof record);
    std::memcpy(bytes.data(), &record, sizeof record);
    return bytes;
}

void PutU16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

std::uint16_t GetU16(const DEVICE_PACKET& packet) {
    return static_cast<std::uint16_t>(packet.payload[0] | (packet.payload[1] << 8));
}

// Records of the optics' nominal screen: 400 x 300 mm with its cameras 20 mm outside the
// top corners, nominal lenses that the camera records describe, and an identity
// calibration.
constexpr Geometry kNominalGeometry{400, 300, -20, 20, -20};

DEVICE_CONFIG DefaultDeviceConfig() {
    DEVICE_CONFIG config{};
    config.Region0 = REGION_BOUNDS{0, 0, 400, 300};
    config.RegionByte = 0x01;  // one cubic region over the whole screen
    return config;
}

DEVICE_CALIB_PARAS IdentityCalibration(bool y) {
    DEVICE_CALIB_PARAS calib{};
    calib.Coef[y ? 7 : 8] = 1.0f;  // y term of y, x term of x
    return calib;
}

// A product serial number whose every field is in range: it prints as
// TARNEVO-K26A31T-S1C-12-1107-0000001.
std::vector<std::uint8_t> ProductSerialNumber() {
    std::vector<std::uint8_t> record(protocol::kSerialNumberSize, 0);
    const std::uint8_t fields[] = {'K', 26, 'A', 31, 'T', 'S', 1, 'C', 12, 0, 0, 11, 7, 1, 0, 0, 0};
    std::copy(std::begin(fields), std::end(fields), record.begin());
    return record;
}

std::vector<std::uint8_t> Text(const char* text, std::size_t size) {
    std::vector<std::uint8_t> bytes(size, 0);
    std::memcpy(bytes.data(), text, std::min(size, std::strlen(text)));
    return bytes;
}

}  // namespace

Controller::Controller(std::uint16_t productId) {
    descriptor_.bLength = sizeof descriptor_;
    descriptor_.bDescriptorType = 1;
    descriptor_.bcdUSB = 0x0200;
    descriptor_.bDeviceClass = 0;
    descriptor_.bDeviceSubClass = 0;
    descriptor_.bDeviceProtocol = 0;
    descriptor_.bMaxPacketSize0 = 64;
    descriptor_.idVendor = kVendorId;
    descriptor_.idProduct = productId;
    descriptor_.bcdDevice = 0x0100;
    descriptor_.iManufacturer = 1;
    descriptor_.iProduct = 2;
    descriptor_.iSerialNumber = 3;
    descriptor_.bNumConfigurations = 1;

    for (const BlockKind& kind : kBlocks)
        for (std::uint8_t i = 0; i < kind.subCount; ++i)
            blocks_[{kind.get->code, kind.subCodes[i]}] = std::vector<std::uint8_t>(kind.Size(), 0);
    const std::uint8_t camera = protocol::kGetCameraPropertys.code;
    const std::uint8_t screen = protocol::kGetScreenProperty.code;
    const std::uint8_t calibration = protocol::kGetCalibParams.code;
    blocks_[{camera, 0}] = BytesOf(CameraRecord(Lens::Nominal(false), false));
    blocks_[{camera, 1}] = BytesOf(CameraRecord(Lens::Nominal(true), true));
    blocks_[{screen, protocol::kSubScreenProperty}] = BytesOf(ScreenRecord(kNominalGeometry));
    blocks_[{screen, protocol::kSubDeviceConfig}] = BytesOf(DefaultDeviceConfig());
    blocks_[{calibration, protocol::kSubCalibX}] = BytesOf(IdentityCalibration(false));
    blocks_[{calibration, protocol::kSubCalibY}] = BytesOf(IdentityCalibration(true));
    blocks_[{protocol::kGetProductVersion.code, 0}] = {0x01, 0x05, 0x07, 0x0A};  // 5.01.1007
    blocks_[{protocol::kGetProductSn.code, protocol::kSubProductSn}] = ProductSerialNumber();
    blocks_[{protocol::kGetBoardSn.code, 0}] = Text("BRD-000001", protocol::kSerialNumberSize);
    blocks_[{protocol::kGetCameraSn.code, 0}] = Text("CAM-A-0001", protocol::kCameraSnSize);
    blocks_[{protocol::kGetCameraSn.code, 1}] = Text("CAM-B-0001", protocol::kCameraSnSize);
    blocks_[{protocol::kGetProductType.code, 0}] = {static_cast<std::uint8_t>(productId & 0xFF),
                                                    static_cast<std::uint8_t>(productId >> 8)};
    blocks_[{protocol::kGetImageCVersion.code, 0}] = {0x00, 0x01, 0x00, 0x00};
    for (const std::uint8_t unit : protocol::kBracketSubCodes) modes_[unit] = protocol::kAccessOff;
    modes_[protocol::kSingleSwitchSubCode] = protocol::kAccessOff;

    // What each camera sees with nothing on the glass, the image device's grey line, is
    // every row of its image and its top, data and reference lines.
    Noise noise(1);
    const std::vector<std::uint8_t> lit =
        ImageTransfer(kNominalGeometry, Lens::Nominal(false), Lens::Nominal(true), {}, {}, {}, ImageLighting{}, noise);
    for (std::uint8_t camera = 0; camera < 2; ++camera) {
        std::vector<std::uint8_t> line(kLineBytes, 0);
        std::copy_n(lit.begin() + static_cast<std::ptrdiff_t>(camera * kImageSamplesPerCamera), kImageSamplesPerCamera,
                    line.begin() + static_cast<std::ptrdiff_t>(kImageFirstPixel));
        Image& image = images_[camera];
        image.width = static_cast<std::uint16_t>(kLineBytes);
        image.height = kImageRows;
        image.pixels.clear();
        for (std::uint16_t row = 0; row < image.height; ++row)
            image.pixels.insert(image.pixels.end(), line.begin(), line.end());
        for (const std::uint8_t command :
             {protocol::kGetImageLineTop.code, protocol::kGetImageLineData.code, protocol::kGetImageLineReference.code})
            image.lines[command] = line;
    }
}

// ---- USB endpoints ----

USB_DEVICE_DESCRIPTOR Controller::DeviceDescriptor() {
    std::lock_guard lock(mutex_);
    return descriptor_;
}

void Controller::SetDescriptor(const USB_DEVICE_DESCRIPTOR& descriptor) {
    std::lock_guard lock(mutex_);
    descriptor_ = descriptor;
}

void Controller::SetProductId(std::uint16_t productId) {
    std::lock_guard lock(mutex_);
    descriptor_.idProduct = productId;
}

NTSTATUS Controller::ControlTransfer(const WDF_USB_CONTROL_SETUP_PACKET& setup, std::span<std::uint8_t> data,
                                     ULONG* transferred) {
    std::lock_guard lock(mutex_);
    if (transferred != nullptr) *transferred = 0;
    if (!plugged_) return STATUS_DEVICE_NOT_CONNECTED;
    const std::uint8_t bm = setup.Packet.Bm;
    const TransferDirection direction =
        (bm & 0x80) != 0 ? TransferDirection::DeviceToHost : TransferDirection::HostToDevice;
    if (std::optional<NTSTATUS> fault = TakeControlFault(direction); fault.has_value()) {
        ++counters_.failedControl;
        return *fault;
    }
    // Only the two vendor requests exist; anything else, or a command longer than the
    // endpoint's buffer, is stalled.
    const bool vendorOut = bm == kVendorOut && setup.Packet.bRequest == 0;
    const bool vendorIn = bm == kVendorIn && setup.Packet.bRequest == 0;
    if ((!vendorOut && !vendorIn) || (vendorOut && data.size() > kFeatureReportSize)) {
        ++counters_.failedControl;
        return STATUS_UNSUCCESSFUL;
    }
    if (vendorOut) {
        HandleFrame(data);
        if (transferred != nullptr) *transferred = static_cast<ULONG>(data.size());
        return STATUS_SUCCESS;
    }

    std::uint8_t reply[kFeatureReportSize] = {};
    if (replies_.empty()) {
        ++counters_.emptyReads;
    } else {
        std::copy(replies_.front().begin(), replies_.front().end(), reply);
        replies_.pop_front();
        ++counters_.repliesRead;
    }
    const size_t n = std::min(data.size(), sizeof reply);
    std::copy(reply, reply + n, data.begin());
    if (transferred != nullptr) *transferred = static_cast<ULONG>(n);
    return STATUS_SUCCESS;
}

std::optional<size_t> Controller::NextInterruptTransfer(std::span<std::uint8_t> buffer) {
    std::lock_guard lock(mutex_);
    if (!plugged_) return std::nullopt;
    std::vector<std::uint8_t> transfer;
    if (repeat_.has_value()) {
        transfer = std::move(*repeat_);
        repeat_.reset();
    } else {
        while (!transfers_.empty() && dropTransfers_ > 0) {
            transfers_.pop_front();
            --dropTransfers_;
            ++counters_.transfersDropped;
        }
        if (transfers_.empty()) return std::nullopt;
        transfer = std::move(transfers_.front());
        transfers_.pop_front();
        if (duplicateTransfers_ > 0) {
            --duplicateTransfers_;
            repeat_ = transfer;  // the same transfer goes out once more, next
        }
    }
    const size_t n = std::min(buffer.size(), transfer.size());
    std::copy(transfer.begin(), transfer.begin() + static_cast<std::ptrdiff_t>(n), buffer.begin());
    ++counters_.transfersSent;
    return n;
}

// ---- command handling ----

void Controller::HandleFrame(std::span<const std::uint8_t> frame) {
    DEVICE_PACKET request{};
    // A frame with another start byte (a driver request report passed on) or a broken
    // one is not a command: nothing is carried out or answered.
    if (frame.size() < kPacketHeaderSize + 1 || frame[0] != kPacketStart ||
        !ParseFramedPacket(frame.data(), frame.size(), &request)) {
        ++counters_.badFrames;
        return;
    }
    ++counters_.requests;
    received_.push_back(request);

    bool known = false;
    std::vector<std::uint8_t> payload = Query(request, &known);
    if (!known) {
        if (std::optional<SetResult> result = Set(request); result.has_value()) {
            payload = {static_cast<std::uint8_t>(*result)};
            known = true;
        }
    }
    if (!known) {
        ++counters_.unknownCommands;
        payload.clear();
    }
    Answer(request, payload);
}

std::vector<std::uint8_t> Controller::Query(const DEVICE_PACKET& request, bool* known) {
    *known = true;
    const std::uint8_t c = request.command;
    const std::uint8_t s = request.subCode;
    if (const BlockKind* kind = FindByGet(c); kind != nullptr) {
        auto it = blocks_.find({c, s});
        return it == blocks_.end() ? std::vector<std::uint8_t>{} : it->second;
    }
    if (c == protocol::kGetMode.code) {
        auto it = modes_.find(s);
        return it == modes_.end() ? std::vector<std::uint8_t>{} : std::vector<std::uint8_t>{it->second};
    }
    if (s > 1 && IsImageQuery(c)) return {};  // no such camera
    const Image* image = s <= 1 ? &images_[s] : nullptr;
    std::vector<std::uint8_t> out;
    switch (c) {
        case protocol::kGetImageBlockCount.code: {
            const size_t blocks = (image->pixels.size() + kImageChunk - 1) / kImageChunk;
            PutU16(out, static_cast<std::uint16_t>(std::min<size_t>(blocks, 0xFFFF)));
            return out;
        }
        case protocol::kGetImageSize.code:
            PutU16(out, image->width);
            PutU16(out, image->height);
            return out;
        case protocol::kGetImageStartRow.code:
            PutU16(out, image->startRow);
            return out;
        case protocol::kGetImageBlock.code: {
            // A block past the image has no data: an empty reply.
            if (request.length < protocol::kGetImageBlock.requestSize) return {};
            const size_t offset = std::size_t{GetU16(request)} * kImageChunk;
            if (offset >= image->pixels.size()) return {};
            out.assign(kImageChunk, 0);
            const size_t n = std::min(kImageChunk, image->pixels.size() - offset);
            std::copy_n(image->pixels.begin() + static_cast<std::ptrdiff_t>(offset), n, out.begin());
            return out;
        }
        case protocol::kGetImageLineTop.code:
        case protocol::kGetImageLineData.code:
        case protocol::kGetImageLineReference.code: {
            if (request.length < protocol::kGetImageLineTop.requestSize) return {};
            const std::vector<std::uint8_t>& line = image->lines.at(c);
            const size_t offset = std::size_t{request.payload[0]} * kImageChunk;
            if (offset >= line.size()) return {};
            out.assign(kImageChunk, 0);
            std::copy_n(line.begin() + static_cast<std::ptrdiff_t>(offset), std::min(kImageChunk, line.size() - offset),
                        out.begin());
            return out;
        }
        default:
            *known = false;
            return {};
    }
}

std::optional<SetResult> Controller::Set(const DEVICE_PACKET& request) {
    const std::uint8_t c = request.command;
    const std::uint8_t s = request.subCode;
    const std::span<const std::uint8_t> payload(request.payload, request.length);
    if (const BlockKind* kind = FindBySet(c); kind != nullptr) {
        if (!HasSubCode(*kind, s)) return SetResult::UnknownSubCode;
        if (payload.size() != kind->SetSize()) return SetResult::BadLength;
        std::vector<std::uint8_t>& block = blocks_[{kind->get->code, s}];
        std::copy(payload.begin(), payload.end(), block.begin());
        return SetResult::Done;
    }
    auto needs = [&](size_t n) { return payload.size() == n; };
    switch (c) {
        case protocol::kSetMode.code:
            if (modes_.find(s) == modes_.end()) return SetResult::UnknownSubCode;
            if (!needs(1)) return SetResult::BadLength;
            modes_[s] = payload[0];
            return SetResult::Done;
        case protocol::kSetUpgradeLinear.code:
            if (!needs(1)) return SetResult::BadLength;
            upgrade_ = payload[0] == protocol::kUpgradeRequest;
            return SetResult::Done;
        case protocol::kSetImageCollectStartRow.code:
        case protocol::kSetImageStartRow.code:
            if (s > 1) return SetResult::UnknownSubCode;
            if (!needs(2)) return SetResult::BadLength;
            (c == protocol::kSetImageCollectStartRow.code ? images_[s].collectStartRow : images_[s].startRow) =
                GetU16(request);
            return SetResult::Done;
        default:
            return std::nullopt;
    }
}

void Controller::Answer(const DEVICE_PACKET& request, std::span<const std::uint8_t> payload) {
    const std::optional<ReplyFault> fault = TakeReplyFault(request);
    if (fault == ReplyFault::Unanswered) return;
    std::uint8_t command = request.command;
    std::uint8_t subCode = request.subCode;
    if (fault == ReplyFault::OtherCommand) command ^= 0x80;
    if (fault == ReplyFault::OtherSubCode) subCode ^= 0x01;
    const std::uint8_t type = static_cast<std::uint8_t>(protocol::kReplyTypeNibble | (request.type & 0x0F));
    std::vector<std::uint8_t> frame(kFeatureReportSize, 0);
    const size_t n = std::min(payload.size(), kMaxPacketPayload);
    const size_t length = BuildFramedPacket(type, command, subCode, payload.data(), n, frame.data());
    if (fault == ReplyFault::BadChecksum) frame[length - 1] = static_cast<std::uint8_t>(frame[length - 1] + 1);
    if (fault == ReplyFault::Duplicated) QueueReply(frame);
    QueueReply(std::move(frame));
}

void Controller::QueueReply(std::vector<std::uint8_t> frame) {
    if (replies_.size() >= kReplyQueueDepth) {
        replies_.pop_front();
        ++counters_.repliesLost;
    }
    replies_.push_back(std::move(frame));
    ++counters_.repliesQueued;
}

std::optional<ReplyFault> Controller::TakeReplyFault(const DEVICE_PACKET& request) {
    for (auto it = replyFaults_.begin(); it != replyFaults_.end(); ++it) {
        if (it->command.has_value() && *it->command != request.command) continue;
        if (it->subCode.has_value() && *it->subCode != request.subCode) continue;
        const ReplyFault fault = it->fault;
        if (it->count != kEveryTime && --it->count == 0) replyFaults_.erase(it);
        return fault;
    }
    return std::nullopt;
}

std::optional<NTSTATUS> Controller::TakeControlFault(TransferDirection direction) {
    for (auto it = controlFaults_.begin(); it != controlFaults_.end(); ++it) {
        if (it->direction.has_value() && *it->direction != direction) continue;
        const NTSTATUS status = it->status;
        if (it->count != kEveryTime && --it->count == 0) controlFaults_.erase(it);
        return status;
    }
    return std::nullopt;
}

// ---- records ----

std::vector<std::uint8_t> Controller::Block(std::uint8_t getCommand, std::uint8_t subCode) const {
    std::lock_guard lock(mutex_);
    auto it = blocks_.find({getCommand, subCode});
    return it == blocks_.end() ? std::vector<std::uint8_t>{} : it->second;
}

bool Controller::SetBlock(std::uint8_t getCommand, std::uint8_t subCode, std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    auto it = blocks_.find({getCommand, subCode});
    if (it == blocks_.end() || it->second.size() != bytes.size()) return false;
    std::copy(bytes.begin(), bytes.end(), it->second.begin());
    return true;
}

template <typename Record>
Record Controller::RecordOf(std::uint8_t command, std::uint8_t subCode) const {
    std::lock_guard lock(mutex_);
    Record record{};
    const std::vector<std::uint8_t>& bytes = blocks_.at({command, subCode});
    static_assert(sizeof(Record) == kDeviceRecordSize);
    std::memcpy(&record, bytes.data(), sizeof record);
    return record;
}

template <typename Record>
void Controller::StoreRecord(std::uint8_t command, std::uint8_t subCode, const Record& record) {
    std::lock_guard lock(mutex_);
    std::memcpy(blocks_.at({command, subCode}).data(), &record, sizeof record);
}

CAMERA_PROPERTIES Controller::CameraProperties(std::uint8_t camera) const {
    return RecordOf<CAMERA_PROPERTIES>(protocol::kGetCameraPropertys.code, camera & 1);
}
void Controller::SetCameraProperties(std::uint8_t camera, const CAMERA_PROPERTIES& record) {
    StoreRecord(protocol::kGetCameraPropertys.code, camera & 1, record);
}
SCREEN_PROPERTY Controller::ScreenProperty() const {
    return RecordOf<SCREEN_PROPERTY>(protocol::kGetScreenProperty.code, protocol::kSubScreenProperty);
}
void Controller::SetScreenProperty(const SCREEN_PROPERTY& record) {
    StoreRecord(protocol::kGetScreenProperty.code, protocol::kSubScreenProperty, record);
}
DEVICE_CONFIG Controller::DeviceConfig() const {
    return RecordOf<DEVICE_CONFIG>(protocol::kGetDeviceConfig.code, protocol::kSubDeviceConfig);
}
void Controller::SetDeviceConfig(const DEVICE_CONFIG& record) {
    StoreRecord(protocol::kGetDeviceConfig.code, protocol::kSubDeviceConfig, record);
}
DEVICE_CALIB_PARAS Controller::CalibParams(std::uint8_t axis) const {
    return RecordOf<DEVICE_CALIB_PARAS>(protocol::kGetCalibParams.code, axis & 1);
}
void Controller::SetCalibParams(std::uint8_t axis, const DEVICE_CALIB_PARAS& record) {
    StoreRecord(protocol::kGetCalibParams.code, axis & 1, record);
}
TOOLBAR_PARAMS Controller::ToolbarParams() const {
    return RecordOf<TOOLBAR_PARAMS>(protocol::kGetToolbarParams.code, protocol::kSubToolbar);
}
void Controller::SetToolbarParams(const TOOLBAR_PARAMS& record) {
    StoreRecord(protocol::kGetToolbarParams.code, protocol::kSubToolbar, record);
}

std::uint8_t Controller::Mode(std::uint8_t subCode) const {
    std::lock_guard lock(mutex_);
    auto it = modes_.find(subCode);
    return it == modes_.end() ? 0 : it->second;
}

bool Controller::UpgradeRequested() const {
    std::lock_guard lock(mutex_);
    return upgrade_;
}

void Controller::SetImage(std::uint8_t camera, std::uint16_t width, std::uint16_t height,
                          std::vector<std::uint8_t> pixels) {
    std::lock_guard lock(mutex_);
    Image& image = images_[camera & 1];
    image.width = width;
    image.height = height;
    pixels.resize(std::size_t{width} * height, 0);
    image.pixels = std::move(pixels);
}

void Controller::SetImageLine(std::uint8_t camera, std::uint8_t command, std::span<const std::uint8_t> line) {
    std::lock_guard lock(mutex_);
    auto it = images_[camera & 1].lines.find(command);
    if (it == images_[camera & 1].lines.end()) return;
    it->second.assign(kLineBytes, 0);
    std::copy_n(line.begin(), std::min(line.size(), kLineBytes), it->second.begin());
}

// ---- input pipe ----

bool Controller::QueueTransfer(std::span<const std::uint8_t> transfer) {
    std::lock_guard lock(mutex_);
    return QueueTransferLocked(std::vector<std::uint8_t>(transfer.begin(), transfer.end()));
}

bool Controller::QueueTransferLocked(std::vector<std::uint8_t> transfer) {
    if (transfer.empty() || transfer.size() > kMaxInterruptTransfer) return false;
    if (transfers_.size() >= kInterruptQueueDepth) return false;
    transfers_.push_back(std::move(transfer));
    return true;
}

size_t Controller::PendingTransfers() const {
    std::lock_guard lock(mutex_);
    return transfers_.size() + (repeat_.has_value() ? 1 : 0);
}

void Controller::SendButtonEvent() {
    // An image device's every transfer is a pair of raw lines: it has no framed packet
    // to carry an event in.
    if (descriptor_.idProduct == kProductImage) return;
    const std::uint8_t payload[2] = {eventByte_, static_cast<std::uint8_t>(~buttons_)};
    std::vector<std::uint8_t> transfer(kUsbTransferSize, 0);
    BuildFramedPacket(kInputType, eventCommand_, 0, payload, sizeof payload, transfer.data());
    QueueTransferLocked(std::move(transfer));
}

void Controller::SetButtons(std::uint8_t pressed) {
    std::lock_guard lock(mutex_);
    if (pressed == buttons_) return;
    buttons_ = pressed;
    SendButtonEvent();
}

void Controller::PressButton(unsigned line) {
    if (line >= 8) return;
    SetButtons(static_cast<std::uint8_t>(Buttons() | (1u << line)));
}

void Controller::ReleaseButton(unsigned line) {
    if (line >= 8) return;
    SetButtons(static_cast<std::uint8_t>(Buttons() & ~(1u << line)));
}

std::uint8_t Controller::Buttons() const {
    std::lock_guard lock(mutex_);
    return buttons_;
}

void Controller::SetEventCommand(std::uint8_t command) {
    std::lock_guard lock(mutex_);
    eventCommand_ = command;
}

void Controller::SetEventByte(std::uint8_t value) {
    std::lock_guard lock(mutex_);
    eventByte_ = value;
}

// ---- faults ----

void Controller::AddReplyFault(const ReplyFaultRule& rule) {
    std::lock_guard lock(mutex_);
    if (rule.count != 0) replyFaults_.push_back(rule);
}

void Controller::AddControlFault(const ControlFaultRule& rule) {
    std::lock_guard lock(mutex_);
    if (rule.count != 0) controlFaults_.push_back(rule);
}

void Controller::DropTransfers(unsigned count) {
    std::lock_guard lock(mutex_);
    dropTransfers_ = count;
}

void Controller::DuplicateTransfers(unsigned count) {
    std::lock_guard lock(mutex_);
    duplicateTransfers_ = count;
}

void Controller::ClearFaults() {
    std::lock_guard lock(mutex_);
    replyFaults_.clear();
    controlFaults_.clear();
    dropTransfers_ = 0;
    duplicateTransfers_ = 0;
    repeat_.reset();
}

void Controller::Unplug() {
    std::lock_guard lock(mutex_);
    plugged_ = false;
    // What sat in the endpoints is gone with the power.
    replies_.clear();
    transfers_.clear();
    repeat_.reset();
}

void Controller::Replug() {
    std::lock_guard lock(mutex_);
    plugged_ = true;
}

bool Controller::Plugged() const {
    std::lock_guard lock(mutex_);
    return plugged_;
}

// ---- observation ----

std::vector<DEVICE_PACKET> Controller::TakeReceived() {
    std::lock_guard lock(mutex_);
    return std::exchange(received_, {});
}

size_t Controller::PendingReplies() const {
    std::lock_guard lock(mutex_);
    return replies_.size();
}

ControllerCounters Controller::Counters() const {
    std::lock_guard lock(mutex_);
    return counters_;
}

}  // namespace kav::sim
