// The simulated screen service's protocol (kavsim serve and KavLib's remote platform).
// Header-only and free of the simulator and of the OS, so that the client in KavLib can
// include it alone.
//
// Transport: one TCP connection on 127.0.0.1 per client. Every message, in both
// directions, is
//
//   u32 length     bytes that follow this field: 8 + payload, at most kMaxMessageLength
//   u32 requestId  chosen by the client, echoed by the reply; 0 in events from the service
//   u16 type       MessageType
//   u16 status     Status in replies; 0 in requests and events
//   payload        fields of the type, little-endian, packed
//
// Field encodings: u8/u16/u32 little-endian; a string is u16 count then that many UTF-16
// code units (at most kMaxStringUnits); bytes are u16 count then the bytes (at most
// kMaxBlobBytes); a UTF-8 text is u16 count then bytes.
//
// The first message of a connection is Hello, both ways; the service closes a connection
// whose first message is anything else, or whose version differs (after a Hello reply with
// status kVersionMismatch). A message that is too long, too short for its fields, of an
// unknown type, or a request the client should never send closes that connection and
// leaves a line in the service's log. Every request gets exactly one reply, in any order
// (reads wait); events come between replies.
//
// Requests and their replies (request payload -> reply payload):
//   Hello           u32 kMagic, u16 kVersion       -> u32 kMagic, u16 kVersion
//   ListInterfaces  -                               -> u16 count, count x string path
//   Open            string path                     -> u32 handle (0 with kFailed)
//   Close           u32 handle                      -> -
//   Attributes      u32 handle                      -> u16 vendor, u16 product, u16 version
//   GetString       u32 handle, u8 HidStringId      -> string
//   GetFeature      u32 handle, bytes buffer        -> bytes buffer as the driver filled it
//   SetFeature      u32 handle, bytes report        -> -
//   Read            u32 handle, u32 waitMs, u16 len -> u8 ReadOutcome, bytes report
//   CancelRead      u32 requestId of the Read       -> - (the Read replies kCancelled)
//   RegisterRawInput u16 count, count x (u16 page, u16 usage) -> u32 registration
//   RegisterDeviceChange -                          -> u32 registration
//   Unregister      u32 registration                -> -
//   QueryRegistry   u8 root, string key, u16 count, count x string name
//                   -> u8 opened, then per name: u8 present, u32 type, bytes data
//   Control         utf8 line (the scenario language, live) -> utf8 answer
// Events (requestId 0, from the service):
//   RawInput        u32 registration, u8 RawInputKind, string device, bytes report
//   DeviceChange    u32 registration, u32 event (0x8000 arrival, 0x8004 removal), string path
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kav::service::protocol {

constexpr std::uint32_t kMagic = 0x4D49534B;  // "KSIM"
constexpr std::uint16_t kVersion = 1;
constexpr std::uint16_t kDefaultPort = 48731;

constexpr std::size_t kLengthFieldBytes = 4;
constexpr std::size_t kHeaderBytes = 8;  // after the length field
// Far above the largest honest message (a list of every interface of a few screens);
// small enough that a hostile length costs the service nothing.
constexpr std::size_t kMaxMessageLength = 64 * 1024;
constexpr std::size_t kMaxStringUnits = 1024;
constexpr std::size_t kMaxBlobBytes = 4096;
constexpr std::size_t kMaxRawInputUsages = 16;
constexpr std::size_t kMaxRegistryNames = 64;

enum class MessageType : std::uint16_t {
    Hello = 1,
    ListInterfaces = 2,
    Open = 3,
    Close = 4,
    Attributes = 5,
    GetString = 6,
    GetFeature = 7,
    SetFeature = 8,
    Read = 9,
    CancelRead = 10,
    RegisterRawInput = 11,
    RegisterDeviceChange = 12,
    Unregister = 13,
    QueryRegistry = 14,
    Control = 15,
    RawInputEvent = 100,
    DeviceChangeEvent = 101,
};

enum class Status : std::uint16_t {
    kOk = 0,
    kFailed = 1,           // the operation failed as the OS call would
    kVersionMismatch = 2,  // Hello of another version; the connection closes
    kBadLine = 3,          // Control: the line does not parse; the answer says why
};

enum class ReadOutcome : std::uint8_t { Report = 0, TimedOut = 1, Cancelled = 2, Gone = 3 };
enum class RawInputKind : std::uint8_t { Hid = 0, Mouse = 1, Keyboard = 2 };
enum class HidStringId : std::uint8_t { Manufacturer = 0, Product = 1, SerialNumber = 2 };
enum class RegistryRootId : std::uint8_t { LocalMachine = 0, CurrentUser = 1 };

struct Header {
    std::uint32_t requestId = 0;
    MessageType type = MessageType::Hello;
    Status status = Status::kOk;
};

// Builds one whole message, length field included.
class Writer {
public:
    explicit Writer(const Header& header) : bytes_(kLengthFieldBytes, 0) {
        U32(header.requestId);
        U16(static_cast<std::uint16_t>(header.type));
        U16(static_cast<std::uint16_t>(header.status));
    }
    Writer& U8(std::uint8_t value) {
        bytes_.push_back(value);
        return *this;
    }
    Writer& U16(std::uint16_t value) {
        bytes_.push_back(static_cast<std::uint8_t>(value));
        bytes_.push_back(static_cast<std::uint8_t>(value >> 8));
        return *this;
    }
    Writer& U32(std::uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) bytes_.push_back(static_cast<std::uint8_t>(value >> shift));
        return *this;
    }
    // Longer strings and blobs are cut at their limits; the reader refuses what exceeds them.
    Writer& String(std::u16string_view text) {
        const std::size_t count = text.size() < kMaxStringUnits ? text.size() : kMaxStringUnits;
        U16(static_cast<std::uint16_t>(count));
        for (std::size_t i = 0; i < count; ++i) U16(static_cast<std::uint16_t>(text[i]));
        return *this;
    }
    Writer& Bytes(std::span<const std::uint8_t> data) {
        const std::size_t count = data.size() < kMaxBlobBytes ? data.size() : kMaxBlobBytes;
        U16(static_cast<std::uint16_t>(count));
        bytes_.insert(bytes_.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(count));
        return *this;
    }
    Writer& Text(std::string_view utf8) {
        const std::size_t count = utf8.size() < kMaxBlobBytes ? utf8.size() : kMaxBlobBytes;
        U16(static_cast<std::uint16_t>(count));
        bytes_.insert(bytes_.end(), utf8.begin(), utf8.begin() + static_cast<std::ptrdiff_t>(count));
        return *this;
    }
    // The message with its length field filled in; the writer is spent.
    std::vector<std::uint8_t> Finish() {
        const std::size_t length = bytes_.size() - kLengthFieldBytes;
        for (int i = 0; i < 4; ++i) bytes_[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(length >> (8 * i));
        return std::move(bytes_);
    }

private:
    std::vector<std::uint8_t> bytes_;
};

// The length field's value; nullopt when it is out of bounds.
inline std::optional<std::size_t> BodyLength(std::span<const std::uint8_t, kLengthFieldBytes> field) {
    const std::size_t length = static_cast<std::size_t>(field[0]) | (static_cast<std::size_t>(field[1]) << 8) |
                               (static_cast<std::size_t>(field[2]) << 16) | (static_cast<std::size_t>(field[3]) << 24);
    if (length < kHeaderBytes || length > kMaxMessageLength) return std::nullopt;
    return length;
}

// Reads the fields of one message body (after the length field). A field that runs past the
// end, or exceeds its limit, makes the reader fail; every later read then fails too, so a
// parser checks Ok() once at its end.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> body) : body_(body) {}

    std::optional<Header> ReadHeader() {
        Header header;
        header.requestId = U32();
        header.type = static_cast<MessageType>(U16());
        header.status = static_cast<Status>(U16());
        if (!ok_) return std::nullopt;
        return header;
    }
    std::uint8_t U8() {
        if (!Need(1)) return 0;
        return body_[at_++];
    }
    std::uint16_t U16() {
        if (!Need(2)) return 0;
        const auto value = static_cast<std::uint16_t>(body_[at_] | (body_[at_ + 1] << 8));
        at_ += 2;
        return value;
    }
    std::uint32_t U32() {
        if (!Need(4)) return 0;
        std::uint32_t value = 0;
        for (int i = 3; i >= 0; --i) value = (value << 8) | body_[at_ + static_cast<std::size_t>(i)];
        at_ += 4;
        return value;
    }
    std::u16string String() {
        const std::size_t count = U16();
        if (count > kMaxStringUnits) ok_ = false;
        if (!Need(count * 2)) return {};
        std::u16string text;
        for (std::size_t i = 0; i < count; ++i) text.push_back(static_cast<char16_t>(U16()));
        return text;
    }
    std::vector<std::uint8_t> Bytes() {
        const std::size_t count = U16();
        if (count > kMaxBlobBytes) ok_ = false;
        if (!Need(count)) return {};
        std::vector<std::uint8_t> data(body_.begin() + static_cast<std::ptrdiff_t>(at_),
                                       body_.begin() + static_cast<std::ptrdiff_t>(at_ + count));
        at_ += count;
        return data;
    }
    std::string Text() {
        const std::vector<std::uint8_t> data = Bytes();
        return std::string(data.begin(), data.end());
    }

    bool Ok() const { return ok_; }
    // All fields read and nothing left over: a request with trailing bytes is malformed.
    bool Done() const { return ok_ && at_ == body_.size(); }

private:
    bool Need(std::size_t count) {
        if (ok_ && body_.size() - at_ >= count) return true;
        ok_ = false;
        return false;
    }

    std::span<const std::uint8_t> body_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

}  // namespace kav::service::protocol
