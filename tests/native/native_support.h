// Helpers of the native tests: scratch folders, files, child processes, a pseudo-terminal and a
// stand-in host.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "byte_text.h"
#include "row_name.h"

namespace native {

// A fresh, empty folder under the temporary directory; removed with its content at scope end.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& Path() const { return path_; }
  // The path of name inside the folder.
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The whole content of a file; fails the test when it cannot be read.
std::string ReadBytes(const std::string& path);

// Creates or replaces a file with exactly these bytes; fails the test when it cannot.
void WriteBytes(const std::string& path, const std::string& bytes);

// Sets a file's last-write time (seconds since 1970 UTC, and nanoseconds).
void SetModificationTime(const std::string& path, int64_t seconds, long nanoseconds = 0);

// The seconds since 1970 of a UTC calendar time.
int64_t UtcSeconds(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

// UTF-8 text as code page 932 bytes, the way the settings file and the programs keep it.
using support::Cp932;

// What a finished child left behind.
struct ChildResult {
  int exitCode = -1;  // -1 when it did not end by itself
  int signal = 0;     // the signal that ended it, when one did
  std::string out;
  std::string err;
};

// Runs body in a forked child whose standard input holds input and whose standard output and
// error are captured; body's return value is the child's exit code. The child ends without
// running the parent's exit handlers.
ChildResult RunInChild(const std::function<int()>& body, const std::string& input = "");

// How RunProgram starts a program, besides its folder and command line.
struct RunOptions {
  std::string input;           // what standard input holds; empty: it is at its end at once
  int64_t fileSizeLimit = -1;  // the largest size the program may give a file; -1: no limit
  uid_t user = static_cast<uid_t>(-1);  // the user (and group) it runs as; -1: this process's
};

// Runs program in folder with the command-line words argv (its own name first), with the file
// size limit given and SIGXFSZ at its default, as a shell with `ulimit -f` leaves it.
ChildResult RunProgram(const std::string& program, const std::vector<std::string>& argv,
                       const std::string& folder, const RunOptions& options = RunOptions());

// A program started as RunProgram starts it, still running until FinishProgram collects it, so
// that several can run at once, or one can be stopped by a signal (kill(pid, ...)).
struct StartedProgram {
  pid_t pid = -1;
  std::shared_ptr<ScratchFolder> capture;
};
StartedProgram StartProgram(const std::string& program, const std::vector<std::string>& argv,
                            const std::string& folder, const RunOptions& options = RunOptions());
ChildResult FinishProgram(const StartedProgram& started);

// Sets an environment variable (or removes it, for nullptr) until scope end.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value);
  ~ScopedVariable();
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  std::string name_;
  bool hadValue_ = false;
  std::string oldValue_;
};

// The process table is one for the whole machine: a stand-in host that one test run starts is a
// host to the programs that any other run, of any checkout, starts meanwhile. A test holds this
// lock while it starts a stand-in or runs a program that looks for the host, so that such tests
// of all runs on the machine take turns. Held from construction to scope end; a process may hold
// it several times over.
class HostLock {
 public:
  HostLock();
  ~HostLock();
  HostLock(const HostLock&) = delete;
  HostLock& operator=(const HostLock&) = delete;
};

// How long a stand-in waits at most: far longer than any test that starts one.
constexpr const char* StandInSeconds = "30";

// The program a stand-in process runs: it waits long enough and does nothing else.
constexpr const char* SleepProgram = "/bin/sleep";

// A process that stands in for a running host: executable (a sleep program) started with the
// first command-line word programName, optionally as another user. Once constructed, the process
// shows that command line; it is ended and reaped at scope end, or by Stop. It never outlives the
// test process, however that ends, and ends by itself after StandInSeconds in any case. It holds
// the HostLock until scope end.
class StandInProcess {
 public:
  // lastArgument, when not empty, follows the sleep's seconds on the command line.
  explicit StandInProcess(const std::string& programName,
                          const std::string& executable = SleepProgram,
                          uid_t user = static_cast<uid_t>(-1),
                          const std::string& lastArgument = "");
  ~StandInProcess();
  StandInProcess(const StandInProcess&) = delete;
  StandInProcess& operator=(const StandInProcess&) = delete;

  // Ends and reaps the process; afterwards it no longer exists.
  void Stop();
  pid_t Pid() const { return pid_; }

 private:
  HostLock lock_;
  pid_t pid_ = -1;
};

// One folder entry as it stands on disk: type, permission bits, last-write time and, for a
// plain file, its bytes (for a symbolic link, its target).
struct EntryState {
  unsigned mode = 0;
  int64_t mtimeSeconds = 0;
  long mtimeNanoseconds = 0;
  std::string content;

  bool operator==(const EntryState& other) const;
};

// Every entry of a folder, not following symbolic links.
std::map<std::string, EntryState> FolderState(const std::string& folder);

// A readable description of what differs between two folder states; empty when none.
std::string DescribeChanges(const std::map<std::string, EntryState>& before,
                            const std::map<std::string, EntryState>& after);

// Bytes as C-escaped text for failure messages: printable ASCII as is, the rest as \xNN.
using support::Escaped;

// The long form of a standard option of the native programs: --help for -h, --version for -V;
// any other option as it is.
std::string LongForm(const std::string& option);

// Checks what the native program named program printed for --help: it begins with the line
// usageLine, no line is wider than 80 columns, and it ends with a blank line, the line naming
// the program's manual page and, in as many lines as it takes, where to report problems.
void ExpectHelp(const std::string& out, const std::string& program, const std::string& usageLine);

// Checks what the native program named program printed for --version: GNU's five lines, with
// the product version and the copyright line of LICENSE.
void ExpectVersion(const std::string& out, const std::string& program);

// Names each instance of a table-driven test after its row's description.
using support::RowName;

// A new pseudo-terminal: the user's side (the master) and the program's side (the slave), both
// open in this process until scope end. A child that is to have it as its terminal gets the
// program's side through a fork. Once every child that got it has ended, CloseProgramSide waits
// until the terminal has handled all that was typed, its echo included, and closes the last
// descriptor of that side: the user's side then reads to its end.
class PseudoTerminal {
 public:
  PseudoTerminal();
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  int UserSide() const { return user_; }
  int ProgramSide() const { return program_; }
  void CloseProgramSide();

 private:
  int user_ = -1;
  int program_ = -1;
};

// Everything that arrives on descriptor until its other side is closed for good: the end of a
// pipe once no process holds its writing end, or the error EIO that the user's side of a
// pseudo-terminal gives once no descriptor of the program's side is left and all that side sent
// has been read (PseudoTerminal::CloseProgramSide sees to it that the echo of what was typed has
// been sent by then). Neither the end of the process that writes nor a pause tells that nothing
// more will come: the bytes sent last may still be on their way. After each read, seen gets all
// that has arrived so far, so that a user can type an answer once a question is on the screen.
std::string ReadUntilClosed(int descriptor,
                            const std::function<void(const std::string& soFar)>& seen = nullptr);

// Writes all of bytes to descriptor; false when a write fails.
bool WriteAll(int descriptor, const std::string& bytes);

}  // namespace native
