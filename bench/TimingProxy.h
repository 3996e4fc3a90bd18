#pragma once

#include <mutex>
#include <thread>

// Sits between the tool and a gateway on loopback and times both sides of every exchange: how
// long the gateway takes to answer, and how long the tool takes from a reply to its next
// request. So the gateway's work can be told apart from the tool's.
namespace orv::bench {

class TimingProxy {
  public:
    struct Figures {
        int exchanges = 0;
        double gatewayMs = 0;  // from each request passed on to its reply received
        int turnarounds = 0;
        double toolMs = 0;  // from each reply passed on to the next request received
    };

    explicit TimingProxy(int gatewayPort);
    ~TimingProxy();
    TimingProxy(const TimingProxy&) = delete;
    TimingProxy& operator=(const TimingProxy&) = delete;

    // Where the tool connects; -1 when the proxy could not listen.
    int Port() const { return port_; }
    // The figures since the last call.
    Figures Take();

  private:
    void Serve();
    void Relay(int tool, int gateway);

    int gatewayPort_;
    int port_ = -1;
    int listener_ = -1;
    std::mutex mutex_;
    Figures figures_;
    std::thread thread_;
};

}  // namespace orv::bench
