// Every failure that can happen, driven one at a time: each program is run once to see its
// platform calls, then again with the k-th call failing, for every k and every error that call
// can really give, and with every allocation failing in turn. Whatever fails, the run must end
// with at most one report, the right number as exit code, nothing done after the report, and
// the user's data either untouched or recoverable from the backup.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "arguments.h"
#include "common_helpers.h"
#include "repair_run.h"
#include "runtime_error.h"
#include "settings_text.h"
#include "test_support.h"
#include "viewer_run.h"

namespace {

using fake::Op;

struct Scenario {
  const char* name;
  std::function<void()> program;
  std::string commandLine;
  std::map<std::string, fake::File> files;
  std::vector<int> answers;
};

fake::File MakeFile(const std::string& bytes, uint32_t attributes = FILE_ATTRIBUTE_ARCHIVE_BIT) {
  fake::File file;
  file.bytes = bytes;
  file.attributes = attributes;
  return file;
}

const std::string Settings =
    "[MAIN]\r\nA=1\r\n[DESKTOP]\r\nLISTWIDTH=200\r\n" + std::string(300, 'w') + "\r\n\r\n";
const std::string Oversized =
    "[DESKTOP]\r\nLISTWIDTH=1\r\n" + support::FillerLines(1010) + "x\x1Ay";

std::vector<Scenario> Scenarios() {
  return {
      {"viewer",
       RunViewer,
       "Panepeek.exe",
       {{"Qtv.ini", MakeFile(Settings)}, {"other", MakeFile("o")}},
       {}},
      {"viewer without file", RunViewer, "Panepeek.exe", {{"other", MakeFile("o")}}, {}},
      {"repair",
       RunRepair,
       "Panefix.exe",
       {{"Qtv.ini", MakeFile(Settings)}, {"other", MakeFile("o")}},
       {}},
      {"repair over read-only file and old backup",
       RunRepair,
       "Panefix.exe 450",
       {{"Qtv.ini", MakeFile(Settings, 0x27)}, {"Qtv.ini_widthBack", MakeFile("old")}},
       {}},
      {"repair answering Yes",
       RunRepair,
       "Panefix.exe 450",
       {{"Qtv.ini", MakeFile(Settings)},
        {"Qtv.ini_widthBack", MakeFile("old", FILE_ATTRIBUTE_READONLY_BIT)}},
       {IDYES_RESULT}},
      {"repair of an oversized file",
       RunRepair,
       "Panefix.exe",
       {{"Qtv.ini", MakeFile(Oversized)}},
       {}},
  };
}

// The errors each call can really give. Broken pipe is not among ReadFile's: a settings file on
// disk never gives it. A short write (fewer bytes stored than passed) is marked by ShortWrite.
constexpr uint32_t ShortWrite = 0xFFFFFFFF;
std::vector<uint32_t> ErrorsOf(Op op) {
  switch (op) {
    case Op::CreateFile:
      return {2, 3, 4, 5, 32, 206};
    case Op::ReadFile:
      return {5, 23, 1117};
    case Op::WriteFile:
      return {5, 112, 1117, ShortWrite};
    case Op::FlushFileBuffers:
      return {112, 1117};
    case Op::CloseHandle:
      return {6, 1117};
    case Op::GetFileType:
      return {6};
    case Op::FindFirstFile:
      return {2, 5};
    case Op::GetFileAttributes:
      return {2, 5};
    case Op::SetFileAttributes:
      return {5, 32};
    case Op::CopyFile:
      return {5, 32, 112};
    case Op::MessageBox:
      return {8};
    case Op::FindWindow:
      return {5};
    case Op::GetCommandLine:
    case Op::ExitProcess:
      return {};
  }
  return {};
}

bool IsFileOperation(Op op) {
  return op == Op::CreateFile || op == Op::ReadFile || op == Op::WriteFile ||
         op == Op::FlushFileBuffers || op == Op::CloseHandle || op == Op::GetFileType;
}

void Prepare(const Scenario& scenario, bool replacesOnClose) {
  ResetProgramState();
  fake::Double.replacesOnClose = replacesOnClose;
  fake::Double.files = scenario.files;
  fake::Double.commandLine = scenario.commandLine;
  fake::Double.answers.assign(scenario.answers.begin(), scenario.answers.end());
}

// The position in the log of the nth call that opens the settings file (the first reads it, the
// second writes it), or -1.
int SettingsOpenPosition(int nth) {
  int opens = 0;
  for (size_t i = 0; i < fake::Double.log.size(); ++i) {
    if (fake::Double.log[i] == "CreateFile Qtv.ini" && ++opens == nth) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int BackupPosition() {
  for (size_t i = 0; i < fake::Double.sequence.size(); ++i) {
    if (fake::Double.sequence[i] == Op::CopyFile) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int CountReports() {
  int reports = 0;
  for (const fake::Box& box : fake::Double.boxes) {
    reports += box.caption == texts::ReportCaption ? 1 : 0;
  }
  return reports;
}

// Checks what every run must give, whatever failed: at most one report, its number as exit
// code, nothing after it, and nothing on disk beyond the two files the tool may touch.
void CheckCommonRules(const Scenario& scenario, uint32_t exitCode, const std::string& what) {
  int reports = CountReports();
  ASSERT_LE(reports, 1) << what;
  if (reports == 1) {
    const std::string& text = fake::Double.boxes.back().text;
    EXPECT_EQ(fake::Double.boxes.back().caption, texts::ReportCaption)
        << what << ": the report must be the last box";
    const std::string start = texts::ReportStart;
    EXPECT_EQ(text.substr(0, start.size()), start) << what;
    EXPECT_EQ(std::stoul(text.substr(start.size())), exitCode) << what << ": " << text;
    size_t reportAt = fake::Double.log.size() - 2;
    EXPECT_EQ(fake::Double.log[reportAt], "MessageBox " + std::string(texts::ReportCaption))
        << what << ": a call followed the report";
    EXPECT_EQ(fake::Double.log.back(), "ExitProcess " + std::to_string(exitCode)) << what;
  } else {
    EXPECT_EQ(exitCode, 0u) << what;
  }
  for (const auto& entry : fake::Double.files) {
    if (entry.first == "Qtv.ini" || entry.first == "Qtv.ini_widthBack") {
      continue;
    }
    auto before = scenario.files.find(entry.first);
    ASSERT_NE(before, scenario.files.end()) << what << ": " << entry.first << " appeared";
    EXPECT_EQ(entry.second.bytes, before->second.bytes)
        << what << ": " << entry.first << " changed";
  }
}

// The settings file is untouched when the failure came before it was opened for writing, and,
// where a rewrite replaces it whole at close, whatever failed: a handle on which an operation
// failed is abandoned at its close. After that, the backup, when one was made, holds the
// original bytes.
void CheckUserData(const Scenario& scenario, int failedAt, int writeOpen, int backupAt,
                   const std::string& what) {
  auto original = scenario.files.find("Qtv.ini");
  if (original == scenario.files.end()) {
    EXPECT_FALSE(fake::FileExists("Qtv.ini")) << what;
    return;
  }
  bool finished = CountReports() == 0;
  bool replacedWholeOnly = fake::Double.replacesOnClose;
  if (!finished && (writeOpen < 0 || failedAt <= writeOpen || replacedWholeOnly)) {
    EXPECT_EQ(fake::FileBytes("Qtv.ini"), original->second.bytes) << what << ": settings changed";
  }
  bool backupMade = backupAt >= 0 && failedAt > backupAt && fake::Double.calls[Op::CopyFile] > 0;
  if (!finished && writeOpen >= 0 && failedAt > writeOpen && backupMade &&
      fake::Double.files.count("Qtv.ini_widthBack") > 0 && scenario.answers.empty()) {
    EXPECT_EQ(fake::FileBytes("Qtv.ini_widthBack"), original->second.bytes)
        << what << ": backup wrong";
  }
}

TEST(FaultInjection, EveryFailingCallEndsCleanly) {
  int runs = 0;
  for (bool replacesOnClose : {false, true}) {
    for (const Scenario& scenario : Scenarios()) {
      Prepare(scenario, replacesOnClose);
      ASSERT_EQ(fake::RunProgram(scenario.program), 0u) << scenario.name;
      ASSERT_EQ(CountReports(), 0) << scenario.name;
      const std::vector<Op> clean = fake::Double.sequence;
      const int writeOpen = SettingsOpenPosition(2);
      const int backupAt = BackupPosition();
      // Between the copy and the read, the file operations flush the backup.
      const int readOpen = SettingsOpenPosition(1);

      std::map<Op, int> seen;
      for (size_t k = 0; k < clean.size(); ++k) {
        Op op = clean[k];
        int nth = ++seen[op];
        for (uint32_t error : ErrorsOf(op)) {
          Prepare(scenario, replacesOnClose);
          if (error == ShortWrite) {
            fake::ShortenCall(op, nth, 1);
          } else {
            fake::FailCall(op, nth, error);
          }
          uint32_t exitCode = fake::RunProgram(scenario.program);
          std::string what = std::string(scenario.name) + (replacesOnClose ? ", replacing" : "") +
                             ", call " + std::to_string(k + 1) + " (" + fake::OpName(op) + " #" +
                             std::to_string(nth) + ") failing with " + std::to_string(error);
          ++runs;
          CheckCommonRules(scenario, exitCode, what);
          CheckUserData(scenario, static_cast<int>(k), writeOpen, backupAt, what);
          if (IsFileOperation(op) && backupAt >= 0 && static_cast<int>(k) > backupAt &&
              static_cast<int>(k) < readOpen) {
            ASSERT_EQ(CountReports(), 0) << what << ": a backup not on disk is a failed copy";
            EXPECT_EQ(fake::Double.boxes.back().style & MB_ICON_MASK, MB_ICONEXCLAMATION_STYLE)
                << what << ": the backup question must come";
          } else if (IsFileOperation(op)) {
            uint32_t expected = error == ShortWrite     ? ShortWriteError
                                : op == Op::GetFileType ? UnknownFileTypeError
                                                        : error;
            EXPECT_EQ(exitCode, expected) << what;
          } else {
            EXPECT_EQ(CountReports(), 0) << what << ": only file operations end in a report";
          }
        }
      }
    }
  }
  EXPECT_GT(runs, 1000);
}

TEST(FaultInjection, ExhaustedMemoryAnywhereEndsWith203) {
  int runs = 0;
  for (const Scenario& scenario : Scenarios()) {
    Prepare(scenario, false);
    fake::FailAllocation(0);
    ASSERT_EQ(fake::RunProgram(scenario.program), 0u) << scenario.name;
    int allocations = fake::FailAllocation(0);
    ASSERT_GT(allocations, 0) << scenario.name;
    for (int j = 1; j <= allocations; ++j) {
      Prepare(scenario, false);
      fake::FailAllocation(j);
      uint32_t exitCode = fake::RunProgram(scenario.program);
      fake::FailAllocation(0);
      std::string what = std::string(scenario.name) + ", allocation " + std::to_string(j);
      ++runs;
      CheckCommonRules(scenario, exitCode, what);
      EXPECT_EQ(exitCode, OutOfMemoryError) << what;
      EXPECT_EQ(CountReports(), 1) << what;
    }
  }
  EXPECT_GT(runs, 50);
}

}  // namespace
