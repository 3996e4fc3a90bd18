#include "OrvCanSim/net/SocketIo.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "os/Clock.h"

namespace orv::sim {

bool ReadExactlyBefore(int fd, void* buffer, size_t count, uint64_t deadlineMs) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        const uint64_t now = NowMs();
        if (now >= deadlineMs) {
            return false;
        }
        pollfd ready{fd, POLLIN, 0};
        const int polled =
            poll(&ready, 1, static_cast<int>(std::min<uint64_t>(deadlineMs - now, INT_MAX)));
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        if (polled < 0) {
            return false;
        }
        if (polled == 0) {
            continue;  // the deadline is checked above
        }
        const ssize_t got = recv(fd, bytes + done, count - done, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        done += static_cast<size_t>(got);
    }
    return true;
}

}  // namespace orv::sim
