// The width repair tool Panefix.exe under Wine: what the user sees in each situation, the exit
// code, and what the settings file and its backup hold afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "program_texts.h"
#include "settings_text.h"
#include "wine_test.h"

namespace winetest {
namespace {

const std::string Caption = texts::RepairCaption;
const std::string SuccessCaption = texts::SuccessCaption;
const std::string SuccessText = texts::Success;
const std::string TooManyText = texts::TooManyArguments;
const std::string FormatText = texts::BadFormat;
const std::string RangeText = texts::OutOfRange;
const std::string NotFoundText = texts::RepairNotFound;
const std::string HeaderMissingText = texts::HeaderMissing;
const std::string HeaderRepeatedText = texts::HeaderRepeated;
const std::string EntryMissingText = texts::EntryMissing;
const std::string EntryRepeatedText = texts::EntryRepeated;

const std::string Settings = "Qtv.ini";
const std::string Backup = "Qtv.ini_widthBack";

const std::string PlainSettings = "[DESKTOP]\r\nLISTWIDTH=120\r\n";

// The attribute bits the repair clears: read-only, hidden, system.
constexpr uint32_t ReadOnly = 0x1;
constexpr uint32_t Hidden = 0x2;
constexpr uint32_t System = 0x4;
constexpr uint32_t BlockingAttributes = ReadOnly | Hidden | System;

ExpectedBox SuccessBox() { return {SuccessCaption, SuccessText, "none", "ok", "ok"}; }

ExpectedBox ErrorBox(const std::string& text) { return {Caption, text, "stop", "ok", "ok"}; }

// The question after a failed backup copy; verb is 作成 (no backup yet) or 更新 (one exists).
ExpectedBox BackupQuestion(const std::string& verb) {
  return {Caption, texts::BackupQuestion(verb), "exclamation", "yes,no", "no"};
}

// The settings file as the run leaves it: the entry line set to width, the rest as given.
std::string RepairedPlainSettings(int width) {
  return "[DESKTOP]\r\nLISTWIDTH=" + std::to_string(width) + "\r\n";
}

class RepairWineTest : public WineTest {
 protected:
  std::vector<std::string> RequiredBuildFiles() const override {
    return {RepairProgram, std::string(HelpersBuildDir) + "box_reader.exe",
            std::string(HelpersBuildDir) + "file_holder.exe",
            std::string(HelpersBuildDir) + "file_attributes.exe",
            std::string(HelpersBuildDir) + "version_reader.exe"};
  }

  void SetUp() override {
    WineTest::SetUp();
    if (!IsSkipped()) {
      program_ = folder_.CopyFromBuild(RepairProgram);
    }
  }

  // Writes the settings file, given as UTF-8 text, as the code page 932 bytes the host keeps;
  // returns those bytes.
  std::string WriteSettings(const std::string& text) {
    std::string bytes = Cp932(text);
    folder_.Write(Settings, bytes);
    return bytes;
  }

  // Runs the repair tool from its folder with rawArguments (UTF-8) put right after its quoted
  // path on the command line, so that they bring their own separator.
  ProgramRun RunRepairWith(const std::string& rawArguments,
                           const std::vector<std::string>& actions) {
    return RunProgram(folder_, ProgramCommandLine(folder_, program_) + Cp932(rawArguments),
                      actions);
  }

  // Runs the repair tool from its folder as Explorer would start it, with arguments (UTF-8).
  ProgramRun RunRepair(const std::vector<std::string>& actions, const std::string& arguments = "") {
    return RunProgram(folder_, ProgramCommandLine(folder_, program_, Cp932(arguments)), actions);
  }

  // Bits 0x7 of a file's attributes as Windows reports them; all set when the query fails.
  uint32_t BlockingAttributesOf(const std::string& name) {
    uint32_t attributes = 0;
    EXPECT_TRUE(WindowsAttributes(folder_, name, &attributes))
        << "GetFileAttributesA failed for " << name << " with " << attributes;
    return attributes & BlockingAttributes;
  }

