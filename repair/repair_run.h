// The width repair tool: sets the LISTWIDTH= entry of the settings file to the target width.
#pragma once

// The whole repair run, from the command line to the success box. Returns when the run ends by
// itself; a failed file operation ends the process through the I/O failure report instead.
void RunRepair();
