// The native repair program end to end: real settings files in a scratch folder, the program run
// there, its output, exit code, and the settings file, its backup and their neighbours afterwards.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "native_support.h"
#include "program_texts.h"
#include "settings_text.h"

namespace {

using native::ChildResult;
using native::Cp932;
using native::EntryState;
using native::Escaped;
using native::RowName;
using native::RunOptions;
using native::ScratchFolder;
using support::FillerLines;

using FolderMap = std::map<std::string, EntryState>;

const std::string RepairProgram = PANEFIX_PROGRAM;
const std::string ViewerProgram = PANEPEEK_PROGRAM;
const std::string SettingsName = "Qtv.ini";
const std::string BackupName = "Qtv.ini_widthBack";

// The repair tool's boxes as the terminal shows them: every error box and the backup question
// carry the program caption on their first line.
std::string Shown(const char* text) { return texts::OnTerminal(texts::RepairCaption, text); }
const std::string Success = texts::OnTerminal(texts::SuccessCaption, texts::Success);
// The not-found message, and below it what a Linux user does about it.
const std::string NotFound =
    Shown(texts::RepairNotFound) + "Run panefix in the folder that holds Qtv.ini.\n";
const std::string AttributeRefused = Shown(texts::AttributeRefused);
const std::string TooMany = Shown(texts::TooManyArguments);
const std::string BadFormat = Shown(texts::BadFormat);
const std::string OutOfRange = Shown(texts::OutOfRange);
const std::string HeaderMissing = Shown(texts::HeaderMissing);
const std::string HeaderRepeated = Shown(texts::HeaderRepeated);
const std::string EntryMissing = Shown(texts::EntryMissing);
const std::string EntryRepeated = Shown(texts::EntryRepeated);

const std::string CreateVerb = texts::CreateVerb;
const std::string UpdateVerb = texts::UpdateVerb;

// The backup question with its prompt, as the terminal shows it before the answer is read.
std::string Question(const std::string& verb) {
  std::string shown = texts::OnTerminal(texts::RepairCaption, texts::BackupQuestion(verb));
  return shown.substr(0, shown.size() - 1) + texts::YesNoPrompt + "\n";
}

// The I/O failure report for an error number, any failure site, with its second line: the file
// and the system's reason. The number is right-aligned in three places; a longer one widens the
// field.
std::regex Report(int errorNumber, const std::string& reason) {
  std::string number = std::to_string(errorNumber);
  std::string fill(number.size() < 3 ? 3 - number.size() : 0, ' ');
  return std::regex(std::string(texts::ReportCaption) + "\n" + texts::ReportStart + fill + number +
                    " at [0-9A-F]{8}\nQtv\\.ini: " + reason + "\n");
}

const std::string Basic = "[DESKTOP]\r\nLISTWIDTH=1\r\n";

// Basic repaired to width, as it is written back.
std::string Repaired(const std::string& width) {
  return "[DESKTOP]\r\nLISTWIDTH=" + width + "\r\n";
}

// Neighbours of the settings file that no run may touch. The first has a name that only begins
// like it, and holds settings that a run would accept.
void AddNeighbours(const ScratchFolder& folder) {
  native::WriteBytes(folder / "Qtv.ini.txt", Basic);
  native::WriteBytes(folder / "Qtv.ini_widthBack.old", Basic);
  ASSERT_EQ(0, mkdir((folder / "Ostrel").c_str(), 0755));
}

// The folder before and after one run of the repair program, and what the run showed.
struct RepairRun {
  ChildResult child;
  FolderMap before;
  FolderMap after;
};

FolderMap WithoutTheTwoFiles(FolderMap state) {
  state.erase(SettingsName);
  state.erase(BackupName);
  return state;
}

// Runs the repair program in folder with args and checks that every entry but the settings file
// and its backup stays as it was.
RepairRun RunRepair(const ScratchFolder& folder, const std::vector<std::string>& args = {},
                    const RunOptions& options = RunOptions()) {
  RepairRun run;
  run.before = native::FolderState(folder.Path());
  std::vector<std::string> argv{RepairProgram};
  argv.insert(argv.end(), args.begin(), args.end());
  run.child = native::RunProgram(RepairProgram, argv, folder.Path(), options);
  run.after = native::FolderState(folder.Path());
  EXPECT_EQ("",
            native::DescribeChanges(WithoutTheTwoFiles(run.before), WithoutTheTwoFiles(run.after)));
  return run;
}

// Checks that the entry name is after the run just as it was before it, or absent both times.
void ExpectUntouched(const RepairRun& run, const std::string& name) {
  auto before = run.before.find(name);
  auto after = run.after.find(name);
  ASSERT_EQ(before == run.before.end(), after == run.after.end()) << name;
  if (before != run.before.end()) {
    EXPECT_TRUE(before->second == after->second)
        << name << " changed; now: " << Escaped(after->second.content.substr(0, 200));
  }
}

// Checks that name is a plain file holding exactly bytes after the run.
void ExpectFile(const RepairRun& run, const std::string& name, const std::string& bytes) {
  auto found = run.after.find(name);
  ASSERT_NE(found, run.after.end()) << name << " is missing";
  EXPECT_TRUE(S_ISREG(found->second.mode)) << name;
  EXPECT_EQ(bytes.size(), found->second.content.size()) << name;
  EXPECT_TRUE(bytes == found->second.content)
      << name << "\n expected: " << Escaped(bytes.substr(0, 300))
      << "\n      got: " << Escaped(found->second.content.substr(0, 300));
}

// Checks that the backup is a copy of the settings file as it stood before the run: its bytes,
// permission bits and last-write time.
void ExpectBackupOfTheSettings(const RepairRun& run) {
  const EntryState& settings = run.before.at(SettingsName);
  ExpectFile(run, BackupName, settings.content);
  auto backup = run.after.find(BackupName);
  if (backup != run.after.end()) {
    EXPECT_EQ(settings.mode, backup->second.mode);
    EXPECT_EQ(settings.mtimeSeconds, backup->second.mtimeSeconds);
    EXPECT_EQ(settings.mtimeNanoseconds, backup->second.mtimeNanoseconds);
  }
}

struct ContentCase {
  const char* what;
  std::string settings;               // the bytes of Qtv.ini
  std::optional<std::string> result;  // what the run writes; nullopt: refused, nothing written
  std::string refusal;                // the message of a refusal
};

const std::string LongLine(100 * 1024, 'w');
const std::string Japanese =
    Cp932("[設定]\r\nFONT=ＭＳ ゴシック\r\nTITLE=ソフト表示\r\n\r\n[DESKTOP]\r\nLEFT=0\r\n");
const ContentCase ContentCases[] = {
    {"CR LF lines with Japanese text", Japanese + "LISTWIDTH=120\r\nTOP=3\r\n\r\n[X]\r\nY=1\r\n",
     Japanese + "LISTWIDTH=430\r\nTOP=3\r\n\r\n[X]\r\nY=1\r\n", ""},
    {"entry with text before and after the key", "[DESKTOP]\r\nOLDLISTWIDTH=5 px;x\r\n",
     Repaired("430"), ""},
    {"entry after another key", "[DESKTOP]\r\nA=LISTWIDTH=5\r\n", Repaired("430"), ""},
    {"empty value", "[DESKTOP]\r\nLISTWIDTH=\r\n", Repaired("430"), ""},
    {"Japanese value", Cp932("[DESKTOP]\r\nLISTWIDTH=幅ソ表\r\n"), Repaired("430"), ""},
    {"NUL bytes and LF alone inside lines", std::string("A=\0\n\0\r\n", 7) + Basic + "B=1\n2\r\n",
     std::string("A=\0\n\0\r\n", 7) + Repaired("430") + "B=1\n2\r\n", ""},
    {"no line end at the end", "[DESKTOP]\r\nLISTWIDTH=431", Repaired("430"), ""},
    {"CR alone ends lines", "[DESKTOP]\rLISTWIDTH=640\rTOP=1\r",
     "[DESKTOP]\r\nLISTWIDTH=430\r\nTOP=1\r\n", ""},
    {"CR CR LF after the entry", "[DESKTOP]\r\nLISTWIDTH=6\r\r\nLISTWIDTH=7\r\n",
     "[DESKTOP]\r\nLISTWIDTH=430\r\n\r\nLISTWIDTH=7\r\n", ""},
    {"CR CR LF right after the header", "[DESKTOP]\r\r\nLISTWIDTH=5\r\n", std::nullopt,
     EntryMissing},
    {"LF alone ends no line", "[DESKTOP]\nLISTWIDTH=430\n", std::nullopt, HeaderMissing},
    {"one trailing empty line", Basic + "\r\n", Repaired("430") + "\r\n", ""},
    {"two trailing empty lines, the last by CR alone", Basic + "\r\n\r",
     Repaired("430") + "\r\n\r\n", ""},
    {"line of 100 KB before the header and after the entry",
     LongLine + "\r\n" + Basic + LongLine + "\r\n",
     LongLine + "\r\n" + Repaired("430") + LongLine + "\r\n", ""},
    {"value of 100 KB", "[DESKTOP]\r\nLISTWIDTH=" + LongLine + "\r\nTOP=1\r\n",
     Repaired("430") + "TOP=1\r\n", ""},
    {"Ctrl-Z as the last byte", Basic + "\x1A", Repaired("430"), ""},
    {"Ctrl-Z right after the entry text at the end", "[DESKTOP]\r\nLISTWIDTH=2\x1A",
     Repaired("430"), ""},
    {"Ctrl-Z inside the entry line", "[DESKTOP]\r\nLISTWIDTH=2\x1A\r\nLISTWIDTH=3\r\n",
     Repaired("430") + "\x1A\r\nLISTWIDTH=3\r\n", ""},
    {"Ctrl-Z before a second header", Basic + "\x1A[DESKTOP]\rLISTWIDTH=3\n\x1A",
     Repaired("430") + "\x1A[DESKTOP]\rLISTWIDTH=3\n\x1A", ""},
    {"two Ctrl-Z at the end", Basic + "\x1A\x1A", Repaired("430") + "\x1A\x1A", ""},
    {"Ctrl-Z before the header", "A=1\r\n\x1A" + Basic, std::nullopt, HeaderMissing},
    {"empty file", "", std::nullopt, HeaderMissing},
    {"exactly 1000 lines", FillerLines(998) + Basic, FillerLines(998) + Repaired("430"), ""},
    {"exactly 1000 lines, the last without a line end, then Ctrl-Z",
     FillerLines(998) + "[DESKTOP]\rLISTWIDTH=1\x1A", FillerLines(998) + Repaired("430"), ""},
    {"1001 lines, the last one empty", FillerLines(998) + Basic + "\r\n",
     FillerLines(998) + Repaired("430") + "\r\n", ""},
    {"lines after the 1000th with every kind of line end",
     FillerLines(998, "\r") + "[DESKTOP]\rLISTWIDTH=1\rT=1\rT=2\nT=3\r\r\n\r\nT\x1A=4\r\n\x1A",
     FillerLines(998) + Repaired("430") + "T=1\rT=2\nT=3\r\r\n\r\nT\x1A=4\r\n\x1A", ""},
    {"lines after the 1000th without any line end",
     FillerLines(998) + Basic + std::string(5000, 'z'),
     FillerLines(998) + Repaired("430") + std::string(5000, 'z'), ""},
    {"header after line 1000", FillerLines(1000) + Basic, std::nullopt, HeaderMissing},
    {"entry as line 1001", FillerLines(999) + Basic, std::nullopt, EntryMissing},
    {"header repeated", Basic + "\r\n[DESKTOP]\r\nX=1\r\n", std::nullopt, HeaderRepeated},
    {"entry repeated", "[DESKTOP]\r\nLISTWIDTH=1\r\nLISTWIDTH=1\r\n", std::nullopt, EntryRepeated},
};

class RepairContent : public testing::TestWithParam<ContentCase> {};

TEST_P(RepairContent, RewritesTheEntryLineAndCarriesEveryOtherByte) {
  const ContentCase& row = GetParam();
  ScratchFolder folder;
  AddNeighbours(folder);
  native::WriteBytes(folder / SettingsName, row.settings);
  RepairRun run = RunRepair(folder);
  EXPECT_EQ(row.result ? 0 : 1, run.child.exitCode);
  // The backup is made before the file is read, so a refused file is backed up too.
  ExpectBackupOfTheSettings(run);
  if (row.result) {
    EXPECT_EQ(Success, run.child.out);
    EXPECT_EQ("", run.child.err);
    ExpectFile(run, SettingsName, *row.result);
  } else {
    EXPECT_EQ("", run.child.out);
    EXPECT_EQ(row.refusal, run.child.err);
    ExpectUntouched(run, SettingsName);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, RepairContent, testing::ValuesIn(ContentCases),
                         RowName<ContentCase>);

struct ArgumentCase {
  std::vector<std::string> args;
  std::string width;  // the width written; empty: refused with the message
  std::string refusal;
};

const std::string Zeros(4092, '0');
const ArgumentCase ArgumentCases[] = {
    {{}, "430", ""},
    {{"450"}, "450", ""},
    {{""}, "430", ""},
    {{"", ""}, "430", ""},
    {{"+450"}, "450", ""},
    {{"0450"}, "450", ""},
    {{" 450"}, "450", ""},
    {{"1"}, "1", ""},
    {{"32767"}, "32767", ""},
    {{"$1AE"}, "430", ""},
    {{"0x1ae"}, "430", ""},
    {{"X1AE"}, "430", ""},
    {{Zeros + "0450"}, "450", ""},  // 4096 bytes: still one argument
    {{"45", "0"}, "", TooMany},
    {{"450", "450"}, "", TooMany},
    {{Zeros + "00450"}, "", TooMany},  // 4097 bytes: split after the 4096th
    {{"45 0"}, "", BadFormat},
    {{"45\t0"}, "", BadFormat},
    {{"\t450"}, "", BadFormat},
    {{"450 "}, "", BadFormat},
    {{"450px"}, "", BadFormat},
    {{"4.5"}, "", BadFormat},
    {{"--help", "450"}, "", TooMany},  // only alone is --help answered
    {{"-h", "450"}, "", TooMany},
    {{"--Help"}, "", BadFormat},
    {{"-H"}, "", BadFormat},
    {{"-v"}, "", BadFormat},
    {{"45\"0"}, "", BadFormat},  // as Wine gives it: 45\"0
    {{"\x83\x5C"}, "", BadFormat},
    {{"4\x80"}, "", BadFormat},
    {{Cp932("４５０")}, "", BadFormat},
    {{"$"}, "", BadFormat},
    {{"-0x1"}, "", BadFormat},
    {{"2147483648"}, "", BadFormat},
    {{"$100000000"}, "", BadFormat},
    {{"0"}, "", OutOfRange},
    {{"-0"}, "", OutOfRange},
    {{"-5"}, "", OutOfRange},
    {{"32768"}, "", OutOfRange},
    {{"2147483647"}, "", OutOfRange},
    {{"$FFFFFFFF"}, "", OutOfRange},
};

class RepairArguments : public testing::TestWithParam<ArgumentCase> {};

TEST_P(RepairArguments, TakesTheWidthFromItsCommandLine) {
  const ArgumentCase& row = GetParam();
  ScratchFolder folder;
  AddNeighbours(folder);
  native::WriteBytes(folder / SettingsName, Basic);
  RepairRun run = RunRepair(folder, row.args);
  EXPECT_EQ(row.width.empty() ? 1 : 0, run.child.exitCode);
  if (!row.width.empty()) {
    EXPECT_EQ(Success, run.child.out);
    EXPECT_EQ("", run.child.err);
    ExpectFile(run, SettingsName, Repaired(row.width));
    ExpectBackupOfTheSettings(run);
  } else {
    // A refused command line leaves the disk as it was: no attribute change, no backup.
    EXPECT_EQ("", run.child.out);
    EXPECT_EQ(row.refusal, run.child.err);
    ExpectUntouched(run, SettingsName);
    ExpectUntouched(run, BackupName);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, RepairArguments, testing::ValuesIn(ArgumentCases),
                         [](const testing::TestParamInfo<ArgumentCase>& row) {
                           return support::WordsName(row.param.args);
                         });

class RepairAloneOption : public testing::TestWithParam<const char*> {};

TEST_P(RepairAloneOption, AnswersHelpAndVersionGivenAloneTouchingNoFile) {
  const std::string option = GetParam();
  ScratchFolder folder;
  AddNeighbours(folder);
  native::WriteBytes(folder / SettingsName, Basic);
  RepairRun run = RunRepair(folder, {option});
  EXPECT_EQ(0, run.child.exitCode);
  EXPECT_EQ("", run.child.err);
  if (option != native::LongForm(option)) {
    EXPECT_EQ(RunRepair(folder, {native::LongForm(option)}).child.out, run.child.out);
  } else if (option == "--version") {
    native::ExpectVersion(run.child.out, "panefix");
  } else {
    native::ExpectHelp(run.child.out, "panefix", "Usage: panefix [WIDTH]");
  }
  ExpectUntouched(run, SettingsName);
  ExpectUntouched(run, BackupName);
}

INSTANTIATE_TEST_SUITE_P(Rows, RepairAloneOption,
                         testing::Values("--help", "-h", "--version", "-V"),
                         [](const testing::TestParamInfo<const char*>& row) {
                           return support::TitleName(row.param);
                         });

struct ModeCase {
  mode_t mode;
  mode_t modeAfter;
};

const ModeCase ModeCases[] = {
    {0444, 0644}, {0400, 0600}, {0440, 0640}, {0555, 0755},
    {0644, 0644}, {0600, 0600}, {0664, 0664},
};

std::string ModeRowName(const testing::TestParamInfo<ModeCase>& row) {
  char name[16];
  std::snprintf(name, sizeof name, "Mode%04o", static_cast<unsigned>(row.param.mode));
  return name;
}

class RepairModes : public testing::TestWithParam<ModeCase> {};

TEST_P(RepairModes, GivesAReadOnlySettingsFileItsOwnersWritePermissionBack) {
  const ModeCase& row = GetParam();
  ScratchFolder folder;
  AddNeighbours(folder);
  native::WriteBytes(folder / SettingsName, Basic);
  ASSERT_EQ(0, chmod((folder / SettingsName).c_str(), row.mode));
  RepairRun run = RunRepair(folder, {"450"});
  EXPECT_EQ(0, run.child.exitCode);
  EXPECT_EQ(Success, run.child.out);
  EXPECT_EQ("", run.child.err);
  ExpectFile(run, SettingsName, Repaired("450"));
  EXPECT_EQ(S_IFREG | row.modeAfter, run.after.at(SettingsName).mode);
  // The copy is taken after the change, so it has the permission bits the file has now.
  ExpectFile(run, BackupName, Basic);
  EXPECT_EQ(S_IFREG | row.modeAfter, run.after.at(BackupName).mode);
}

INSTANTIATE_TEST_SUITE_P(Rows, RepairModes, testing::ValuesIn(ModeCases), ModeRowName);

TEST(RepairNativeTest, ReplacesAnOlderBackup) {
  ScratchFolder folder;
  AddNeighbours(folder);
  native::WriteBytes(folder / SettingsName, Basic + "OLD=1\r\n");
  native::SetModificationTime(folder / SettingsName, native::UtcSeconds(2020, 2, 29, 12), 5000);
  native::WriteBytes(folder / BackupName, std::string(1000, 'b'));
  ASSERT_EQ(0, chmod((folder / BackupName).c_str(), 0600));
  RepairRun run = RunRepair(folder);
  EXPECT_EQ(0, run.child.exitCode);
  EXPECT_EQ(Success, run.child.out);
  EXPECT_EQ("", run.child.err);
  ExpectFile(run, SettingsName, Repaired("430") + "OLD=1\r\n");
  ExpectBackupOfTheSettings(run);
}

struct LetterCaseCase {
  const char* settings;   // the settings file's name on disk
  const char* oldBackup;  // an older backup's name on disk, or nullptr
  const char* backup;     // where the backup is afterwards
  const char* alsoThere;  // another name that matches, later in byte order, or nullptr
};

const LetterCaseCase LetterCaseCases[] = {
    {"QTV.INI", nullptr, "Qtv.ini_widthBack", nullptr},
    {"qtv.ini", "QTV.INI_WIDTHBACK", "QTV.INI_WIDTHBACK", nullptr},
    {"QTV.INI", nullptr, "Qtv.ini_widthBack", "qtv.ini"},
};

class RepairLetterCase : public testing::TestWithParam<LetterCaseCase> {};

TEST_P(RepairLetterCase, FindsItsFilesWhateverTheirLetterCase) {
  const LetterCaseCase& row = GetParam();
  ScratchFolder folder;
  native::WriteBytes(folder / row.settings, Basic);
  if (row.oldBackup != nullptr) {
    native::WriteBytes(folder / row.oldBackup, "old");
  }
  if (row.alsoThere != nullptr) {
    native::WriteBytes(folder / row.alsoThere, Basic);
  }
  ChildResult result = native::RunProgram(RepairProgram, {RepairProgram}, folder.Path());
  EXPECT_EQ(0, result.exitCode);
  EXPECT_EQ(Success, result.out);
  FolderMap after = native::FolderState(folder.Path());
  EXPECT_EQ(row.alsoThere != nullptr ? 3u : 2u, after.size())
      << "a file was made under another name";
  if (row.alsoThere != nullptr) {
    EXPECT_EQ(Basic, after[row.alsoThere].content) << "the later name was rewritten";
  }
  EXPECT_EQ(Repaired("430"), after[row.settings].content);
  EXPECT_EQ(Basic, after[row.backup].content);
}

INSTANTIATE_TEST_SUITE_P(Rows, RepairLetterCase, testing::ValuesIn(LetterCaseCases),
                         [](const testing::TestParamInfo<LetterCaseCase>& row) {
                           std::string also =
                               row.param.alsoThere != nullptr ? row.param.alsoThere : "";
                           return support::NameOf(row.param.settings +
                                                  (also.empty() ? "" : " and " + also));
                         });

struct AnswerCase {
  std::string input;
  bool yes;
};

// A NUL, or a line longer than any yes (an endless input), is No at once.
const std::vector<AnswerCase> EveryAnswer = {
    {"y\n", true},
    {"yes\n", true},
    {"YES\n", true},
    {"Y\r\n", true},
    {"yEs", true},
    {"y\nn\n", true},
    {"n\n", false},
    {"\n", false},
    {"", false},
    {"no\n", false},
    {" y\n", false},
    {"yes please\n", false},
    {"\ny\n", false},
    {"ja\n", false},
    {std::string("y\0junk\n", 7), false},
    {std::string(1 << 20, 'y'), false},
};
const std::vector<AnswerCase> YesAndNo = {{"y\n", true}, {"n\n", false}};

// Ways to make the copy to the backup fail, each making Qtv.ini itself, with the verb the
// question names and where a run that goes on after Yes ends: with the success, or with the
// report of a read that fails as the copy did. How an answer is read does not depend on why the
// copy failed: the obstacles after which the repair ends well, one for each verb, take every
// answer; the others one Yes and one No.
struct Obstacle {
  const char* what;
  void (*prepare)(const ScratchFolder& folder);
  const char* verb;
  int errorNumber;     // of the report that follows Yes; 0: the repair ends well
  const char* reason;  // the report's second line after "Qtv.ini: "
  const std::vector<AnswerCase>* answers;
};

// Through this link the program reads its own memory from address 0: the open succeeds and the
// first read fails with EIO. The copy fails the same way, so the question comes first. A copy that
// fails midway leaves the older backup as it was, and no partial file behind.
void LinkToOwnMemory(const ScratchFolder& folder) {
  ASSERT_EQ(0, symlink("/proc/self/mem", (folder / SettingsName).c_str()));
}

const Obstacle Obstacles[] = {
    // A directory is no backup to the existence test, so the question names 作成.
    {"a directory under the backup name",
     [](const ScratchFolder& folder) {
       native::WriteBytes(folder / SettingsName, Basic);
       ASSERT_EQ(0, mkdir((folder / BackupName).c_str(), 0755));
       native::WriteBytes(folder / BackupName + "/inside", "x");
     },
     texts::CreateVerb, 0, nullptr, &EveryAnswer},
    {"a read-only backup",
     [](const ScratchFolder& folder) {
       native::WriteBytes(folder / SettingsName, Basic);
       native::WriteBytes(folder / BackupName, "old backup\r\n");
       ASSERT_EQ(0, chmod((folder / BackupName).c_str(), 0444));
     },
     texts::UpdateVerb, 0, nullptr, &EveryAnswer},
    {"a settings file whose read fails", LinkToOwnMemory, texts::CreateVerb, 1117,
     "Input/output error", &YesAndNo},
    {"a settings file whose read fails, with an older backup",
     [](const ScratchFolder& folder) {
       LinkToOwnMemory(folder);
       native::WriteBytes(folder / BackupName, Basic);
     },
     texts::UpdateVerb, 1117, "Input/output error", &YesAndNo},
    // A device has no end, and a named pipe without a writer would keep the program waiting at
    // the open: neither the copy nor the read takes one.
    {"a link to /dev/zero",
     [](const ScratchFolder& folder) {
       ASSERT_EQ(0, symlink("/dev/zero", (folder / SettingsName).c_str()));
     },
     texts::CreateVerb, 5, "not a plain file", &YesAndNo},
    {"a named pipe",
     [](const ScratchFolder& folder) {
       ASSERT_EQ(0, mkfifo((folder / SettingsName).c_str(), 0644));
     },
     texts::CreateVerb, 5, "not a plain file", &YesAndNo},
};

using ObstacleAnswer = std::tuple<Obstacle, AnswerCase>;

// Every obstacle with each of its answers.
std::vector<ObstacleAnswer> ObstacleAnswerRows() {
  std::vector<ObstacleAnswer> rows;
  for (const Obstacle& obstacle : Obstacles) {
    for (const AnswerCase& answer : *obstacle.answers) {
      rows.emplace_back(obstacle, answer);
    }
  }
  return rows;
}

class RepairBackupObstacle : public testing::TestWithParam<ObstacleAnswer> {};

TEST_P(RepairBackupObstacle, AsksWhetherToGoOnWhenTheBackupCannotBeWritten) {
  const auto& [obstacle, answer] = GetParam();
  ScratchFolder folder;
  AddNeighbours(folder);
  ASSERT_NO_FATAL_FAILURE(obstacle.prepare(folder));
  RunOptions options;
  options.input = answer.input;
  RepairRun run = RunRepair(folder, {"512"}, options);
  const std::string question = Question(obstacle.verb);
  const std::string& err = run.child.err;
  ASSERT_EQ(question, err.substr(0, question.size()));
  // Whatever follows, the failed copy left the backup as it was, and no file appeared.
  ExpectUntouched(run, BackupName);
  EXPECT_EQ(run.before.size(), run.after.size()) << "a file appeared";
  if (!answer.yes) {
    EXPECT_EQ(1, run.child.exitCode);
    EXPECT_EQ(question, err);
    EXPECT_EQ("", run.child.out);
    ExpectUntouched(run, SettingsName);
  } else if (obstacle.errorNumber == 0) {
    EXPECT_EQ(0, run.child.exitCode);
    EXPECT_EQ(question, err);
    EXPECT_EQ(Success, run.child.out);
    ExpectFile(run, SettingsName, Repaired("512"));
  } else {
    EXPECT_EQ(obstacle.errorNumber & 0xFF, run.child.exitCode);
    EXPECT_TRUE(std::regex_match(err.substr(question.size()),
                                 Report(obstacle.errorNumber, obstacle.reason)))
        << err;
    EXPECT_EQ("", run.child.out);
    ExpectUntouched(run, SettingsName);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, RepairBackupObstacle, testing::ValuesIn(ObstacleAnswerRows()),
                         [](const testing::TestParamInfo<ObstacleAnswer>& row) {
                           return support::TitleName(std::get<0>(row.param).what) + "_Answer_" +
                                  support::NameOf(std::get<1>(row.param).input);
                         });

// What stands in the scratch folder under the settings file's name before a run.
struct PreparedCase {
  const char* what;
  void (*prepare)(const ScratchFolder& folder);
};

// A prepared case with whether an older backup is there too.
using PreparedWithBackup = std::tuple<PreparedCase, bool>;

const PreparedCase NotThereCases[] = {
    {"no file", [](const ScratchFolder&) {}},
    {"a directory of that name",
     [](const ScratchFolder& folder) {
       ASSERT_EQ(0, mkdir((folder / SettingsName).c_str(), 0755));
     }},
    {"a link to nothing",
     [](const ScratchFolder& folder) {
       ASSERT_EQ(0, symlink("missing.ini", (folder / SettingsName).c_str()));
     }},
    // Read-only by its mode: refused before any attribute change, it keeps that mode.
    {"a read-only directory of that name",
     [](const ScratchFolder& folder) {
       ASSERT_EQ(0, mkdir((folder / SettingsName).c_str(), 0555));
     }},
};

class RepairNotThere : public testing::TestWithParam<PreparedWithBackup> {};

TEST_P(RepairNotThere, SettingsFileThatIsNotThere) {
  const auto& [row, withBackup] = GetParam();
  ScratchFolder folder;
  AddNeighbours(folder);
  row.prepare(folder);
  if (withBackup) {
    native::WriteBytes(folder / BackupName, Basic);
  }
  RepairRun run = RunRepair(folder, {"450"});
  EXPECT_EQ(1, run.child.exitCode);
  EXPECT_EQ("", run.child.out);
  EXPECT_EQ(NotFound, run.child.err);
  ExpectUntouched(run, SettingsName);
  ExpectUntouched(run, BackupName);
}

INSTANTIATE_TEST_SUITE_P(Rows, RepairNotThere,
                         testing::Combine(testing::ValuesIn(NotThereCases), testing::Bool()),
                         [](const testing::TestParamInfo<PreparedWithBackup>& row) {
                           return support::TitleName(std::get<0>(row.param).what) +
                                  (std::get<1>(row.param) ? "_WithAnOlderBackup"
                                                          : "_WithoutBackup");
                         });

// A row of the tests that stop the rewrite for want of room: whether the copy to the backup still
// fits, or fails too and the user goes on without it; and whether Qtv.ini, with a second hard
// link, is written in place, where the room must be taken before its first byte changes.
struct RoomCase {
  bool copyFits;
  bool inPlace;
};

const RoomCase RoomCases[] = {{true, false}, {false, false}, {true, true}, {false, true}};

std::string RoomRowName(const testing::TestParamInfo<RoomCase>& row) {
  return std::string(row.param.copyFits ? "CopyFits" : "CopyFailsToo") +
         (row.param.inPlace ? "InPlace" : "");
}

// Gives the settings file at path a second hard link in the folder beside it, so that it is
// written in place.
void LinkASecondTime(const std::string& path) {
  ASSERT_EQ(0, link(path.c_str(), (path + ".second").c_str()));
}

class RepairFileSizeLimit : public testing::TestWithParam<RoomCase> {};

TEST_P(RepairFileSizeLimit, FileSizeLimitEndsWithTheReportAndLeavesTheSettingsAsTheyWere) {
  // With the file size limited, the rewrite, longer by one byte for every line ended by CR alone,
  // runs into the limit: at the old size, where the copy still fits, or at half of it, where the
  // copy fails too and the user goes on without it. Either way Qtv.ini keeps its old text and no
  // unfinished file stays behind. The limit holds for the captured standard error too, which the
  // question and the report must fit into.
  const std::string settings = Basic + FillerLines(80, "\r");
  const bool copyFits = GetParam().copyFits;
  const size_t limit = copyFits ? settings.size() : settings.size() / 2;
  ScratchFolder folder;
  AddNeighbours(folder);
  native::WriteBytes(folder / SettingsName, settings);
  if (GetParam().inPlace) {
    LinkASecondTime(folder / SettingsName);
  }
  RunOptions options;
  options.fileSizeLimit = static_cast<int64_t>(limit);
  options.input = "y\n";
  RepairRun run = RunRepair(folder, {}, options);
  EXPECT_EQ(112, run.child.exitCode);
  EXPECT_EQ("", run.child.out);
  std::string question = copyFits ? "" : Question(CreateVerb);
  ASSERT_EQ(question, run.child.err.substr(0, question.size()));
  std::string report = run.child.err.substr(question.size());
  EXPECT_TRUE(std::regex_match(report, Report(112, "File too large"))) << run.child.err;
  if (copyFits) {
    ExpectBackupOfTheSettings(run);
  } else {
    ExpectUntouched(run, BackupName);
  }
  ExpectUntouched(run, SettingsName);
}

INSTANTIATE_TEST_SUITE_P(Rows, RepairFileSizeLimit, testing::ValuesIn(RoomCases), RoomRowName);

// A small file system of its own, mounted on a folder until scope end, when the system allows it
// (as root): a disk that fills up.
class ScopedSmallDisk {
 public:
  ScopedSmallDisk(const std::string& path, size_t bytes) : path_(path) {
    std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    mounted_ = mkdir(path.c_str(), 0755) == 0 &&
               mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~ScopedSmallDisk() {
    if (mounted_) {
      umount(path_.c_str());
    }
  }
  ScopedSmallDisk(const ScopedSmallDisk&) = delete;
  ScopedSmallDisk& operator=(const ScopedSmallDisk&) = delete;

  bool IsMounted() const { return mounted_; }

 private:
  std::string path_;
  bool mounted_ = false;
};

class RepairFullDisk : public testing::TestWithParam<RoomCase> {};

TEST_P(RepairFullDisk, FullDiskEndsWithTheReportAndLeavesTheSettingsAsTheyWere) {
  // Settings on a disk with room for them and, where the copy fits, their backup. Replaced, the
  // new text needs a new file as large as the old one, and one page more is free; written in
  // place, the text fills its last page to the end and grows by a byte for each line that a CR
  // alone ends, so that the new text needs one page more than there is.
  constexpr size_t Page = 4096;
  const bool copyFits = GetParam().copyFits;
  const bool inPlace = GetParam().inPlace;
  std::string settings = Basic + (inPlace ? FillerLines(80, "\r") : FillerLines(2400));
  if (inPlace) {
    settings += "P=" + std::string(Page - (settings.size() + 4) % Page, 'p') + "\r\n";
  }
  const size_t pages = (settings.size() + Page - 1) / Page;
  const size_t disk = ((copyFits ? 2 : 1) * pages + (inPlace ? 0 : 1)) * Page;
  ScratchFolder folder;
  ScopedSmallDisk small(folder / "disk", disk);
  if (!small.IsMounted()) {
    GTEST_SKIP() << "mounting a file system needs the superuser";
  }
  std::string place = folder / "disk";
  native::WriteBytes(place + "/" + SettingsName, settings);
  if (inPlace) {
    LinkASecondTime(place + "/" + SettingsName);
  }
  RunOptions options;
  options.input = "y\n";
  ChildResult result = native::RunProgram(RepairProgram, {RepairProgram}, place, options);
  EXPECT_EQ(112, result.exitCode);
  EXPECT_EQ("", result.out);
  std::string question = copyFits ? "" : Question(CreateVerb);
  ASSERT_EQ(question, result.err.substr(0, question.size()));
  EXPECT_TRUE(
      std::regex_match(result.err.substr(question.size()), Report(112, "No space left on device")))
      << result.err;
  FolderMap after = native::FolderState(place);
  EXPECT_TRUE(settings == after[SettingsName].content)
      << "Qtv.ini changed: " << after[SettingsName].content.size() << " bytes";
  if (copyFits) {
    EXPECT_EQ(settings, after[BackupName].content) << "the backup is not whole";
  }
  EXPECT_EQ((copyFits ? 2u : 1u) + (inPlace ? 1u : 0u), after.size()) << "a file stayed behind";
}

INSTANTIATE_TEST_SUITE_P(Rows, RepairFullDisk, testing::ValuesIn(RoomCases), RoomRowName);

// Sets the immutable flag of a file until scope end, when the system allows it (as root, on a
// file system that has the flag). Nobody may then write, cut, rename or chmod the file.
class ScopedImmutable {
 public:
  explicit ScopedImmutable(const std::string& path) : path_(path) { set_ = Change(true); }
  ~ScopedImmutable() {
    if (set_) {
      Change(false);
    }
  }
  ScopedImmutable(const ScopedImmutable&) = delete;
  ScopedImmutable& operator=(const ScopedImmutable&) = delete;

  bool IsSet() const { return set_; }

 private:
  bool Change(bool on) {
    int descriptor = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
      return false;
    }
    int flags = 0;
    bool changed = ioctl(descriptor, FS_IOC_GETFLAGS, &flags) == 0;
    if (changed) {
      flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
      changed = ioctl(descriptor, FS_IOC_SETFLAGS, &flags) == 0;
    }
    close(descriptor);
    return changed;
  }

  std::string path_;
  bool set_ = false;
};

TEST(RepairNativeTest, SettingsFileThatCannotBeOpenedForWriting) {
  ScratchFolder folder;
  AddNeighbours(folder);
  native::WriteBytes(folder / SettingsName, Basic);
  ScopedImmutable immutable(folder / SettingsName);
  if (!immutable.IsSet()) {
    GTEST_SKIP() << "cannot make a file immutable here";
  }
  RepairRun run = RunRepair(folder);
  EXPECT_EQ(5, run.child.exitCode);
  EXPECT_EQ("", run.child.out);
  EXPECT_TRUE(std::regex_match(run.child.err, Report(5, "Operation not permitted")))
      << run.child.err;
  ExpectUntouched(run, SettingsName);
  ExpectBackupOfTheSettings(run);
}

TEST(RepairNativeTest, ReadOnlySettingsFileThatCannotBeMadeWritable) {
  ScratchFolder folder;
  AddNeighbours(folder);
  native::WriteBytes(folder / SettingsName, Basic);
  ASSERT_EQ(0, chmod((folder / SettingsName).c_str(), 0444));
  ScopedImmutable immutable(folder / SettingsName);
  if (!immutable.IsSet()) {
    GTEST_SKIP() << "cannot make a file immutable here";
  }
  RepairRun run = RunRepair(folder);
  EXPECT_EQ(1, run.child.exitCode);
  EXPECT_EQ("", run.child.out);
  EXPECT_EQ(AttributeRefused, run.child.err);
  ExpectUntouched(run, SettingsName);
  ExpectUntouched(run, BackupName);
}

// The unprivileged user and group that runs the program, or owns a file, where a row needs one.
constexpr uid_t NobodyUser = 65534;

// A way the settings file stands on disk that a rewrite must keep, and how to check it was kept.
struct KeptCase {
  const char* what;
  void (*prepare)(const ScratchFolder& folder);
  uid_t user;  // who runs the program; -1: the superuser running the tests
  void (*check)(const ScratchFolder& folder, const struct stat& before);
  // The host folder's mode: everybody may make files in it, as in a folder shared by its users;
  // or only its owner, the superuser, who alone may then have linked a file there.
  unsigned folderMode = 01777;
};

struct stat StatusOf(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(0, lstat(path.c_str(), &status)) << path;
  return status;
}

const KeptCase KeptCases[] = {
    {"a plain file, replaced whole with its mode",
     [](const ScratchFolder& folder) {
       ASSERT_EQ(0, chmod((folder / SettingsName).c_str(), 0640));
     },
     static_cast<uid_t>(-1),
     [](const ScratchFolder& folder, const struct stat& before) {
       struct stat after = StatusOf(folder / SettingsName);
       EXPECT_NE(before.st_ino, after.st_ino);
       EXPECT_EQ(0640u, after.st_mode & 07777);
     }},
    {"another user's file, rewritten by the superuser",
     [](const ScratchFolder& folder) {
       ASSERT_EQ(0, chown((folder / SettingsName).c_str(), NobodyUser, NobodyUser));
     },
     static_cast<uid_t>(-1),
     [](const ScratchFolder& folder, const struct stat&) {
       struct stat after = StatusOf(folder / SettingsName);
       EXPECT_EQ(NobodyUser, after.st_uid);
       EXPECT_EQ(NobodyUser, after.st_gid);
     }},
    {"a second hard link, which shows the new text too",
     [](const ScratchFolder& folder) {
       ASSERT_EQ(0, link((folder / SettingsName).c_str(), (folder / "Ostrel/Qtv.ini").c_str()));
     },
     static_cast<uid_t>(-1),
     [](const ScratchFolder& folder, const struct stat& before) {
       EXPECT_EQ(before.st_ino, StatusOf(folder / SettingsName).st_ino);
       EXPECT_EQ(Repaired("430"), native::ReadBytes(folder / "Ostrel/Qtv.ini"));
     },
     0755},
    {"a symbolic link, which stays one while its target gets the new text",
     [](const ScratchFolder& folder) {
       ASSERT_EQ(0, rename((folder / SettingsName).c_str(), (folder / "Ostrel/real.ini").c_str()));
       ASSERT_EQ(0, symlink("Ostrel/real.ini", (folder / SettingsName).c_str()));
     },
     static_cast<uid_t>(-1),
     [](const ScratchFolder& folder, const struct stat&) {
       EXPECT_TRUE(S_ISLNK(StatusOf(folder / SettingsName).st_mode));
       EXPECT_EQ(Repaired("430"), native::ReadBytes(folder / "Ostrel/real.ini"));
     }},
    {"a file of another user's with the superuser's group, copied by that user",
     [](const ScratchFolder& folder) {
       ASSERT_EQ(0, chown((folder / SettingsName).c_str(), NobodyUser, 0));
       ASSERT_EQ(0, chmod((folder / SettingsName).c_str(), 0640));
     },
     NobodyUser,
     [](const ScratchFolder& folder, const struct stat&) {
       struct stat backup = StatusOf(folder / BackupName);
       EXPECT_EQ(NobodyUser, backup.st_uid);
       EXPECT_EQ(0600u, backup.st_mode & 07777) << "the copy's group may read it";
     }},
    {"the superuser's file that anybody may write, rewritten in place by another user",
     [](const ScratchFolder& folder) {
       ASSERT_EQ(0, chmod((folder / SettingsName).c_str(), 0666));
     },
     NobodyUser,
     [](const ScratchFolder& folder, const struct stat& before) {
       struct stat after = StatusOf(folder / SettingsName);
       EXPECT_EQ(before.st_ino, after.st_ino);
       EXPECT_EQ(0u, after.st_uid);
     }},
};

class RepairKept : public testing::TestWithParam<KeptCase> {};

TEST_P(RepairKept, KeepsTheLinksOwnerAndModeOfTheSettingsFile) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "giving files to another user needs the superuser";
  }
  const KeptCase& row = GetParam();
  ScratchFolder folder;
  ASSERT_EQ(0, mkdir((folder / "Ostrel").c_str(), 0755));
  native::WriteBytes(folder / SettingsName, Basic);
  row.prepare(folder);
  ASSERT_EQ(0, chmod(folder.Path().c_str(), row.folderMode));
  struct stat before = StatusOf(folder / SettingsName);
  RunOptions options;
  options.user = row.user;
  // Another user may not reach the program where the build lies (a checkout under /root): that
  // user runs a copy beside the folder.
  std::string program = RepairProgram;
  if (row.user != static_cast<uid_t>(-1)) {
    program = folder / "Ostrel/panefix";
    native::WriteBytes(program, native::ReadBytes(RepairProgram));
    ASSERT_EQ(0, chmod(program.c_str(), 0755));
  }
  ChildResult result = native::RunProgram(program, {program}, folder.Path(), options);
  EXPECT_EQ(0, result.exitCode) << result.err;
  EXPECT_EQ(Success, result.out);
  EXPECT_EQ("", result.err);
  EXPECT_EQ(Repaired("430"), native::ReadBytes(folder / SettingsName));
  EXPECT_EQ(Basic, native::ReadBytes(folder / BackupName));
  row.check(folder, before);
}

INSTANTIATE_TEST_SUITE_P(Rows, RepairKept, testing::ValuesIn(KeptCases), RowName<KeptCase>);

// ---- Hostile ground ---------------------------------------------------------------------------
//
// The superuser runs the programs in host/, a folder of the user nobody, beside root/, which only
// the superuser may enter and which holds the file root/secret (mode 0440). Whatever nobody has
// put in host/, the run gives nobody nothing nobody could not have had alone.

const char SecretText[] = "secret\n";

// Where the rows make their files: the scratch folder's host/ and root/.
struct HostileGround {
  ScratchFolder base;
  std::string host = base / "host";
  std::string secret = base / "root/secret";

  // Makes both folders, and the superuser's file root/secret (mode 0440) with text.
  void Make(const std::string& text) const {
    ASSERT_EQ(0, chmod(base.Path().c_str(), 0755));
    ASSERT_EQ(0, mkdir((base / "root").c_str(), 0700));
    native::WriteBytes(secret, text);
    ASSERT_EQ(0, chmod(secret.c_str(), 0440));
    ASSERT_EQ(0, mkdir(host.c_str(), 0755));
    ASSERT_EQ(0, chown(host.c_str(), NobodyUser, NobodyUser));
  }
};

// Makes path a symbolic link to target, owned by nobody as if nobody had made it.
void PlantLink(const std::string& target, const std::string& path) {
  ASSERT_EQ(0, symlink(target.c_str(), path.c_str()));
  ASSERT_EQ(0, lchown(path.c_str(), NobodyUser, NobodyUser));
}

// A folder's default ACL giving nobody read and write, in the system's binary form: a header,
// then entries of tag, permissions and id, sorted by tag.
std::string DefaultAclForNobody() {
  const uint32_t header = 2;
  const struct {
    uint16_t tag, permissions;
    uint32_t id;
  } entries[] = {{0x01, 6, 0xFFFFFFFF},
                 {0x02, 6, NobodyUser},
                 {0x04, 4, 0xFFFFFFFF},
                 {0x10, 6, 0xFFFFFFFF},
                 {0x20, 0, 0xFFFFFFFF}};
  std::string acl(reinterpret_cast<const char*>(&header), sizeof header);
  for (const auto& entry : entries) {
    acl.append(reinterpret_cast<const char*>(&entry), sizeof entry);
  }
  return acl;
}

bool HasAcl(const std::string& path) {
  return getxattr(path.c_str(), "system.posix_acl_access", nullptr, 0) >= 0;
}

struct HostileCase {
  const char* what;
  void (*plant)(const HostileGround& ground);
  const std::string* program;
  int exitCode;
  const char* reason;  // the report's second line after "Qtv.ini: ", or nullptr for no report
  void (*check)(const HostileGround& ground);
};

const HostileCase HostileCases[] = {
    {"a link of nobody's to the superuser's file, for the repair",
     [](const HostileGround& ground) { PlantLink(ground.secret, ground.host + "/Qtv.ini"); },
     &RepairProgram, 5, "a link owned by another user",
     [](const HostileGround& ground) {
       EXPECT_NE(0, access((ground.host + "/" + BackupName).c_str(), F_OK)) << "a copy was made";
     }},
    {"a link of nobody's to the superuser's file, for the viewer",
     [](const HostileGround& ground) { PlantLink(ground.secret, ground.host + "/Qtv.ini"); },
     &ViewerProgram, 5, "a link owned by another user", nullptr},
    {"a second hard link of a file of the superuser's that the superuser may write",
     [](const HostileGround& ground) {
       native::WriteBytes(ground.base / "root/settings", Basic);
       ASSERT_EQ(0,
                 link((ground.base / "root/settings").c_str(), (ground.host + "/Qtv.ini").c_str()));
     },
     &RepairProgram, 5, "a file with other links in a folder others can write",
     [](const HostileGround& ground) {
       EXPECT_EQ(Basic, native::ReadBytes(ground.base / "root/settings"));
       EXPECT_NE(0, access((ground.host + "/" + BackupName).c_str(), F_OK)) << "a copy was made";
     }},
    {"a second hard link of a file of the superuser's in a folder of the superuser's that "
     "everybody may write",
     [](const HostileGround& ground) {
       ASSERT_EQ(0, chown(ground.host.c_str(), 0, 0));
       ASSERT_EQ(0, chmod(ground.host.c_str(), 01777));
       native::WriteBytes(ground.base / "root/settings", Basic);
       ASSERT_EQ(0,
                 link((ground.base / "root/settings").c_str(), (ground.host + "/Qtv.ini").c_str()));
     },
     &RepairProgram, 5, "a file with other links in a folder others can write",
     [](const HostileGround& ground) {
       EXPECT_EQ(Basic, native::ReadBytes(ground.base / "root/settings"));
     }},
    {"a set-user-ID program of nobody's",
     [](const HostileGround& ground) {
       native::WriteBytes(ground.host + "/Qtv.ini", Basic);
       ASSERT_EQ(0, chown((ground.host + "/Qtv.ini").c_str(), NobodyUser, NobodyUser));
       ASSERT_EQ(0, chmod((ground.host + "/Qtv.ini").c_str(), 06755));
     },
     &RepairProgram, 0, nullptr,
     [](const HostileGround& ground) {
       struct stat backup = StatusOf(ground.host + "/" + BackupName);
       EXPECT_EQ(0755u, backup.st_mode & 07777) << "the superuser's copy kept set-ID bits";
     }},
    {"the superuser's file in a folder whose new files take nobody's group",
     [](const HostileGround& ground) {
       ASSERT_EQ(0, chmod(ground.host.c_str(), 02775));
       native::WriteBytes(ground.host + "/Qtv.ini", Basic);
       ASSERT_EQ(0, chown((ground.host + "/Qtv.ini").c_str(), 0, 0));
       ASSERT_EQ(0, chmod((ground.host + "/Qtv.ini").c_str(), 0640));
     },
     &RepairProgram, 0, nullptr,
     [](const HostileGround& ground) {
       struct stat backup = StatusOf(ground.host + "/" + BackupName);
       EXPECT_EQ(0u, backup.st_gid) << "the copy went to the folder's group";
       EXPECT_EQ(0640u, backup.st_mode & 07777);
     }},
    {"a folder whose default ACL lets nobody read and write",
     [](const HostileGround& ground) {
       std::string acl = DefaultAclForNobody();
       ASSERT_EQ(
           0, setxattr(ground.host.c_str(), "system.posix_acl_default", acl.data(), acl.size(), 0));
       native::WriteBytes(ground.base / "Qtv.ini", Basic);
       ASSERT_EQ(0, chmod((ground.base / "Qtv.ini").c_str(), 0660));
       ASSERT_EQ(0, rename((ground.base / "Qtv.ini").c_str(), (ground.host + "/Qtv.ini").c_str()));
     },
     &RepairProgram, 0, nullptr,
     [](const HostileGround& ground) {
       for (const std::string& name : {SettingsName, BackupName}) {
         EXPECT_FALSE(HasAcl(ground.host + "/" + name)) << name << " took the folder's ACL";
         EXPECT_EQ(0660u, StatusOf(ground.host + "/" + name).st_mode & 07777) << name;
       }
     }},
};

class RepairHostileGround : public testing::TestWithParam<HostileCase> {};

TEST_P(RepairHostileGround, GivesTheFoldersWriterNothing) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "a folder of another user needs the superuser";
  }
  const HostileCase& row = GetParam();
  HostileGround ground;
  ASSERT_NO_FATAL_FAILURE(ground.Make(SecretText));
  row.plant(ground);
  RunOptions options;
  options.input = "y\n";
  ChildResult result = native::RunProgram(*row.program, {*row.program}, ground.host, options);
  EXPECT_EQ(row.exitCode, result.exitCode) << result.err;
  if (row.reason != nullptr) {
    EXPECT_NE(std::string::npos, result.err.find(std::string("\nQtv.ini: ") + row.reason + "\n"))
        << result.err;
  }
  EXPECT_EQ(SecretText, native::ReadBytes(ground.secret));
  EXPECT_EQ(0440u, StatusOf(ground.secret).st_mode & 07777);
  if (row.check != nullptr) {
    row.check(ground);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, RepairHostileGround, testing::ValuesIn(HostileCases),
                         RowName<HostileCase>);

TEST(RepairNativeTest, NamesSwappedWhileTheSuperuserRepairsNeverReachAnotherFile) {
  // nobody swaps, as fast as it can, a read-only plain Qtv.ini with a link to the superuser's file,
  // and a link spelled QTV.INI beside the user's qtv.ini, while the superuser runs the repair
  // again and again: the superuser's file is never written, copied out or given another mode.
  if (geteuid() != 0) {
    GTEST_SKIP() << "a folder of another user needs the superuser";
  }
  const std::string secret = "[DESKTOP]\r\nLISTWIDTH=7\r\nsecret\r\n";
  HostileGround ground;
  ASSERT_NO_FATAL_FAILURE(ground.Make(secret));
  std::fflush(nullptr);
  pid_t swapper = fork();
  if (swapper == 0) {
    // Ends with the test, and by itself after a bounded number of swaps in any case.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (setgid(NobodyUser) != 0 || setuid(NobodyUser) != 0 || chdir(ground.host.c_str()) != 0) {
      _exit(1);
    }
    for (long swap = 0; swap < 20000000; ++swap) {
      if (swap % 2 == 0) {
        native::WriteBytes("plain", Basic);
        chmod("plain", 0444);
        rename("plain", "Qtv.ini");
        unlink("QTV.INI");
        native::WriteBytes("qtv.ini", Basic);
      } else {
        symlink(ground.secret.c_str(), "link");
        rename("link", "Qtv.ini");
        symlink(ground.secret.c_str(), "QTV.INI");
      }
    }
    _exit(0);
  }
  ASSERT_GT(swapper, 0);
  for (int run = 0; run < 40; ++run) {
    RunOptions options;
    options.input = "y\n";
    native::RunProgram(RepairProgram, {RepairProgram, std::to_string(run + 100)}, ground.host,
                       options);
  }
  kill(swapper, SIGKILL);
  waitpid(swapper, nullptr, 0);
  EXPECT_EQ(secret, native::ReadBytes(ground.secret)) << "the superuser's file was written";
  EXPECT_EQ(0440u, StatusOf(ground.secret).st_mode & 07777);
  for (const auto& [name, state] : native::FolderState(ground.host)) {
    EXPECT_NE(secret, state.content) << name << " is a copy of the superuser's file";
  }
}

