// Program entry of the width viewer.
#include "platform.h"
#include "settings_lines.h"
#include "viewer_run.h"

bool ProgramMain() {
  bool done = RunViewer();
  ReleaseSettingsLines();
  return done;
}
