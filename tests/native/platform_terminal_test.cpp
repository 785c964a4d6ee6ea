// The POSIX platform layer at the terminal: message boxes, the Yes/No question, the command
// line, the process end and the failure site.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "native_support.h"
#include "platform.h"
#include "platform_test_entry.h"
#include "program_texts.h"

namespace {

using native::ChildResult;
using native::Cp932;
using native::RowName;
using native::RunInChild;

constexpr uint32_t ErrorBoxStyle = MB_OK_STYLE | MB_ICONHAND_STYLE | MB_SETFOREGROUND_STYLE;
constexpr uint32_t ResultBoxStyle = MB_OK_STYLE | MB_TOPMOST_STYLE;
constexpr uint32_t ReportBoxStyle = MB_OK_STYLE;
constexpr uint32_t QuestionStyle =
    MB_YESNO_STYLE | MB_ICONEXCLAMATION_STYLE | MB_DEFBUTTON2_STYLE | MB_SETFOREGROUND_STYLE;

// Shows one box in a child process whose standard input holds input; the child's exit code is
// the box's result.
ChildResult ShowInChild(const std::string& text, const std::string& caption, uint32_t style,
                        const std::string& input = "") {
  return RunInChild([&] { return OsMessageBox(text.c_str(), caption.c_str(), style); }, input);
}

std::string Repeated(const std::string& piece, size_t times) {
  std::string result;
  for (size_t i = 0; i < times; ++i) {
    result += piece;
  }
  return result;
}

struct BoxCase {
  const char* what;
  std::string text;     // code page 932
  std::string caption;  // code page 932
  uint32_t style;
  std::string out;  // UTF-8
  std::string err;  // UTF-8
};

const std::string ReportText = std::string(texts::ReportStart) + " 32 at 00001234";

const BoxCase BoxCases[] = {
    {"result box", Cp932(texts::Result("430")), texts::ViewerCaption, ResultBoxStyle,
     texts::OnTerminal(texts::ViewerCaption, texts::Result("430")), ""},
    {"error box", Cp932(texts::HostRunning), texts::ViewerCaption, ErrorBoxStyle, "",
     texts::OnTerminal(texts::ViewerCaption, texts::HostRunning)},
    {"I/O failure report", ReportText, texts::ReportCaption, ReportBoxStyle, "",
     texts::OnTerminal(texts::ReportCaption, ReportText)},
    {"kept on top, with an icon", "t", "c", MB_TOPMOST_STYLE | MB_ICONHAND_STYLE, "", "c\nt\n"},
    {"CR LF", Cp932(texts::HeaderMissing), texts::ViewerCaption, ErrorBoxStyle, "",
     texts::OnTerminal(texts::ViewerCaption, texts::HeaderMissing)},
    {"Japanese caption", "ok", Cp932(texts::RepairCaption), ErrorBoxStyle, "",
     std::string(texts::RepairCaption) + "\nok\n"},
    {"half-width katakana, 0x5C as trail byte and alone", "\xB1\x83\x5C\\", "c", ResultBoxStyle,
     "c\nｱソ\\\n", ""},
    {"bytes that begin no character", "a\x80z\xA0y\xFDx", "c", ResultBoxStyle,
     "c\na\uFFFDz\uFFFDy\uFFFDx\n", ""},
    {"lead byte before a blank", "\x81 z", "c", ResultBoxStyle, "c\n\uFFFD z\n", ""},
    {"lead byte at the end", "x\x82", "c", ResultBoxStyle, "c\nx\uFFFD\n", ""},
    {"invalid byte in the caption", "t", "\xFFz", ErrorBoxStyle, "", "\uFFFDz\nt\n"},
    {"text far longer than one conversion step", Repeated(Cp932("あ"), 400) + "\x80", "c",
     ResultBoxStyle, "c\n" + Repeated("あ", 400) + "\uFFFD\n", ""},
    {"empty text", "", "c", ErrorBoxStyle, "", "c\n\n"},
    // A value of the settings file must not drive the terminal: control characters are shown
    // as cat -v shows them, LF and TAB stay.
    {"control characters made visible", "a\x1B]0;t\x07z\x1B[2J\x7F\rq\tw\nx\x01", "c",
     ResultBoxStyle, "c\na^[]0;t^Gz^[[2J^?^Mq\tw\nx^A\n", ""},
    {"control characters in the caption", "t", "\x1B[2Jc", ErrorBoxStyle, "", "^[[2Jc\nt\n"},
};

class MessageBoxRows : public testing::TestWithParam<BoxCase> {};

TEST_P(MessageBoxRows, ShowsCaptionLineThenTextOnTheStreamOfItsKind) {
  const BoxCase& row = GetParam();
  ChildResult result = ShowInChild(row.text, row.caption, row.style);
  EXPECT_EQ(IDOK_RESULT, result.exitCode);
  EXPECT_EQ(row.out, result.out) << native::Escaped(result.out);
  EXPECT_EQ(row.err, result.err) << native::Escaped(result.err);
}

INSTANTIATE_TEST_SUITE_P(Rows, MessageBoxRows, testing::ValuesIn(BoxCases), RowName<BoxCase>);

TEST(MessageBoxTest, PlainBoxesDoNotWaitForInput) {
  // With a pipe as standard input that nobody writes to or closes, any read would never end.
  int input[2];
  ASSERT_EQ(0, pipe(input));
  ChildResult result = RunInChild([&] {
    dup2(input[0], STDIN_FILENO);
    return OsMessageBox("t", "c", ErrorBoxStyle) + OsMessageBox("t", "c", ResultBoxStyle);
  });
  close(input[0]);
  close(input[1]);
  EXPECT_EQ(2 * IDOK_RESULT, result.exitCode);
}

struct AnswerCase {
  std::string input;
  int result;
};

const AnswerCase AnswerCases[] = {
    {"y\n", IDYES_RESULT},     {"Y\n", IDYES_RESULT},     {"yes\n", IDYES_RESULT},
    {"YES\n", IDYES_RESULT},   {"yEs\n", IDYES_RESULT},   {"はい\n", IDYES_RESULT},
    {"いいえ\n", IDNO_RESULT}, {"Yes\r\n", IDYES_RESULT}, {"y", IDYES_RESULT},
    {"y\nn\n", IDYES_RESULT},  {"n\n", IDNO_RESULT},      {"no\n", IDNO_RESULT},
    {"\n", IDNO_RESULT},       {"", IDNO_RESULT},         {"yess\n", IDNO_RESULT},
    {"ye\n", IDNO_RESULT},     {" y\n", IDNO_RESULT},     {"y \n", IDNO_RESULT},
    {"n\ny\n", IDNO_RESULT},   {"\r\n", IDNO_RESULT},     {Repeated("y", 40) + "\n", IDNO_RESULT},
};

class QuestionAnswerRows : public testing::TestWithParam<AnswerCase> {};

TEST_P(QuestionAnswerRows, QuestionTakesYesOnlyForYOrYes) {
  const AnswerCase& row = GetParam();
  ChildResult result = ShowInChild(Cp932("続けますか?"), "c", QuestionStyle, row.input);
  EXPECT_EQ(row.result, result.exitCode) << "answer \"" + native::Escaped(row.input) + "\"";
  // Standard input is a file here: the prompt ends its line.
  EXPECT_EQ(std::string("c\n続けますか?") + texts::YesNoPrompt + "\n", result.err);
  EXPECT_EQ("", result.out);
}

INSTANTIATE_TEST_SUITE_P(Rows, QuestionAnswerRows, testing::ValuesIn(AnswerCases),
                         [](const testing::TestParamInfo<AnswerCase>& row) {
                           return support::NameOf(row.param.input);
                         });

struct TerminalQuestionCase {
  const char* what;
  bool errorIsTerminal;  // whether standard error is the terminal too, or a file
  std::string typed;     // what the user types at the terminal
  int result;
  std::string terminal;  // what the terminal shows afterwards
  std::string err;       // what standard error holds, when it is a file
};

// The question "q?" with caption "c" and its prompt, as a terminal shows it with the echo of
// what was typed, and as a file holds it.
const std::string TerminalQuestion = std::string("c\r\nq?") + texts::YesNoPrompt;
const std::string FileQuestion = std::string("c\nq?") + texts::YesNoPrompt + "\n";

const TerminalQuestionCase TerminalQuestionCases[] = {
    {"answered with Enter", true, "y\n", IDYES_RESULT, TerminalQuestion + "y\r\n", ""},
    {"empty answer", true, "\n", IDNO_RESULT, TerminalQuestion + "\r\n", ""},
    {"Ctrl-D", true, "\x04", IDNO_RESULT, TerminalQuestion + "\r\n", ""},
    {"Ctrl-D after an answer, then on an empty line", true, "y\x04\x04", IDYES_RESULT,
     TerminalQuestion + "y\r\n", ""},
    // Nobody sees a question that goes to a file: it is answered No without waiting.
    {"standard error no terminal", false, "y\n", IDNO_RESULT, "", FileQuestion},
};

class TerminalQuestionRows : public testing::TestWithParam<TerminalQuestionCase> {};

TEST_P(TerminalQuestionRows, QuestionAtATerminalEndsItsLineAndIsNotAskedUnseen) {
  const TerminalQuestionCase& row = GetParam();
  native::PseudoTerminal terminal;
  ASSERT_GE(terminal.ProgramSide(), 0);
  // The user types once the prompt is on the screen. A question asked where nobody sees it gets
  // its answer typed before the program starts, without echo, ready for a program that wrongly
  // waits for one.
  bool typed = false;
  if (!row.errorIsTerminal) {
    termios settings{};
    ASSERT_EQ(0, tcgetattr(terminal.UserSide(), &settings));
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ASSERT_EQ(0, tcsetattr(terminal.UserSide(), TCSANOW, &settings));
    typed = native::WriteAll(terminal.UserSide(), row.typed);
    ASSERT_TRUE(typed);
  }
  std::string shown;
  std::thread user([&] {
    shown = native::ReadUntilClosed(terminal.UserSide(), [&](const std::string& soFar) {
      if (!typed && soFar.find(texts::YesNoPrompt) != std::string::npos) {
        typed = native::WriteAll(terminal.UserSide(), row.typed);
      }
    });
  });
  ChildResult result = RunInChild([&] {
    dup2(terminal.ProgramSide(), STDIN_FILENO);
    if (row.errorIsTerminal) {
      dup2(terminal.ProgramSide(), STDERR_FILENO);
    }
    return OsMessageBox("q?", "c", QuestionStyle);
  });
  // The child has ended, and with it its descriptors of the program's side: closing this
  // process's last one lets the user read what the terminal showed to its very end.
  terminal.CloseProgramSide();
  user.join();
  EXPECT_EQ(row.result, result.exitCode);
  EXPECT_EQ(row.err, result.err);
  EXPECT_EQ(row.terminal, shown) << native::Escaped(shown);
}

INSTANTIATE_TEST_SUITE_P(Rows, TerminalQuestionRows, testing::ValuesIn(TerminalQuestionCases),
                         RowName<TerminalQuestionCase>);

struct CommandLineCase {
  std::vector<std::string> argv;
  std::string commandLine;
};

const CommandLineCase CommandLineCases[] = {
    {{"prog"}, "prog"},
    {{"prog", "450"}, "prog 450"},
    {{"prog", "1", "2", "3"}, "prog 1 2 3"},
    {{"prog", ""}, "prog \"\""},
    {{"prog", "", "450"}, "prog \"\" 450"},
    {{"prog", "a b"}, "prog \"a b\""},
    {{"prog", " "}, "prog \" \""},
    {{"prog", "a\tb"}, "prog \"a\tb\""},
    {{"prog", "\x01"}, "prog \"\x01\""},
    {{"prog", "\x83\x5C\xFF"}, "prog \x83\x5C\xFF"},
    {{"prog", "a\"b"}, "prog a\\\"b"},
    {{"prog", "a\\\"b"}, "prog a\\\\\\\"b"},
    {{"prog", "a b\\"}, "prog \"a b\\\\\""},
    {{"prog", "a\\b"}, "prog a\\b"},
    {{"prog", "!#$%"}, "prog !#$%"},
    {{"/my dir/prog", "7"}, "\"/my dir/prog\" 7"},
};

class CommandLineRows : public testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLineRows, RebuiltFromArgumentsWithBlankHoldersQuoted) {
  const CommandLineCase& row = GetParam();
  native::ScopedVariable print(PrintCommandLineVariable, "1");
  native::ScratchFolder folder;
  ChildResult result = native::RunProgram(OwnProgramPath(), row.argv, folder.Path());
  EXPECT_EQ(0, result.exitCode);
  EXPECT_EQ(row.commandLine, result.out) << native::Escaped(result.out);
}