// A settings file of 600 lines, as the host writes it, repaired to width.
std::string LongSettings(const std::string& width) {
  return FillerLines(300) + "[DESKTOP]\r\nLISTWIDTH=" + width + "\r\n" + FillerLines(298);
}

TEST(RepairNativeTest, OverlappingRunsLeaveWholeFilesOrFailVisibly) {
  // Four repairs, one of them to another width, and a viewer, all started at once: each either
  // does its work or stops visibly, the report's sharing violation or the backup question; no
  // reader ever sees a cut file. The viewer looks for the host: no other test run may start a
  // stand-in meanwhile.
  native::HostLock hostLock;
  const std::string original = LongSettings("120");
  const std::vector<std::string> wholeTexts = {original, LongSettings("430"), LongSettings("512")};
  auto isWhole = [&](const std::string& text) {
    return std::find(wholeTexts.begin(), wholeTexts.end(), text) != wholeTexts.end();
  };
  const std::regex sharingViolation =
      Report(32, "(in use by another program|replaced by another program since it was read)");
  std::map<std::string, int> outcomes;
  for (int trial = 0; trial < 25; ++trial) {
    SCOPED_TRACE(trial);
    ScratchFolder folder;
    native::WriteBytes(folder / SettingsName, original);
    std::vector<native::StartedProgram> repairs;
    for (const char* width : {"430", "512", "430", "430"}) {
      repairs.push_back(native::StartProgram(RepairProgram, {RepairProgram, width}, folder.Path()));
    }
    native::StartedProgram viewer =
        native::StartProgram(ViewerProgram, {ViewerProgram}, folder.Path());
    for (const native::StartedProgram& started : repairs) {
      ChildResult result = native::FinishProgram(started);
      if (result.exitCode == 0) {
        EXPECT_EQ(Success, result.out);
        outcomes["repaired"]++;
      } else if (result.exitCode == 32) {
        EXPECT_TRUE(std::regex_match(result.err, sharingViolation)) << result.err;
        outcomes["sharing violation"]++;
      } else {
        // The copy met another run's lock: the backup question, answered No by the empty input.
        // The verb is 作成 when no other run's backup has its name yet.
        EXPECT_EQ(1, result.exitCode) << result.err;
        std::string start = result.err.substr(0, Question(UpdateVerb).size());
        EXPECT_TRUE(start == Question(UpdateVerb) || start == Question(CreateVerb)) << result.err;
        outcomes["backup refused"]++;
      }
    }
    ChildResult shown = native::FinishProgram(viewer);
    if (shown.exitCode == 0) {
      EXPECT_TRUE(std::regex_match(shown.out, std::regex("Panepeek\n.* (120|430|512) .*\n")))
          << shown.out;
    } else {
      EXPECT_EQ(32, shown.exitCode) << shown.err;
    }
    FolderMap after = native::FolderState(folder.Path());
    EXPECT_TRUE(isWhole(after[SettingsName].content)) << "Qtv.ini is not whole";
    if (after.count(BackupName) != 0) {
      EXPECT_TRUE(isWhole(after[BackupName].content)) << "the backup is not whole";
    }
    EXPECT_LE(after.size(), 2u) << "a file stayed behind";
  }
  EXPECT_GT(outcomes["repaired"], 0);
  for (const auto& [outcome, count] : outcomes) {
    std::printf("%s: %d\n", outcome.c_str(), count);
  }
}

