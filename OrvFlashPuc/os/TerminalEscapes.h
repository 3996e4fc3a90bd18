#pragma once

namespace orv {

// Lets standard error's terminal take the ANSI cursor sequences that redraw several lines in
// place (a Windows console takes them only when asked to).
void EnableTerminalEscapes();

}  // namespace orv
