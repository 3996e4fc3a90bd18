#include "os/Interrupt.h"

#include <windows.h>

#include <atomic>

namespace orv {
namespace {
std::atomic<bool> interrupted{false};

BOOL WINAPI NoteInterrupt(DWORD) {
    interrupted = true;
    return TRUE;
}
}  // namespace

void CatchInterrupts() {
    SetConsoleCtrlHandler(NoteInterrupt, TRUE);
}

bool InterruptRequested() {
    return interrupted;
}

}  // namespace orv
