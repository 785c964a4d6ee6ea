// Message boxes of the POSIX platform layer: each box becomes text on the terminal, its caption on
// a line of its own, then its text, converted from code page 932 to UTF-8. Result boxes go to
// standard output, every other box to standard error; the Yes/No question reads its answer from
// standard input.
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "cp932_text.h"
#include "platform.h"
#include "posix_io.h"

using namespace posix_layer;

namespace {

// The low four bits of a message box style choose its buttons.
constexpr uint32_t MB_BUTTONS_MASK = 0xF;

// An answer to the Yes/No question longer than this is no yes anyway.
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

// The caption on a line of its own, then the text, in UTF-8 with LF line breaks.
std::string BoxTerminalText(const char* text, const char* caption) {
  return Utf8FromCp932(WithPlainLineBreaks(caption != nullptr ? caption : "")) + "\n" +
         Utf8FromCp932(WithPlainLineBreaks(text != nullptr ? text : ""));
}

void WriteToStream(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

// One line of standard input without its LF and a CR before it; empty at the end of input.
// Read byte by byte, so that nothing after the line is taken from the input.
std::string ReadAnswerLine() {
  std::string line;
  char byte = 0;
  while (ReadRetrying(STDIN_FILENO, &byte, 1) == 1 && byte != '\n') {
    if (line.size() <= MaxAnswerLength) {
      line += byte;
    }
  }
  if (!line.empty() && line.back() == '\r') {
    line.pop_back();
  }
  return line;
}

// "y" or "yes" in any letter case.
bool IsYesAnswer(const std::string& answer) {
  return strcasecmp(answer.c_str(), "y") == 0 || strcasecmp(answer.c_str(), "yes") == 0;
}

// The result boxes (the viewer's value, the repair tool's success) are the program's output;
// every other box reports a refusal or a failure.
bool IsResultBox(uint32_t style) {
  return (style & MB_TOPMOST_STYLE) != 0 && (style & MB_ICON_MASK) == 0;
}

}  // namespace

// Every box goes to the terminal at once and nothing waits for a key, except the Yes/No question,
// which reads its answer from standard input. Result boxes go to standard output, all others to
// standard error.
int OsMessageBox(const char* text, const char* caption, uint32_t style) {
  std::string shown = BoxTerminalText(text, caption);
  if ((style & MB_BUTTONS_MASK) == MB_YESNO_STYLE) {
    WriteToStream(stderr, shown + YesNoPrompt);
    return IsYesAnswer(ReadAnswerLine()) ? IDYES_RESULT : IDNO_RESULT;
  }
  WriteToStream(IsResultBox(style) ? stdout : stderr, shown + "\n");
  return IDOK_RESULT;
}
