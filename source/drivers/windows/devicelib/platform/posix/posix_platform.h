// Serial ports on POSIX hosts (termios), so that the serial transport runs for real in
// native builds, against a pseudo-terminal in tests. Everything else fails as
// FailingPlatform does. Not built for Windows.
#pragma once

#include "devicelib/platform/failing_platform.h"

namespace kav::platform::posix {

class PosixPlatform final : public FailingPlatform {
public:
    // A read of one byte gives up after this long, as the Win32 time-outs have it
    // (20 ms per byte plus 20 ms).
    static constexpr int kByteReadTimeoutMs = 40;

    // A longer time-out suits hosts where the other end may be scheduled late.
    explicit PosixPlatform(int byteReadTimeoutMs = kByteReadTimeoutMs) : byteReadTimeoutMs_(byteReadTimeoutMs) {}

    Handle OpenSerial(std::u16string_view path) override;
    bool Close(Handle handle) override;
    bool PurgeSerial(Handle port) override;
    std::optional<std::size_t> WriteSerial(Handle port, std::span<const uint8_t> bytes) override;
    std::optional<uint8_t> ReadSerialByte(Handle port) override;

private:
    int byteReadTimeoutMs_;
};

PosixPlatform& PosixPlatformInstance();

}  // namespace kav::platform::posix
