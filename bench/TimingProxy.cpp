#include "TimingProxy.h"

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "LoopbackExchange.h"

namespace orv::bench {

TimingProxy::TimingProxy(int gatewayPort) : gatewayPort_(gatewayPort) {
    listener_ = ListenOnLoopback(port_);
    if (listener_ < 0) {
        port_ = -1;
        return;
    }
    thread_ = std::thread([this] { Serve(); });
}

TimingProxy::~TimingProxy() {
    if (listener_ < 0)
        return;
    // Wakes the blocked accept.
    shutdown(listener_, SHUT_RDWR);
    thread_.join();
    close(listener_);
}

TimingProxy::Figures TimingProxy::Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    Figures taken = figures_;
    figures_ = {};
    return taken;
}

void TimingProxy::Serve() {
    for (;;) {
        const int tool = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (tool < 0)
            return;
        const int gateway = ConnectToLoopback(gatewayPort_);
        if (gateway >= 0) {
            Relay(tool, gateway);
            close(gateway);
        }
        close(tool);
    }
}

void TimingProxy::Relay(int tool, int gateway) {
    using Clock = std::chrono::steady_clock;
    const auto ms = [](Clock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count();
    };
    MessageStream fromTool(tool);
    MessageStream fromGateway(gateway);
    std::vector<uint8_t> request;
    std::vector<uint8_t> reply;
    Clock::time_point replied;
    bool answeredBefore = false;
    while (fromTool.Next(request)) {
        const auto requested = Clock::now();
        if (!SendAll(gateway, request.data(), request.size()))
            return;
        const auto sent = Clock::now();
        if (!fromGateway.Next(reply))
            return;
        const auto answered = Clock::now();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++figures_.exchanges;
            figures_.gatewayMs += ms(answered - sent);
            if (answeredBefore) {
                ++figures_.turnarounds;
                figures_.toolMs += ms(requested - replied);
            }
        }
        if (!SendAll(tool, reply.data(), reply.size()))
            return;
        replied = Clock::now();
        answeredBefore = true;
    }
}

}  // namespace orv::bench
