// How the platform layer's tests start: through the layer's own program entry.
#pragma once

#include <string>

// With this environment variable set, the test program prints the command line that the
// platform layer rebuilt from its arguments, and ends.
constexpr const char* PrintCommandLineVariable = "PANEFIX_TEST_PRINT_COMMAND_LINE";

// The path of the running test program.
std::string OwnProgramPath();
