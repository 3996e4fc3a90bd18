#include "os/Interrupt.h"

#include <windows.h>

#include <atomic>

namespace orv {
namespace {

HANDLE interrupted = nullptr;
std::atomic<DWORD> received{CTRL_C_EVENT};

BOOL WINAPI NoteInterrupt(DWORD event) {
    received = event;
    SetEvent(interrupted);
    return TRUE;
}

}  // namespace

// The handler serves the whole process, whenever the threads started.
void HoldInterrupts() {
    interrupted = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(NoteInterrupt, TRUE);
}

bool InterruptRequested() {
    return WaitForSingleObject(interrupted, 0) == WAIT_OBJECT_0;
}

std::string WaitForInterrupt() {
    WaitForSingleObject(interrupted, INFINITE);
    switch (received) {
        case CTRL_C_EVENT:
            return "Ctrl-C";
        case CTRL_BREAK_EVENT:
            return "Ctrl-Break";
        case CTRL_CLOSE_EVENT:
            return "console closed";
        default:
            return "end of session";
    }
}

}  // namespace orv
