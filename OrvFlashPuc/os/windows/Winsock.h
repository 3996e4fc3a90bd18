#pragma once

#include <string>

namespace orv {

// The system's text for a Winsock error code, on one line.
std::string SocketErrorText(int code);

}  // namespace orv