INSTANTIATE_TEST_SUITE_P(Rows, CommandLineRows, testing::ValuesIn(CommandLineCases),
                         [](const testing::TestParamInfo<CommandLineCase>& row) {
                           return support::WordsName(row.param.argv);
                         });

struct ExitCase {
  uint32_t code;
  int seen;  // what the parent sees: the low 8 bits
};

// An error number whose low 8 bits would read as done (0) or refused (1) ends with 255.
const ExitCase ExitCases[] = {{0, 0},         {3, 3},   {32, 32},   {203, 203}, {1117, 93},
                              {0x1234, 0x34}, {1, 255}, {256, 255}, {257, 255}};

class ExitCodeRows : public testing::TestWithParam<ExitCase> {};

TEST_P(ExitCodeRows, EndsWithTheCodeAfterPendingOutput) {
  const ExitCase& row = GetParam();
  ChildResult result = RunInChild([&]() -> int {
    std::fputs("pending", stdout);  // a file: fully buffered, not yet written
    std::fputs("also", stderr);
    OsExitProcess(row.code);
  });
  EXPECT_EQ(row.seen, result.exitCode);
  EXPECT_EQ("pending", result.out);
  EXPECT_EQ("also", result.err);
}

INSTANTIATE_TEST_SUITE_P(Rows, ExitCodeRows, testing::ValuesIn(ExitCases),
                         [](const testing::TestParamInfo<ExitCase>& row) {
                           return "Code" + std::to_string(row.param.code);
                         });

