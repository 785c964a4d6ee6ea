#include "viewer_run.h"

#include "common_helpers.h"
#include "platform.h"
#include "settings_lines.h"
#include "settings_names.h"
#include "width_locator.h"

const char ViewerCaption[] = "Panepeek";

std::string PaneWidthValue;

namespace {

const char NotFoundMessage[] =
    "Qtv.ini が見つかりません。\r\nPanepeek.exe を 「Qtv.exe と同じフォルダ」 "
    "にコピーしてから、再度 実行して下さい。";
const char HostRunningMessage[] = "Ostrel を終了させてから、再度 実行して下さい。";

const char ResultPrefix[] = "スレッド・ペインの幅は ";
const char ResultSuffix[] = " です。";

// The result is a plain box without icon, kept above other windows.
constexpr uint32_t ResultBoxStyle = MB_OK_STYLE | MB_TOPMOST_STYLE;

// Everything after the first "=" of the located line. The locator only accepts a line holding
// "LISTWIDTH=", so there always is one; 0x3D is never the second byte of a double-byte character.
std::string ValueAfterFirstEquals(const std::string& line) {
  return line.substr(line.find('=') + 1);
}

}  // namespace

bool RunViewer() {
  BeginProgram(ViewerCaption);
  if (!FileIsPresent(SettingsFileName)) {
    ShowErrorBox(NotFoundMessage);
    return false;
  }
  if (OsWindowExists(HostWindowClass)) {
    ShowErrorBox(HostRunningMessage);
    return false;
  }
  // The viewer shows the entry only: what lies beyond the store is never read.
  if (!ReadSettingsFile(SettingsFileName, false)) {
    return false;
  }
  if (!LocateWidthLine()) {
    return false;
  }
  PaneWidthValue = ValueAfterFirstEquals(SettingsLines[static_cast<size_t>(WidthLineIndex)]);
  std::string result = ResultPrefix + PaneWidthValue + ResultSuffix;
  OsMessageBox(result.c_str(), ViewerCaption, ResultBoxStyle);
  return true;
}
