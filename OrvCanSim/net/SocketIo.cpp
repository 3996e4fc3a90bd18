#include "OrvCanSim/net/SocketIo.h"

#include <algorithm>
#include <climits>

#include "os/Clock.h"
#include "os/SocketWait.h"

namespace orv::sim {

bool ReadExactlyBefore(SocketHandle socket, void* buffer, size_t count, uint64_t deadlineMs) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        const uint64_t now = NowMs();
        if (now >= deadlineMs) {
            return false;
        }
        const SocketWait wait =
            WaitReadable(socket, static_cast<int>(std::min<uint64_t>(deadlineMs - now, INT_MAX)));
        if (wait == SocketWait::Failed) {
            return false;
        }
        if (wait == SocketWait::TimedOut) {
            continue;  // the deadline is checked above
        }
        const long got = ReceiveAvailable(socket, bytes + done, count - done);
        if (got == kNothingYet) {
            continue;
        }
        if (got == kEnded) {
            return false;
        }
        done += static_cast<size_t>(got);
    }
    return true;
}

}  // namespace orv::sim
