#include "os/Interrupt.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace orv {
namespace {

volatile std::sig_atomic_t received = 0;
// The handler wakes a waiter through a pipe: writing is all a signal handler may safely do.
int wakeRead = -1;
int wakeWrite = -1;

void NoteInterrupt(int signal) {
    received = signal;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(wakeWrite, &byte, 1);
}

}  // namespace

void HoldInterrupts() {
    int ends[2];
    if (pipe(ends) == 0) {
        wakeRead = ends[0];
        wakeWrite = ends[1];
    }
    struct sigaction action {};
    action.sa_handler = NoteInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

bool InterruptRequested() {
    return received != 0;
}

std::string WaitForInterrupt() {
    char byte = 0;
    while (read(wakeRead, &byte, 1) < 0 && errno == EINTR) {
    }
    return received == SIGINT ? "SIGINT" : "SIGTERM";
}

}  // namespace orv
