#include "native_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace native {

namespace {

// A child that cannot exec reports this exit code.
constexpr int ExecFailedCode = 127;

// Waits for pid, retrying when interrupted. Returns its exit code, or -1 with *signal set to the
// signal that ended it.
int WaitFor(pid_t pid, int* signal = nullptr) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      return -1;
    }
  }
  if (signal != nullptr) {
    *signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// How long a wait for another process's progress sleeps between two looks.
constexpr useconds_t PollMicroseconds = 1000;

// The first word of a process's command line; empty when it has none, or has ended.
std::string FirstCommandWord(pid_t pid) {
  int descriptor =
      open(("/proc/" + std::to_string(pid) + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) {
    return std::string();
  }
  std::string line;
  char buffer[4096];
  ssize_t count = 0;
  while ((count = read(descriptor, buffer, sizeof buffer)) > 0) {
    line.append(buffer, static_cast<size_t>(count));
  }
  close(descriptor);
  return line.substr(0, line.find('\0'));
}

// Points the descriptor target at path, opened with flags.
void Redirect(int target, const std::string& path, int flags) {
  int descriptor = open(path.c_str(), flags, 0600);
  if (descriptor < 0) {
    _exit(ExecFailedCode);
  }
  dup2(descriptor, target);
  close(descriptor);
}

}  // namespace

bool WriteAll(int descriptor, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t count = write(descriptor, bytes.data() + done, bytes.size() - done);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      return false;
    }
    done += static_cast<size_t>(count);
  }
  return true;
}

std::string ReadUntilClosed(int descriptor,
                            const std::function<void(const std::string& soFar)>& seen) {
  std::string arrived;
  char buffer[4096];
  for (;;) {
    ssize_t count = read(descriptor, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count == 0 || (count < 0 && errno == EIO)) {
      return arrived;
    }
    if (count < 0) {
      ADD_FAILURE() << "read failed: " << std::strerror(errno);
      return arrived;
    }
    arrived.append(buffer, static_cast<size_t>(count));
    if (seen) {
      seen(arrived);
    }
  }
}

PseudoTerminal::PseudoTerminal() {
  user_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (user_ < 0 || grantpt(user_) != 0 || unlockpt(user_) != 0) {
    ADD_FAILURE() << "cannot make a pseudo-terminal: " << std::strerror(errno);
    return;
  }
  // Opened here rather than in the child: until the program's side has been opened once, a read
  // of the user's side waits instead of ending, so a child that failed before its open would
  // leave the reader waiting for ever.
  program_ = open(ptsname(user_), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (program_ < 0) {
    ADD_FAILURE() << "cannot open " << ptsname(user_) << ": " << std::strerror(errno);
  }
}

PseudoTerminal::~PseudoTerminal() {
  CloseProgramSide();
  if (user_ >= 0) {
    close(user_);
  }
}

void PseudoTerminal::CloseProgramSide() {
  if (program_ < 0) {
    return;
  }
  // The terminal handles what is typed on its own time, and wakes a reader of the program's side
  // at the end of a line before it echoes the line: a child can have read its answer and ended
  // while the echo has yet to leave. A read of the program's side that finds no input waits
  // until the terminal has handled all that was typed, so the echo is on its way to the user's
  // side before the last descriptor of the program's side closes. What the child left unread
  // goes with it; an end of input typed there reads as 0, once. The side, opened with O_NOCTTY,
  // is nobody's controlling terminal, so no hang-up can make every read give 0.
  fcntl(program_, F_SETFL, O_NONBLOCK);
  char buffer[256];
  while (read(program_, buffer, sizeof buffer) >= 0 || errno == EINTR) {
  }
  close(program_);
  program_ = -1;
}

ScratchFolder::ScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "panefix-native-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed: " << std::strerror(errno);
  }
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  // Read-only folders inside would keep their entries from being removed by a non-root user.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
  }
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadBytes(const std::string& path) {
  int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) {
    ADD_FAILURE() << "cannot open " << path << ": " << std::strerror(errno);
    return std::string();
  }
  std::string bytes;
  char buffer[4096];
  ssize_t count = 0;
  while ((count = read(descriptor, buffer, sizeof buffer)) > 0) {
    bytes.append(buffer, static_cast<size_t>(count));
  }
  close(descriptor);
  return bytes;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (descriptor < 0) {
    ADD_FAILURE() << "cannot create " << path << ": " << std::strerror(errno);
    return;
  }
  if (!WriteAll(descriptor, bytes)) {
    ADD_FAILURE() << "cannot write " << path << ": " << std::strerror(errno);
  }
  close(descriptor);
}

