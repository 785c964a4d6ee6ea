// The width viewer: shows the pane-width entry of the settings file and changes nothing.
#pragma once

#include <string>

// The viewer's caption, on its error boxes and its result box alike.
extern const char ViewerCaption[];

// The located line after its first "=", shown as it stands.
extern std::string PaneWidthValue;

// The whole viewer run, from the presence check to the result box. Returns when the run ends
// by itself: true once the width is shown, false when a check stopped the run. A failed file
// operation ends the process through the I/O failure report instead.
bool RunViewer();
