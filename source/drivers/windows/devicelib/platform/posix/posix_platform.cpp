#include "devicelib/platform/posix/posix_platform.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>

namespace kav::platform::posix {

namespace {

// Descriptor 0 is a valid port, and null is never a handle, so handles are offset by one.
Handle ToHandle(int fd) {
    return reinterpret_cast<Handle>(static_cast<std::intptr_t>(fd) + 1);
}

std::optional<int> ToFd(Handle handle) {
    if (!IsValidHandle(handle)) return std::nullopt;
    const std::intptr_t value = reinterpret_cast<std::intptr_t>(handle) - 1;
    if (value < 0 || value > INT32_MAX) return std::nullopt;
    return static_cast<int>(value);
}

// Device paths are ASCII; anything else is refused rather than guessed at.
std::optional<std::string> NarrowPath(std::u16string_view path) {
    if (path.empty()) return std::nullopt;
    std::string narrow;
    for (const char16_t c : path) {
        if (c == u'\0' || c > 0x7F) return std::nullopt;
        narrow.push_back(static_cast<char>(c));
    }
    return narrow;
}

bool Configure(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) return false;
    cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    // Reads never block in the kernel; poll() bounds each wait.
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (cfsetispeed(&settings, B115200) != 0 || cfsetospeed(&settings, B115200) != 0) return false;
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

// Waits for `events` at most `timeoutMs`, across interruptions.
bool WaitFor(int fd, short events, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd entry{fd, events, 0};
        const int ready = poll(&entry, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (ready > 0) return (entry.revents & events) != 0;
        if (ready == 0) return false;
        if (errno != EINTR) return false;
    }
}

}  // namespace

Handle PosixPlatform::OpenSerial(std::u16string_view path) {
    const std::optional<std::string> narrow = NarrowPath(path);
    if (!narrow) return kInvalidHandle;
    const int fd = open(narrow->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return kInvalidHandle;
    // Exclusive, as the port is on Windows; the kernel keeps its own queues.
    if (ioctl(fd, TIOCEXCL) != 0 || !Configure(fd)) {
        close(fd);
        return kInvalidHandle;
    }
    return ToHandle(fd);
}

bool PosixPlatform::Close(Handle handle) {
    const std::optional<int> fd = ToFd(handle);
    return fd && close(*fd) == 0;
}

bool PosixPlatform::PurgeSerial(Handle port) {
    const std::optional<int> fd = ToFd(port);
    return fd && tcflush(*fd, TCIOFLUSH) == 0;
}

std::optional<std::size_t> PosixPlatform::WriteSerial(Handle port, std::span<const uint8_t> bytes) {
    const std::optional<int> fd = ToFd(port);
    if (!fd) return std::nullopt;
    const int timeoutMs = static_cast<int>(std::min<std::size_t>(bytes.size(), 100000) * 20 + 20);
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = write(*fd, bytes.data() + written, bytes.size() - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return written == 0 ? std::nullopt : std::optional(written);
        // Like the Win32 write time-out: whatever went out by then is the count.
        if (!WaitFor(*fd, POLLOUT, timeoutMs)) break;
    }
    return written;
}

std::optional<uint8_t> PosixPlatform::ReadSerialByte(Handle port) {
    const std::optional<int> fd = ToFd(port);
    if (!fd) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(byteReadTimeoutMs_);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() < 0) return std::nullopt;
        // A hang-up wakes the wait without POLLIN and ends the read.
        if (!WaitFor(*fd, POLLIN, static_cast<int>(left.count()))) return std::nullopt;
        uint8_t byte = 0;
        const ssize_t n = read(*fd, &byte, 1);
        if (n == 1) return byte;
        // With VMIN = 0 a read can come back empty although poll saw data; wait again.
        if (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) return std::nullopt;
    }
}

PosixPlatform& PosixPlatformInstance() {
    static PosixPlatform instance;
    return instance;
}

}  // namespace kav::platform::posix
