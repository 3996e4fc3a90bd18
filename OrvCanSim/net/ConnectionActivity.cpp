#include "OrvCanSim/net/ConnectionActivity.h"

#include <algorithm>
#include <climits>

#include "OrvCanSim/bus/SimLog.h"
#include "os/Clock.h"
#include "os/SocketWait.h"

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

bool AwaitClient(SocketHandle socket, const ConnectionActivity& activity, uint32_t idleMs,
                 const std::string& who) {
    for (;;) {
        // Read afresh each round: another thread may have served the client meanwhile.
        const uint64_t deadline = activity.LastMs() + idleMs;
        const uint64_t now = NowMs();
        if (now >= deadline) {
            SimLog("%s: idle for %u ms; connection closed", who.c_str(), idleMs);
            return false;
        }
        const SocketWait wait =
            WaitReadable(socket, static_cast<int>(std::min<uint64_t>(deadline - now, INT_MAX)));
        if (wait == SocketWait::Failed) {
            return false;
        }
        if (wait == SocketWait::Readable) {
            return BytesWaiting(socket);
        }
    }
}

}  // namespace orv::sim
