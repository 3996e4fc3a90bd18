#include "os/TerminalEscapes.h"

#include <windows.h>

namespace orv {

void EnableTerminalEscapes() {
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(error, &mode)) {
        SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}

}  // namespace orv