// The durable steps of one repair as strace shows them, reduced to what a power cut could undo:
// a new file flushed, a rename over a name, a folder flushed (by a descriptor opened for it or a
// duplicate of one), a file written in place flushed, another file flushed (by its name), and the
// success message.
std::vector<std::string> DurableSteps(const std::string& trace) {
  const std::regex call(R"((\w+)\((.*)\)\s+= (-?\d+))");
  std::vector<std::string> steps;
  std::map<std::string, std::string> kinds;  // descriptor -> "new", "folder" or "in place"
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (!std::regex_search(line, m, call) || m[3] == "-1") {
      continue;
    }
    std::string name = m[1], args = m[2], result = m[3];
    std::string first = args.substr(0, args.find(','));
    if (name == "fcntl" && args.find("F_DUPFD") != std::string::npos && kinds.count(first) != 0) {
      kinds[result] = kinds[first];
    } else if (name == "openat" && args.find("O_TMPFILE") != std::string::npos) {
      kinds[result] = "new";
    } else if (name == "openat" && args.find("O_DIRECTORY") != std::string::npos) {
      kinds[result] = "folder";
    } else if (name == "openat" && (args.find("O_WRONLY") != std::string::npos ||
                                    args.find("O_RDWR") != std::string::npos)) {
      kinds[result] = "in place";
    } else if (name == "openat") {
      size_t quote = args.find('"');
      kinds[result] = args.substr(quote + 1, args.find('"', quote + 1) - quote - 1);
    } else if (name == "fsync" && kinds.count(first) != 0) {
      steps.push_back("flush " + kinds[first]);
    } else if (name == "renameat") {
      steps.push_back("rename to " +
                      args.substr(args.rfind(", \"") + 3, args.size() - args.rfind(", \"") - 4));
    } else if (name == "write" && first == "1") {
      steps.push_back("success");
    }
  }
  return steps;
}

