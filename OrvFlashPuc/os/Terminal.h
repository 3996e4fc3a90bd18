#pragma once

namespace orv {

// Whether standard error goes to a terminal rather than a file or pipe.
bool StandardErrorIsTerminal();

}  // namespace orv