void SetModificationTime(const std::string& path, int64_t seconds, long nanoseconds) {
  timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), nanoseconds}};
  if (utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
    ADD_FAILURE() << "utimensat " << path << ": " << std::strerror(errno);
  }
}

int64_t UtcSeconds(int year, int month, int day, int hour, int minute, int second) {
  tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  return static_cast<int64_t>(timegm(&parts));
}

namespace {

// In the parent, before the fork: the capture folder's "in" holding input, and its "out" and
// "err" empty. A child stopped before it could redirect anything thus still leaves all three, and
// collecting it finds empty output rather than missing files.
void PrepareCapture(const ScratchFolder& capture, const std::string& input) {
  WriteBytes(capture / "in", input);
  WriteBytes(capture / "out", "");
  WriteBytes(capture / "err", "");
}

// In a child: standard input from the capture folder's "in", output and errors to its "out"
// and "err".
void RedirectToCapture(const ScratchFolder& capture) {
  Redirect(STDIN_FILENO, capture / "in", O_RDONLY);
  Redirect(STDOUT_FILENO, capture / "out", O_WRONLY | O_TRUNC);
  Redirect(STDERR_FILENO, capture / "err", O_WRONLY | O_TRUNC);
}

// In the parent: waits for the child and collects its exit code and what it wrote.
ChildResult CollectChild(pid_t pid, const ScratchFolder& capture) {
  ChildResult result;
  if (pid < 0) {
    ADD_FAILURE() << "fork failed: " << std::strerror(errno);
    return result;
  }
  result.exitCode = WaitFor(pid, &result.signal);
  result.out = ReadBytes(capture / "out");
  result.err = ReadBytes(capture / "err");
  return result;
}

}  // namespace

ChildResult RunInChild(const std::function<int()>& body, const std::string& input) {
  ScratchFolder capture;
  PrepareCapture(capture, input);
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    RedirectToCapture(capture);
    int code = body();
    std::fflush(nullptr);
    _exit(code);
  }
  return CollectChild(pid, capture);
}

ChildResult RunProgram(const std::string& program, const std::vector<std::string>& argv,
                       const std::string& folder, const RunOptions& options) {
  return FinishProgram(StartProgram(program, argv, folder, options));
}

ChildResult FinishProgram(const StartedProgram& started) {
  return CollectChild(started.pid, *started.capture);
}

StartedProgram StartProgram(const std::string& program, const std::vector<std::string>& argv,
                            const std::string& folder, const RunOptions& options) {
  auto shared = std::make_shared<ScratchFolder>();
  const ScratchFolder& capture = *shared;
  PrepareCapture(capture, options.input);
  std::vector<std::string> copies = argv;
  std::vector<char*> words;
  for (std::string& word : copies) {
    words.push_back(word.data());
  }
  words.push_back(nullptr);
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(folder.c_str()) != 0) {
      _exit(ExecFailedCode);
    }
    RedirectToCapture(capture);
    if (options.fileSizeLimit >= 0) {
      // SIGXFSZ keeps its default, which ends a program: the program must turn the limit into
      // a failed write itself.
      signal(SIGXFSZ, SIG_DFL);
      const rlimit limit{static_cast<rlim_t>(options.fileSizeLimit),
                         static_cast<rlim_t>(options.fileSizeLimit)};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
        _exit(ExecFailedCode);
      }
    }
    if (options.user != static_cast<uid_t>(-1) &&
        (setgroups(0, nullptr) != 0 || setgid(options.user) != 0 || setuid(options.user) != 0)) {
      _exit(ExecFailedCode);
    }
    execv(program.c_str(), words.data());
    _exit(ExecFailedCode);
  }
  return StartedProgram{pid, shared};
}

