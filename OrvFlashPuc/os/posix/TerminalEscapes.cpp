#include "os/TerminalEscapes.h"

namespace orv {

void EnableTerminalEscapes() {}

}  // namespace orv
