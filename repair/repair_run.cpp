#include "repair_run.h"

#include <string>

#include "arguments.h"
#include "common_helpers.h"
#include "platform.h"
#include "preparation.h"
#include "repair_caption.h"
#include "runtime_error.h"
#include "settings_file.h"
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

// Reads the settings file into the store, with every byte the store cannot hold kept aside for
// the write-back. Returns false when there is nothing to work on.
bool LoadSettings() {
  TestFileOperation(OpenSettingsForReading(SettingsFileName));
  if (!LoadSettingsLines()) {
    TestFileOperation(CloseSettingsFile());
    return false;
  }
  LoadTrailingBytes();
  TestFileOperation(CloseSettingsFile());
  return true;
}

// Writes the store back over the settings file.
bool SaveSettings() {
  TestFileOperation(OpenSettingsForWriting(SettingsFileName));
  bool written = WriteSettingsLines();
  TestFileOperation(CloseSettingsFile());
  return written;
}

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
  if (!LoadSettings()) {
    return;
  }
  if (!LocateWidthLine()) {
    return;
  }
  // The whole line goes: whatever stood before the key, the old value and anything after it.
  SettingsLines[static_cast<size_t>(WidthLineIndex)] = KeyText + IntegerToText(TargetWidth);
  if (!SaveSettings()) {
    return;
  }
  OsMessageBox(SuccessMessage, SuccessCaption, SuccessBoxStyle);
}
