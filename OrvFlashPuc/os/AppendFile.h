#pragma once

#include <string>

namespace orv {

// Appends text to the file, creating it when missing, in one write: two processes appending to
// the same file at once never interleave their records. Line ends are written the way the
// platform writes text files (LF, or CR LF on Windows). True when all of it was written.
bool AppendText(const std::string& path, const std::string& text);

}  // namespace orv
