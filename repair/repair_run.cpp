#include "repair_run.h"

#include <string>

#include "arguments.h"
#include "common_helpers.h"
#include "platform.h"
#include "preparation.h"
#include "repair_caption.h"
#include "settings_lines.h"
#include "settings_names.h"
#include "width_locator.h"

const char RepairCaption[] = "Mirvel スレ幅修復ツール";

namespace {

const char KeyText[] = "LISTWIDTH=";
const char SuccessMessage[] = "成功しました。";
const char SuccessCaption[] = "スレ幅 修復";

// The success box is a plain box without icon, kept above other windows.
constexpr uint32_t SuccessBoxStyle = MB_OK_STYLE | MB_TOPMOST_STYLE;

}  // namespace

void RunRepair() {
  BeginProgram(RepairCaption);
  if (!CheckArguments()) {
    return;
  }
  if (!PrepareSettingsFile()) {
    return;
  }
  if (!MakeBackup()) {
    return;
  }
  // Every byte the store cannot hold is kept aside and written back after the lines.
  if (!ReadSettingsFile(SettingsFileName, true)) {
    return;
  }
  if (!LocateWidthLine()) {
    return;
  }
  // The whole line goes: whatever stood before the key, the old value and anything after it.
  SettingsLines[static_cast<size_t>(WidthLineIndex)] = KeyText + IntegerToText(TargetWidth);
  if (!WriteSettingsFile(SettingsFileName)) {
    return;
  }
  OsMessageBox(SuccessMessage, SuccessCaption, SuccessBoxStyle);
}
