// Program entry of the width repair tool.
#include "platform.h"
#include "repair_run.h"
#include "settings_lines.h"

void ProgramMain() {
  RunRepair();
  ReleaseSettingsLines();
}
