// What a native program answers when it is started with --help or --version as its one
// argument. The layer's program entry answers the two before the program runs; the Windows
// programs know neither argument. The build defines both names for each program, in a source of
// the layer configured from the program's name and its usage text (cmake/NativeHelp.cmake), so
// that the program's own code gives the layer nothing but ProgramMain.
#pragma once

// The program's name as its users type it ("panefix").
extern const char NativeProgramName[];

// The text --help prints: how to call the program, what it does, and its exit codes.
extern const char NativeUsage[];
