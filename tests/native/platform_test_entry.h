// How the platform layer's tests start: through the layer's own program entry.
#pragma once

#include <string>

// With this environment variable set, the test program prints the command line that the
// platform layer rebuilt from its arguments, and ends.
constexpr const char* PrintCommandLineVariable = "PANEFIX_TEST_PRINT_COMMAND_LINE";

// With this environment variable set, the test program waits as long as its first argument says
// (in seconds), and ends: a stand-in host that can be given any further arguments.
constexpr const char* StandInVariable = "PANEFIX_TEST_STAND_IN";

// The path of the running test program.
std::string OwnProgramPath();