struct DurableCase {
  const char* name;
  bool secondLink;
  std::vector<std::string> steps;
};

class RepairDurableSteps : public testing::TestWithParam<DurableCase> {};

TEST_P(RepairDurableSteps, PutTheBackupAndTheNewTextOnDiskBeforeSayingSo) {
  const DurableCase& row = GetParam();
  ScratchFolder folder;
  native::WriteBytes(folder / SettingsName, Basic);
  if (row.secondLink) {
    ASSERT_EQ(0, link((folder / SettingsName).c_str(), (folder / "second").c_str()));
  }
  ChildResult result =
      native::RunProgram("/usr/bin/strace",
                         {"strace", "-qq", "-e", "trace=openat,fcntl,fsync,renameat,write", "-o",
                          folder / "trace", RepairProgram},
                         folder.Path());
  ASSERT_EQ(0, result.exitCode) << result.err;
  EXPECT_EQ(Success, result.out);
  EXPECT_EQ(row.steps, DurableSteps(native::ReadBytes(folder / "trace")));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RepairDurableSteps,
    testing::Values(DurableCase{"Replaced",
                                false,
                                {"flush new", "rename to Qtv.ini_widthBack", "flush folder",
                                 "flush new", "rename to Qtv.ini", "flush folder", "success"}},
                    DurableCase{"WrittenInPlace",
                                true,
                                {"flush new", "rename to Qtv.ini_widthBack", "flush folder",
                                 "flush in place", "success"}}),
    [](const testing::TestParamInfo<DurableCase>& row) { return std::string(row.param.name); });

