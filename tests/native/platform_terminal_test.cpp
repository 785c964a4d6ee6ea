// The POSIX platform layer at the terminal: message boxes, the Yes/No question, the command
// line, the process end and the failure site.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "native_support.h"
#include "platform.h"
#include "platform_test_entry.h"

namespace {

using native::ChildResult;
using native::Cp932;
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

TEST(MessageBoxTest, ShowsCaptionLineThenTextOnTheStreamOfItsKind) {
  const BoxCase cases[] = {
      {"result box", Cp932("スレッド・ペインの幅は 430 です。"), "Panepeek", ResultBoxStyle,
       "Panepeek\nスレッド・ペインの幅は 430 です。\n", ""},
      {"error box", Cp932("処理を中止します。"), "Panepeek", ErrorBoxStyle, "",
       "Panepeek\n処理を中止します。\n"},
      {"I/O failure report", "Runtime error  32 at 00001234", "Error", ReportBoxStyle, "",
       "Error\nRuntime error  32 at 00001234\n"},
      {"kept on top, with an icon", "t", "c", MB_TOPMOST_STYLE | MB_ICONHAND_STYLE, "", "c\nt\n"},
      {"CR LF", Cp932("\"[DESKTOP]\" が見つかりませんでした。\r\n処理を中止します。"), "Panepeek",
       ErrorBoxStyle, "", "Panepeek\n\"[DESKTOP]\" が見つかりませんでした。\n処理を中止します。\n"},
      {"Japanese caption", "ok", Cp932("Mirvel スレ幅修復ツール"), ErrorBoxStyle, "",
       "Mirvel スレ幅修復ツール\nok\n"},
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
  for (const BoxCase& row : cases) {
    SCOPED_TRACE(row.what);
    ChildResult result = ShowInChild(row.text, row.caption, row.style);
    EXPECT_EQ(IDOK_RESULT, result.exitCode);
    EXPECT_EQ(row.out, result.out);
    EXPECT_EQ(row.err, result.err);
  }
}

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

TEST(MessageBoxTest, QuestionTakesYesOnlyForYOrYes) {
  const AnswerCase cases[] = {
      {"y\n", IDYES_RESULT},     {"Y\n", IDYES_RESULT},     {"yes\n", IDYES_RESULT},
      {"YES\n", IDYES_RESULT},   {"yEs\n", IDYES_RESULT},   {"はい\n", IDYES_RESULT},
      {"いいえ\n", IDNO_RESULT}, {"Yes\r\n", IDYES_RESULT}, {"y", IDYES_RESULT},
      {"y\nn\n", IDYES_RESULT},  {"n\n", IDNO_RESULT},      {"no\n", IDNO_RESULT},
      {"\n", IDNO_RESULT},       {"", IDNO_RESULT},         {"yess\n", IDNO_RESULT},
      {"ye\n", IDNO_RESULT},     {" y\n", IDNO_RESULT},     {"y \n", IDNO_RESULT},
      {"n\ny\n", IDNO_RESULT},   {"\r\n", IDNO_RESULT},     {Repeated("y", 40) + "\n", IDNO_RESULT},
  };
  for (const AnswerCase& row : cases) {
    SCOPED_TRACE("answer \"" + native::Escaped(row.input) + "\"");
    ChildResult result = ShowInChild(Cp932("続けますか?"), "c", QuestionStyle, row.input);
    EXPECT_EQ(row.result, result.exitCode);
    // Standard input is a file here: the prompt ends its line.
    EXPECT_EQ("c\n続けますか? [y/N] \n", result.err);
    EXPECT_EQ("", result.out);
  }
}

struct TerminalQuestionCase {
  const char* what;
  bool errorIsTerminal;  // whether standard error is the terminal too, or a file
  std::string typed;     // what the user types at the terminal
  int result;
  std::string terminal;  // what the terminal shows afterwards
  std::string err;       // what standard error holds, when it is a file
};

TEST(MessageBoxTest, QuestionAtATerminalEndsItsLineAndIsNotAskedUnseen) {
  const TerminalQuestionCase cases[] = {
      {"answered with Enter", true, "y\n", IDYES_RESULT, "c\r\nq? [y/N] y\r\n", ""},
      {"empty answer", true, "\n", IDNO_RESULT, "c\r\nq? [y/N] \r\n", ""},
      {"Ctrl-D", true, "\x04", IDNO_RESULT, "c\r\nq? [y/N] \r\n", ""},
      {"Ctrl-D after an answer, then on an empty line", true, "y\x04\x04", IDYES_RESULT,
       "c\r\nq? [y/N] y\r\n", ""},
      // Nobody sees a question that goes to a file: it is answered No without waiting.
      {"standard error no terminal", false, "y\n", IDNO_RESULT, "", "c\nq? [y/N] \n"},
  };
  for (const TerminalQuestionCase& row : cases) {
    SCOPED_TRACE(row.what);
    int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(0, grantpt(terminal));
    ASSERT_EQ(0, unlockpt(terminal));
    std::string side = ptsname(terminal);
    // The user types once the prompt is on the screen, or after two seconds at the latest, so
    // that a question asked where nobody sees it gets an answer it must not have waited for.
    std::string shown;
    std::atomic<bool> ended{false};
    std::thread user([&] {
      bool typed = false;
      auto start = std::chrono::steady_clock::now();
      pollfd ready{terminal, POLLIN, 0};
      while (!ended || poll(&ready, 1, 0) > 0) {
        if (poll(&ready, 1, 10) > 0) {
          char buffer[256];
          ssize_t count = read(terminal, buffer, sizeof buffer);
          if (count <= 0) {
            break;
          }
          shown.append(buffer, static_cast<size_t>(count));
        }
        if (!typed && (shown.find("[y/N] ") != std::string::npos ||
                       std::chrono::steady_clock::now() - start > std::chrono::seconds(2))) {
          typed = write(terminal, row.typed.data(), row.typed.size()) ==
                  static_cast<ssize_t>(row.typed.size());
        }
      }
    });
    ChildResult result = RunInChild([&] {
      int opened = open(side.c_str(), O_RDWR | O_NOCTTY);
      dup2(opened, STDIN_FILENO);
      if (row.errorIsTerminal) {
        dup2(opened, STDERR_FILENO);
      }
      return OsMessageBox("q?", "c", QuestionStyle);
    });
    ended = true;
    user.join();
    close(terminal);
    EXPECT_EQ(row.result, result.exitCode);
    EXPECT_EQ(row.err, result.err);
    EXPECT_EQ(row.terminal, shown) << native::Escaped(shown);
  }
}

struct CommandLineCase {
  std::vector<std::string> argv;
  std::string commandLine;
};

TEST(CommandLineTest, RebuiltFromArgumentsWithBlankHoldersQuoted) {
  const CommandLineCase cases[] = {
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
  native::ScopedVariable print(PrintCommandLineVariable, "1");
  native::ScratchFolder folder;
  for (const CommandLineCase& row : cases) {
    SCOPED_TRACE(native::Escaped(row.commandLine));
    ChildResult result = native::RunProgram(OwnProgramPath(), row.argv, folder.Path());
    EXPECT_EQ(0, result.exitCode);
    EXPECT_EQ(row.commandLine, result.out);
  }
}

struct ExitCase {
  uint32_t code;
  int seen;  // what the parent sees: the low 8 bits
};

TEST(ExitProcessTest, EndsWithTheCodeAfterPendingOutput) {
  const ExitCase cases[] = {{0, 0}, {3, 3}, {32, 32}, {203, 203}, {1117, 93}, {0x1234, 0x34}};
  for (const ExitCase& row : cases) {
    SCOPED_TRACE(row.code);
    ChildResult result = RunInChild([&]() -> int {
      std::fputs("pending", stdout);  // a file: fully buffered, not yet written
      std::fputs("also", stderr);
      OsExitProcess(row.code);
    });
    EXPECT_EQ(row.seen, result.exitCode);
    EXPECT_EQ("pending", result.out);
    EXPECT_EQ("also", result.err);
  }
}

struct LostOutputCase {
  const char* what;
  int stream;         // the descriptor that cannot be written
  bool closedPipe;    // a pipe nobody reads; else a full device
  uint32_t style;     // of the box shown
  uint32_t exitCode;  // the run's own
  int seen;           // what the parent sees
};

TEST(ExitProcessTest, OutputThatCannotBeWrittenEndsTheRunWithItsError) {
  const LostOutputCase cases[] = {
      {"result to a full device", STDOUT_FILENO, false, ResultBoxStyle, 0, 112},
      {"error box to a closed pipe", STDERR_FILENO, true, ErrorBoxStyle, 0, 109},
      {"a run that failed keeps its number", STDERR_FILENO, false, ReportBoxStyle, 5, 5},
      // The question goes unseen: the answer on standard input does not count, it is No.
      {"question to a full device", STDERR_FILENO, false, QuestionStyle, 0, 112},
  };
  constexpr int AnsweredYes = 77;
  for (const LostOutputCase& row : cases) {
    SCOPED_TRACE(row.what);
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
}

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
