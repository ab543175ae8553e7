// A TCP client socket: just what the service's client needs, over Winsock on Windows
// (win32/socket_win32.cpp) and POSIX sockets elsewhere (socket_posix.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace kav::platform::remote {

class Socket {
public:
    // An IPv4 address in host order (127.0.0.1 is 0x7F000001). nullptr when nothing
    // accepts the connection within timeoutMs.
    static std::unique_ptr<Socket> Connect(std::uint32_t address, std::uint16_t port, std::uint32_t timeoutMs);

    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket();

    // The whole buffer or false; safe beside a Receive on another thread, not beside
    // another Send.
    bool Send(std::span<const std::uint8_t> bytes);
    // Fills the whole buffer, blocking; false when the peer closed or the socket failed.
    bool Receive(std::span<std::uint8_t> bytes);
    // Ends a Receive blocked on another thread; the socket is unusable afterwards.
    void Shutdown();

private:
    explicit Socket(std::intptr_t descriptor) : descriptor_(descriptor) {}
    std::intptr_t descriptor_;
};

}  // namespace kav::platform::remote
