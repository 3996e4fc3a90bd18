#include "TcpClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "sim/TcpServer.h"
#include "transport/GatewayRecords.h"

namespace orv::sim::test {

TcpClient::TcpClient(int port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd_ >= 0) {
            close(fd_);
        }
        throw std::runtime_error("cannot connect to 127.0.0.1:" + std::to_string(port));
    }
}

TcpClient::~TcpClient() {
    close(fd_);
}

bool TcpClient::Send(const void* bytes, size_t count) {
    return WriteAll(fd_, bytes, count);
}

bool TcpClient::Read(void* bytes, size_t count, int timeoutMs) {
    return ReadExactly(fd_, bytes, count, timeoutMs);
}

std::string TcpClient::ReadMessage(int timeoutMs) {
    std::string text;
    char c = 0;
    while (c != '>') {
        if (!Read(&c, 1, timeoutMs)) {
            return "";
        }
        text += c;
    }
    return text;
}

std::string TcpClient::ReadAll(int timeoutMs) {
    std::string text;
    char buffer[4096];
    pollfd ready{fd_, POLLIN, 0};
    while (poll(&ready, 1, timeoutMs) > 0) {
        const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
        if (got <= 0) {
            break;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
    return text;
}

bool TcpClient::ClosedByPeer(int timeoutMs) {
    char buffer[4096];
    pollfd ready{fd_, POLLIN, 0};
    while (poll(&ready, 1, timeoutMs) > 0) {
        const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
        if (got <= 0) {
            return true;
        }
    }
    return false;
}

CCcbMessage GatewayRequest(uint32_t command, const std::vector<uint8_t>& payload) {
    CCcbMessage request;
    request.SetAll(static_cast<uint32_t>(payload.size()),
                   payload.empty() ? nullptr : payload.data(), command, 0);
    return request;
}

bool GatewayExchange(TcpClient& client, const CCcbMessage& request, CCcbMessage& reply) {
    reply.Clear();
    auto* bytes = reinterpret_cast<uint8_t*>(&reply);
    if (!client.Send(&request, request.length) || !client.Read(bytes, 4, 60000) ||
        reply.length < 4 || reply.length > sizeof reply) {
        return false;
    }
    return client.Read(bytes + 4, reply.length - 4, 60000);
}

std::vector<uint8_t> BootInitPayload(uint8_t node, uint8_t page, uint16_t start, uint16_t length,
                                     uint16_t checksum) {
    BootInitParams params;
    params.nodeId = node;
    params.page = page;
    params.startAddress = start;
    params.length = length;
    params.checksum = checksum;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&params);
    return std::vector<uint8_t>(bytes, bytes + sizeof params);
}

}  // namespace orv::sim::test
