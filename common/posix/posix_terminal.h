// The terminal of the POSIX platform layer: message boxes as text on standard output and standard
// error, and the lines the end of a run adds below them.
#pragma once

#include <string>

namespace posix_layer {

// Writes one line of code page 932 text to standard error, as a box's text is shown.
void ShowLine(const std::string& line);

}  // namespace posix_layer
