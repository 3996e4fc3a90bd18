#include "canlink/SocketCanLink.h"

#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "canlink/DescriptorLink.h"

namespace orv {
namespace {

class SocketCanLink : public DescriptorLink {
  public:
    using DescriptorLink::DescriptorLink;

    bool Send(const CanFrame& frame) override {
        if (closed_.load() || frame.length > CAN_MAX_DLEN) {
            return false;
        }
        can_frame raw{};
        raw.can_id = frame.id > CAN_SFF_MASK ? (frame.id & CAN_EFF_MASK) | CAN_EFF_FLAG : frame.id;
        raw.len = frame.length;
        std::memcpy(raw.data, frame.data, frame.length);
        ssize_t written;
        do {
            written = write(fd_, &raw, sizeof raw);
        } while (written < 0 && errno == EINTR);
        return written == static_cast<ssize_t>(sizeof raw);
    }

    ReceiveResult Receive(CanFrame& frame, int timeoutMs) override {
        for (;;) {
            if (const std::optional<ReceiveResult> ended = WaitReadable(timeoutMs)) {
                return *ended;
            }
            can_frame raw{};
            const ssize_t got = read(fd_, &raw, sizeof raw);
            if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
                return Lost();
            }
            // Short records, error frames and remote requests carry no data for anyone here.
            if (got != static_cast<ssize_t>(sizeof raw) ||
                (raw.can_id & (CAN_ERR_FLAG | CAN_RTR_FLAG)) != 0) {
                continue;
            }
            frame.id =
                raw.can_id & ((raw.can_id & CAN_EFF_FLAG) != 0 ? CAN_EFF_MASK : CAN_SFF_MASK);
            frame.length = raw.len > CAN_MAX_DLEN ? CAN_MAX_DLEN : raw.len;
            std::memcpy(frame.data, raw.data, sizeof frame.data);
            return ReceiveResult::Frame;
        }
    }
};

}  // namespace

std::unique_ptr<ICanLink> MakeSocketCanLink(int fd) {
    return std::make_unique<SocketCanLink>(fd);
}

std::unique_ptr<ICanLink> OpenSocketCanLink(const std::string& interfaceName, std::string& error) {
    if (interfaceName.empty() || interfaceName.size() >= IFNAMSIZ) {
        error = "SocketCAN: '" + interfaceName + "' is no interface name";
        return nullptr;
    }
    const int fd = socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC, CAN_RAW);
    if (fd < 0) {
        error = std::string("SocketCAN: cannot open a CAN socket: ") + std::strerror(errno);
        return nullptr;
    }
    sockaddr_can address{};
    address.can_family = AF_CAN;
    address.can_ifindex = static_cast<int>(if_nametoindex(interfaceName.c_str()));
    if (address.can_ifindex == 0) {
        error = "SocketCAN: no interface " + interfaceName + ": " + std::strerror(errno);
        close(fd);
        return nullptr;
    }
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = "SocketCAN: cannot bind to " + interfaceName + ": " + std::strerror(errno);
        close(fd);
        return nullptr;
    }
    return MakeSocketCanLink(fd);
}

}  // namespace orv
