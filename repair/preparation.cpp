#include "preparation.h"

#include <string>

#include "common_helpers.h"
#include "platform.h"
#include "repair_run.h"
#include "settings_names.h"

namespace {

const char NotFoundMessage[] =
    "Qtv.ini が見つかりません。\r\nPanefix.exe を 「Qtv.exe と同じフォルダ」 "
    "にコピーしてから、再度 実行してください。";
const char AttributeMessage[] = "Qtv.ini のファイル属性を変更できませんでした。";

const char QuestionStart[] = "バックファイル Qtv.ini_widthBack を";
const char CreateVerb[] = "作成";
const char UpdateVerb[] = "更新";
const char QuestionEnd[] = "できませんでした。\r\n処理を継続しますか？";

// Yes and No, the exclamation icon, No as the default, brought to the foreground.
constexpr uint32_t QuestionStyle =
    MB_YESNO_STYLE | MB_ICONEXCLAMATION_STYLE | MB_DEFBUTTON2_STYLE | MB_SETFOREGROUND_STYLE;

// The attributes that make the platform refuse to rewrite a file.
constexpr uint32_t BlockingAttributes =
    FILE_ATTRIBUTE_READONLY_BIT | FILE_ATTRIBUTE_HIDDEN_BIT | FILE_ATTRIBUTE_SYSTEM_BIT;

// What the flush's open lets others do meanwhile: read and write, as the platform's copy lets
// them. A program that holds the backup open for writing (a sync tool, an editor) does not stop
// the copy, so an open that shared less would fail right after it and turn a good backup into a
// failed one.
constexpr uint32_t FlushShareMode = FILE_SHARE_READ_MODE | FILE_SHARE_WRITE_MODE;

// Opens the finished copy for writing, without changing it, only to flush it: a copy that may
// still sit in a cache is no backup yet. Returns false when the open, the flush or the close
// fails.
bool FlushBackup() {
  FileHandle handle = OsCreateFile(BackupFileName, GENERIC_WRITE_ACCESS, FlushShareMode,
                                   OPEN_EXISTING_DISPOSITION, FILE_ATTRIBUTE_NORMAL_VALUE);
  if (handle == InvalidFileHandle) {
    return false;
  }
  bool flushed = OsFlushFileBuffers(handle);
  bool closed = OsCloseHandle(handle);
  return flushed && closed;
}

}  // namespace

bool PrepareSettingsFile() {
  if (!FileIsPresent(SettingsFileName)) {
    ShowErrorBox(NotFoundMessage);
    return false;
  }
  // A failed query gives all bits set, so the change is tried and its outcome decides.
  if ((GetAttributes(SettingsFileName) & BlockingAttributes) == 0) {
    return true;
  }
  if (SetAttributes(SettingsFileName, FILE_ATTRIBUTE_NORMAL_VALUE) != 0) {
    ShowErrorBox(AttributeMessage);
    return false;
  }
  return true;
}

bool MakeBackup() {
  const char* verb = FileIsPresent(BackupFileName) ? UpdateVerb : CreateVerb;
  // A backup that is not on disk counts as a copy that failed.
  if (OsCopyFile(SettingsFileName, BackupFileName, false) && FlushBackup()) {
    return true;
  }
  std::string question = std::string(QuestionStart) + verb + QuestionEnd;
  return OsMessageBox(question.c_str(), RepairCaption, QuestionStyle) == IDYES_RESULT;
}
