// The native viewer program end to end: real settings files in a scratch folder, the program
// run there, its output, exit code and the folder afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "native_support.h"
#include "program_texts.h"
#include "settings_text.h"

namespace {

using native::ChildResult;
using native::Cp932;
using native::RowName;
using native::ScratchFolder;
using support::FillerLines;

const std::string ViewerProgram = PANEPEEK_PROGRAM;

// The viewer's boxes as the terminal shows them.
std::string Shown(const char* text) { return texts::OnTerminal(texts::ViewerCaption, text); }
// The not-found message, and below it what a Linux user does about it.
const std::string NotFound =
    Shown(texts::ViewerNotFound) + "Run panepeek in the folder that holds Qtv.ini.\n";
const std::string HostRunning = Shown(texts::HostRunning);
const std::string HeaderMissing = Shown(texts::HeaderMissing);
const std::string HeaderRepeated = Shown(texts::HeaderRepeated);
const std::string EntryMissing = Shown(texts::EntryMissing);
const std::string EntryRepeated = Shown(texts::EntryRepeated);

// The result box as the terminal shows it, for a pane-width value in UTF-8.
std::string Result(const std::string& value) {
  return texts::OnTerminal(texts::ViewerCaption, texts::Result(value));
}

// The runtime-error report at the terminal: number and site laid out as the pattern layout has
// it, then the file and the system's reason.
std::regex Report(const std::string& layout, const std::string& reason) {
  return std::regex(std::string(texts::ReportCaption) + "\n" + texts::ReportStart + layout +
                    "\nQtv\\.ini: " + reason + "\n");
}

const std::string Basic = "[DESKTOP]\r\nLISTWIDTH=430\r\n";

// Runs the viewer in folder and checks that it left every entry of the folder as it was. The
// viewer looks for the host: no other test run may start a stand-in meanwhile.
ChildResult RunViewer(const ScratchFolder& folder, const std::vector<std::string>& args = {}) {
  native::HostLock lock;
  auto before = native::FolderState(folder.Path());
  std::vector<std::string> argv{ViewerProgram};
  argv.insert(argv.end(), args.begin(), args.end());
  ChildResult result = native::RunProgram(ViewerProgram, argv, folder.Path());
  EXPECT_EQ("", native::DescribeChanges(before, native::FolderState(folder.Path())));
  return result;
}

struct ContentCase {
  const char* what;
  std::string settings;  // the bytes of Qtv.ini
  std::string out;
  std::string err;
};

const std::string LongLine(100 * 1024, 'w');

const ContentCase ContentCases[] = {
    {"entry 430", Basic, Result("430"), ""},
    {"sections, Japanese text and a later entry",
     Cp932("[SETTING]\r\nFONT=ＭＳ ゴシック\r\nTITLE=スレッド一覧\r\n\r\n[DESKTOP]\r\n"
           "LEFT=0\r\nLISTWIDTH=512\r\nTOP=3\r\n\r\n[OTHER]\r\nLISTWIDTH=9\r\n"),
     Result("512"), ""},
    {"empty value", "[DESKTOP]\r\nLISTWIDTH=\r\n", Result(""), ""},
    {"text after the number", "[DESKTOP]\r\nLISTWIDTH= 430px abc\r\n", Result(" 430px abc"), ""},
    {"another = before the key", "[DESKTOP]\r\nA=LISTWIDTH=5\r\n", Result("LISTWIDTH=5"), ""},
    {"Japanese value", Cp932("[DESKTOP]\r\nLISTWIDTH=幅ソ表\r\n"), Result("幅ソ表"), ""},
    {"byte that is no character", "[DESKTOP]\r\nLISTWIDTH=4\x80\r\n", Result("4\uFFFD"), ""},
    {"no line end at the end", "[DESKTOP]\r\nLISTWIDTH=431", Result("431"), ""},
    {"CR alone ends lines", "[DESKTOP]\rLISTWIDTH=640\r", Result("640"), ""},
    {"CR CR LF right after the header", "[DESKTOP]\r\r\nLISTWIDTH=5\r\n", "", EntryMissing},
    {"CR CR LF after the entry", "[DESKTOP]\r\nLISTWIDTH=6\r\r\nLISTWIDTH=7\r\n", Result("6"), ""},
    {"LF alone ends no line", "[DESKTOP]\nLISTWIDTH=430\n", "", HeaderMissing},
    {"Ctrl-Z before the header", "A=1\r\n\x1A[DESKTOP]\r\nLISTWIDTH=1\r\n", "", HeaderMissing},
    {"Ctrl-Z after the entry", "[DESKTOP]\r\nLISTWIDTH=2\x1A\r\nLISTWIDTH=3\r\n", Result("2"), ""},
    {"NUL bytes in another line", std::string("X=\0\0\r\n", 6) + Basic, Result("430"), ""},
    {"empty file", "", "", HeaderMissing},
    {"header and entry as lines 999 and 1000", FillerLines(998) + Basic, Result("430"), ""},
    {"header after line 1000", FillerLines(1000) + Basic, "", HeaderMissing},
    {"entry as line 1001", FillerLines(999) + Basic, "", EntryMissing},
    {"header repeated", Basic + "\r\n[DESKTOP]\r\nX=1\r\n", "", HeaderRepeated},
    {"entry repeated", "[DESKTOP]\r\nLISTWIDTH=1\r\nLISTWIDTH=1\r\n", "", EntryRepeated},
    {"entry missing", "[DESKTOP]\r\nWIDTH=4\r\n", "", EntryMissing},
    {"header in other letter case", "[Desktop]\r\nLISTWIDTH=4\r\n", "", HeaderMissing},
    {"header with a trailing blank", "[DESKTOP] \r\nLISTWIDTH=4\r\n", "", HeaderMissing},
    {"line of 100 KB before the header", LongLine + "\r\n" + Basic, Result("430"), ""},
    {"value of 100 KB", "[DESKTOP]\r\nLISTWIDTH=" + LongLine + "\r\n", Result(LongLine), ""},
};

class ViewerContent : public testing::TestWithParam<ContentCase> {};

TEST_P(ViewerContent, ShowsTheEntryValueOrOneRefusal) {
  const ContentCase& row = GetParam();
  ScratchFolder folder;
  native::WriteBytes(folder / "Qtv.ini", row.settings);
  ChildResult result = RunViewer(folder);
  EXPECT_EQ(row.out.empty() ? 1 : 0, result.exitCode);
  EXPECT_EQ(row.out, result.out);
  EXPECT_EQ(row.err, result.err);
}

INSTANTIATE_TEST_SUITE_P(Rows, ViewerContent, testing::ValuesIn(ContentCases),
                         RowName<ContentCase>);

class ViewerAloneOption : public testing::TestWithParam<const char*> {};

TEST_P(ViewerAloneOption, AnswersHelpAndVersionGivenAlone) {
  const std::string option = GetParam();
  ScratchFolder folder;
  native::WriteBytes(folder / "Qtv.ini", Basic);
  ChildResult answer = RunViewer(folder, {option});
  EXPECT_EQ(0, answer.exitCode);
  EXPECT_EQ("", answer.err);
  if (option != native::LongForm(option)) {
    EXPECT_EQ(RunViewer(folder, {native::LongForm(option)}).out, answer.out);
  } else if (option == "--version") {
    native::ExpectVersion(answer.out, "panepeek");
  } else {
    native::ExpectHelp(answer.out, "panepeek", "Usage: panepeek");
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, ViewerAloneOption,
                         testing::Values("--help", "-h", "--version", "-V"),
                         [](const testing::TestParamInfo<const char*>& row) {
                           return support::TitleName(row.param);
                         });

struct CommandLineCase {
  const char* what;
  std::vector<std::string> args;
};

class ViewerCommandLine : public testing::TestWithParam<CommandLineCase> {};

TEST_P(ViewerCommandLine, IsIgnored) {
  ScratchFolder folder;
  native::WriteBytes(folder / "Qtv.ini", Basic);
  ChildResult result = RunViewer(folder, GetParam().args);
  EXPECT_EQ(0, result.exitCode);
  EXPECT_EQ(Result("430"), result.out);
  EXPECT_EQ("", result.err);
}

INSTANTIATE_TEST_SUITE_P(Rows, ViewerCommandLine,
                         testing::Values(CommandLineCase{"none", {}},
                                         CommandLineCase{"a width", {"450"}},
                                         CommandLineCase{"a word and an empty one", {"abc", ""}},
                                         CommandLineCase{"three", {"-1", "99999", "/?"}},
                                         CommandLineCase{"one with a blank", {"a b"}},
                                         CommandLineCase{"code page 932", {"\x83\x5C"}},
                                         CommandLineCase{"help and another", {"--help", "x"}},
                                         CommandLineCase{"short help and another", {"-h", "x"}},
                                         CommandLineCase{"lower-case v", {"-v"}}),
                         RowName<CommandLineCase>);

struct PresenceCase {
  const char* what;
  void (*prepare)(const ScratchFolder& folder);
  bool present;
};

void WriteBasic(const ScratchFolder& folder) { native::WriteBytes(folder / "Qtv.ini", Basic); }

const PresenceCase PresenceCases[] = {
    {"no file", [](const ScratchFolder&) {}, false},
    {"a directory of that name",
     [](const ScratchFolder& folder) { ASSERT_EQ(0, mkdir((folder / "Qtv.ini").c_str(), 0755)); },
     false},
    {"a link to nothing",
     [](const ScratchFolder& folder) {
       ASSERT_EQ(0, symlink("missing.ini", (folder / "Qtv.ini").c_str()));
     },
     false},
    {"written in 1979",
     [](const ScratchFolder& folder) {
       WriteBasic(folder);
       native::SetModificationTime(folder / "Qtv.ini", native::UtcSeconds(1979, 6, 1));
     },
     true},
    {"written in 2108",
     [](const ScratchFolder& folder) {
       WriteBasic(folder);
       native::SetModificationTime(folder / "Qtv.ini", native::UtcSeconds(2108, 6, 1));
     },
     true},
    {"written in 1980",
     [](const ScratchFolder& folder) {
       WriteBasic(folder);
       native::SetModificationTime(folder / "Qtv.ini", native::UtcSeconds(1980, 6, 1));
     },
     true},
    {"written in 2107",
     [](const ScratchFolder& folder) {
       WriteBasic(folder);
       native::SetModificationTime(folder / "Qtv.ini", native::UtcSeconds(2107, 6, 1));
     },
     true},
    {"read-only",
     [](const ScratchFolder& folder) {
       WriteBasic(folder);
       ASSERT_EQ(0, chmod((folder / "Qtv.ini").c_str(), 0444));
     },
     true},
    {"named in upper case",
     [](const ScratchFolder& folder) { native::WriteBytes(folder / "QTV.INI", Basic); }, true},
    {"named in lower case beside a directory named in upper case",
     [](const ScratchFolder& folder) {
       ASSERT_EQ(0, mkdir((folder / "QTV.INI").c_str(), 0755));
       native::WriteBytes(folder / "qtv.ini", Basic);
     },
     true},
    {"named like it only in part",
     [](const ScratchFolder& folder) { native::WriteBytes(folder / "Qtv.ini.txt", Basic); }, false},
};

class ViewerPresence : public testing::TestWithParam<PresenceCase> {};

TEST_P(ViewerPresence, SettingsFileIsThereWhateverItsTimeOrLetterCase) {
  const PresenceCase& row = GetParam();
  ScratchFolder folder;
  row.prepare(folder);
  ChildResult result = RunViewer(folder);
  EXPECT_EQ(row.present ? 0 : 1, result.exitCode);
  EXPECT_EQ(row.present ? Result("430") : "", result.out);
  EXPECT_EQ(row.present ? "" : NotFound, result.err);
}

INSTANTIATE_TEST_SUITE_P(Rows, ViewerPresence, testing::ValuesIn(PresenceCases),
                         RowName<PresenceCase>);

struct HostCase {
  const char* what;
  const char* host;  // the host's first command-line word
};

class ViewerHost : public testing::TestWithParam<HostCase> {};

TEST_P(ViewerHost, RefusesWhileTheHostRuns) {
  ScratchFolder folder;
  WriteBasic(folder);
  native::StandInProcess running(GetParam().host);
  ChildResult result = RunViewer(folder);
  EXPECT_EQ(1, result.exitCode);
  EXPECT_EQ("", result.out);
  EXPECT_EQ(HostRunning, result.err);
}

INSTANTIATE_TEST_SUITE_P(Rows, ViewerHost,
                         testing::Values(HostCase{"bare name", "Qtv.exe"},
                                         HostCase{"Windows path in capitals",
                                                  "C:\\Ostrel\\QTV.EXE"}),
                         RowName<HostCase>);

TEST(ViewerNativeTest, MissingFileWinsOverTheRunningHost) {
  ScratchFolder folder;
  native::StandInProcess running("Qtv.exe");
  ChildResult result = RunViewer(folder);
  EXPECT_EQ(1, result.exitCode);
  EXPECT_EQ("", result.out);
  EXPECT_EQ(NotFound, result.err);
}

TEST(ViewerNativeTest, FailedReadEndsWithTheRuntimeErrorReport) {
  // Through this link the viewer reads its own memory from address 0, which fails with EIO.
  ScratchFolder folder;
  ASSERT_EQ(0, symlink("/proc/self/mem", (folder / "Qtv.ini").c_str()));
  const std::regex report = Report("1117 at ([0-9A-F]{8})", "Input/output error");
  std::string sites[2];
  for (std::string& site : sites) {
    ChildResult result = RunViewer(folder);
    EXPECT_EQ(1117 & 0xFF, result.exitCode);
    EXPECT_EQ("", result.out);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(result.err, match, report)) << result.err;
    site = match[1];
  }
  // The program is loaded at another address each time; the site must not depend on it.
  EXPECT_EQ(sites[0], sites[1]);
}

// A device has no end: reading one as a single endless line would exhaust memory first. A named
// pipe without a writer would keep the program waiting at the open.
struct NoPlainFileCase {
  const char* what;
  std::function<int(const std::string&)> make;
};

class ViewerNoPlainFile : public testing::TestWithParam<NoPlainFileCase> {};

TEST_P(ViewerNoPlainFile, IsRefusedNotReadForever) {
  ScratchFolder folder;
  ASSERT_EQ(0, GetParam().make(folder / "Qtv.ini"));
  ChildResult result = RunViewer(folder);
  EXPECT_EQ(5, result.exitCode);
  EXPECT_EQ("", result.out);
  EXPECT_TRUE(std::regex_match(result.err, Report("  5 at [0-9A-F]{8}", "not a plain file")))
      << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ViewerNoPlainFile,
    testing::Values(
        NoPlainFileCase{"link to /dev/zero",
                        [](const std::string& path) { return symlink("/dev/zero", path.c_str()); }},
        NoPlainFileCase{"link to /dev/null",
                        [](const std::string& path) { return symlink("/dev/null", path.c_str()); }},
        NoPlainFileCase{"named pipe",
                        [](const std::string& path) { return mkfifo(path.c_str(), 0644); }}),
    RowName<NoPlainFileCase>);

}  // namespace
