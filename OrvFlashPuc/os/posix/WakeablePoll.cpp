#include "os/WakeablePoll.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace orv {

WakeablePoll::WakeablePoll() {
    int fds[2];
    if (pipe(fds) == 0) {
        wakeRead_ = fds[0];
        wakeWrite_ = fds[1];
    }
}

WakeablePoll::~WakeablePoll() {
    if (Valid()) {
        close(static_cast<int>(wakeRead_));
        close(static_cast<int>(wakeWrite_));
    }
}

WakeablePoll::Result WakeablePoll::WaitReadable(SocketHandle socket, int timeoutMs) {
    pollfd fds[2] = {{static_cast<int>(socket), POLLIN, 0},
                     {static_cast<int>(wakeRead_), POLLIN, 0}};
    const nfds_t count = Valid() ? 2 : 1;
    int ready;
    do {
        ready = poll(fds, count, timeoutMs < 0 ? -1 : timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) {
        return Result::Failed;
    }
    if (count == 2 && fds[1].revents != 0) {
        return Result::Woken;
    }
    if (ready == 0) {
        return Result::TimedOut;
    }
    // Hang-up and errors count as readable: the read that follows tells which.
    return Result::Readable;
}

void WakeablePoll::Wake() {
    if (Valid()) {
        // The byte stays in the pipe, so the pipe stays readable for every later wait.
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = write(static_cast<int>(wakeWrite_), &byte, 1);
    }
}

}  // namespace orv
