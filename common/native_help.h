// What a native program answers when it is started with --help or --version as its one
// argument. The POSIX layer's program entry answers the two before the program runs, with the
// texts each native program gives here; the Windows programs know neither argument.
#pragma once

// The program's name as its users type it ("panefix").
extern const char NativeProgramName[];

// The text --help prints: how to call the program, what it does, and its exit codes.
extern const char NativeUsage[];
