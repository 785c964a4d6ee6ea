// Program entry of the width repair tool.
#include "platform.h"
#include "repair_run.h"
#include "settings_lines.h"

bool ProgramMain() {
  bool done = RunRepair();
  ReleaseSettingsLines();
  return done;
}
