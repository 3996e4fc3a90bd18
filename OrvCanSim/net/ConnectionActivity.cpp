#include "OrvCanSim/net/ConnectionActivity.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "os/Clock.h"
#include "OrvCanSim/bus/SimLog.h"

namespace orv::sim {

ConnectionActivity::ConnectionActivity() : lastMs_(NowMs()) {}

void ConnectionActivity::Touch() {
    lastMs_ = NowMs();
}

bool ConnectionActivity::BeginCommand() {
    State idle = State::Idle;
    return state_.compare_exchange_strong(idle, State::Busy);
}

void ConnectionActivity::EndCommand() {
    Touch();
    State busy = State::Busy;
    state_.compare_exchange_strong(busy, State::Idle);
}

bool ConnectionActivity::Evict() {
    State idle = State::Idle;
    return state_.compare_exchange_strong(idle, State::Evicted);
}

bool AwaitClient(int fd, const ConnectionActivity& activity, uint32_t idleMs,
                 const std::string& who) {
    for (;;) {
        // Read afresh each round: another thread may have served the client meanwhile.
        const uint64_t deadline = activity.LastMs() + idleMs;
        const uint64_t now = NowMs();
        if (now >= deadline) {
            SimLog("%s: idle for %u ms; connection closed", who.c_str(), idleMs);
            return false;
        }
        pollfd ready{fd, POLLIN, 0};
        const int polled =
            poll(&ready, 1, static_cast<int>(std::min<uint64_t>(deadline - now, INT_MAX)));
        if (polled < 0 && errno != EINTR) {
            return false;
        }
        if (polled <= 0) {
            continue;  // interrupted, or the deadline, which is checked above
        }
        char byte;
        const ssize_t got = recv(fd, &byte, 1, MSG_PEEK);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        return got > 0;
    }
}

}  // namespace orv::sim
