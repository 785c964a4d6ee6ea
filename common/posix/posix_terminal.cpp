// Message boxes of the POSIX platform layer: each box becomes text on the terminal, its caption on
// a line of its own, then its text, converted from code page 932 to UTF-8. Result boxes go to
// standard output, every other box to standard error; the Yes/No question reads its answer from
// standard input.
#include "posix_terminal.h"

#include <strings.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cp932_text.h"
#include "platform.h"
#include "posix_errors.h"

using namespace posix_layer;

namespace {

// An answer to the Yes/No question longer than this is no yes anyway: the question stops reading
// there and takes it as No.
constexpr size_t MaxAnswerLength = 16;

const char YesNoPrompt[] = " [y/N] ";

// text with every CR LF turned into a plain LF.
std::string WithPlainLineBreaks(const char* text) {
  std::string result;
  for (const char* p = text; *p != '\0'; ++p) {
    if (p[0] != '\r' || p[1] != '\n') {
      result += *p;
    }
  }
  return result;
}

// UTF-8 text with its control characters made visible as cat -v shows them: ^[ for ESC, ^M for a
// CR alone, ^? for DEL, M-^[ for the C1 character U+009B (which a code page 932 table other than
// this build's may give for a single byte). The texts carry the settings file's bytes, which must
// never reach the terminal as a command: a crafted value could retitle the window or clear the
// screen. LF and TAB stay, as a line may hold them and they do no harm.
std::string WithVisibleControls(const std::string& utf8) {
  constexpr unsigned char Delete = 0x7F;
  constexpr unsigned char CaretOffset = 0x40;  // ESC 0x1B is shown as ^ and '[' 0x5B
  constexpr unsigned char C1Lead = 0xC2;       // U+0080 to U+009F are C2 80 to C2 9F in UTF-8
  constexpr unsigned char C1First = 0x80;
  constexpr unsigned char C1End = 0xA0;
  std::string shown;
  for (size_t i = 0; i < utf8.size(); ++i) {
    auto byte = static_cast<unsigned char>(utf8[i]);
    if (byte == C1Lead && i + 1 < utf8.size()) {
      auto next = static_cast<unsigned char>(utf8[i + 1]);
      if (next >= C1First && next < C1End) {
        shown += "M-^";
        shown += static_cast<char>(next - C1First + CaretOffset);
        ++i;
        continue;
      }
    }
    if (byte == Delete) {
      shown += "^?";
    } else if (byte < ' ' && byte != '\n' && byte != '\t') {
      shown += '^';
      shown += static_cast<char>(byte + CaretOffset);
    } else {
      shown += utf8[i];
    }
  }
  return shown;
}

// One text of a box as the terminal shows it: UTF-8, LF line breaks, visible control characters.
std::string ForTerminal(const char* text) {
  return WithVisibleControls(Utf8FromCp932(WithPlainLineBreaks(text != nullptr ? text : "")));
}

// The caption on a line of its own, then the text.
std::string BoxTerminalText(const char* text, const char* caption) {
  return ForTerminal(caption) + "\n" + ForTerminal(text);
}

// Writes text to stream at once. A failure (a full device, a pipe nobody reads) is remembered
// for the exit code, and the run goes on: a rewrite under way is never left half done for a
// message. Returns false when the text could not be written.
bool WriteToStream(std::FILE* stream, const std::string& text) {
  bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  written = std::fflush(stream) == 0 && written;
  if (!written) {
    NoteOutputFailure(errno);
    std::clearerr(stream);
  }
  return written;
}

// One short line of standard input without its LF and a CR before it; empty at the end of input.
// Read byte by byte, so that nothing after the line is taken from the input. *lineFeed tells
// whether an LF ended it, rather than the end of input (Ctrl-D on a terminal). Returns false at
// once, without reading further, for an answer that cannot be a yes: a NUL, or a line longer
// than any yes (an endless input such as /dev/zero ends here too); and for input that cannot be
// read.
bool ReadAnswerLine(std::string* line, bool* lineFeed) {
  char byte = 0;
  line->clear();
  *lineFeed = false;
  for (;;) {
    ssize_t count = ReadRetrying(STDIN_FILENO, &byte, 1);
    if (count < 0) {
      return false;
    }
    if (count == 0) {
      break;
    }
    if (byte == '\n') {
      *lineFeed = true;
      break;
    }
    if (byte == '\0' || line->size() == MaxAnswerLength) {
      return false;
    }
    *line += byte;
  }
  if (!line->empty() && line->back() == '\r') {
    line->pop_back();
  }
  return true;
}

// "y" or "yes" in any letter case, or "はい" as a Japanese terminal sends it (UTF-8).
bool IsYesAnswer(const std::string& answer) {
  return strcasecmp(answer.c_str(), "y") == 0 || strcasecmp(answer.c_str(), "yes") == 0 ||
         answer == "\xE3\x81\xAF\xE3\x81\x84";
}

// The result boxes (the viewer's value, the repair tool's success) are the program's output;
// every other box reports a refusal or a failure.
bool IsResultBox(uint32_t style) {
  return (style & MB_TOPMOST_STYLE) != 0 && (style & MB_ICON_MASK) == 0;
}

// The Yes/No question on the terminal. Its answer is one line of standard input; a question the
// user cannot see is answered No: when it cannot be written, and when standard error is no
// terminal while standard input is one (panefix 2>/dev/null), where waiting for an answer to a
// question nobody sees would only hang. The prompt's line is ended before the next output,
// unless the terminal echoed the answer's line end.
int AskYesNo(const std::string& shown) {
  if (!WriteToStream(stderr, shown + YesNoPrompt)) {
    return IDNO_RESULT;
  }
  bool inputIsTerminal = isatty(STDIN_FILENO) != 0;
  if (inputIsTerminal && isatty(STDERR_FILENO) == 0) {
    WriteToStream(stderr, "\n");
    return IDNO_RESULT;
  }
  std::string answer;
  bool lineFeed = false;
  bool whole = ReadAnswerLine(&answer, &lineFeed);
  if (!whole && inputIsTerminal) {
    // What the user typed after a refused answer must not reach the shell as a command.
    tcflush(STDIN_FILENO, TCIFLUSH);
  }
  bool yes = whole && IsYesAnswer(answer);
  if (!inputIsTerminal || !lineFeed) {
    WriteToStream(stderr, "\n");
  }
  return yes ? IDYES_RESULT : IDNO_RESULT;
}

}  // namespace

// Every box goes to the terminal at once and nothing waits for a key, except the Yes/No question,
// which reads its answer from standard input. Result boxes go to standard output, all others to
// standard error.
int OsMessageBox(const char* text, const char* caption, uint32_t style) {
  std::string shown = BoxTerminalText(text, caption);
  if ((style & MB_BUTTONS_MASK) == MB_YESNO_STYLE) {
    return AskYesNo(shown);
  }
  WriteToStream(IsResultBox(style) ? stdout : stderr, shown + "\n");
  return IDOK_RESULT;
}

void posix_layer::ShowLine(const std::string& line) {
  WriteToStream(stderr, ForTerminal(line.c_str()) + "\n");
}
