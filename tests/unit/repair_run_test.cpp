// The repair tool's whole run on the double: what it writes, what it keeps, what it says.
#include <string>
#include <vector>

#include "arguments.h"
#include "repair_run.h"
#include "test_support.h"

namespace {

const char Caption[] = "Mirvel スレ幅修復ツール";
const std::string Success = "スレ幅 修復|成功しました。|0x40000";
const char Settings[] = "[MAIN]\r\nA=1\r\n[DESKTOP]\r\nTOP=5\r\nLISTWIDTH=200\r\n\r\n[X]\r\nB=2\r\n";

std::string ErrorBox(const std::string& text) { return std::string(Caption) + "|" + text + "|0x10010"; }

class RepairRun : public DoubleTest {
 protected:
  void SetUp() override {
    DoubleTest::SetUp();
    TargetWidth = DefaultWidth;
  }

  uint32_t Run(const std::string& commandLine) {
    fake::Double.commandLine = commandLine;
    return fake::RunProgram(RunRepair);
  }
};

TEST_F(RepairRun, WritesTheNewEntryAndKeepsEveryOtherLine) {
  const struct {
    const char* name;
    std::string commandLine;
    std::string before;
    std::string after;
  } cases[] = {
      {"default width", "Panefix.exe", Settings,
       "[MAIN]\r\nA=1\r\n[DESKTOP]\r\nTOP=5\r\nLISTWIDTH=430\r\n\r\n[X]\r\nB=2\r\n"},
      {"given width", "Panefix.exe 450", "[DESKTOP]\r\nLISTWIDTH=1\r\n", "[DESKTOP]\r\nLISTWIDTH=450\r\n"},
      {"hexadecimal width", "Panefix.exe $7FFF", "[DESKTOP]\r\nLISTWIDTH=1\r\n", "[DESKTOP]\r\nLISTWIDTH=32767\r\n"},
      {"whole line replaced", "Panefix.exe 1", "[DESKTOP]\r\n  OLDLISTWIDTH=99999 ; note\r\n",
       "[DESKTOP]\r\nLISTWIDTH=1\r\n"},
      {"line ends made CR LF", "Panefix.exe", "a\rb\r\n[DESKTOP]\rLISTWIDTH=5",
       "a\r\nb\r\n[DESKTOP]\r\nLISTWIDTH=430\r\n"},
      {"LF inside a line kept", "Panefix.exe", "x\ny\r\n[DESKTOP]\r\nLISTWIDTH=5\r\n",
       "x\ny\r\n[DESKTOP]\r\nLISTWIDTH=430\r\n"},
      {"Ctrl-Z at the end dropped", "Panefix.exe", "[DESKTOP]\r\nLISTWIDTH=5\r\n\x1A",
       "[DESKTOP]\r\nLISTWIDTH=430\r\n"},
      {"bytes after a Ctrl-Z kept", "Panefix.exe", "[DESKTOP]\r\nLISTWIDTH=5\x1Ajunk\r\n\x1A",
       "[DESKTOP]\r\nLISTWIDTH=430\r\n\x1Ajunk\r\n\x1A"},
      {"code page 932 lines kept", "Panefix.exe", "N=\x83\x5C\x83\x74\x83\x67\r\n[DESKTOP]\r\nLISTWIDTH=5\r\n",
       "N=\x83\x5C\x83\x74\x83\x67\r\n[DESKTOP]\r\nLISTWIDTH=430\r\n"},
  };
  for (const auto& c : cases) {
    SetUp();
    fake::PutFile("Qtv.ini", c.before);
    EXPECT_EQ(Run(c.commandLine), 0u) << c.name;
    EXPECT_EQ(Visible(fake::FileBytes("Qtv.ini")), Visible(c.after)) << c.name;
    EXPECT_EQ(Visible(fake::FileBytes("Qtv.ini_widthBack")), Visible(c.before)) << c.name;
    EXPECT_EQ(ShownBoxes(), std::vector<std::string>{Success}) << c.name;
  }
}

TEST_F(RepairRun, LinesBeyondTheStoreSurviveTheRewrite) {
  std::string head = "[DESKTOP]\r\nLISTWIDTH=5\r\n";
  std::string body;
  for (int i = 3; i <= 1000; ++i) {
    body += "k" + std::to_string(i) + "\r\n";
  }
  const std::string tail = "line1001\rline1002\n\x1A more\r\n[DESKTOP]\r\n";
  fake::PutFile("Qtv.ini", head + body + tail);
  EXPECT_EQ(Run("Panefix.exe 77"), 0u);
  EXPECT_EQ(Visible(fake::FileBytes("Qtv.ini")), Visible("[DESKTOP]\r\nLISTWIDTH=77\r\n" + body + tail));
}

TEST_F(RepairRun, ReadOnlyHiddenSystemFileEndsNormalAndRewritten) {
  fake::PutFile("Qtv.ini", Settings, 0x27);
  EXPECT_EQ(Run("Panefix.exe"), 0u);
  EXPECT_EQ(ShownBoxes(), std::vector<std::string>{Success});
  EXPECT_NE(fake::FileBytes("Qtv.ini"), Settings);
  EXPECT_EQ(fake::Double.files["Qtv.ini"].attributes & 0x7u, 0u);
  EXPECT_EQ(fake::FileBytes("Qtv.ini_widthBack"), Settings);
}

TEST_F(RepairRun, ChangesTheDiskInOrderAndClosesBeforeReopening) {
  fake::PutFile("Qtv.ini", "[DESKTOP]\r\nLISTWIDTH=5\r\n", FILE_ATTRIBUTE_READONLY_BIT);
  EXPECT_EQ(Run("Panefix.exe"), 0u);
  std::vector<std::string> steps;
  for (const std::string& entry : fake::Double.log) {
    if (entry.rfind("SetFileAttributes", 0) == 0 || entry.rfind("CopyFile", 0) == 0 ||
        entry.rfind("CreateFile", 0) == 0 || entry.rfind("CloseHandle", 0) == 0 ||
        entry.rfind("WriteFile", 0) == 0 || entry.rfind("MessageBox", 0) == 0) {
      steps.push_back(entry);
    }
  }
  EXPECT_EQ(steps, (std::vector<std::string>{"SetFileAttributes Qtv.ini 128", "CopyFile Qtv.ini Qtv.ini_widthBack",
                                             "CreateFile Qtv.ini", "CloseHandle", "CreateFile Qtv.ini",
                                             "WriteFile 26", "CloseHandle", "MessageBox スレ幅 修復"}));
}

TEST_F(RepairRun, EveryRefusalShowsOneBoxAndLeavesTheContent) {
  const char HeaderMissing[] = "\"[DESKTOP]\" が見つかりませんでした。\r\n処理を中止します。";
  const char EntryRepeated[] = "\"LISTWIDTH=\" が、複数見つかりました。\r\n処理を中止します。";
  const struct {
    const char* name;
    std::string commandLine;
    const char* file;
    bool copyFails;
    std::string box;
    bool backupMade;
  } cases[] = {
      {"too many arguments", "Panefix.exe 1 2", Settings, false, ErrorBox("引数の数が多すぎます。"), false},
      {"out of range", "Panefix.exe 0", Settings, false, ErrorBox("引数の数値が範囲外です。"), false},
      {"no settings file", "Panefix.exe", nullptr, false,
       ErrorBox("Qtv.ini が見つかりません。\r\nPanefix.exe を 「Qtv.exe と同じフォルダ」 にコピーしてから、再度 実行してください。"),
       false},
      {"backup refused", "Panefix.exe", Settings, true,
       std::string(Caption) + "|バックファイル Qtv.ini_widthBack を作成できませんでした。\r\n処理を継続しますか？|0x10134",
       false},
      {"header missing", "Panefix.exe", "LISTWIDTH=5\r\n", false, ErrorBox(HeaderMissing), true},
      {"entry repeated", "Panefix.exe", "[DESKTOP]\r\nLISTWIDTH=5\r\nLISTWIDTH=6\r\n", false, ErrorBox(EntryRepeated), true},
  };
  for (const auto& c : cases) {
    SetUp();
    if (c.file != nullptr) {
      fake::PutFile("Qtv.ini", c.file);
    }
    if (c.copyFails) {
      fake::FailCall(fake::Op::CopyFile, 1, ERROR_ACCESS_DENIED_CODE);
      fake::Double.answers.push_back(IDNO_RESULT);
    }
    EXPECT_EQ(Run(c.commandLine), 0u) << c.name;
    EXPECT_EQ(ShownBoxes(), std::vector<std::string>{c.box}) << c.name;
    if (c.file != nullptr) {
      EXPECT_EQ(fake::FileBytes("Qtv.ini"), c.file) << c.name;
    }
    EXPECT_EQ(fake::FileExists("Qtv.ini_widthBack"), c.backupMade) << c.name;
    EXPECT_EQ(fake::Double.calls[fake::Op::WriteFile], 0) << c.name;
  }
}

TEST_F(RepairRun, YesToTheQuestionRepairsWithoutBackup) {
  fake::PutFile("Qtv.ini", Settings);
  fake::FailCall(fake::Op::CopyFile, 1, ERROR_ACCESS_DENIED_CODE);
  fake::Double.answers.push_back(IDYES_RESULT);
  EXPECT_EQ(Run("Panefix.exe 300"), 0u);
  ASSERT_EQ(fake::Double.boxes.size(), 2u);
  EXPECT_EQ(ShownBoxes()[1], Success);
  EXPECT_NE(fake::FileBytes("Qtv.ini").find("LISTWIDTH=300\r\n"), std::string::npos);
}

TEST_F(RepairRun, FailedFileOperationsEndThroughTheReport) {
  const std::string big = "[DESKTOP]\r\nLISTWIDTH=5\r\n" + std::string(300, 'z') + "\r\n";
  const struct {
    const char* name;
    fake::Op op;
    int nth;
    uint32_t error;
    uint32_t shortBy;
    bool settingsUntouched;
  } cases[] = {
      {"open for reading", fake::Op::CreateFile, 1, ERROR_SHARING_VIOLATION_CODE, 0, true},
      {"read", fake::Op::ReadFile, 2, 23, 0, true},
      {"close after reading", fake::Op::CloseHandle, 1, 6, 0, true},
      {"open for writing", fake::Op::CreateFile, 2, ERROR_ACCESS_DENIED_CODE, 0, true},
      {"first block written", fake::Op::WriteFile, 1, 112, 0, false},
      {"last block at close", fake::Op::WriteFile, 3, 112, 0, false},
      {"close after writing", fake::Op::CloseHandle, 2, 1117, 0, false},
      {"short write of a full block", fake::Op::WriteFile, 1, 101, 1, false},
      {"short write at close", fake::Op::WriteFile, 3, 101, 5, false},
  };
  for (const auto& c : cases) {
    SetUp();
    fake::PutFile("Qtv.ini", big);
    if (c.shortBy > 0) {
      fake::ShortenCall(c.op, c.nth, c.shortBy);
    } else {
      fake::FailCall(c.op, c.nth, c.error);
    }
    EXPECT_EQ(Run("Panefix.exe"), c.error) << c.name;
    ASSERT_EQ(fake::Double.boxes.size(), 1u) << c.name;
    EXPECT_EQ(fake::Double.boxes[0].caption, "Error") << c.name;
    EXPECT_EQ(fake::Double.log.back(), "ExitProcess " + std::to_string(c.error)) << c.name;
    EXPECT_EQ(fake::FileBytes("Qtv.ini_widthBack"), big) << c.name;
    EXPECT_EQ(fake::FileBytes("Qtv.ini") == big, c.settingsUntouched) << c.name;
  }
}

TEST_F(RepairRun, UnknownFileTypeOnWritingIsError105) {
  fake::PutFile("Qtv.ini", "[DESKTOP]\r\nLISTWIDTH=5\r\n");
  fake::Double.files["Qtv.ini"].type = FILE_TYPE_UNKNOWN_VALUE;
  EXPECT_EQ(Run("Panefix.exe"), 105u);
  ASSERT_EQ(fake::Double.boxes.size(), 1u);
  EXPECT_EQ(fake::Double.boxes[0].text.substr(0, 21), "Runtime error 105 at ");
}

TEST_F(RepairRun, HostRunningMakesNoDifference) {
  fake::PutFile("Qtv.ini", Settings);
  fake::Double.hostWindowOpen = true;
  EXPECT_EQ(Run("Panefix.exe"), 0u);
  EXPECT_EQ(ShownBoxes(), std::vector<std::string>{Success});
  EXPECT_EQ(fake::Double.calls[fake::Op::FindWindow], 0);
}

}  // namespace
