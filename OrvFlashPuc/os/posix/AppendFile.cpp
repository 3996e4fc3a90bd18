#include "os/AppendFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace orv {

bool AppendText(const std::string& path, const std::string& text) {
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    ssize_t written = 0;
    do {
        written = write(fd, text.data(), text.size());
    } while (written < 0 && errno == EINTR);
    const bool closed = close(fd) == 0;
    return written == static_cast<ssize_t>(text.size()) && closed;
}

}  // namespace orv