  std::string program_;
};

// ---- A successful repair ---------------------------------------------------------------------

struct RepairCase {
  const char* name;
  std::string settings;  // UTF-8; written as code page 932
  std::string arguments;
  const char* oldBackup;        // UTF-8; nullptr: no backup before the run
  std::string action;           // on the success box
  std::string repaired;         // the settings file afterwards, UTF-8
  long long lastWriteTime = 0;  // of the settings file, seconds since 1970; 0: as written
};

class RepairResultTest : public RepairWineTest, public testing::WithParamInterface<RepairCase> {};

TEST_P(RepairResultTest, RewritesTheEntryLineAndKeepsTheOldFile) {
  const RepairCase& row = GetParam();
  std::string original = WriteSettings(row.settings);
  if (row.oldBackup != nullptr) {
    folder_.Write(Backup, Cp932(row.oldBackup));
  }
  if (row.lastWriteTime != 0) {
    folder_.SetLastWriteTime(Settings, row.lastWriteTime);
  }
  ProgramRun run = RunRepair({row.action}, row.arguments);
  ExpectRun(run, {SuccessBox()}, 0);
  EXPECT_EQ(folder_.Read(Settings), Cp932(row.repaired));
  EXPECT_EQ(folder_.Read(Backup), original) << "the backup holds the file as it was";
}

// count lines of filler with a Japanese value, which the settings file holds as code page 932.
std::string ManyLines(int count) { return support::FillerLines(count, "\r\n", "値"); }

const std::string LongLine = "COLUMNS=" + std::string(300, '9');

// A last-write time before 1980, which an MS-DOS date cannot hold.
constexpr long long In1975 = 157766400;  // 1975-01-01

INSTANTIATE_TEST_SUITE_P(
    Files, RepairResultTest,
    testing::Values(
        RepairCase{"NoArgumentWrites430", PlainSettings, "", nullptr, "ok",
                   RepairedPlainSettings(430)},
        // A time that has no MS-DOS date does not hide the file.
        RepairCase{"WrittenBefore1980", PlainSettings, "450", nullptr, "ok",
                   RepairedPlainSettings(450), In1975},
        RepairCase{"ArgumentWidth", PlainSettings, "450", nullptr, "ok",
                   RepairedPlainSettings(450)},
        RepairCase{"SuccessBoxAnsweredWithEnter", PlainSettings, "32767", nullptr, "enter",
                   RepairedPlainSettings(32767)},
        RepairCase{"OldBackupReplaced", PlainSettings, "1", "[DESKTOP]\r\nLISTWIDTH=9\r\n", "ok",
                   RepairedPlainSettings(1)},
        // The whole entry line goes, with the text before the key and after the value.
        RepairCase{"EntryLineReplacedWhole", "[DESKTOP]\r\nOLD=1 LISTWIDTH=77 px ;幅\r\n", "450",
                   nullptr, "ok", RepairedPlainSettings(450)},
        // Every other line stays as it was, line ends become CR LF, LF alone stays inside its
        // line, and 表 and ソ (second byte 0x5C) pass whole.
        RepairCase{
            "OtherLinesKept",
            "[GENERAL]\r\nNAME=表ソ\r\n\r\n[DESKTOP]\rLEFT=0\r\nLISTWIDTH=5\r\nTOP=1\n2\r\n"
            "\r\n[OTHER]\r\nLISTWIDTH=9",
            "450", nullptr, "ok",
            "[GENERAL]\r\nNAME=表ソ\r\n\r\n[DESKTOP]\r\nLEFT=0\r\nLISTWIDTH=450\r\nTOP=1\n2\r\n"
            "\r\n[OTHER]\r\nLISTWIDTH=9\r\n"},
        RepairCase{"TrailingEmptyLineKept", "[DESKTOP]\r\nLISTWIDTH=5\r\n\r\n", "450", nullptr,
                   "ok", "[DESKTOP]\r\nLISTWIDTH=450\r\n\r\n"},
        RepairCase{"LineLongerThanTheBuffers", "[DESKTOP]\r\n" + LongLine + "\r\nLISTWIDTH=5",
                   "450", nullptr, "ok", "[DESKTOP]\r\n" + LongLine + "\r\nLISTWIDTH=450\r\n"},
        RepairCase{"CtrlZAtTheEndDropped", "[DESKTOP]\r\nLISTWIDTH=5\r\n\x1A", "450", nullptr, "ok",
                   RepairedPlainSettings(450)},
        // What lies after an end-of-text mark inside the file is not read as lines, but it is
        // written back as it stood.
        RepairCase{"BytesAfterCtrlZKept", "[DESKTOP]\r\nLISTWIDTH=5\r\n\x1A[DESKTOP]\nX\r", "450",
                   nullptr, "ok", "[DESKTOP]\r\nLISTWIDTH=450\r\n\x1A[DESKTOP]\nX\r"},
        // Lines beyond the 1000 the store holds are written back unchanged, even a second
        // header there.
        RepairCase{"LinesBeyondTheThousandthKept",
                   "[DESKTOP]\r\nLISTWIDTH=5\r\n" + ManyLines(998) + "[DESKTOP]\rLAST\n", "450",
                   nullptr, "ok",
                   "[DESKTOP]\r\nLISTWIDTH=450\r\n" + ManyLines(998) + "[DESKTOP]\rLAST\n"}),
    RowName<RepairCase>);

// ---- The command line ------------------------------------------------------------------------

struct ArgumentCase {
  const char* name;
  std::string rawArguments;  // after the program's quoted path, UTF-8
  int width;                 // the width written; 0: refused
  std::string refusal;       // the message of a refusal
};

class RepairArgumentTest : public RepairWineTest,
                           public testing::WithParamInterface<ArgumentCase> {};

TEST_P(RepairArgumentTest, AcceptsOneWidthOrRefusesBeforeTouchingAnyFile) {
  const ArgumentCase& row = GetParam();
  WriteSettings(PlainSettings);
  FolderSnapshot before = Snapshot(folder_);
  ProgramRun run = RunRepairWith(row.rawArguments, {"ok"});
  if (row.width != 0) {
    ExpectRun(run, {SuccessBox()}, 0);
    EXPECT_EQ(folder_.Read(Settings), RepairedPlainSettings(row.width));
  } else {
    ExpectRun(run, {ErrorBox(row.refusal)}, 0);
    EXPECT_EQ(Snapshot(folder_), before) << "a refused argument left a trace on disk";
  }
}

// Unquoted arguments of exactly 4096 bytes and of one byte more, both worth 450.
const std::string Zeros4091 = std::string(4091, '0');
const std::string Zeros4092 = std::string(4092, '0');

INSTANTIATE_TEST_SUITE_P(
    CommandLines, RepairArgumentTest,
    testing::Values(
        ArgumentCase{"Quoted", " \"450\"", 450, ""},
        ArgumentCase{"QuotedLeadingBlank", " \" 450\"", 450, ""},
        ArgumentCase{"QuotedInnerBlank", " \"45 0\"", 0, FormatText},
        ArgumentCase{"UnclosedQuoteTakesTheTrailingBlank", " \"450 ", 0, FormatText},
        ArgumentCase{"QuotesJoinRuns", " 4\"5\"0", 450, ""},
        ArgumentCase{"TabSeparates", "\t450", 450, ""},
        ArgumentCase{"EmptyQuotedPairIsNoArgument", " \"\"", 430, ""},
        ArgumentCase{"EmptyQuotedPairBeforeTheWidth", " \"\" 450", 450, ""},
        ArgumentCase{"TwoArguments", " 450 460", 0, TooManyText},
        ArgumentCase{"Exactly4096BytesStayOne", " " + Zeros4091 + "00450", 450, ""},
        ArgumentCase{"OneByteMoreSplitsInTwo", " " + Zeros4092 + "00450", 0, TooManyText},
        ArgumentCase{"Overflowing4096Digits", " " + std::string(4096, '9'), 0, FormatText},
        ArgumentCase{"Zero", " 0", 0, RangeText}, ArgumentCase{"Negative", " -5", 0, RangeText},
        ArgumentCase{"AboveTheRange", " 32768", 0, RangeText},
        ArgumentCase{"HexWithDollar", " $1AF", 431, ""},
        ArgumentCase{"HexWith0x", " 0x1c2", 450, ""},
        ArgumentCase{"FullWidthDigits", " ４５０", 0, FormatText}),
    RowName<ArgumentCase>);

// ---- Refusals over the settings file ---------------------------------------------------------

struct RefusalCase {
  const char* name;
  const char* settings;      // UTF-8; nullptr: no settings file
  bool settingsIsDirectory;  // a folder named Qtv.ini instead of the file
  std::string text;
};

class RepairRefusalTest : public RepairWineTest, public testing::WithParamInterface<RefusalCase> {};

TEST_P(RepairRefusalTest, ShowsOneErrorBoxAndLeavesTheSettingsAlone) {
  const RefusalCase& row = GetParam();
  std::string original;
  if (row.settingsIsDirectory) {
    folder_.MakeDirectory(Settings);
  } else if (row.settings != nullptr) {
    original = WriteSettings(row.settings);
  }
  FolderSnapshot before = Snapshot(folder_);
  ProgramRun run = RunRepair({"ok"}, "450");
  ExpectRun(run, {ErrorBox(row.text)}, 0);
  FolderSnapshot after = Snapshot(folder_);
  if (row.text == NotFoundText) {
    EXPECT_EQ(after, before) << "nothing is made without a settings file";
    return;
  }
  // The locator runs after the backup: the backup is there, the settings file untouched.
  EXPECT_EQ(after[Settings], before[Settings]);
  EXPECT_EQ(folder_.Read(Backup), original);
}

INSTANTIATE_TEST_SUITE_P(
    Checks, RepairRefusalTest,
    testing::Values(
        RefusalCase{"SettingsMissing", nullptr, false, NotFoundText},
        RefusalCase{"SettingsIsAFolder", nullptr, true, NotFoundText},
        RefusalCase{"HeaderMissing", "[desktop]\r\nLISTWIDTH=430\r\n", false, HeaderMissingText},
        RefusalCase{"HeaderRepeated", "[DESKTOP]\r\nLISTWIDTH=430\r\n\r\n[DESKTOP]\r\n", false,
                    HeaderRepeatedText},
        RefusalCase{"EntryMissing", "[DESKTOP]\r\n\r\nLISTWIDTH=430\r\n", false, EntryMissingText},
        RefusalCase{"EntryRepeated", "[DESKTOP]\r\nLISTWIDTH=430\r\nOLDLISTWIDTH=5\r\n", false,
                    EntryRepeatedText}),
    RowName<RefusalCase>);

// ---- What may stand in the way of the backup -------------------------------------------------

// Windows also refuses to copy over a hidden file; Wine copies over it, so that way of blocking
// the copy cannot be shown here.
enum class Blocker {
  Directory,         // a folder named Qtv.ini_widthBack: no backup file as far as the tool sees
  HeldWithoutShare,  // an older backup that another program holds open, sharing nothing
  ReadOnlyBackup,    // an older backup with the read-only attribute
  HeldForWriting,    // an older backup another program writes, sharing reading and writing: the
                     // copy goes through it, and so must the copy's flush
};

struct BackupCase {
  const char* name;
  Blocker blocker;
  std::string answer;  // to the question; to the success box when none is asked
  std::string verb;    // in the question; empty: none is asked
};

class RepairBackupTest : public RepairWineTest, public testing::WithParamInterface<BackupCase> {};

TEST_P(RepairBackupTest, AsksOnlyWhenTheBackupCannotBeWritten) {
  const BackupCase& row = GetParam();
  std::string original = WriteSettings(PlainSettings);
  const std::string oldBackup = Cp932("[DESKTOP]\r\nLISTWIDTH=9\r\n");
  HeldHelper holder;
  std::string whyNot;
  switch (row.blocker) {
    case Blocker::Directory:
      folder_.MakeDirectory(Backup);
      break;
    case Blocker::HeldWithoutShare:
      folder_.Write(Backup, oldBackup);
      ASSERT_TRUE(StartFileHolder(&holder, folder_, Backup, "r", "-", &whyNot)) << whyNot;
      break;
    case Blocker::ReadOnlyBackup:
      folder_.Write(Backup, oldBackup);
      ASSERT_TRUE(SetWindowsAttributes(folder_, Backup, ReadOnly));
      break;
    case Blocker::HeldForWriting:
      folder_.Write(Backup, oldBackup);
      ASSERT_TRUE(StartFileHolder(&holder, folder_, Backup, "w", "rw", &whyNot)) << whyNot;
      break;
  }
  if (row.verb.empty()) {
    ProgramRun run = RunRepair({row.answer}, "450");
    ExpectRun(run, {SuccessBox()}, 0);
    EXPECT_EQ(folder_.Read(Settings), RepairedPlainSettings(450));
    EXPECT_EQ(folder_.Read(Backup), original) << "the backup is not the new copy";
    return;
  }
  FolderSnapshot before = Snapshot(folder_);
  bool goOn = row.answer == "yes";
  ProgramRun run = RunRepair(
      goOn ? std::vector<std::string>{row.answer, "ok"} : std::vector<std::string>{row.answer},
      "450");
  if (goOn) {
    ExpectRun(run, {BackupQuestion(row.verb), SuccessBox()}, 0);
    EXPECT_EQ(folder_.Read(Settings), RepairedPlainSettings(450));
    FolderSnapshot after = Snapshot(folder_);
    EXPECT_EQ(after[Backup], before[Backup]) << "the failed copy changed the old backup";
  } else {
    ExpectRun(run, {BackupQuestion(row.verb)}, 0);
    EXPECT_EQ(Snapshot(folder_), before) << "the run went on after No";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Blocked, RepairBackupTest,
    testing::Values(BackupCase{"FolderAnsweredYes", Blocker::Directory, "yes", "作成"},
                    BackupCase{"FolderAnsweredNo", Blocker::Directory, "no", "作成"},
                    BackupCase{"FolderAnsweredWithEnter", Blocker::Directory, "enter", "作成"},
                    BackupCase{"HeldAnsweredYes", Blocker::HeldWithoutShare, "yes", "更新"},
                    BackupCase{"HeldAnsweredWithEnter", Blocker::HeldWithoutShare, "enter", "更新"},
                    BackupCase{"ReadOnlyAnsweredYes", Blocker::ReadOnlyBackup, "yes", "更新"},
                    BackupCase{"HeldForWritingIsReplaced", Blocker::HeldForWriting, "ok", ""}),
    RowName<BackupCase>);

// ---- Attributes of the settings file ---------------------------------------------------------

std::string AttributeName(const testing::TestParamInfo<uint32_t>& row) {
  std::string name;
  name += (row.param & ReadOnly) != 0 ? "ReadOnly" : "";
  name += (row.param & Hidden) != 0 ? "Hidden" : "";
  name += (row.param & System) != 0 ? "System" : "";
  return name;
}

class RepairAttributeTest : public RepairWineTest, public testing::WithParamInterface<uint32_t> {};

TEST_P(RepairAttributeTest, ClearsReadOnlyHiddenAndSystemBeforeTheCopy) {
  std::string original = WriteSettings(PlainSettings);
  // Wine keeps hidden and system in an extended attribute, which a user may not write on a file
  // that has just become read-only: those two go first.
  ASSERT_TRUE(SetWindowsAttributes(folder_, Settings, GetParam() & ~ReadOnly));
  ASSERT_TRUE(SetWindowsAttributes(folder_, Settings, GetParam()));
  ASSERT_EQ(BlockingAttributesOf(Settings), GetParam()) << "Wine did not keep the attributes";
  ProgramRun run = RunRepair({"ok"}, "450");
  ExpectRun(run, {SuccessBox()}, 0);
  EXPECT_EQ(folder_.Read(Settings), RepairedPlainSettings(450));
  EXPECT_EQ(BlockingAttributesOf(Settings), 0u);
  EXPECT_EQ(folder_.Read(Backup), original);
  // The copy takes the attributes along: made before the change, it would keep them.
  EXPECT_EQ(BlockingAttributesOf(Backup), 0u);
}

INSTANTIATE_TEST_SUITE_P(Set, RepairAttributeTest,
                         testing::Values(ReadOnly, Hidden, System, ReadOnly | Hidden | System),
                         AttributeName);

// ---- The settings file held open by another program ------------------------------------------

enum class Outcome {
  Repaired,          // the success box
  Stopped,           // No to the backup question, and nothing more
  SharingViolation,  // the I/O failure report with the number 32
};

struct SharingCase {
  const char* name;
  const char* access;  // the other program's access: r, w
  const char* share;   // and what it shares: r, w, or "-" for nothing
  bool copyFails;      // the backup copy cannot read the file: the question comes first
  std::string answer;  // to the question
  Outcome outcome;
};

class RepairSharingTest : public RepairWineTest, public testing::WithParamInterface<SharingCase> {};

TEST_P(RepairSharingTest, ReadsAndWritesOnlyBesideReaders) {
  const SharingCase& row = GetParam();
  std::string original = WriteSettings(PlainSettings);
  HeldHelper holder;
  std::string whyNot;
  ASSERT_TRUE(StartFileHolder(&holder, folder_, Settings, row.access, row.share, &whyNot))
      << whyNot;
  FolderSnapshot before = Snapshot(folder_);
  std::vector<std::string> actions;
  if (row.copyFails) {
    actions.push_back(row.answer);
  }
  if (row.outcome != Outcome::Stopped) {
    actions.push_back("ok");
  }
  ProgramRun run = RunRepair(actions, "450");
  SCOPED_TRACE("box_reader report:\n" + run.report);
  EXPECT_TRUE(run.problems.empty());
  EXPECT_TRUE(run.ended);
  ASSERT_EQ(run.boxes.size(), actions.size());
  if (row.copyFails) {
    ExpectBox(run.boxes.front(), BackupQuestion("作成"));
  }
  switch (row.outcome) {
    case Outcome::Repaired:
      ExpectBox(run.boxes.back(), SuccessBox());
      EXPECT_EQ(run.exitCode, 0u);
      EXPECT_EQ(folder_.Read(Settings), RepairedPlainSettings(450));
      break;
    case Outcome::Stopped:
      EXPECT_EQ(run.exitCode, 0u);
      EXPECT_EQ(Snapshot(folder_), before);
      break;
    case Outcome::SharingViolation:
      ExpectRuntimeErrorReport(run.boxes.back(), 32, folder_.PathOf(program_));
      EXPECT_EQ(run.exitCode, 32u);
      EXPECT_EQ(Snapshot(folder_)[Settings], before[Settings]) << "the settings file was touched";
      break;
  }
  if (row.copyFails) {
    EXPECT_FALSE(folder_.Exists(Backup));
  } else {
    EXPECT_EQ(folder_.Read(Backup), original);
  }
}

// Wine's file copy reads its source sharing reading and writing, so a writer that shares
// reading lets the backup through and only the tool's own read, which shares reading alone, is
// refused.
INSTANTIATE_TEST_SUITE_P(OtherProgram, RepairSharingTest,
                         testing::Values(SharingCase{"ReaderSharingAll", "r", "rw", false, "",
                                                     Outcome::Repaired},
                                         SharingCase{"ReaderSharingReadRefusesTheWrite", "r", "r",
                                                     false, "", Outcome::SharingViolation},
                                         SharingCase{"WriterSharingReadRefusesTheRead", "w", "r",
                                                     false, "", Outcome::SharingViolation},
                                         SharingCase{"ReaderSharingNothingAnsweredYes", "r", "-",
                                                     true, "yes", Outcome::SharingViolation},
                                         SharingCase{"WriterSharingNothingAnsweredYes", "w", "-",
                                                     true, "yes", Outcome::SharingViolation},
                                         SharingCase{"WriterSharingNothingAnsweredNo", "w", "-",
                                                     true, "no", Outcome::Stopped}),
                         RowName<SharingCase>);

// ---- A settings file of another user ---------------------------------------------------------

struct OtherOwnerCase {
  const char* name;
  mode_t mode;  // of the settings file, which belongs to root
  std::vector<std::string> actions;
  std::vector<ExpectedBox> boxes;  // before the I/O failure report, if any
  uint32_t failure;                // the error number of the report that ends the run; 0: none
  bool backupMade;
};

class RepairOtherOwnerTest : public RepairWineTest,
                             public testing::WithParamInterface<OtherOwnerCase> {};

TEST_P(RepairOtherOwnerTest, StopsWhereTheUserMayNotGoAndKeepsTheFile) {
  const OtherOwnerCase& row = GetParam();
  std::string original = WriteSettings(PlainSettings);
  std::string whyNot;
  ASSERT_EQ(chmod(folder_.PathOf(Settings).c_str(), row.mode), 0);
  if (!GiveToAnotherUser(folder_.PathOf(Settings), &whyNot)) {
    GTEST_SKIP() << whyNot;
  }
  FolderSnapshot before = Snapshot(folder_);
  ProgramRun run = RunRepair(row.actions, "450");
  SCOPED_TRACE("box_reader report:\n" + run.report);
  EXPECT_TRUE(run.problems.empty());
  EXPECT_TRUE(run.ended);
  EXPECT_EQ(run.exitCode, row.failure);
  ASSERT_EQ(run.boxes.size(), row.boxes.size() + (row.failure != 0 ? 1 : 0));
  for (size_t i = 0; i < row.boxes.size(); ++i) {
    ExpectBox(run.boxes[i], row.boxes[i]);
  }
  if (row.failure != 0) {
    ExpectRuntimeErrorReport(run.boxes.back(), row.failure, folder_.PathOf(program_));
  }
  EXPECT_EQ(Snapshot(folder_)[Settings], before[Settings]) << "the settings file was touched";
  if (row.backupMade) {
    EXPECT_EQ(folder_.Read(Backup), original);
  } else {
    EXPECT_FALSE(folder_.Exists(Backup));
  }
}

constexpr uint32_t AccessDenied = 5;
const std::string AttributeText = texts::AttributeRefused;

INSTANTIATE_TEST_SUITE_P(
    Permissions, RepairOtherOwnerTest,
    testing::Values(
        // Readable, so copied and read, but the open for writing is refused.
        OtherOwnerCase{"NotWritable", 0644, {"ok"}, {}, AccessDenied, true},
        // Read-only, and only its owner may change that.
        OtherOwnerCase{"ReadOnly", 0444, {"ok"}, {ErrorBox(AttributeText)}, 0, false},
        // Present, but neither the copy nor the tool's own read may open it.
        OtherOwnerCase{"NotReadableAnsweredYes",
                       0600,
                       {"yes", "ok"},
                       {BackupQuestion("作成")},
                       AccessDenied,
                       false},
        OtherOwnerCase{"NotReadableAnsweredNo", 0600, {"no"}, {BackupQuestion("作成")}, 0, false}),
    RowName<OtherOwnerCase>);

// The open for reading and the open for writing are two failure sites, each with its own place,
// and a site is fixed: the same failure again reports the same place.
TEST_F(RepairWineTest, ReadAndWriteFailuresReportTheirOwnSites) {
  WriteSettings(PlainSettings);
  std::string whyNot;
  uint32_t readSite = 0;
  {
    HeldHelper writer;
    ASSERT_TRUE(StartFileHolder(&writer, folder_, Settings, "w", "r", &whyNot)) << whyNot;
    ProgramRun run = RunRepair({"ok"}, "450");
    ASSERT_EQ(run.boxes.size(), 1u) << run.report;
    readSite = ExpectRuntimeErrorReport(run.boxes[0], 32, folder_.PathOf(program_));
  }
  HeldHelper reader;
  ASSERT_TRUE(StartFileHolder(&reader, folder_, Settings, "r", "r", &whyNot)) << whyNot;
  ProgramRun run = RunRepair({"ok"}, "450");
  ASSERT_EQ(run.boxes.size(), 1u) << run.report;
  uint32_t writeSite = ExpectRuntimeErrorReport(run.boxes[0], 32, folder_.PathOf(program_));
  EXPECT_NE(readSite, writeSite);
  run = RunRepair({"ok"}, "450");
  ASSERT_EQ(run.boxes.size(), 1u) << run.report;
  EXPECT_EQ(ExpectRuntimeErrorReport(run.boxes[0], 32, folder_.PathOf(program_)), writeSite);
}

// ---- What is on disk before the success box --------------------------------------------------

// The steps of a traced run that decide what a power cut could undo, in order: Qtv.ini opened
// for writing (Wine's server opens the files), a file of the folder written, a file flushed
// (once its flush has returned), and box_reader's report of a box. A step repeated at once
// counts once.
std::vector<std::string> DiskSteps(const std::string& trace, const TestFolder& folder) {
  const std::regex call(R"((\w+)\((\d+<([^>]*)>)?(.*)\)\s+= (\d+)(<([^>]*)>)?$)");
  const std::string inFolder = folder.path() + "/";
  std::map<std::string, std::string> unfinished;  // by process: the start of its call
  std::vector<std::string> steps;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    std::string pid = line.substr(0, line.find(' '));
    line = line.substr(line.find_first_not_of(' ', pid.size()));
    const std::string pause = " <unfinished ...>";
    if (line.size() > pause.size() &&
        line.compare(line.size() - pause.size(), pause.size(), pause) == 0) {
      unfinished[pid] = line.substr(0, line.size() - pause.size());
      continue;
    }
    if (line.rfind("<... ", 0) == 0) {
      line = unfinished[pid] + line.substr(line.find(" resumed>") + 9);
    }
    std::smatch m;
    if (!std::regex_search(line, m, call)) {
      continue;
    }
    std::string name = m[1], path = m[3], args = m[4], opened = m[7];
    std::string step;
    if (name == "openat" && opened == inFolder + Settings &&
        (args.find("O_RDWR") != std::string::npos || args.find("O_WRONLY") != std::string::npos)) {
      step = "open " + Settings + " for writing";
    } else if (name == "write" && args.find("\"box=") != std::string::npos) {
      step = "box";
    } else if ((name == "write" || name == "fsync") && path.rfind(inFolder, 0) == 0) {
      step = (name == "write" ? "write " : "flush ") + path.substr(inFolder.size());
    }
    if (!step.empty() && (steps.empty() || steps.back() != step)) {
      steps.push_back(step);
    }
  }
  return steps;
}

// The backup is flushed before Qtv.ini is opened for writing, and the new text before the box
// says so, as strace sees the program and the wineserver do it (the 32-bit Wine's user-mode
// emulation makes the same calls to Linux).
TEST_F(RepairWineTest, BackupAndNewTextReachTheDiskBeforeTheSuccessBox) {
  WriteSettings(PlainSettings);
  const std::string trace = folder_.PathOf("trace");
  ProgramRun run = RunProgramTraced(folder_, ProgramCommandLine(folder_, program_, "450"), {"ok"},
                                    "trace=openat,write,fsync", trace);
  ExpectRun(run, {SuccessBox()}, 0);
  EXPECT_EQ(DiskSteps(ReadWholeFile(trace), folder_),
            (std::vector<std::string>{"write " + Backup, "flush " + Backup,
                                      "open " + Settings + " for writing", "write " + Settings,
                                      "flush " + Settings, "box"}));
}

// ---- The version record ----------------------------------------------------------------------

TEST_F(RepairWineTest, VersionRecordAsWindowsReadsIt) {
  std::vector<std::pair<std::string, std::string>> expected = {
      {"fixed-file", "1.20.0.34"},
      {"fixed-product", "1.20.0.0"},
      {"translation", "0411 03A4"},
      {"string.Comments", "スレッド・ペインの幅を変更します。 (Mirvel 用)"},
      {"string.FileDescription", "Panefix"},
      {"string.FileVersion", "1.20.0.34"},
      {"string.InternalName", "Panefix"},
      {"string.OriginalFilename", "Panefix.exe"},
      {"string.ProductName", "Mirvel スレ幅修復ツール"},
      {"string.ProductVersion", "1.20"},
      {"string.Usage", "Panefix.exe [ピクセル数]"},
      {"icon-group", "A1"},
      {"icon-image", "32x32 colours=16 bits=4"},
      {"icon-image", "16x16 colours=16 bits=4"},
  };
  EXPECT_EQ(ReadVersionRecord(folder_.PathOf(program_)), expected);
}

}  // namespace
}  // namespace winetest
