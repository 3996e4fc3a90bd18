#include "os/Terminal.h"

#include <unistd.h>

namespace orv {

bool StandardErrorIsTerminal() {
    return isatty(STDERR_FILENO) != 0;
}

}  // namespace orv
