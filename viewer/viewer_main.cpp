// Program entry of the width viewer.
#include "platform.h"
#include "settings_lines.h"
#include "viewer_run.h"

void ProgramMain() {
  RunViewer();
  ReleaseSettingsLines();
}
