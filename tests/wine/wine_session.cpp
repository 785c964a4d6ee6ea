#include "wine_session.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace winetest {

namespace {

// A Windows build and the Wine that runs it. The 64-bit programs run on the system's Wine; the
// 32-bit ones, those of the release package, on the 32-bit Wine that make_wine32.sh sets up
// (this machine's kernel runs no 32-bit Linux program, so that Wine runs under user-mode
// emulation).
struct WineTarget {
  const char* name;      // the value of PANEFIX_WINE_TARGET that picks it
  const char* wineArch;  // WINEARCH of its prefix
  const char* buildDir;  // where its programs and helpers are built, unless overridden
  bool ownWine;          // runs on the 32-bit Wine instead of the system's
};

constexpr WineTarget Targets[] = {
    {"x64", "win64", PANEFIX_WINDOWS_X64_BUILD_DIR, false},
    {"x86", "win32", PANEFIX_WINDOWS_X86_BUILD_DIR, true},
};

// The target of this process, from PANEFIX_WINE_TARGET (x64 when unset); nullptr for a name that
// is none of them.
const WineTarget* ChosenTarget() {
  const char* name = std::getenv("PANEFIX_WINE_TARGET");
  if (name == nullptr || *name == '\0') {
    return &Targets[0];
  }
  for (const WineTarget& target : Targets) {
    if (std::strcmp(target.name, name) == 0) {
      return &target;
    }
  }
  return nullptr;
}

const WineTarget* const Target = ChosenTarget();

// Where the 32-bit Wine lives: its commands wine, wineserver and wineboot are in bin/.
std::string Wine32Dir() {
  const char* dir = std::getenv("PANEFIX_WINE32_DIR");
  return dir != nullptr && *dir != '\0' ? dir : PANEFIX_WINE32_DIR;
}

// Where this target keeps its Wine prefix, the Win32 helpers as Wine runs them, the shared
// session's record, the home folder of its Wine processes and the log of every Linux process it
// starts. Set by FindWineUser.
std::string WorkDir;
std::string PrefixDir;
std::string PrefixReadyMarker;
std::string HelpersCopyDir;
std::string HomeDir;
std::string SessionFile;
std::string LogFile;

void SetWorkDir(const std::string& dir) {
  WorkDir = dir;
  PrefixDir = dir + "/prefix";
  PrefixReadyMarker = PrefixDir + "/.panefix-tests-ready";
  HelpersCopyDir = dir + "/helpers";
  HomeDir = dir + "/home";
  SessionFile = dir + "/wine-session";
  LogFile = dir + "/wine-session.log";
}

// Wine run by root is refused nothing by file permissions, so a file that is not the user's
// would meet no refusal. Tests run as root (as in CI) therefore run Wine, Xvfb and every other
// Linux process they start as this unprivileged account, and give it the files they make.
constexpr const char* WineUserName = "panefix-wine";

struct WineUser {
  bool switched = false;  // the tests run as root and their children as the account
  uid_t uid = 0;
  gid_t gid = 0;
} Account;

// Limits that only a hanging tool reaches, never a slow machine.
constexpr int XvfbStartTimeoutMs = 60000;
constexpr int PrefixInitTimeoutMs = 300000;
constexpr int WineCommandTimeoutMs = 180000;
constexpr int ProcessEndTimeoutMs = 10000;
constexpr int PollStepMs = 50;

// The Xvfb of this process's session, when the session is private; -1 when shared or none.
pid_t PrivateXvfb = -1;
bool SessionIsPrivate = false;

long long NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool IsExecutableInPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (!dir.empty() && access((dir + "/" + name).c_str(), X_OK) == 0) {
      return true;
    }
  }
  return false;
}

bool FileExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

int OpenLog() { return open(LogFile.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644); }

// The environment every Wine process of the tests runs in. The Japanese locale makes Wine's ANSI
// code page 932, as on a Japanese Windows; Mono, Gecko and the menu builder are kept out of the
// prefix, which needs none of them. The home folder is the session's own, so that the caches
// Wine and fontconfig keep there belong to whoever runs Wine.
void SetWineEnvironment(int display) {
  setenv("DISPLAY", (":" + std::to_string(display)).c_str(), 1);
  setenv("HOME", HomeDir.c_str(), 1);
  setenv("WINEPREFIX", PrefixDir.c_str(), 1);
  setenv("WINEARCH", Target->wineArch, 1);
  if (Target->ownWine) {
    const char* path = std::getenv("PATH");
    std::string bin = Wine32Dir() + "/bin";
    if (path == nullptr || std::string(path).rfind(bin + ":", 0) != 0) {
      setenv("PATH", (bin + ":" + (path != nullptr ? path : "/usr/bin:/bin")).c_str(), 1);
    }
  }
  setenv("WINEDEBUG", "-all", 1);
  setenv("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d", 1);
  setenv("LANG", "ja_JP.UTF-8", 1);
  setenv("LC_ALL", "ja_JP.UTF-8", 1);
}

