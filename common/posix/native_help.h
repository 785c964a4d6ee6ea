// What a native program answers when it is started with -h or --help, or with -V or --version,
// as its one argument. The layer's program entry answers them before the program runs; the
// Windows programs know none of them. The build defines both texts for each program, in a source
// of the layer configured from the program's name, its usage text, the product version and the
// licence (cmake/NativeHelp.cmake), so that the program's own code gives the layer nothing but
// ProgramMain.
#pragma once

// The text --help prints: how to call the program, what it does, its exit codes, and, for the
// two programs, their manual page and where to report problems.
extern const char NativeUsage[];

// The text --version prints: the program, its package and version, the copyright and the
// licence.
extern const char NativeVersion[];

// The program's name as a Linux user runs it: panefix, panepeek.
extern const char NativeProgramName[];