struct LostOutputCase {
  const char* what;
  int stream;         // the descriptor that cannot be written
  bool closedPipe;    // a pipe nobody reads; else a full device
  uint32_t style;     // of the box shown
  uint32_t exitCode;  // the run's own
  int seen;           // what the parent sees
};

const LostOutputCase LostOutputCases[] = {
    {"result to a full device", STDOUT_FILENO, false, ResultBoxStyle, 0, 112},
    {"error box to a closed pipe", STDERR_FILENO, true, ErrorBoxStyle, 0, 109},
    {"a run that failed keeps its number", STDERR_FILENO, false, ReportBoxStyle, 5, 5},
    // The question goes unseen: the answer on standard input does not count, it is No.
    {"question to a full device", STDERR_FILENO, false, QuestionStyle, 0, 112},
};

class LostOutputRows : public testing::TestWithParam<LostOutputCase> {};

TEST_P(LostOutputRows, OutputThatCannotBeWrittenEndsTheRunWithItsError) {
  constexpr int AnsweredYes = 77;
  const LostOutputCase& row = GetParam();
  ChildResult result = RunInChild(
      [&]() -> int {
        int sink[2] = {-1, -1};
        if (row.closedPipe) {
          if (pipe(sink) != 0) {
            return -1;
          }
          close(sink[0]);
        } else {
          sink[1] = open("/dev/full", O_WRONLY);
        }
        dup2(sink[1], row.stream);
        if (OsMessageBox("t", "c", row.style) == IDYES_RESULT) {
          return AnsweredYes;
        }
        OsExitProcess(row.exitCode);
      },
      "y\n");
  EXPECT_EQ(row.seen, result.exitCode);
}