TEST(RepairNativeTest, StoppedAtAnyMomentLeavesTheOldTextOrTheNewAndNothingElse) {
  // A repair of 4 MiB, stopped by a signal at a random moment of its run: Qtv.ini holds the old
  // text or the new one, whole; the backup, when there is one, is a whole copy of the old text.
  // On a busy machine the signal may land before the program has even started, or after it has
  // ended: such a trial changed nothing, or everything, and must show just that.
  const std::string bigLine(4 * 1024 * 1024, 'w');
  const std::string original = Basic + bigLine + "\r\n";
  const std::string repaired = Repaired("430") + bigLine + "\r\n";
  std::chrono::microseconds whole{};
  {
    ScratchFolder folder;
    native::WriteBytes(folder / SettingsName, original);
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(0, native::RunProgram(RepairProgram, {RepairProgram}, folder.Path()).exitCode);
    whole = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                  start);
  }
  std::mt19937 random(20261210);
  std::uniform_int_distribution<long> moment(0, whole.count());
  for (int signal : {SIGKILL, SIGTERM, SIGINT, SIGHUP}) {
    for (int trial = 0; trial < 6; ++trial) {
      long after = moment(random);
      SCOPED_TRACE(testing::Message() << "signal " << signal << " after " << after << " us");
      ScratchFolder folder;
      native::WriteBytes(folder / SettingsName, original);
      const EntryState settingsBefore = native::FolderState(folder.Path()).at(SettingsName);
      native::StartedProgram started =
          native::StartProgram(RepairProgram, {RepairProgram}, folder.Path());
      std::this_thread::sleep_for(std::chrono::microseconds(after));
      kill(started.pid, signal);
      ChildResult result = native::FinishProgram(started);
      EXPECT_TRUE(result.exitCode == 0 || result.signal == signal) << result.exitCode;
      FolderMap state = native::FolderState(folder.Path());
      const std::string& text = state[SettingsName].content;
      EXPECT_TRUE(text == original || text == repaired) << "Qtv.ini cut at " << text.size();
      // The old text is the old file: its mode and last-write time are as they were too.
      if (text == original) {
        EXPECT_TRUE(state[SettingsName] == settingsBefore) << "Qtv.ini's mode or time changed";
      }
      if (state.count(BackupName) != 0) {
        EXPECT_TRUE(state[BackupName].content == original) << "backup cut";
      }
      // Only a kill in the moment between naming a new file and renaming it can leave its name.
      size_t expected = 1 + state.count(BackupName);
      if (signal == SIGKILL && state.size() == expected + 1) {
        std::printf("a kill left %s\n", std::prev(state.end())->first.c_str());
        expected += 1;
      }
      EXPECT_EQ(expected, state.size()) << "a file stayed behind";
    }
  }
}

}  // namespace

