#include "os/Terminal.h"

#include <io.h>

#include <cstdio>

namespace orv {

bool StandardErrorIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

}  // namespace orv
