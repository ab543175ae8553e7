#include "devicelib/platform/remote/socket.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

namespace kav::platform::remote {

namespace {

// Winsock stays started for the life of the process once a client needs it.
bool StartWinsock() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

SOCKET Native(std::intptr_t descriptor) {
    return static_cast<SOCKET>(descriptor);
}

}  // namespace

std::unique_ptr<Socket> Socket::Connect(std::uint32_t address, std::uint16_t port, std::uint32_t timeoutMs) {
    if (!StartWinsock()) return nullptr;
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return nullptr;
    auto fail = [s]() -> std::unique_ptr<Socket> {
        ::closesocket(s);
        return nullptr;
    };
    // Non-blocking only while connecting, so that the time-out holds.
    u_long nonBlocking = 1;
    if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) return fail();
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = htonl(address);
    if (::connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK) return fail();
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval wait{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000};
        if (::select(0, nullptr, &writable, &failed, &wait) != 1 || !FD_ISSET(s, &writable)) return fail();
    }
    nonBlocking = 0;
    if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) return fail();
    // Requests are small and each waits for its reply.
    const BOOL one = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    return std::unique_ptr<Socket>(new Socket(static_cast<std::intptr_t>(s)));
}

Socket::~Socket() {
    ::closesocket(Native(descriptor_));
}

bool Socket::Send(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const int chunk = bytes.size() > 65536 ? 65536 : static_cast<int>(bytes.size());
        const int sent = ::send(Native(descriptor_), reinterpret_cast<const char*>(bytes.data()), chunk, 0);
        if (sent <= 0) return false;
        bytes = bytes.subspan(static_cast<std::size_t>(sent));
    }
    return true;
}

bool Socket::Receive(std::span<std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const int chunk = bytes.size() > 65536 ? 65536 : static_cast<int>(bytes.size());
        const int got = ::recv(Native(descriptor_), reinterpret_cast<char*>(bytes.data()), chunk, 0);
        if (got <= 0) return false;
        bytes = bytes.subspan(static_cast<std::size_t>(got));
    }
    return true;
}

void Socket::Shutdown() {
    ::shutdown(Native(descriptor_), SD_BOTH);
}

}  // namespace kav::platform::remote
