// The width viewer Panepeek.exe under Wine: what the user sees in each situation, the exit code,
// and that the folder stays as it was.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "program_texts.h"
#include "wine_test.h"

namespace winetest {
namespace {

const std::string Caption = texts::ViewerCaption;
const std::string NotFoundText = texts::ViewerNotFound;
const std::string HostRunningText = texts::HostRunning;
const std::string HeaderMissingText = texts::HeaderMissing;
const std::string HeaderRepeatedText = texts::HeaderRepeated;
const std::string EntryMissingText = texts::EntryMissing;
const std::string EntryRepeatedText = texts::EntryRepeated;

const std::string PlainSettings = "[DESKTOP]\r\nLISTWIDTH=430\r\n";

ExpectedBox ResultBox(const std::string& value) {
  return {Caption, texts::Result(value), "none", "ok", "ok"};
}

ExpectedBox ErrorBox(const std::string& text) { return {Caption, text, "stop", "ok", "ok"}; }

// A last-write time before 1980, which the MS-DOS stamp cannot hold (seconds since 1970).
constexpr long long In1975 = 157766400;  // 1975-01-01

class ViewerWineTest : public WineTest {
 protected:
  std::vector<std::string> RequiredBuildFiles() const override {
    return {ViewerProgram, std::string(HelpersBuildDir) + "box_reader.exe",
            std::string(HelpersBuildDir) + "standin_host.exe",
            std::string(HelpersBuildDir) + "file_holder.exe",
            std::string(HelpersBuildDir) + "version_reader.exe"};
  }

  void SetUp() override {
    WineTest::SetUp();
    if (!IsSkipped()) {
      program_ = folder_.CopyFromBuild(ViewerProgram);
    }
  }

  // Writes the settings file, given as UTF-8 text, as the code page 932 bytes the host keeps.
  void WriteSettings(const std::string& text) { folder_.Write("Qtv.ini", Cp932(text)); }

  // Runs the viewer from its folder, answering its boxes, and checks that it left every file of
  // the folder as it was.
  ProgramRun RunViewer(const std::vector<std::string>& actions = {"ok"},
                       const std::string& arguments = "") {
    FolderSnapshot before = Snapshot(folder_);
    ProgramRun run = RunProgram(folder_, ProgramCommandLine(folder_, program_, arguments), actions);
    EXPECT_EQ(Snapshot(folder_), before) << "the viewer changed the folder";
    return run;
  }