// Forks and executes argv in folder, as the Wine account when the tests run as root. Standard
// input comes from a pipe (or /dev/null), standard output goes to a pipe (or the log), standard
// error to the log. With extraFd >= 0 that descriptor is passed on as descriptor 3. A detached
// child gets a session of its own.
Child Spawn(const std::vector<std::string>& argv, const std::string& folder, bool pipeInput,
            bool pipeOutput, int extraFd = -1, bool detached = false) {
  int in[2] = {-1, -1};
  int out[2] = {-1, -1};
  if (pipeInput && pipe2(in, O_CLOEXEC) != 0) {
    return Child();
  }
  if (pipeOutput && pipe2(out, O_CLOEXEC) != 0) {
    return Child();
  }
  int log = OpenLog();
  int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
  pid_t pid = fork();
  if (pid == 0) {
    if (detached) {
      setsid();
    }
    if (Account.switched &&
        (setgroups(0, nullptr) != 0 || setgid(Account.gid) != 0 || setuid(Account.uid) != 0)) {
      _exit(125);
    }
    dup2(pipeInput ? in[0] : devNull, 0);
    dup2(pipeOutput ? out[1] : log, 1);
    dup2(log, 2);
    if (extraFd >= 0) {
      dup2(extraFd, 3);
    }
    if (!folder.empty() && chdir(folder.c_str()) != 0) {
      _exit(126);
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) {
      args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(log);
  close(devNull);
  Child child;
  child.pid = pid;
  if (pipeInput) {
    close(in[0]);
    child.input = in[1];
  }
  if (pipeOutput) {
    close(out[1]);
    child.output = out[0];
  }
  return child;
}

// Waits at most timeoutMs for the child to end; kills it when it does not. Returns the status.
int WaitOrKill(pid_t pid, int timeoutMs) {
  int status = 0;
  long long deadline = NowMs() + timeoutMs;
  for (;;) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) {
      return status;
    }
    if (NowMs() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return status;
    }
    usleep(PollStepMs * 1000);
  }
}

// Runs a setup command with its output going to the log. Returns true when it exits with 0.
bool RunQuietly(const std::vector<std::string>& argv, int timeoutMs) {
  Child child = Spawn(argv, WorkDir, false, false);
  if (child.pid < 0) {
    return false;
  }
  int status = WaitOrKill(child.pid, timeoutMs);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool StartXvfb(bool detached, pid_t* pid, int* display, std::string* whyNot) {
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) {
    *whyNot = "cannot make a pipe for Xvfb";
    return false;
  }
  // Xvfb picks a free display itself and writes its number to descriptor 3 once it accepts
  // clients.
  Child xvfb =
      Spawn({"Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"},
            WorkDir, false, false, ready[1], detached);
  close(ready[1]);
  if (xvfb.pid < 0) {
    close(ready[0]);
    *whyNot = "cannot start Xvfb";
    return false;
  }
  std::string number;
  long long deadline = NowMs() + XvfbStartTimeoutMs;
  while (number.find('\n') == std::string::npos && NowMs() < deadline) {
    pollfd poll_fd = {ready[0], POLLIN, 0};
    if (poll(&poll_fd, 1, PollStepMs) > 0) {
      char c;
      if (read(ready[0], &c, 1) != 1) {
        break;
      }
      number += c;
    }
  }
  close(ready[0]);
  if (number.find('\n') == std::string::npos) {
    kill(xvfb.pid, SIGKILL);
    waitpid(xvfb.pid, nullptr, 0);
    *whyNot = "Xvfb did not start (see " + LogFile + ")";
    return false;
  }
  *pid = xvfb.pid;
  *display = std::atoi(number.c_str());
  return true;
}

bool IsXvfb(pid_t pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  return std::getline(comm, name) && name == "Xvfb";
}

void StopXvfb(pid_t pid, bool isChild) {
  if (pid <= 0 || !IsXvfb(pid)) {
    return;
  }
  kill(pid, SIGTERM);
  if (isChild) {
    WaitOrKill(pid, ProcessEndTimeoutMs);
  }
}

