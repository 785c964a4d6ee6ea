// tests/package/check_guide.sh reads the definitions below (one `const char Name[] = "...";` each,
// adjacent literals joined) to check that the user guide quotes every one of them.
#include "program_texts.h"

#include "byte_text.h"

namespace texts {

const char ViewerCaption[] = "Panepeek";
const char RepairCaption[] = "Mirvel スレ幅修復ツール";
const char SuccessCaption[] = "スレ幅 修復";
const char ReportCaption[] = "Error";

const char HeaderMissing[] = "\"[DESKTOP]\" が見つかりませんでした。\r\n処理を中止します。";
const char HeaderRepeated[] = "\"[DESKTOP]\" が、複数見つかりました。\r\n処理を中止します。";
const char EntryMissing[] = "\"LISTWIDTH=\" が見つかりませんでした。\r\n処理を中止します。";
const char EntryRepeated[] = "\"LISTWIDTH=\" が、複数見つかりました。\r\n処理を中止します。";

const char TooManyArguments[] = "引数の数が多すぎます。";
// The tilde is U+FF5E FULLWIDTH TILDE and the blanks after 」 and ） are U+3000 IDEOGRAPHIC
// SPACE: other tildes and blanks look the same on screen.
const char BadFormat[] =
    "引数の形式が正しくありません。\r\n「～\\Panefix.exe 半角の数字」　と指定してください。"
    "\r\n\r\n例）　C:\\test\\Panefix.exe 450";
const char OutOfRange[] = "引数の数値が範囲外です。";

const char RepairNotFound[] =
    "Qtv.ini が見つかりません。\r\nPanefix.exe を 「Qtv.exe と同じフォルダ」 "
    "にコピーしてから、再度 実行してください。";
const char AttributeRefused[] = "Qtv.ini のファイル属性を変更できませんでした。";
const char QuestionStart[] = "バックファイル Qtv.ini_widthBack を";
const char CreateVerb[] = "作成";
const char UpdateVerb[] = "更新";
// The question mark is U+FF1F FULLWIDTH QUESTION MARK.
const char QuestionEnd[] = "できませんでした。\r\n処理を継続しますか？";

const char Success[] = "成功しました。";

const char ViewerNotFound[] =
    "Qtv.ini が見つかりません。\r\nPanepeek.exe を 「Qtv.exe と同じフォルダ」 "
    "にコピーしてから、再度 実行して下さい。";
const char HostRunning[] = "Ostrel を終了させてから、再度 実行して下さい。";
const char ResultStart[] = "スレッド・ペインの幅は ";
const char ResultEnd[] = " です。";

const char ReportStart[] = "Runtime error ";

const char YesNoPrompt[] = " [y/N] ";

std::string BackupQuestion(const std::string& verb) {
  return std::string(QuestionStart) + verb + QuestionEnd;
}

std::string Result(const std::string& value) { return ResultStart + value + ResultEnd; }

std::string ProgramBytes(const std::string& utf8) { return support::Cp932(utf8); }

std::string OnTerminal(const std::string& caption, const std::string& text) {
  std::string shown = caption + "\n";
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "\r\n") != 0) {
      shown += text[i];
    }
  }
  return shown + "\n";
}

}  // namespace texts