  std::string program_;
};

// ---- The result box --------------------------------------------------------------------------

struct ResultCase {
  const char* name;
  std::string settings;  // UTF-8; written as code page 932
  std::string arguments;
  std::string action;
  std::string shownValue;
  long long lastWriteTime = 0;  // seconds since 1970; 0: as written
};

class ViewerResultTest : public ViewerWineTest, public testing::WithParamInterface<ResultCase> {};

TEST_P(ViewerResultTest, ShowsTheValueAfterTheFirstEquals) {
  const ResultCase& row = GetParam();
  WriteSettings(row.settings);
  if (row.lastWriteTime != 0) {
    folder_.SetLastWriteTime("Qtv.ini", row.lastWriteTime);
  }
  ProgramRun run = RunViewer({row.action}, row.arguments);
  ExpectRun(run, {ResultBox(row.shownValue)}, 0);
}

const std::string LongValue(300, '7');

INSTANTIATE_TEST_SUITE_P(
    Values, ViewerResultTest,
    testing::Values(
        ResultCase{"Plain", PlainSettings, "", "ok", "430"},
        ResultCase{"AnsweredWithEnter", PlainSettings, "", "enter", "430"},
        ResultCase{"ArgumentsIgnored", PlainSettings, "450 \"x y\" /?", "ok", "430"},
        ResultCase{"EmptyValue", "[DESKTOP]\r\nLISTWIDTH=\r\n", "", "ok", ""},
        ResultCase{"BlankAndLetters", "[DESKTOP]\r\nLISTWIDTH= 43px\r\n", "", "ok", " 43px"},
        ResultCase{"KeyAfterAnotherEquals", "[DESKTOP]\r\nOLD=1 LISTWIDTH=5\r\n", "", "ok",
                   "1 LISTWIDTH=5"},
        // ソ and 表 end in the byte 0x5C, the backslash: they must reach the box whole.
        ResultCase{"JapaneseValue", "[DESKTOP]\r\nLISTWIDTH=幅ソ表\r\n", "", "ok", "幅ソ表"},
        ResultCase{"OtherSectionsAndLineEnds",
                   "[GENERAL]\r\nA=1\r\n\r\n[DESKTOP]\rLEFT=0\r\nLISTWIDTH=512", "", "ok", "512"},
        ResultCase{"CtrlZAtTheEnd", "[DESKTOP]\r\nLISTWIDTH=430\r\n\x1A", "", "ok", "430"},
        // A time the MS-DOS stamp cannot hold does not hide the file.
        ResultCase{"WrittenBefore1980", PlainSettings, "", "ok", "430", In1975},
        ResultCase{"ValueLongerThanTheReadBuffer", "[DESKTOP]\r\nLISTWIDTH=" + LongValue + "\r\n",
                   "", "ok", LongValue}),
    RowName<ResultCase>);

// ---- Refusals --------------------------------------------------------------------------------

struct RefusalCase {
  const char* name;
  const char* settings;      // UTF-8; nullptr: no settings file
  bool settingsIsDirectory;  // a folder named Qtv.ini instead of the file
  bool hostRunning;
  std::string text;
};

class ViewerRefusalTest : public ViewerWineTest, public testing::WithParamInterface<RefusalCase> {};

TEST_P(ViewerRefusalTest, ShowsOneErrorBoxAndEndsWithZero) {
  const RefusalCase& row = GetParam();
  if (row.settingsIsDirectory) {
    folder_.MakeDirectory("Qtv.ini");
  } else if (row.settings != nullptr) {
    WriteSettings(row.settings);
  }
  HeldHelper host;
  std::string whyNot;
  if (row.hostRunning) {
    ASSERT_TRUE(StartStandinHost(&host, &whyNot)) << whyNot;
  }
  ProgramRun run = RunViewer();
  ExpectRun(run, {ErrorBox(row.text)}, 0);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_TRUE(run.boxes[0].foreground) << "an error box is brought to the foreground";
}

INSTANTIATE_TEST_SUITE_P(
    Checks, ViewerRefusalTest,
    testing::Values(
        RefusalCase{"SettingsMissing", nullptr, false, false, NotFoundText},
        RefusalCase{"SettingsIsAFolder", nullptr, true, false, NotFoundText},
        RefusalCase{"SettingsMissingWhileHostRuns", nullptr, false, true, NotFoundText},
        RefusalCase{"HostRunning", PlainSettings.c_str(), false, true, HostRunningText},
        RefusalCase{"HeaderMissing", "LISTWIDTH=430\r\n", false, false, HeaderMissingText},
        RefusalCase{"HeaderInOtherCase", "[desktop]\r\nLISTWIDTH=430\r\n", false, false,
                    HeaderMissingText},
        RefusalCase{"LineEndsOfLfAlone", "[DESKTOP]\nLISTWIDTH=430\n", false, false,
                    HeaderMissingText},
        RefusalCase{"HeaderRepeated", "[DESKTOP]\r\nLISTWIDTH=430\r\n\r\n[DESKTOP]\r\n", false,
                    false, HeaderRepeatedText},
        RefusalCase{"EntryMissing", "[DESKTOP]\r\n\r\nLISTWIDTH=430\r\n", false, false,
                    EntryMissingText},
        RefusalCase{"EntryRepeated", "[DESKTOP]\r\nLISTWIDTH=430\r\n[OTHER]\r\nLISTWIDTH=5\r\n",
                    false, false, EntryRepeatedText}),
    RowName<RefusalCase>);

// ---- The settings file held open by another program ------------------------------------------

struct SharingCase {
  const char* name;
  const char* access;  // the other program's access: r, w
  const char* share;   // and what it shares: r, w, or "-" for nothing
  bool refused;        // the viewer's open fails with a sharing violation
};

class ViewerSharingTest : public ViewerWineTest, public testing::WithParamInterface<SharingCase> {};

TEST_P(ViewerSharingTest, OpensOnlyBesideReaders) {
  const SharingCase& row = GetParam();
  WriteSettings(PlainSettings);
  HeldHelper holder;
  std::string whyNot;
  ASSERT_TRUE(StartFileHolder(&holder, folder_, "Qtv.ini", row.access, row.share, &whyNot))
      << whyNot;
  ProgramRun run = RunViewer();
  if (!row.refused) {
    ExpectRun(run, {ResultBox("430")}, 0);
    return;
  }
  ASSERT_EQ(run.boxes.size(), 1u) << run.report;
  ExpectRuntimeErrorReport(run.boxes[0], 32, folder_.PathOf(program_));
  EXPECT_TRUE(run.problems.empty()) << run.report;
  EXPECT_TRUE(run.ended);
  EXPECT_EQ(run.exitCode, 32u);
}

INSTANTIATE_TEST_SUITE_P(OtherProgram, ViewerSharingTest,
                         testing::Values(SharingCase{"WriterSharingRead", "w", "r", true},
                                         SharingCase{"ReaderSharingNothing", "r", "-", true},
                                         SharingCase{"WriterSharingAll", "rw", "rw", true},
                                         SharingCase{"ReaderSharingRead", "r", "r", false},
                                         SharingCase{"ReaderSharingAll", "r", "rw", false}),
                         RowName<SharingCase>);

// ---- The version record ----------------------------------------------------------------------

TEST_F(ViewerWineTest, VersionRecordAsWindowsReadsIt) {
  std::vector<std::pair<std::string, std::string>> expected = {
      {"fixed-file", "1.0.0.1"},
      {"fixed-product", "1.20.0.0"},
      {"translation", "0411 03A4"},
      {"string.Comments", "スレッド・ペインの幅を表示"},
      {"string.FileDescription", "Panepeek for Mirvel"},
      {"string.FileVersion", "1.0.0.1"},
      {"string.OriginalFilename", "Panepeek.exe"},
      {"string.ProductName", "Mirvel スレ幅修復ツール"},
      {"string.ProductVersion", "1.20"},
  };
  // No icon-group lines: the viewer has no icon.
  EXPECT_EQ(ReadVersionRecord(folder_.PathOf(program_)), expected);
}

}  // namespace
}  // namespace winetest
