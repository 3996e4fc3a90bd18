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
    // The card libraries are loaded by bare name: without this, a DLL of the same name in the
    // working directory (a folder of files received from elsewhere) would be loaded and run.
    // The executable's folder, the system folders and PATH, where the card makers' installers
    // put them, stay in the search.
    SetDllDirectoryW(L"");
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    _setmode(_fileno(stdout), _O_TEXT);
    _setmode(_fileno(stderr), _O_TEXT);
    timeBeginPeriod(1);
}

}  // namespace orv
