// The viewer's whole run on the double: every box it can show, and that it changes nothing.
#include "viewer_run.h"

#include <cstdio>
#include <string>
#include <vector>

#include "settings_text.h"
#include "test_support.h"

namespace {

std::string ErrorBox(const std::string& text) { return ErrorBoxLine(texts::ViewerCaption, text); }
// The result box for a value given as the settings file's bytes.
std::string ResultBox(const std::string& value) {
  return BoxLine(texts::ViewerCaption, texts::Result(support::Utf8FromCp932(value)), 0x40000);
}

struct ViewerCase {
  const char* name;
  const char* file;  // nullptr: no Qtv.ini
  bool hostRunning;
  std::vector<std::string> boxes;
};

class ViewerRuns : public DoubleTableTest<ViewerCase> {};

TEST_P(ViewerRuns, ShowOneBoxAndEndWithZero) {
  const ViewerCase& c = GetParam();
  if (c.file != nullptr) {
    fake::PutFile("Qtv.ini", c.file, FILE_ATTRIBUTE_READONLY_BIT | FILE_ATTRIBUTE_HIDDEN_BIT);
  }
  fake::Double.hostWindowOpen = c.hostRunning;
  fake::Double.commandLine = "Panepeek.exe 45 \"0\"";
  EXPECT_EQ(fake::RunProgram(RunViewer), 0u);
  EXPECT_EQ(ShownBoxes(), c.boxes);
  if (c.file != nullptr) {
    EXPECT_EQ(fake::FileBytes("Qtv.ini"), c.file);
    EXPECT_EQ(fake::Double.files["Qtv.ini"].attributes,
              FILE_ATTRIBUTE_READONLY_BIT | FILE_ATTRIBUTE_HIDDEN_BIT);
  }
  EXPECT_LE(fake::Double.files.size(), 1u) << "no other file may appear";
  EXPECT_EQ(fake::Double.calls[fake::Op::WriteFile], 0);
  EXPECT_EQ(fake::Double.calls[fake::Op::SetFileAttributes], 0);
  EXPECT_EQ(fake::Double.calls[fake::Op::CopyFile], 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ViewerRuns,
    testing::Values(
        ViewerCase{"ValueShown", "[DESKTOP]\r\nLISTWIDTH=430\r\n", false, {ResultBox("430")}},
        ViewerCase{"EmptyValue", "[DESKTOP]\r\nLISTWIDTH=\r\n", false, {ResultBox("")}},
        ViewerCase{"ValueShownUnchanged",
                   "[DESKTOP]\r\nLISTWIDTH= 4x0 px\r\n",
                   false,
                   {ResultBox(" 4x0 px")}},
        ViewerCase{"ValueAfterTheFirstEqualsSign",
                   "[DESKTOP]\r\nA=LISTWIDTH=5\r\n",
                   false,
                   {ResultBox("LISTWIDTH=5")}},
        ViewerCase{"CodePage932Value",
                   "[DESKTOP]\r\nLISTWIDTH=\x82\x54\x82\x4F\r\n",
                   false,
                   {ResultBox("\x82\x54\x82\x4F")}},
        ViewerCase{"NoSettingsFile", nullptr, false, {ErrorBox(texts::ViewerNotFound)}},
        ViewerCase{"NoSettingsFileWhileHostRuns", nullptr, true, {ErrorBox(texts::ViewerNotFound)}},
        ViewerCase{
            "HostRunning", "[DESKTOP]\r\nLISTWIDTH=430\r\n", true, {ErrorBox(texts::HostRunning)}},
        ViewerCase{"HeaderMissing", "LISTWIDTH=430\r\n", false, {ErrorBox(texts::HeaderMissing)}},
        ViewerCase{"EntryRepeated",
                   "[DESKTOP]\r\nLISTWIDTH=1\r\nLISTWIDTH=2\r\n",
                   false,
                   {ErrorBox(texts::EntryRepeated)}}),
    RowName<ViewerCase>);

class ViewerRun : public DoubleTest {};

TEST_F(ViewerRun, DirectoryCountsAsMissing) {
  fake::Double.files["Qtv.ini"].isDirectory = true;
  EXPECT_EQ(fake::RunProgram(RunViewer), 0u);
  EXPECT_EQ(ShownBoxes(), std::vector<std::string>{ErrorBox(texts::ViewerNotFound)});
}

TEST_F(ViewerRun, ReadsOnlyAndClosesBeforeLocating) {
  fake::PutFile("Qtv.ini", "[DESKTOP]\r\nLISTWIDTH=430\r\n");
  EXPECT_EQ(fake::RunProgram(RunViewer), 0u);
  EXPECT_EQ(
      fake::Double.log,
      (std::vector<std::string>{"FindFirstFile Qtv.ini", "FindWindow TOstrelForm",
                                "CreateFile Qtv.ini", "ReadFile 128", "ReadFile 128", "CloseHandle",
                                "MessageBox " + std::string(texts::ViewerCaption)}));
}

TEST_F(ViewerRun, ReadsNoFurtherThanItsStore) {
  const std::string stored = "[DESKTOP]\r\nLISTWIDTH=430\r\n" + support::FillerLines(998);
  fake::PutFile("Qtv.ini", stored + std::string(64 * 1024, 't'));
  EXPECT_EQ(fake::RunProgram(RunViewer), 0u);
  EXPECT_LE(fake::Double.calls[fake::Op::ReadFile], static_cast<int>(stored.size() / 128 + 2))
      << "the viewer read beyond its 1000 lines";
}

struct FailureCase {
  const char* name;
  fake::Op op;
  int nth;
  uint32_t error;
};

class ViewerFailure : public DoubleTableTest<FailureCase> {};

TEST_P(ViewerFailure, EndsThroughTheReport) {
  const FailureCase& c = GetParam();
  fake::PutFile("Qtv.ini", "[DESKTOP]\r\nLISTWIDTH=430\r\n");
  fake::FailCall(c.op, c.nth, c.error);
  EXPECT_EQ(fake::RunProgram(RunViewer), c.error);
  ASSERT_EQ(fake::Double.boxes.size(), 1u);
  const fake::Box& box = fake::Double.boxes[0];
  EXPECT_EQ(box.caption, texts::ReportCaption);
  EXPECT_EQ(box.style, 0u);
  char number[8];
  std::snprintf(number, sizeof number, "%3u", c.error);
  std::string expected = texts::ReportStart + std::string(number) + " at ";
  EXPECT_EQ(box.text.substr(0, expected.size()), expected);
  EXPECT_EQ(box.text.size(), expected.size() + 8);
  EXPECT_EQ(fake::Double.log.back(), "ExitProcess " + std::to_string(c.error));
}

INSTANTIATE_TEST_SUITE_P(Rows, ViewerFailure,
                         testing::Values(FailureCase{"OpenRefused", fake::Op::CreateFile, 1,
                                                     ERROR_SHARING_VIOLATION_CODE},
                                         FailureCase{"OpenOfAVanishedFile", fake::Op::CreateFile, 1,
                                                     ERROR_FILE_NOT_FOUND_CODE},
                                         FailureCase{"FirstRead", fake::Op::ReadFile, 1, 23},
                                         FailureCase{"ReadAtTheEndOfFileTest", fake::Op::ReadFile,
                                                     2, 1117},
                                         FailureCase{"Close", fake::Op::CloseHandle, 1, 6}),
                         RowName<FailureCase>);

TEST_F(ViewerRun, AnotherProgramWritingTheFileGivesSharingViolation) {
  fake::PutFile("Qtv.ini", "[DESKTOP]\r\nLISTWIDTH=430\r\n");
  fake::Double.files["Qtv.ini"].heldAccess = GENERIC_WRITE_ACCESS;
  fake::Double.files["Qtv.ini"].heldShare = FILE_SHARE_READ_MODE | FILE_SHARE_WRITE_MODE;
  EXPECT_EQ(fake::RunProgram(RunViewer), 32u);
  ASSERT_EQ(fake::Double.boxes.size(), 1u);
  EXPECT_EQ(fake::Double.boxes[0].text.substr(0, 20), texts::ReportStart + std::string(" 32 at"));
}

// The texts with characters whose code page 932 form is easy to get wrong.
TEST_F(ViewerRun, TextsAreCodePage932Bytes) {
  EXPECT_EQ(fake::RunProgram(RunViewer), 0u);
  ASSERT_EQ(fake::Double.boxes.size(), 1u);
  const std::string& text = fake::Double.boxes[0].text;
  // 「Qtv.exe と同じフォルダ」 : U+300C is 81 75, U+300D is 81 76.
  EXPECT_NE(
      text.find("\x81\x75Qtv.exe \x82\xC6\x93\xAF\x82\xB6\x83\x74\x83\x48\x83\x8B\x83\x5F\x81\x76"),
      std::string::npos)
      << Escaped(text);
  // 下さい。 ends the text: 89 BA 82 B3 82 A2 81 42.
  EXPECT_EQ(Escaped(text.substr(text.size() - 8)), Escaped("\x89\xBA\x82\xB3\x82\xA2\x81\x42"));
  EXPECT_EQ(Escaped(fake::Double.boxes[0].caption), texts::ViewerCaption);
}

}  // namespace
