// The process on the POSIX platform layer: the program entry, the command line as Windows would
// give it, the exit code and the place of the code in the executable.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "native_help.h"
#include "platform.h"
#include "posix_errors.h"
#include "posix_names.h"
#include "posix_signals.h"
#include "posix_terminal.h"
#include "settings_names.h"

using posix_layer::NoteOutputFailure;
using posix_layer::OutputFailureCode;

namespace {

// POSIX keeps only the low 8 bits of an exit code.
constexpr uint32_t ExitCodeMask = 0xFF;

// The exit statuses of a run that ends by itself: it did what it was started for, or a check
// stopped it with its message (or the backup question was not answered Yes). A shell tells them
// apart; a Windows program ends with 0 either way.
constexpr int DoneStatus = 0;
constexpr int RefusedStatus = 1;
// The status of an error number whose low 8 bits would read as one of the two above.
constexpr int OtherErrorStatus = 255;

std::string CommandLine;

// Whether an argument stands in double quotes: when it is empty or holds a byte at or below 0x20
// (Wine quotes only blanks and tabs; the other control bytes would split an argument for the
// command-line splitter just the same).
bool NeedsQuotes(const char* argument) {
  if (*argument == '\0') {
    return true;
  }
  for (const char* p = argument; *p != '\0'; ++p) {
    if (static_cast<unsigned char>(*p) <= ' ') {
      return true;
    }
  }
  return false;
}

// The command line as GetCommandLineA gives it when Wine starts a Windows program with these
// arguments: each argument (the program name first) after one blank. An argument that needs
// quotes stands in double quotes; a double quote inside an argument is escaped with a backslash,
// and the backslashes right before it (or before a closing quote) are doubled, so that it stays
// a literal character: panefix '45"0' gets the command line wine Panefix.exe '45"0' would.
std::string CommandLineFromArguments(int argc, const char* const* argv) {
  std::string line;
  for (int i = 0; i < argc; ++i) {
    if (i > 0) {
      line += ' ';
    }
    bool quoted = NeedsQuotes(argv[i]);
    if (quoted) {
      line += '"';
    }
    size_t backslashes = 0;
    for (const char* p = argv[i]; *p != '\0'; ++p) {
      if (*p == '"') {
        line.append(backslashes + 1, '\\');
      }
      backslashes = *p == '\\' ? backslashes + 1 : 0;
      line += *p;
    }
    if (quoted) {
      line.append(backslashes, '\\');
      line += '"';
    }
  }
  return line;
}

}  // namespace

// The executable's ELF header, placed by the linker.
extern "C" const char __ehdr_start[];  // NOLINT(bugprone-reserved-identifier)

const char* OsGetCommandLine() { return CommandLine.c_str(); }

namespace {

// The exit status of an error number: its low 8 bits, which POSIX keeps, unless they read as
// done or refused.
int StatusOfError(uint32_t errorNumber) {
  auto status = static_cast<int>(errorNumber & ExitCodeMask);
  return status == DoneStatus || status == RefusedStatus ? OtherErrorStatus : status;
}

// Ends the process with status once pending output is out and no unfinished file is left.
// A run that ends by itself although a message of it could not be written ends with that
// write's error instead: what the user did not see is neither success nor a refusal the user
// was told of. A run that ends with an error number keeps it.
//
// Below the last box, a line the Windows programs cannot show: for a run that ends with an error
// number, the file and the system's reason for it; for a run that stopped because the settings
// file is not in the current folder, what a Linux user does about it.
[[noreturn]] void EndProcess(int status, bool endedByItself, uint32_t errorNumber) {
  posix_layer::RemoveUnfinishedFiles();
  std::string reason = posix_layer::ReasonLine(errorNumber);
  if (errorNumber != 0 && !reason.empty()) {
    posix_layer::ShowLine(reason);
  } else if (status == RefusedStatus && posix_layer::ShowedMissing(SettingsFileName)) {
    posix_layer::ShowLine(std::string("Run ") + NativeProgramName + " in the folder that holds " +
                          SettingsFileName + ".");
  }
  for (std::FILE* stream : {stdout, stderr}) {
    if (std::fflush(stream) != 0) {
      NoteOutputFailure(errno);
    }
  }
  if (endedByItself && OutputFailureCode() != 0) {
    status = StatusOfError(OutputFailureCode());
  }
  _exit(status);
}

}  // namespace

// Error number 0 ends the process as a run that did its work.
[[noreturn]] void OsExitProcess(uint32_t exitCode) {
  if (exitCode == 0) {
    EndProcess(DoneStatus, true, 0);
  }
  EndProcess(StatusOfError(exitCode), false, exitCode);
}

// The offset from the load address of the executable. All of the programs' code is linked into
// the executable itself, whose ELF header the linker places at that address.
uint32_t OsImageOffset(const void* codeAddress) {
  uintptr_t offset =
      reinterpret_cast<uintptr_t>(codeAddress) - reinterpret_cast<uintptr_t>(__ehdr_start);
  return static_cast<uint32_t>(offset);
}

// The program entry: records the command line, runs the program, and ends with 0 when it did its
// work, 1 when a check stopped it. A closed pipe on standard output or standard error, or a
// file-size limit (ulimit -f) reached by the backup or the rewrite, is a failed write, not a
// signal that would end the run wherever it stands: the backup question, the report and the exit
// code then say what happened, and no half-made copy is left behind. Every other signal that
// ends the run (SIGINT, SIGTERM, SIGHUP, ...) removes a half-made copy or rewrite first. -h or
// --help, -V or --version as the one argument is answered on standard output instead, touching
// no file; in any other command line they are the program's arguments like any other word.
int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  posix_layer::RemoveUnfinishedFilesOnInterrupt();
  if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
    std::fputs(NativeUsage, stdout);
    OsExitProcess(0);
  }
  if (argc == 2 && (std::strcmp(argv[1], "-V") == 0 || std::strcmp(argv[1], "--version") == 0)) {
    std::fputs(NativeVersion, stdout);
    OsExitProcess(0);
  }
  CommandLine = CommandLineFromArguments(argc, argv);
  EndProcess(ProgramMain() ? DoneStatus : RefusedStatus, true, 0);
}