ScopedVariable::ScopedVariable(const char* name, const char* value) : name_(name) {
  if (const char* old = std::getenv(name)) {
    hadValue_ = true;
    oldValue_ = old;
  }
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

ScopedVariable::~ScopedVariable() {
  if (hadValue_) {
    setenv(name_.c_str(), oldValue_.c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

namespace {

// The lock file of every test run on the machine; /tmp is the one folder they all share.
constexpr const char* HostLockPath = "/tmp/panefix-host-process-table.lock";

int HostLockDescriptor = -1;
int HostLockHolders = 0;

// Opens the lock file, making it when it is not there yet. Read access suffices for flock, and
// an open without O_CREAT is allowed on another user's file in the sticky /tmp.
int OpenHostLockFile() {
  int descriptor = open(HostLockPath, O_RDONLY | O_CLOEXEC);
  if (descriptor < 0 && errno == ENOENT) {
    descriptor = open(HostLockPath, O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (descriptor < 0 && errno == EEXIST) {
      descriptor = open(HostLockPath, O_RDONLY | O_CLOEXEC);
    }
  }
  return descriptor;
}

}  // namespace

HostLock::HostLock() {
  if (HostLockHolders++ > 0) {
    return;
  }
  int descriptor = OpenHostLockFile();
  if (descriptor < 0) {
    ADD_FAILURE() << "cannot open " << HostLockPath << ": " << std::strerror(errno);
    return;
  }
  while (flock(descriptor, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ADD_FAILURE() << "cannot lock " << HostLockPath << ": " << std::strerror(errno);
      break;
    }
  }
  HostLockDescriptor = descriptor;
}

HostLock::~HostLock() {
  if (--HostLockHolders == 0 && HostLockDescriptor >= 0) {
    close(HostLockDescriptor);
    HostLockDescriptor = -1;
  }
}

StandInProcess::StandInProcess(const std::string& programName, const std::string& executable,
                               uid_t user, const std::string& lastArgument) {
  // The pipe closes on the successful exec, so once it reads as ended, the process shows its
  // new command line.
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe2 failed: " << std::strerror(errno);
    return;
  }
  std::string name = programName;
  std::string seconds = StandInSeconds;
  std::string last = lastArgument;
  char* argv[] = {name.data(), seconds.data(), last.empty() ? nullptr : last.data(), nullptr};
  std::fflush(nullptr);
  pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    close(ready[0]);
    Redirect(STDIN_FILENO, "/dev/null", O_RDONLY);
    bool asUser = user == static_cast<uid_t>(-1) || (setgid(user) == 0 && setuid(user) == 0);
    // A stand-in left running would be a host to the next run's tests. The kernel ends it when
    // the test process ends (asked for after the change of user, which forgets the request);
    // a test process that ended before the request was made is seen as a new parent.
    if (asUser && prctl(PR_SET_PDEATHSIG, SIGKILL) == 0 && getppid() == parent) {
      execv(executable.c_str(), argv);
    }
    // Tell the parent that the process never became the stand-in.
    ssize_t told = write(ready[1], "!", 1);
    _exit(told == 1 ? ExecFailedCode : ExecFailedCode + 1);
  }
  close(ready[1]);
  if (pid_ < 0) {
    ADD_FAILURE() << "fork failed: " << std::strerror(errno);
    close(ready[0]);
    return;
  }
  char failed = 0;
  ssize_t count = 0;
  while ((count = read(ready[0], &failed, 1)) < 0 && errno == EINTR) {
  }
  close(ready[0]);
  if (count != 0) {
    ADD_FAILURE() << "cannot start " << executable << " as " << programName;
    Stop();
    return;
  }
  // The pipe closes in the middle of the exec, before the kernel has given the process its new
  // command line, which until then reads as empty: wait for the line, for as long as it takes.
  while (FirstCommandWord(pid_) != programName) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      ADD_FAILURE() << executable << " as " << programName << " ended at once";
      pid_ = -1;
      return;
    }
    usleep(PollMicroseconds);
  }
}

StandInProcess::~StandInProcess() { Stop(); }

void StandInProcess::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    WaitFor(pid_);
    pid_ = -1;
  }
}