bool HaveTools(std::string* whyNot) {
  if (Target == nullptr) {
    *whyNot = std::string("PANEFIX_WINE_TARGET is ") + std::getenv("PANEFIX_WINE_TARGET") +
              ", neither x64 nor x86";
    return false;
  }
  if (Target->ownWine && access((Wine32Dir() + "/bin/wine").c_str(), X_OK) != 0) {
    *whyNot = "the 32-bit Wine is not set up in " + Wine32Dir() +
              " (tests/wine/make_wine32.sh sets it up)";
    return false;
  }
  for (const char* tool : {"wine", "wineserver", "wineboot", "Xvfb"}) {
    if (!IsExecutableInPath(tool)) {
      *whyNot = std::string(tool) + " is not installed";
      return false;
    }
  }
  return true;
}

// Finds the account Wine runs as when the tests run as root (any other user runs Wine itself),
// and the work folder: in the build tree, or, for the account, in its home, which it reaches
// wherever the build tree lies (a clone under /root, say).
bool FindWineUser(std::string* whyNot) {
  const char* target = Target != nullptr ? Target->name : "unknown";
  if (geteuid() != 0) {
    Account = WineUser();
    SetWorkDir(std::string(WINE_WORK_DIR) + "/" + target);
    return true;
  }
  passwd* entry = getpwnam(WineUserName);
  struct stat home;
  if (entry == nullptr || stat(entry->pw_dir, &home) != 0 || !S_ISDIR(home.st_mode) ||
      home.st_uid != entry->pw_uid) {
    *whyNot = std::string("there is no account ") + WineUserName +
              " with a home of its own to run Wine as (scripts/install-deps.sh makes it)";
    return false;
  }
  Account.switched = true;
  Account.uid = entry->pw_uid;
  Account.gid = entry->pw_gid;
  SetWorkDir(std::string(entry->pw_dir) + "/" + target);
  return true;
}

uid_t WineUid() { return Account.switched ? Account.uid : geteuid(); }

// Makes the work folder with the home folder in it, both the Wine account's, copies the Win32
// helpers of the Windows build into it, and checks that the account reaches them.
bool MakeWorkDir(std::string* whyNot) {
  std::error_code error;
  std::filesystem::create_directories(HomeDir, error);
  std::filesystem::create_directories(HelpersCopyDir, error);
  GiveToWineUser(WorkDir);
  GiveToWineUser(HomeDir);
  GiveToWineUser(HelpersCopyDir);
  std::string helpers = WindowsBuildDir() + "/" + HelpersBuildDir;
  for (const auto& entry : std::filesystem::directory_iterator(helpers, error)) {
    if (entry.path().extension() == ".exe") {
      std::string copy = HelpersCopyDir + "/" + entry.path().filename().string();
      std::filesystem::copy_file(entry.path(), copy,
                                 std::filesystem::copy_options::overwrite_existing, error);
      GiveToWineUser(copy);
    }
  }
  if (Account.switched) {
    // The X server's socket folder, as root makes it: open to every user, sticky. Made by the
    // account's Xvfb, it would be the account's, and Xvfb refuses to make it anyway.
    const char* socketDir = "/tmp/.X11-unix";
    struct stat folder;
    if ((mkdir(socketDir, 01777) == 0 || errno == EEXIST) && stat(socketDir, &folder) == 0 &&
        folder.st_uid == 0) {
      chmod(socketDir, 01777);
    }
  }
  if (!RunQuietly({"test", "-w", HomeDir, "-a", "-r", HelpersCopyDir}, WineCommandTimeoutMs)) {
    *whyNot = std::string("the account ") + WineUserName + " cannot use " + WorkDir +
              ": every folder above it must be open to others";
    return false;
  }
  return true;
}

// Makes the prefix ready (once; later runs reuse it) and leaves a persistent wineserver running
// on it, with Wine's own services started, so that each test's Wine process starts quickly.
bool PrepareWine(std::string* whyNot) {
  // A wineserver left over from an interrupted run may serve a display that is gone.
  RunQuietly({"wineserver", "-k"}, WineCommandTimeoutMs);
  RunQuietly({"wineserver", "-w"}, WineCommandTimeoutMs);
  // Wine refuses a prefix that is not its user's, such as one left by a run as another user.
  struct stat prefix;
  if (!FileExists(PrefixReadyMarker) || stat(PrefixDir.c_str(), &prefix) != 0 ||
      prefix.st_uid != WineUid()) {
    std::error_code ignored;
    std::filesystem::remove_all(PrefixDir, ignored);
    if (!RunQuietly({"wineboot", "-i"}, PrefixInitTimeoutMs)) {
      *whyNot = "wineboot -i failed (see " + LogFile + ")";
      return false;
    }
    RunQuietly({"wineserver", "-w"}, PrefixInitTimeoutMs);
    std::ofstream(PrefixReadyMarker) << "initialised\n";
  }
  if (!RunQuietly({"wineserver", "-p"}, WineCommandTimeoutMs)) {
    *whyNot = "wineserver -p failed (see " + LogFile + ")";
    return false;
  }
  // Xvfb has no window manager. Windows that Wine leaves to one would make every closing window
  // wait two seconds for a withdrawal no one confirms. This first Wine process also starts Wine's
  // services, which thus write to the log and never hold a test's pipe open.
  if (!RunQuietly({"wine", "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d",
                   "N", "/f"},
                  WineCommandTimeoutMs)) {
    *whyNot = "wine does not start (see " + LogFile + ")";
    return false;
  }
  return true;
}

