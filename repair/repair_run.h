// The width repair tool: sets the LISTWIDTH= entry of the settings file to the target width.
#pragma once

// The repair tool's caption, on its error boxes and its backup question.
extern const char RepairCaption[];

// The whole repair run, from the command line to the success box. Returns when the run ends by
// itself: true once the width is written, false when a check stopped the run. A failed file
// operation ends the process through the I/O failure report instead.
bool RunRepair();