INSTANTIATE_TEST_SUITE_P(Rows, LostOutputRows, testing::ValuesIn(LostOutputCases),
                         RowName<LostOutputCase>);

TEST(ExitProcessTest, TheFirstMessageThatCannotBeWrittenGivesTheExitCode) {
  ChildResult result = RunInChild([]() -> int {
    int pipeEnds[2] = {-1, -1};
    if (pipe(pipeEnds) != 0) {
      return -1;
    }
    close(pipeEnds[0]);
    dup2(pipeEnds[1], STDOUT_FILENO);
    int full = open("/dev/full", O_WRONLY);
    dup2(full, STDERR_FILENO);
    OsMessageBox("t", "c", ResultBoxStyle);  // a closed pipe: 109
    OsMessageBox("t", "c", ErrorBoxStyle);   // a full device: 112
    OsExitProcess(0);
  });
  EXPECT_EQ(109, result.exitCode);
}

struct ReasonCase {
  const char* name;
  const char* report;
  uint32_t number;    // the error number the run ends with
  std::string shown;  // what standard error holds afterwards
};

const ReasonCase ReasonCases[] = {
    {"SameNumber", "Runtime error 1117 at 00001234", 1117,
     "Error\nRuntime error 1117 at 00001234\nmem: Input/output error\n"},
    {"OtherNumber", "Runtime error   2 at 00001234", 2, "Error\nRuntime error   2 at 00001234\n"},
};