void StopWine() {
  RunQuietly({"wineserver", "-k"}, WineCommandTimeoutMs);
  RunQuietly({"wineserver", "-w"}, WineCommandTimeoutMs);
}

// The shared session's display, when one is up.
bool SharedSessionDisplay(int* display, pid_t* xvfb) {
  std::ifstream record(SessionFile);
  std::string line;
  *display = -1;
  *xvfb = -1;
  while (std::getline(record, line)) {
    if (line.rfind("display=", 0) == 0) {
      *display = std::atoi(line.c_str() + 8);
    } else if (line.rfind("xvfb=", 0) == 0) {
      *xvfb = static_cast<pid_t>(std::atol(line.c_str() + 5));
    }
  }
  return *display >= 0 && *xvfb > 0 && IsXvfb(*xvfb) && FileExists(PrefixReadyMarker);
}

}  // namespace

std::string WindowsBuildDir() {
  const char* dir = std::getenv("PANEFIX_WINDOWS_BUILD_DIR");
  if (dir != nullptr && *dir != '\0') {
    return dir;
  }
  return Target != nullptr ? Target->buildDir : "";
}

std::string HelperPath(const std::string& name) { return HelpersCopyDir + "/" + name; }

pid_t SessionWineServer() {
  struct stat prefix;
  if (stat(PrefixDir.c_str(), &prefix) != 0) {
    return -1;
  }
  char folder[64];
  std::snprintf(folder, sizeof folder, "/server-%llx-%llx",
                static_cast<unsigned long long>(prefix.st_dev),
                static_cast<unsigned long long>(prefix.st_ino));
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    std::string pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    std::string cwd = std::filesystem::read_symlink(entry.path() / "cwd", error).string();
    if (!error && cwd.size() > std::strlen(folder) &&
        cwd.compare(cwd.size() - std::strlen(folder), std::string::npos, folder) == 0) {
      return static_cast<pid_t>(std::atol(pid.c_str()));
    }
  }
  return -1;
}

void GiveToWineUser(const std::string& path) {
  if (Account.switched && lchown(path.c_str(), Account.uid, Account.gid) != 0) {
    throw std::runtime_error("cannot give " + path + " to " + WineUserName);
  }
}

bool GiveToAnotherUser(const std::string& path, std::string* whyNot) {
  if (!Account.switched) {
    *whyNot = "only tests run as root can make a file of another user";
    return false;
  }
  if (lchown(path.c_str(), 0, 0) != 0) {
    *whyNot = "cannot give " + path + " to root";
    return false;
  }
  return true;
}

std::string WindowsBuildFile(const std::string& relativePath) {
  return WindowsBuildDir() + "/" + relativePath;
}

std::string ToWindowsPath(const std::string& linuxPath) {
  std::string path = "Z:" + linuxPath;
  for (char& c : path) {
    if (c == '/') {
      c = '\\';
    }
  }
  return path;
}

bool StartSession(std::string* whyNot) {
  if (!HaveTools(whyNot) || !FindWineUser(whyNot)) {
    return false;
  }
  int display = -1;
  pid_t xvfb = -1;
  if (SharedSessionDisplay(&display, &xvfb)) {
    SetWineEnvironment(display);
    return true;
  }
  if (!MakeWorkDir(whyNot)) {
    return false;
  }
  if (!StartXvfb(false, &xvfb, &display, whyNot)) {
    return false;
  }
  PrivateXvfb = xvfb;
  SessionIsPrivate = true;
  SetWineEnvironment(display);
  if (!PrepareWine(whyNot)) {
    EndSession();
    return false;
  }
  return true;
}

