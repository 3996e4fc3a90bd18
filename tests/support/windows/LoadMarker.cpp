// A library that announces itself when loaded: it appends its own path to the file that
// ORV_LOAD_MARKER names. Built under a card library's name, it shows which folders the tool's
// loader searched; it has no entry point, so a tool that loads it goes no further.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
    char marker[MAX_PATH];
    const DWORD markerLength = GetEnvironmentVariableA("ORV_LOAD_MARKER", marker, sizeof marker);
    if (reason != DLL_PROCESS_ATTACH || markerLength == 0 || markerLength >= sizeof marker) {
        return TRUE;
    }
    char path[MAX_PATH + 2];
    DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    path[length++] = '\r';
    path[length++] = '\n';
    const HANDLE file = CreateFileA(marker, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, path, length, &written, nullptr);
        CloseHandle(file);
    }
    return TRUE;
}
