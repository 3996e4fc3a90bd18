#include "os/InterruptWait.h"

#include <pthread.h>

#include <csignal>

namespace orv {
namespace {

sigset_t Interrupts() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

}  // namespace

void HoldInterrupts() {
    const sigset_t signals = Interrupts();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

std::string WaitForInterrupt() {
    const sigset_t signals = Interrupts();
    int received = 0;
    sigwait(&signals, &received);
    return received == SIGINT ? "SIGINT" : "SIGTERM";
}

}  // namespace orv
