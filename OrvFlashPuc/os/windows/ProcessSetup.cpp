#include "os/ProcessSetup.h"

// The timer and COM headers need the basic declarations first.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <mmsystem.h>
#include <objbase.h>

#include <cstdio>
#include <cwchar>

namespace orv {
namespace {

// The card libraries are loaded by bare name: without this, a DLL of the same name in the
// working directory (a folder of files received from elsewhere) would be loaded and run. The
// executable's folder takes the working directory's place in the search; the system folders
// and PATH, where the card makers' installers put their libraries, stay. Wine, unlike Windows,
// keeps the working directory for an empty folder (""), so the folder is named.
void KeepWorkingDirectoryOutOfLibrarySearch() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    wchar_t* const separator = length == 0 || length == MAX_PATH ? nullptr : wcsrchr(path, L'\\');
    if (separator != nullptr) {
        *separator = L'\0';
    }
    SetDllDirectoryW(separator != nullptr ? path : L"");
}

}  // namespace

void PrepareMainThread() {
    KeepWorkingDirectoryOutOfLibrarySearch();
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    _setmode(_fileno(stdout), _O_TEXT);
    _setmode(_fileno(stderr), _O_TEXT);
    timeBeginPeriod(1);
}

}  // namespace orv
