// The pane-width locator: finds the LISTWIDTH= line of the [DESKTOP] section in the store.
#pragma once

// Finds exactly one line equal to "[DESKTOP]" in the whole store, then exactly one line holding
// "LISTWIDTH=" below it, up to and including the first empty line or the last stored line.
// Returns true and sets WidthLineIndex when both are found; otherwise shows one error box
// saying which of the four cases stopped it and returns false.
bool LocateWidthLine();
