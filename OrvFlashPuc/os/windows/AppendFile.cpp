#include "os/AppendFile.h"

#include <windows.h>

namespace orv {

bool AppendText(const std::string& path, const std::string& text) {
    // Text mode by hand: the CRT's text-mode append seeks and writes in two steps, while a
    // handle opened for appending data alone lands every write at the end in one step.
    std::string record;
    record.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') {
            record += '\r';
        }
        record += c;
    }
    const HANDLE file =
        CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const BOOL wrote =
        WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    const BOOL closed = CloseHandle(file);
    return wrote && closed && written == record.size();
}

}  // namespace orv
