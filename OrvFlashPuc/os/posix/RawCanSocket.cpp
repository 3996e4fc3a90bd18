#include "os/RawCanSocket.h"

#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orv {

SocketHandle OpenRawCanSocket(const std::string& interfaceName, std::string& error) {
    if (interfaceName.empty() || interfaceName.size() >= IFNAMSIZ) {
        error = "SocketCAN: '" + interfaceName + "' is no interface name";
        return kNoSocket;
    }
    const int fd = socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC, CAN_RAW);
    if (fd < 0) {
        error = std::string("SocketCAN: cannot open a CAN socket: ") + std::strerror(errno);
        return kNoSocket;
    }
    sockaddr_can address{};
    address.can_family = AF_CAN;
    address.can_ifindex = static_cast<int>(if_nametoindex(interfaceName.c_str()));
    if (address.can_ifindex == 0) {
        error = "SocketCAN: no interface " + interfaceName + ": " + std::strerror(errno);
        close(fd);
        return kNoSocket;
    }
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = "SocketCAN: cannot bind to " + interfaceName + ": " + std::strerror(errno);
        close(fd);
        return kNoSocket;
    }
    return fd;
}

bool WriteRawCanFrame(SocketHandle socket, const CanFrame& frame) {
    if (frame.length > CAN_MAX_DLEN) {
        return false;
    }
    can_frame raw{};
    raw.can_id = frame.id > CAN_SFF_MASK ? (frame.id & CAN_EFF_MASK) | CAN_EFF_FLAG : frame.id;
    raw.len = frame.length;
    std::memcpy(raw.data, frame.data, frame.length);
    ssize_t written;
    do {
        written = write(static_cast<int>(socket), &raw, sizeof raw);
    } while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(sizeof raw);
}

RawCanRead ReadRawCanFrame(SocketHandle socket, CanFrame& frame) {
    can_frame raw{};
    const ssize_t got = read(static_cast<int>(socket), &raw, sizeof raw);
    if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
        return RawCanRead::Ended;
    }
    if (got != static_cast<ssize_t>(sizeof raw) ||
        (raw.can_id & (CAN_ERR_FLAG | CAN_RTR_FLAG)) != 0) {
        return RawCanRead::Skipped;
    }
    frame.id = raw.can_id & ((raw.can_id & CAN_EFF_FLAG) != 0 ? CAN_EFF_MASK : CAN_SFF_MASK);
    frame.length = raw.len > CAN_MAX_DLEN ? CAN_MAX_DLEN : raw.len;
    std::memcpy(frame.data, raw.data, sizeof frame.data);
    return RawCanRead::Frame;
}

}  // namespace orv
