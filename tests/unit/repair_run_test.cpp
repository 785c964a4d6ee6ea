// The repair tool's whole run on the double: what it writes, what it keeps, what it says.
#include "repair_run.h"

#include <string>
#include <vector>

#include "arguments.h"
#include "settings_text.h"
#include "test_support.h"

namespace {

const std::string Success = BoxLine(texts::SuccessCaption, texts::Success, 0x40000);
const char Settings[] =
    "[MAIN]\r\nA=1\r\n[DESKTOP]\r\nTOP=5\r\nLISTWIDTH=200\r\n\r\n[X]\r\nB=2\r\n";

std::string ErrorBox(const std::string& text) { return ErrorBoxLine(texts::RepairCaption, text); }

uint32_t RunRepairWith(const std::string& commandLine) {
  fake::Double.commandLine = commandLine;
  return fake::RunProgram(RunRepair);
}

struct RewriteCase {
  const char* name;
  std::string commandLine;
  std::string before;
  std::string after;
};

class RepairRewrite : public DoubleTableTest<RewriteCase> {};

TEST_P(RepairRewrite, WritesTheNewEntryAndKeepsEveryOtherLine) {
  const RewriteCase& c = GetParam();
  fake::PutFile("Qtv.ini", c.before);
  EXPECT_EQ(RunRepairWith(c.commandLine), 0u);
  EXPECT_EQ(Escaped(fake::FileBytes("Qtv.ini")), Escaped(c.after));
  EXPECT_EQ(Escaped(fake::FileBytes("Qtv.ini_widthBack")), Escaped(c.before));
  EXPECT_EQ(ShownBoxes(), std::vector<std::string>{Success});
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RepairRewrite,
    testing::Values(
        RewriteCase{"DefaultWidth", "Panefix.exe", Settings,
                    "[MAIN]\r\nA=1\r\n[DESKTOP]\r\nTOP=5\r\nLISTWIDTH=430\r\n\r\n[X]\r\nB=2\r\n"},
        RewriteCase{"GivenWidth", "Panefix.exe 450", "[DESKTOP]\r\nLISTWIDTH=1\r\n",
                    "[DESKTOP]\r\nLISTWIDTH=450\r\n"},
        RewriteCase{"HexadecimalWidth", "Panefix.exe $7FFF", "[DESKTOP]\r\nLISTWIDTH=1\r\n",
                    "[DESKTOP]\r\nLISTWIDTH=32767\r\n"},
        RewriteCase{"WholeLineReplaced", "Panefix.exe 1",
                    "[DESKTOP]\r\n  OLDLISTWIDTH=99999 ; note\r\n", "[DESKTOP]\r\nLISTWIDTH=1\r\n"},
        RewriteCase{"LineEndsMadeCrLf", "Panefix.exe", "a\rb\r\n[DESKTOP]\rLISTWIDTH=5",
                    "a\r\nb\r\n[DESKTOP]\r\nLISTWIDTH=430\r\n"},
        RewriteCase{"LfInsideALineKept", "Panefix.exe", "x\ny\r\n[DESKTOP]\r\nLISTWIDTH=5\r\n",
                    "x\ny\r\n[DESKTOP]\r\nLISTWIDTH=430\r\n"},
        RewriteCase{"CtrlZAtTheEndDropped", "Panefix.exe", "[DESKTOP]\r\nLISTWIDTH=5\r\n\x1A",
                    "[DESKTOP]\r\nLISTWIDTH=430\r\n"},
        RewriteCase{"BytesAfterACtrlZKept", "Panefix.exe",
                    "[DESKTOP]\r\nLISTWIDTH=5\x1Ajunk\r\n\x1A",
                    "[DESKTOP]\r\nLISTWIDTH=430\r\n\x1Ajunk\r\n\x1A"},
        RewriteCase{"CodePage932LinesKept", "Panefix.exe",
                    "N=\x83\x5C\x83\x74\x83\x67\r\n[DESKTOP]\r\nLISTWIDTH=5\r\n",
                    "N=\x83\x5C\x83\x74\x83\x67\r\n[DESKTOP]\r\nLISTWIDTH=430\r\n"}),
    RowName<RewriteCase>);

class RepairRun : public DoubleTest {};

TEST_F(RepairRun, LinesBeyondTheStoreSurviveTheRewrite) {
  std::string head = "[DESKTOP]\r\nLISTWIDTH=5\r\n";
  std::string body = support::FillerLines(998);
  const std::string tail = "line1001\rline1002\n\x1A more\r\n[DESKTOP]\r\n";
  fake::PutFile("Qtv.ini", head + body + tail);
  EXPECT_EQ(RunRepairWith("Panefix.exe 77"), 0u);
  EXPECT_EQ(Escaped(fake::FileBytes("Qtv.ini")),
            Escaped("[DESKTOP]\r\nLISTWIDTH=77\r\n" + body + tail));
}

TEST_F(RepairRun, ReadOnlyHiddenSystemFileEndsNormalAndRewritten) {
  fake::PutFile("Qtv.ini", Settings, 0x27);
  EXPECT_EQ(RunRepairWith("Panefix.exe"), 0u);
  EXPECT_EQ(ShownBoxes(), std::vector<std::string>{Success});
  EXPECT_NE(fake::FileBytes("Qtv.ini"), Settings);
  EXPECT_EQ(fake::Double.files["Qtv.ini"].attributes & 0x7u, 0u);
  EXPECT_EQ(fake::FileBytes("Qtv.ini_widthBack"), Settings);
}

TEST_F(RepairRun, ChangesTheDiskInOrderAndClosesBeforeReopening) {
  fake::PutFile("Qtv.ini", "[DESKTOP]\r\nLISTWIDTH=5\r\n", FILE_ATTRIBUTE_READONLY_BIT);
  EXPECT_EQ(RunRepairWith("Panefix.exe"), 0u);
  std::vector<std::string> steps;
  for (const std::string& entry : fake::Double.log) {
    if (entry.rfind("SetFileAttributes", 0) == 0 || entry.rfind("CopyFile", 0) == 0 ||
        entry.rfind("CreateFile", 0) == 0 || entry.rfind("CloseHandle", 0) == 0 ||
        entry.rfind("WriteFile", 0) == 0 || entry.rfind("FlushFileBuffers", 0) == 0 ||
        entry.rfind("MessageBox", 0) == 0) {
      steps.push_back(entry);
    }
  }
  // The backup is on disk before Qtv.ini is opened for writing, the new text before the box.
  EXPECT_EQ(steps, (std::vector<std::string>{
                       "SetFileAttributes Qtv.ini 128", "CopyFile Qtv.ini Qtv.ini_widthBack",
                       "CreateFile Qtv.ini_widthBack", "FlushFileBuffers Qtv.ini_widthBack",
                       "CloseHandle", "CreateFile Qtv.ini", "CloseHandle", "CreateFile Qtv.ini",
                       "WriteFile 26", "FlushFileBuffers Qtv.ini", "CloseHandle",
                       "MessageBox " + texts::ProgramBytes(texts::SuccessCaption)}));
}

struct RefusalCase {
  const char* name;
  std::string commandLine;
  const char* file;
  bool copyFails;
  std::string box;
  bool backupMade;
  // Qtv.ini's attributes, which a refusal before the first change on disk keeps.
  uint32_t attributes = FILE_ATTRIBUTE_ARCHIVE_BIT;
};

class RepairRefusal : public DoubleTableTest<RefusalCase> {};

TEST_P(RepairRefusal, ShowsOneBoxAndLeavesTheContent) {
  const RefusalCase& c = GetParam();
  if (c.file != nullptr) {
    fake::PutFile("Qtv.ini", c.file, c.attributes);
  }
  if (c.copyFails) {
    fake::FailCall(fake::Op::CopyFile, 1, ERROR_ACCESS_DENIED_CODE);
    fake::Double.answers.push_back(IDNO_RESULT);
  }
  EXPECT_EQ(RunRepairWith(c.commandLine), 0u);
  EXPECT_EQ(ShownBoxes(), std::vector<std::string>{c.box});
  if (c.file != nullptr) {
    EXPECT_EQ(fake::FileBytes("Qtv.ini"), c.file);
    EXPECT_EQ(fake::Double.files["Qtv.ini"].attributes, c.attributes);
  }
  EXPECT_EQ(fake::FileExists("Qtv.ini_widthBack"), c.backupMade);
  EXPECT_EQ(fake::Double.calls[fake::Op::WriteFile], 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RepairRefusal,
    testing::Values(RefusalCase{"TooManyArguments", "Panefix.exe 1 2", Settings, false,
                                ErrorBox(texts::TooManyArguments), false},
                    RefusalCase{"OutOfRange", "Panefix.exe 0", Settings, false,
                                ErrorBox(texts::OutOfRange), false},
                    RefusalCase{"TooManyArgumentsForAReadOnlyFile", "Panefix.exe 1 2", Settings,
                                false, ErrorBox(texts::TooManyArguments), false,
                                FILE_ATTRIBUTE_READONLY_BIT | FILE_ATTRIBUTE_ARCHIVE_BIT},
                    RefusalCase{"BadFormatForAHiddenSystemFile", "Panefix.exe 4.5", Settings, false,
                                ErrorBox(texts::BadFormat), false,
                                FILE_ATTRIBUTE_HIDDEN_BIT | FILE_ATTRIBUTE_SYSTEM_BIT},
                    RefusalCase{"NoSettingsFile", "Panefix.exe", nullptr, false,
                                ErrorBox(texts::RepairNotFound), false},
                    RefusalCase{"BackupRefused", "Panefix.exe", Settings, true,
                                BoxLine(texts::RepairCaption,
                                        texts::BackupQuestion(texts::CreateVerb), 0x10134),
                                false},
                    RefusalCase{"HeaderMissing", "Panefix.exe", "LISTWIDTH=5\r\n", false,
                                ErrorBox(texts::HeaderMissing), true},
                    RefusalCase{"EntryRepeated", "Panefix.exe",
                                "[DESKTOP]\r\nLISTWIDTH=5\r\nLISTWIDTH=6\r\n", false,
                                ErrorBox(texts::EntryRepeated), true}),
    RowName<RefusalCase>);

TEST_F(RepairRun, YesToTheQuestionRepairsWithoutBackup) {
  fake::PutFile("Qtv.ini", Settings);
  fake::FailCall(fake::Op::CopyFile, 1, ERROR_ACCESS_DENIED_CODE);
  fake::Double.answers.push_back(IDYES_RESULT);
  EXPECT_EQ(RunRepairWith("Panefix.exe 300"), 0u);
  ASSERT_EQ(fake::Double.boxes.size(), 2u);
  EXPECT_EQ(ShownBoxes()[1], Success);
  EXPECT_NE(fake::FileBytes("Qtv.ini").find("LISTWIDTH=300\r\n"), std::string::npos);
}

struct FailureCase {
  const char* name;
  fake::Op op;
  int nth;
  uint32_t error;
  uint32_t shortBy;
  bool settingsUntouched;
};

class RepairFailure : public DoubleTableTest<FailureCase> {};

TEST_P(RepairFailure, EndsThroughTheReport) {
  const FailureCase& c = GetParam();
  const std::string big = "[DESKTOP]\r\nLISTWIDTH=5\r\n" + std::string(300, 'z') + "\r\n";
  fake::PutFile("Qtv.ini", big);
  if (c.shortBy > 0) {
    fake::ShortenCall(c.op, c.nth, c.shortBy);
  } else {
    fake::FailCall(c.op, c.nth, c.error);
  }
  EXPECT_EQ(RunRepairWith("Panefix.exe"), c.error);
  ASSERT_EQ(fake::Double.boxes.size(), 1u);
  EXPECT_EQ(fake::Double.boxes[0].caption, texts::ReportCaption);
  EXPECT_EQ(fake::Double.log.back(), "ExitProcess " + std::to_string(c.error));
  EXPECT_EQ(fake::FileBytes("Qtv.ini_widthBack"), big);
  EXPECT_EQ(fake::FileBytes("Qtv.ini") == big, c.settingsUntouched);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RepairFailure,
    testing::Values(FailureCase{"OpenForReading", fake::Op::CreateFile, 2,
                                ERROR_SHARING_VIOLATION_CODE, 0, true},
                    FailureCase{"Read", fake::Op::ReadFile, 2, 23, 0, true},
                    FailureCase{"CloseAfterReading", fake::Op::CloseHandle, 2, 6, 0, true},
                    FailureCase{"OpenForWriting", fake::Op::CreateFile, 3, ERROR_ACCESS_DENIED_CODE,
                                0, true},
                    FailureCase{"FirstBlockWritten", fake::Op::WriteFile, 1, 112, 0, false},
                    FailureCase{"LastBlockAtClose", fake::Op::WriteFile, 3, 112, 0, false},
                    FailureCase{"FlushAfterWriting", fake::Op::FlushFileBuffers, 2, 112, 0, false},
                    FailureCase{"CloseAfterWriting", fake::Op::CloseHandle, 3, 1117, 0, false},
                    FailureCase{"ShortWriteOfAFullBlock", fake::Op::WriteFile, 1, 101, 1, false},
                    FailureCase{"ShortWriteAtClose", fake::Op::WriteFile, 3, 101, 5, false}),
    RowName<FailureCase>);

TEST_F(RepairRun, UnknownFileTypeOnWritingIsError105) {
  fake::PutFile("Qtv.ini", "[DESKTOP]\r\nLISTWIDTH=5\r\n");
  fake::Double.files["Qtv.ini"].type = FILE_TYPE_UNKNOWN_VALUE;
  EXPECT_EQ(RunRepairWith("Panefix.exe"), UnknownFileTypeError);
  ASSERT_EQ(fake::Double.boxes.size(), 1u);
  EXPECT_EQ(fake::Double.boxes[0].text.substr(0, 21), texts::ReportStart + std::string("105 at "));
}

TEST_F(RepairRun, HostRunningMakesNoDifference) {
  fake::PutFile("Qtv.ini", Settings);
  fake::Double.hostWindowOpen = true;
  EXPECT_EQ(RunRepairWith("Panefix.exe"), 0u);
  EXPECT_EQ(ShownBoxes(), std::vector<std::string>{Success});
  EXPECT_EQ(fake::Double.calls[fake::Op::FindWindow], 0);
}

}  // namespace
