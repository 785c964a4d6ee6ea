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
    "Exit status: 0 when the width was written; 1 when a check stopped the run with its\n"
    "message, or the backup question was not answered yes; after a failed file operation, the\n"
    "Windows error number's low 8 bits (255 where they are 0 or 1): 2 file not found, 5 access\n"
    "denied, 32 Qtv.ini in use by another run or replaced meanwhile, 112 disk full or file-size\n"
    "limit. A message that could not be written gives its write's error: 109 closed pipe.\n";
