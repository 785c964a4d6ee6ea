// The viewer's whole run on the double: every box it can show, and that it changes nothing.
#include <string>
#include <vector>

#include "test_support.h"
#include "viewer_run.h"

namespace {

const char NotFound[] =
    "Qtv.ini が見つかりません。\r\nPanepeek.exe を 「Qtv.exe と同じフォルダ」 にコピーしてから、再度 実行して下さい。";
const char HostRunning[] = "Ostrel を終了させてから、再度 実行して下さい。";
const char HeaderMissing[] = "\"[DESKTOP]\" が見つかりませんでした。\r\n処理を中止します。";
const char EntryRepeated[] = "\"LISTWIDTH=\" が、複数見つかりました。\r\n処理を中止します。";

std::string ErrorBox(const std::string& text) { return "Panepeek|" + text + "|0x10010"; }
std::string ResultBox(const std::string& value) {
  return "Panepeek|スレッド・ペインの幅は " + value + " です。|0x40000";
}

struct ViewerCase {
  const char* name;
  const char* file;  // nullptr: no Qtv.ini
  bool hostRunning;
  std::vector<std::string> boxes;
};

const ViewerCase ViewerCases[] = {
    {"value shown", "[DESKTOP]\r\nLISTWIDTH=430\r\n", false, {ResultBox("430")}},
    {"empty value", "[DESKTOP]\r\nLISTWIDTH=\r\n", false, {ResultBox("")}},
    {"value shown unchanged", "[DESKTOP]\r\nLISTWIDTH= 4x0 px\r\n", false, {ResultBox(" 4x0 px")}},
    {"value after the first equals sign", "[DESKTOP]\r\nA=LISTWIDTH=5\r\n", false, {ResultBox("LISTWIDTH=5")}},
    {"code page 932 value", "[DESKTOP]\r\nLISTWIDTH=\x82\x54\x82\x4F\r\n", false, {ResultBox("\x82\x54\x82\x4F")}},
    {"no settings file", nullptr, false, {ErrorBox(NotFound)}},
    {"no settings file while host runs", nullptr, true, {ErrorBox(NotFound)}},
    {"host running", "[DESKTOP]\r\nLISTWIDTH=430\r\n", true, {ErrorBox(HostRunning)}},
    {"header missing", "LISTWIDTH=430\r\n", false, {ErrorBox(HeaderMissing)}},
    {"entry repeated", "[DESKTOP]\r\nLISTWIDTH=1\r\nLISTWIDTH=2\r\n", false, {ErrorBox(EntryRepeated)}},
};

class ViewerRun : public DoubleTest {};

TEST_F(ViewerRun, ShowsOneBoxAndEndsWithZero) {
  for (const ViewerCase& c : ViewerCases) {
    SetUp();
    if (c.file != nullptr) {
      fake::PutFile("Qtv.ini", c.file, FILE_ATTRIBUTE_READONLY_BIT | FILE_ATTRIBUTE_HIDDEN_BIT);
    }
    fake::Double.hostWindowOpen = c.hostRunning;
    fake::Double.commandLine = "Panepeek.exe 45 \"0\"";
    EXPECT_EQ(fake::RunProgram(RunViewer), 0u) << c.name;
    EXPECT_EQ(ShownBoxes(), c.boxes) << c.name;
    if (c.file != nullptr) {
      EXPECT_EQ(fake::FileBytes("Qtv.ini"), c.file) << c.name;
      EXPECT_EQ(fake::Double.files["Qtv.ini"].attributes,
                FILE_ATTRIBUTE_READONLY_BIT | FILE_ATTRIBUTE_HIDDEN_BIT) << c.name;
    }
    EXPECT_LE(fake::Double.files.size(), 1u) << c.name << ": no other file may appear";
    EXPECT_EQ(fake::Double.calls[fake::Op::WriteFile], 0) << c.name;
    EXPECT_EQ(fake::Double.calls[fake::Op::SetFileAttributes], 0) << c.name;
    EXPECT_EQ(fake::Double.calls[fake::Op::CopyFile], 0) << c.name;
  }
}

TEST_F(ViewerRun, DirectoryCountsAsMissingAndAnUnpackableTimeDoesNot) {
  fake::Double.files["Qtv.ini"].isDirectory = true;
  EXPECT_EQ(fake::RunProgram(RunViewer), 0u);
  EXPECT_EQ(ShownBoxes(), std::vector<std::string>{ErrorBox(NotFound)});

  SetUp();
  fake::PutFile("Qtv.ini", "[DESKTOP]\r\nLISTWIDTH=430\r\n");
  fake::Double.files["Qtv.ini"].lastWriteTime = fake::MakeFileTime(1975, 1, 1, 0, 0, 0);
  EXPECT_EQ(fake::RunProgram(RunViewer), 0u);
  EXPECT_EQ(ShownBoxes(), std::vector<std::string>{ResultBox("430")});
}

TEST_F(ViewerRun, ReadsOnlyAndClosesBeforeLocating) {
  fake::PutFile("Qtv.ini", "[DESKTOP]\r\nLISTWIDTH=430\r\n");
  EXPECT_EQ(fake::RunProgram(RunViewer), 0u);
  EXPECT_EQ(fake::Double.log, (std::vector<std::string>{
                                  "FindFirstFile Qtv.ini", "FindWindow TOstrelForm", "CreateFile Qtv.ini", "ReadFile 128",
                                  "ReadFile 128", "CloseHandle", "MessageBox Panepeek"}));
}

TEST_F(ViewerRun, FailedFileOperationsEndThroughTheReport) {
  const struct {
    const char* name;
    fake::Op op;
    int nth;
    uint32_t error;
  } cases[] = {
      {"open refused", fake::Op::CreateFile, 1, ERROR_SHARING_VIOLATION_CODE},
      {"open of a vanished file", fake::Op::CreateFile, 1, ERROR_FILE_NOT_FOUND_CODE},
      {"first read", fake::Op::ReadFile, 1, 23},
      {"read at the end of file test", fake::Op::ReadFile, 2, 1117},
      {"close", fake::Op::CloseHandle, 1, 6},
  };
  for (const auto& c : cases) {
    SetUp();
    fake::PutFile("Qtv.ini", "[DESKTOP]\r\nLISTWIDTH=430\r\n");
    fake::FailCall(c.op, c.nth, c.error);
    EXPECT_EQ(fake::RunProgram(RunViewer), c.error) << c.name;
    ASSERT_EQ(fake::Double.boxes.size(), 1u) << c.name;
    const fake::Box& box = fake::Double.boxes[0];
    EXPECT_EQ(box.caption, "Error") << c.name;
    EXPECT_EQ(box.style, 0u) << c.name;
    char number[8];
    std::snprintf(number, sizeof number, "%3u", c.error);
    std::string expected = std::string("Runtime error ") + number + " at ";
    EXPECT_EQ(box.text.substr(0, expected.size()), expected) << c.name;
    EXPECT_EQ(box.text.size(), expected.size() + 8) << c.name;
    EXPECT_EQ(fake::Double.log.back(), "ExitProcess " + std::to_string(c.error)) << c.name;
  }
}

TEST_F(ViewerRun, AnotherProgramWritingTheFileGivesSharingViolation) {
  fake::PutFile("Qtv.ini", "[DESKTOP]\r\nLISTWIDTH=430\r\n");
  fake::Double.files["Qtv.ini"].heldAccess = GENERIC_WRITE_ACCESS;
  fake::Double.files["Qtv.ini"].heldShare = FILE_SHARE_READ_MODE | 0x2;
  EXPECT_EQ(fake::RunProgram(RunViewer), 32u);
  ASSERT_EQ(fake::Double.boxes.size(), 1u);
  EXPECT_EQ(fake::Double.boxes[0].text.substr(0, 20), "Runtime error  32 at");
}

// The texts with characters whose code page 932 form is easy to get wrong.
TEST_F(ViewerRun, TextsAreCodePage932Bytes) {
  EXPECT_EQ(fake::RunProgram(RunViewer), 0u);
  ASSERT_EQ(fake::Double.boxes.size(), 1u);
  const std::string& text = fake::Double.boxes[0].text;
  // 「Qtv.exe と同じフォルダ」 : U+300C is 81 75, U+300D is 81 76.
  EXPECT_NE(text.find("\x81\x75Qtv.exe \x82\xC6\x93\xAF\x82\xB6\x83\x74\x83\x48\x83\x8B\x83\x5F\x81\x76"),
            std::string::npos)
      << Visible(text);
  // 下さい。 ends the text: 89 BA 82 B3 82 A2 81 42.
  EXPECT_EQ(Visible(text.substr(text.size() - 8)), Visible("\x89\xBA\x82\xB3\x82\xA2\x81\x42"));
  EXPECT_EQ(Visible(fake::Double.boxes[0].caption), "Panepeek");
}

}  // namespace