namespace {

// The system calls of a repair the sweep below makes fail, with the errors disks and network file
// systems give them.
const std::vector<std::pair<std::string, std::string>> SweptCalls = {
    {"openat", "EIO"},       {"openat", "EMFILE"},    {"read", "EIO"},       {"pread64", "EIO"},
    {"pwrite64", "ENOSPC"},  {"write", "ENOSPC"},     {"fsync", "EIO"},      {"fstat", "EIO"},
    {"newfstatat", "EIO"},   {"renameat", "EIO"},     {"renameat2", "EIO"},  {"linkat", "ENOSPC"},
    {"fchown", "EPERM"},     {"fchmod", "EIO"},       {"flistxattr", "EIO"}, {"fgetxattr", "EIO"},
    {"fsetxattr", "ENOSPC"}, {"fremovexattr", "EIO"}, {"ftruncate", "EIO"},  {"lseek", "EIO"},
    {"flock", "ENOLCK"},     {"close", "EIO"},        {"fcntl", "EMFILE"},   {"unlinkat", "EIO"},
    {"readlinkat", "EIO"},   {"getdents64", "EIO"},   {"utimensat", "EIO"},  {"chmod", "EIO"},
    {"ioctl", "EIO"},        {"getrandom", "EIO"}};

// How many times each system call is made in a repair of the folder once its run has begun: after
// it opened its folder (the loader's and the runtime's calls before are none of the repair's).
// *started gets how many of each were made before.
std::map<std::string, int> RepairCalls(const ScratchFolder& folder,
                                       std::map<std::string, int>* started) {
  std::string names;
  for (const auto& [call, error] : SweptCalls) {
    names += (names.empty() ? "" : ",") + call;
  }
  ChildResult traced = native::RunProgram(
      "/usr/bin/strace",
      {"strace", "-f", "-qq", "-e", "trace=" + names, "-o", folder / "trace", RepairProgram},
      folder.Path());
  EXPECT_EQ(0, traced.exitCode) << traced.err;
  std::map<std::string, int> counts;
  std::istringstream lines(native::ReadBytes(folder / "trace"));
  bool begun = false;
  for (std::string line; std::getline(lines, line);) {
    size_t open = line.find('(');
    size_t space = line.rfind(' ', open);
    std::string call = line.substr(space == std::string::npos ? 0 : space + 1,
                                   open - (space == std::string::npos ? 0 : space + 1));
    ++counts[call];
    if (!begun && line.find("openat(AT_FDCWD, \".\"") != std::string::npos) {
      begun = true;
      *started = counts;
      --(*started)[call];
    }
  }
  std::remove((folder / "trace").c_str());
  std::map<std::string, int> during;
  for (const auto& [call, count] : counts) {
    during[call] = count - (*started)[call];
  }
  return during;
}

class RepairFailureSweep : public testing::TestWithParam<bool> {};

// Each system call of a repair, failing at each of its occurrences: Qtv.ini keeps its old text or
// has the new one; a run that reports success has the new text and a whole backup; nothing else
// is left in the folder.
TEST_P(RepairFailureSweep, LeavesTheOldTextOrTheNewAndNothingBehind) {
  const bool inPlace = GetParam();
  const std::string original = Basic + std::string(100, 'w') + "\r\n";
  const std::string repaired = Repaired("430") + std::string(100, 'w') + "\r\n";
  auto prepare = [&](const ScratchFolder& folder) {
    native::WriteBytes(folder / SettingsName, original);
    if (inPlace) {
      ASSERT_EQ(0, link((folder / SettingsName).c_str(), (folder / "second").c_str()));
    }
  };
  std::map<std::string, int> started;
  std::map<std::string, int> calls;
  {
    ScratchFolder folder;
    prepare(folder);
    calls = RepairCalls(folder, &started);
  }
  int runs = 0;
  int failedRuns = 0;
  for (const auto& [call, error] : SweptCalls) {
    for (int nth = 1; nth <= calls[call]; ++nth) {
      ScratchFolder folder;
      prepare(folder);
      // The occurrence is counted from the start of the process, the loader's calls included.
      int when = started[call] + nth;
      std::string inject = call + ":error=" + error + ":when=" + std::to_string(when);
      RunOptions options;
      options.input = "y\n";
      ChildResult result =
          native::RunProgram("/usr/bin/strace",
                             {"strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=" + call, "-e",
                              "inject=" + inject, RepairProgram},
                             folder.Path(), options);
      ++runs;
      failedRuns += result.exitCode != 0 ? 1 : 0;
      SCOPED_TRACE(inject + ": " + result.err);
      FolderMap state = native::FolderState(folder.Path());
      const std::string& text = state[SettingsName].content;
      EXPECT_TRUE(text == original || text == repaired) << "Qtv.ini cut at " << text.size();
      // Success without the backup question has the new text and a whole backup.
      if (result.exitCode == 0) {
        EXPECT_EQ(repaired, text);
      }
      if (result.exitCode == 0 && result.err.empty()) {
        EXPECT_EQ(1u, state.count(BackupName)) << "success without a backup";
      }
      if (state.count(BackupName) != 0) {
        EXPECT_EQ(original, state[BackupName].content) << "backup cut";
      }
      EXPECT_EQ(1 + state.count(BackupName) + (inPlace ? 1 : 0), state.size())
          << "a file stayed behind";
    }
  }
  // Many failures end the run: a sweep whose failures did not reach the program proves nothing.
  EXPECT_GT(failedRuns, runs / 4) << "the failures were not injected";
  std::printf("%d runs, one failing system call each, %d ended by it\n", runs, failedRuns);
}

INSTANTIATE_TEST_SUITE_P(Roads, RepairFailureSweep, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& row) {
                           return std::string(row.param ? "InPlace" : "Replaced");
                         });

}  // namespace
