// What the native panepeek says to --help.
#include "native_help.h"

const char NativeProgramName[] = "panepeek";

const char NativeUsage[] =
    "Usage: panepeek\n"
    "Shows the value of the line LISTWIDTH= of the [DESKTOP] section of Qtv.ini, in the\n"
    "current folder, and changes nothing. Run it in Ostrel's folder while Ostrel is not\n"
    "running.\n"
    "\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Exit status: 0 when the run ends by itself, with the value or a message; after a failed\n"
    "file operation or an output that could not be written, the Windows error number (its\n"
    "low 8 bits): 2 file not found, 5 access denied, 109 closed pipe, 112 disk full.\n";
