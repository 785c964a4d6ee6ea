#include "repair_run.h"

#include <string>

#include "arguments.h"
#include "common_helpers.h"
#include "platform.h"
#include "preparation.h"
#include "settings_lines.h"
#include "settings_names.h"
#include "width_locator.h"

const char RepairCaption[] = "Mirvel スレ幅修復ツール";

namespace {

const char SuccessMessage[] = "成功しました。";
const char SuccessCaption[] = "スレ幅 修復";

// The success box is a plain box without icon, kept above other windows.
constexpr uint32_t SuccessBoxStyle = MB_OK_STYLE | MB_TOPMOST_STYLE;

}  // namespace

bool RunRepair() {
  BeginProgram(RepairCaption);
  if (!CheckArguments()) {
    return false;
  }
  if (!PrepareSettingsFile()) {
    return false;
  }
  if (!MakeBackup()) {
    return false;
  }
  // Every byte the store cannot hold is kept aside and written back after the lines.
  if (!ReadSettingsFile(SettingsFileName, true)) {
    return false;
  }
  if (!LocateWidthLine()) {
    return false;
  }
  // The whole line goes: whatever stood before the key, the old value and anything after it.
  SettingsLines[static_cast<size_t>(WidthLineIndex)] = WidthKeyText + IntegerToText(TargetWidth);
  if (!WriteSettingsFile(SettingsFileName)) {
    return false;
  }
  OsMessageBox(SuccessMessage, SuccessCaption, SuccessBoxStyle);
  return true;
}
