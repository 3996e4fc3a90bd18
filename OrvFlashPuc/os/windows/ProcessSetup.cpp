#include "os/ProcessSetup.h"

// The timer and COM headers need the basic declarations first.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <mmsystem.h>
#include <objbase.h>

#include <cstdio>

namespace orv {

void PrepareMainThread() {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    _setmode(_fileno(stdout), _O_TEXT);
    _setmode(_fileno(stderr), _O_TEXT);
    timeBeginPeriod(1);
}

}  // namespace orv
