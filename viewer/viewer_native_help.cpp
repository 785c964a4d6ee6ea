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
    "Exit status: 0 when the width was shown; 1 when a check stopped the run with its\n"
    "message; after a failed file operation, the Windows error number's low 8 bits (255\n"
    "where they are 0 or 1): 2 file not found, 5 access denied, 32 Qtv.ini in use by a\n"
    "rewrite. A message that could not be written gives its write's error: 109 closed pipe.\n";
