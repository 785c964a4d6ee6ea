// What the native panefix says to --help.
#include "native_help.h"

const char NativeProgramName[] = "panefix";

const char NativeUsage[] =
    "Usage: panefix [WIDTH]\n"
    "Sets the line LISTWIDTH= of the [DESKTOP] section of Qtv.ini, in the current folder, to\n"
    "WIDTH pixels: 1 to 32767, decimal or hexadecimal ($1C2, 0x1C2); 430 without WIDTH.\n"
    "Qtv.ini is first copied to Qtv.ini_widthBack, replacing an older copy. Run it in\n"
    "Ostrel's folder while Ostrel is not running.\n"
    "\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Exit status: 0 when the run ends by itself, repaired or stopped with a message; after a\n"
    "failed file operation or an output that could not be written, the Windows error number\n"
    "(its low 8 bits): 2 file not found, 5 access denied, 101 short write, 109 closed pipe,\n"
    "112 disk full.\n";