class ReportReasonRows : public testing::TestWithParam<ReasonCase> {};

// The end of a run adds a line below the report that names the file and the reason of the
// failure it reports, and only of that one: after a read of a file failed, a run that ends with
// another number has none.
TEST_P(ReportReasonRows, NamesTheFileAndTheReasonOfTheFailureReported) {
  const ReasonCase& row = GetParam();
  native::ScratchFolder folder;
  ChildResult result = RunInChild([&] {
    if (chdir(folder.Path().c_str()) != 0 || symlink("/proc/self/mem", "mem") != 0) {
      return -1;
    }
    FileHandle handle = OsCreateFile("mem", GENERIC_READ_ACCESS, FILE_SHARE_READ_MODE,
                                     OPEN_EXISTING_DISPOSITION, FILE_ATTRIBUTE_NORMAL_VALUE);
    char buffer[4];
    uint32_t count = 0;
    if (handle == InvalidFileHandle || OsReadFile(handle, buffer, sizeof buffer, &count)) {
      return -2;
    }
    OsMessageBox(row.report, "Error", ReportBoxStyle);
    OsExitProcess(row.number);
  });
  EXPECT_EQ(static_cast<int>(row.number & 0xFF), result.exitCode);
  EXPECT_EQ(row.shown, result.err);
}

INSTANTIATE_TEST_SUITE_P(Rows, ReportReasonRows, testing::ValuesIn(ReasonCases),
                         [](const testing::TestParamInfo<ReasonCase>& row) {
                           return std::string(row.param.name);
                         });

int SomeCode() { return 1; }

TEST(ImageOffsetTest, IsTheDistanceFromTheProgramStart) {
  const void* address = reinterpret_cast<const void*>(&SomeCode);
  const void* later = static_cast<const char*>(address) + 16;
  uint32_t offset = OsImageOffset(address);
  struct stat program {};
  ASSERT_EQ(0, stat(OwnProgramPath().c_str(), &program));
  EXPECT_GT(offset, 0u);
  EXPECT_LT(offset, static_cast<uint64_t>(program.st_size));
  EXPECT_EQ(offset + 16, OsImageOffset(later));
}

}  // namespace
