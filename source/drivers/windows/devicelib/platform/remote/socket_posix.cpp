#include "devicelib/platform/remote/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace kav::platform::remote {

std::unique_ptr<Socket> Socket::Connect(std::uint32_t address, std::uint16_t port, std::uint32_t timeoutMs) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    auto fail = [fd]() -> std::unique_ptr<Socket> {
        ::close(fd);
        return nullptr;
    };
    // Non-blocking only while connecting, so that the time-out holds.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return fail();
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = htonl(address);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        if (errno != EINPROGRESS) return fail();
        pollfd waiting{fd, POLLOUT, 0};
        int ready;
        do {
            ready = ::poll(&waiting, 1, static_cast<int>(timeoutMs));
        } while (ready < 0 && errno == EINTR);
        int error = 0;
        socklen_t size = sizeof error;
        if (ready != 1 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) return fail();
    }
    if (::fcntl(fd, F_SETFL, flags) < 0) return fail();
    // Requests are small and each waits for its reply.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return std::unique_ptr<Socket>(new Socket(fd));
}

Socket::~Socket() {
    ::close(static_cast<int>(descriptor_));
}

bool Socket::Send(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(static_cast<int>(descriptor_), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        bytes = bytes.subspan(static_cast<std::size_t>(sent));
    }
    return true;
}

bool Socket::Receive(std::span<std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t got = ::recv(static_cast<int>(descriptor_), bytes.data(), bytes.size(), 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        bytes = bytes.subspan(static_cast<std::size_t>(got));
    }
    return true;
}

void Socket::Shutdown() {
    ::shutdown(static_cast<int>(descriptor_), SHUT_RDWR);
}

}  // namespace kav::platform::remote
