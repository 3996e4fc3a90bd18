#include "LoopbackExchange.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace orv::bench {
namespace {

constexpr uint32_t kLargestMessage = 4096;

sockaddr_in LoopbackAddress(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

void NoDelay(int fd) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace

int ListenOnLoopback(int& port) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = LoopbackAddress(0);
        socklen_t size = sizeof address;
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            listen(fd, 4) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            if (fd >= 0)
                close(fd);
            return -1;
        }
        port = ntohs(address.sin_port);
        if (port % 100 != 0)
            return fd;
        close(fd);
    }
    return -1;
}

int ConnectToLoopback(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = LoopbackAddress(port);
    if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    NoDelay(fd);
    return fd;
}

bool SendAll(int fd, const uint8_t* bytes, size_t count) {
    while (count > 0) {
        const ssize_t done = send(fd, bytes, count, MSG_NOSIGNAL);
        if (done <= 0)
            return false;
        bytes += done;
        count -= static_cast<size_t>(done);
    }
    return true;
}

bool ReceiveAll(int fd, uint8_t* bytes, size_t count) {
    while (count > 0) {
        const ssize_t done = recv(fd, bytes, count, 0);
        if (done <= 0)
            return false;
        bytes += done;
        count -= static_cast<size_t>(done);
    }
    return true;
}

bool MessageStream::Next(std::vector<uint8_t>& message) {
    for (;;) {
        if (pending_.size() >= 4) {
            uint32_t count;
            std::memcpy(&count, pending_.data(), sizeof count);
            if (count < 4 || count > kLargestMessage)
                return false;
            if (pending_.size() >= count) {
                message.assign(pending_.begin(), pending_.begin() + count);
                pending_.erase(pending_.begin(), pending_.begin() + count);
                return true;
            }
        }
        uint8_t chunk[kLargestMessage];
        const ssize_t got = recv(fd_, chunk, sizeof chunk, 0);
        if (got <= 0)
            return false;
        pending_.insert(pending_.end(), chunk, chunk + got);
    }
}

double PingPongRate(int exchanges, size_t bytes) {
    int port = 0;
    const int listener = ListenOnLoopback(port);
    std::vector<uint8_t> buffer(bytes);
    const pid_t client = fork();
    if (client == 0) {
        // The client is a process of its own, as the tool is: switching to it costs the same.
        const int fd = ConnectToLoopback(port);
        for (int i = 0; i < exchanges && SendAll(fd, buffer.data(), bytes) &&
                        ReceiveAll(fd, buffer.data(), bytes);
             ++i) {
        }
        _exit(0);
    }
    const int peer = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    NoDelay(peer);
    double turnaroundSeconds = 0;
    int answered = 0;
    std::chrono::steady_clock::time_point replied;
    while (answered < exchanges && ReceiveAll(peer, buffer.data(), bytes)) {
        if (answered > 0) {
            turnaroundSeconds +=
                std::chrono::duration<double>(std::chrono::steady_clock::now() - replied).count();
        }
        if (!SendAll(peer, buffer.data(), bytes))
            break;
        replied = std::chrono::steady_clock::now();
        ++answered;
    }
    close(peer);
    waitpid(client, nullptr, 0);
    close(listener);
    return (answered - 1) / turnaroundSeconds;
}

}  // namespace orv::bench