void EndSession() {
  if (!SessionIsPrivate) {
    return;
  }
  StopWine();
  StopXvfb(PrivateXvfb, true);
  PrivateXvfb = -1;
  SessionIsPrivate = false;
}

int StartSharedSession() {
  std::string whyNot;
  if (!HaveTools(&whyNot)) {
    std::printf("[  SKIPPED ] no Wine session: %s\n", whyNot.c_str());
    return 0;
  }
  if (!FindWineUser(&whyNot) || !MakeWorkDir(&whyNot)) {
    std::printf("Wine session not started: %s\n", whyNot.c_str());
    return 1;
  }
  std::ofstream(LogFile, std::ios::trunc).close();
  int display = -1;
  pid_t xvfb = -1;
  if (SharedSessionDisplay(&display, &xvfb)) {
    StopXvfb(xvfb, false);
  }
  std::remove(SessionFile.c_str());
  // Xvfb must outlive this process, which ends as soon as the session is up.
  if (!StartXvfb(true, &xvfb, &display, &whyNot)) {
    std::printf("Wine session not started: %s\n", whyNot.c_str());
    return 1;
  }
  SetWineEnvironment(display);
  long long start = NowMs();
  if (!PrepareWine(&whyNot)) {
    StopWine();
    StopXvfb(xvfb, false);
    std::printf("Wine session not started: %s\n", whyNot.c_str());
    return 1;
  }
  std::ofstream(SessionFile) << "display=" << display << "\nxvfb=" << xvfb << "\n";
  std::printf("Wine session up on display :%d (prefix %s) in %lld ms\n", display, PrefixDir.c_str(),
              NowMs() - start);
  return 0;
}

int StopSharedSession() {
  int display = -1;
  pid_t xvfb = -1;
  std::string whyNot;
  bool up = FindWineUser(&whyNot) && SharedSessionDisplay(&display, &xvfb);
  std::remove(SessionFile.c_str());
  if (!up) {
    std::printf("no shared Wine session to stop\n");
    return 0;
  }
  SetWineEnvironment(display);
  StopWine();
  StopXvfb(xvfb, false);
  std::printf("Wine session on display :%d stopped\n", display);
  return 0;
}

Child StartChild(const std::vector<std::string>& argv, const std::string& folder) {
  return Spawn(argv, folder, true, true);
}

bool ReadLine(Child* child, std::string* line, int timeoutMs) {
  line->clear();
  long long deadline = NowMs() + timeoutMs;
  while (NowMs() < deadline) {
    pollfd poll_fd = {child->output, POLLIN, 0};
    if (poll(&poll_fd, 1, PollStepMs) <= 0) {
      continue;
    }
    char c;
    if (read(child->output, &c, 1) != 1) {
      return false;
    }
    if (c == '\n') {
      return true;
    }
    if (c != '\r') {
      *line += c;
    }
  }
  return false;
}

int FinishChild(Child* child, int timeoutMs) {
  if (child->input >= 0) {
    close(child->input);
    child->input = -1;
  }
  int status = child->pid > 0 ? WaitOrKill(child->pid, timeoutMs) : 0;
  child->pid = -1;
  if (child->output >= 0) {
    close(child->output);
    child->output = -1;
  }
  return status;
}

std::string RunToEnd(const std::vector<std::string>& argv, const std::string& folder, int timeoutMs,
                     int* exitStatus) {
  Child child = Spawn(argv, folder, false, true);
  std::string output;
  int status = 0;
  if (child.pid < 0) {
    if (exitStatus != nullptr) {
      *exitStatus = -1;
    }
    return output;
  }
  bool ended = false;
  bool endOfOutput = false;
  long long deadline = NowMs() + timeoutMs;
  // The child's end, not the end of its output, finishes the run: a process it started may
  // still hold the pipe.
  while (!ended) {
    ended = waitpid(child.pid, &status, WNOHANG) == child.pid;
    if (!ended && NowMs() > deadline) {
      kill(child.pid, SIGKILL);
      waitpid(child.pid, &status, 0);
      ended = true;
    }
    if (endOfOutput) {
      usleep(PollStepMs * 1000);
      continue;
    }
    pollfd poll_fd = {child.output, POLLIN, 0};
    while (poll(&poll_fd, 1, ended ? 0 : PollStepMs) > 0) {
      char buffer[4096];
      ssize_t got = read(child.output, buffer, sizeof buffer);
      if (got <= 0) {
        endOfOutput = true;
        break;
      }
      output.append(buffer, static_cast<size_t>(got));
    }
  }
  close(child.output);
  if (exitStatus != nullptr) {
    *exitStatus = status;
  }
  return output;
}

}  // namespace winetest