bool EntryState::operator==(const EntryState& other) const {
  return mode == other.mode && mtimeSeconds == other.mtimeSeconds &&
         mtimeNanoseconds == other.mtimeNanoseconds && content == other.content;
}

std::map<std::string, EntryState> FolderState(const std::string& folder) {
  std::map<std::string, EntryState> state;
  DIR* directory = opendir(folder.c_str());
  if (directory == nullptr) {
    ADD_FAILURE() << "cannot list " << folder;
    return state;
  }
  while (const dirent* entry = readdir(directory)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") {
      continue;
    }
    std::string path = folder + "/" + name;
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
      continue;
    }
    EntryState& item = state[name];
    item.mode = status.st_mode;
    item.mtimeSeconds = status.st_mtim.tv_sec;
    item.mtimeNanoseconds = status.st_mtim.tv_nsec;
    if (S_ISREG(status.st_mode)) {
      item.content = ReadBytes(path);
    } else if (S_ISLNK(status.st_mode)) {
      std::error_code ignored;
      item.content = std::filesystem::read_symlink(path, ignored).string();
    }
  }
  closedir(directory);
  return state;
}

std::string DescribeChanges(const std::map<std::string, EntryState>& before,
                            const std::map<std::string, EntryState>& after) {
  std::ostringstream changes;
  for (const auto& [name, state] : before) {
    auto found = after.find(name);
    if (found == after.end()) {
      changes << "removed " << name << "; ";
    } else if (!(found->second == state)) {
      changes << "changed " << name << "; ";
    }
  }
  for (const auto& [name, state] : after) {
    if (before.count(name) == 0) {
      changes << "created " << name << "; ";
    }
  }
  return changes.str();
}

std::string LongForm(const std::string& option) {
  if (option == "-h") {
    return "--help";
  }
  return option == "-V" ? "--version" : option;
}

void ExpectHelp(const std::string& out, const std::string& program, const std::string& usageLine) {
  EXPECT_EQ(0u, out.rfind(usageLine + "\n", 0)) << out;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_LE(line.size(), 80u) << "wider than 80 columns: " << line;
  }
  const std::string manual = "\n\nFull documentation: man " + program + "\n";
  size_t manualAt = out.rfind(manual);
  ASSERT_NE(std::string::npos, manualAt) << out;
  // The report's sentence is wrapped: a line end before its last stands for a blank.
  std::string report = out.substr(manualAt + manual.size());
  ASSERT_FALSE(report.empty()) << out;
  std::replace(report.begin(), report.end() - 1, '\n', ' ');
  EXPECT_EQ("Report problems " PANEFIX_REPORT_TO ".\n", report) << out;
}

void ExpectVersion(const std::string& out, const std::string& program) {
  std::ifstream license(PANEFIX_LICENSE_FILE);
  const std::string copyrightStart = "Copyright (c) ";
  std::string holder;
  for (std::string line; std::getline(license, line);) {
    if (line.rfind(copyrightStart, 0) == 0) {
      holder = line.substr(copyrightStart.size());
    }
  }
  ASSERT_FALSE(holder.empty()) << "no copyright line in " PANEFIX_LICENSE_FILE;
  EXPECT_EQ(program + " (" PANEFIX_PROJECT_NAME ") " PANEFIX_PRODUCT_VERSION "\n" +
                "Copyright (C) " + holder +
                "\n"
                "License MIT: <https://opensource.org/licenses/MIT>.\n"
                "This is free software: you are free to change and redistribute it.\n"
                "There is NO WARRANTY, to the extent permitted by law.\n",
            out);
}

}  // namespace native
