#include "canlink/SocketCanLink.h"

#include "canlink/DescriptorLink.h"
#include "os/RawCanSocket.h"

namespace orv {
namespace {

class SocketCanLink : public DescriptorLink {
  public:
    using DescriptorLink::DescriptorLink;

    bool Send(const CanFrame& frame) override {
        return !closed_.load() && WriteRawCanFrame(socket_, frame);
    }

    ReceiveResult Receive(CanFrame& frame, int timeoutMs) override {
        for (;;) {
            if (const std::optional<ReceiveResult> ended = WaitReadable(timeoutMs)) {
                return *ended;
            }
            switch (ReadRawCanFrame(socket_, frame)) {
                case RawCanRead::Frame:
                    return ReceiveResult::Frame;
                case RawCanRead::Ended:
                    return Lost();
                case RawCanRead::Skipped:
                    break;
            }
        }
    }
};

}  // namespace

std::unique_ptr<CanLink> MakeSocketCanLink(SocketHandle socket) {
    return std::make_unique<SocketCanLink>(socket);
}

std::unique_ptr<CanLink> OpenSocketCanLink(const std::string& interfaceName, std::string& error) {
    const SocketHandle socket = OpenRawCanSocket(interfaceName, error);
    return socket == kNoSocket ? nullptr : MakeSocketCanLink(socket);
}

}  // namespace orv
