#include "wine_run.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>

namespace winetest {

namespace {

// Limits that only a hanging program or helper reaches, never a slow machine (a 32-bit Wine runs
// under qemu-i386 on a busy machine here): box_reader's wait for each step of the program, the
// whole run should box_reader itself hang (within the test's own limit of 300 s), a helper's
// start and its end after its input closed.
constexpr int BoxReaderTimeoutMs = 60000;
constexpr int RunTimeoutMs = 240000;
// The same under strace, which slows every traced process down many times.
constexpr int TracedBoxReaderTimeoutMs = 120000;
constexpr int TracedRunTimeoutMs = 280000;
constexpr int HelperReadyTimeoutMs = 120000;
constexpr int HelperStopTimeoutMs = 60000;

std::string HexOf(const std::string& bytes) {
  static const char Digits[] = "0123456789ABCDEF";
  std::string hex;
  for (char c : bytes) {
    auto byte = static_cast<unsigned char>(c);
    hex += Digits[byte >> 4];
    hex += Digits[byte & 0xF];
  }
  return hex;
}

std::string Unescape(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    char next = value[++i];
    if (next == 'r') {
      out += '\r';
    } else if (next == 'n') {
      out += '\n';
    } else if (next == 'x' && i + 2 < value.size()) {
      out += static_cast<char>(std::strtoul(value.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += next;
    }
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> KeyValueLines(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> lines;
  std::istringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    size_t equals = line.find('=');
    if (equals != std::string::npos) {
      lines.emplace_back(line.substr(0, equals), line.substr(equals + 1));
    }
  }
  return lines;
}

void RemoveTree(const std::string& path) {
  DIR* dir = opendir(path.c_str());
  if (dir != nullptr) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") {
        RemoveTree(path + "/" + name);
      }
    }
    closedir(dir);
    rmdir(path.c_str());
  } else {
    chmod(path.c_str(), 0644);
    unlink(path.c_str());
  }
}

}  // namespace

std::string ReadWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::string bytes;
  char buffer[65536];
  while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
    bytes.append(buffer, static_cast<size_t>(file.gcount()));
  }
  return bytes;
}

ProgramRun ParseBoxReport(const std::string& report) {
  ProgramRun run;
  run.report = report;
  for (const auto& [key, raw] : KeyValueLines(report)) {
    std::string value = Unescape(raw);
    if (key == "box") {
      run.boxes.emplace_back();
      continue;
    }
    if (key == "exit") {
      run.ended = true;
      run.exitCode = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
      continue;
    }
    if (key == "error") {
      run.problems.push_back(value);
      continue;
    }
    if (run.boxes.empty()) {
      continue;
    }
    SeenBox& box = run.boxes.back();
    if (key == "caption") {
      box.caption = value;
    } else if (key == "text") {
      box.text = value;
    } else if (key == "icon") {
      box.icon = value;
    } else if (key == "buttons") {
      box.buttons = value;
    } else if (key == "default") {
      box.defaultButton = value;
    } else if (key == "foreground") {
      box.foreground = value == "yes";
    } else if (key == "topmost") {
      box.topmost = value == "yes";
    } else if (key == "expected") {
      box.expected = value == "yes";
    } else if (key == "action") {
      box.action = value;
    }
  }
  // A run whose exit line is missing was cut short; a terminated program is not an ending.
  if (report.find("exit=") == std::string::npos) {
    run.problems.push_back("box_reader gave no exit code");
  }
  for (const std::string& problem : run.problems) {
    if (problem.find("terminated") != std::string::npos) {
      run.ended = false;
    }
  }
  return run;
}

TestFolder::TestFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp == '/' ? tmp : "/tmp") + "/panefix-wine-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    throw std::runtime_error("cannot make a test folder");
  }
  path_ = buffer.data();
  GiveToWineUser(path_);
}

TestFolder::~TestFolder() { RemoveTree(path_); }

void TestFolder::Write(const std::string& name, const std::string& bytes) const {
  std::ofstream file(PathOf(name), std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) {
    throw std::runtime_error("cannot write " + PathOf(name));
  }
  GiveToWineUser(PathOf(name));
}

std::string TestFolder::Read(const std::string& name) const { return ReadWholeFile(PathOf(name)); }

bool TestFolder::Exists(const std::string& name) const {
  struct stat info;
  return stat(PathOf(name).c_str(), &info) == 0;
}

void TestFolder::MakeDirectory(const std::string& name) const {
  if (mkdir(PathOf(name).c_str(), 0755) != 0) {
    throw std::runtime_error("cannot make " + PathOf(name));
  }
  GiveToWineUser(PathOf(name));
}

void TestFolder::SetLastWriteTime(const std::string& name, long long secondsSince1970) const {
  timespec times[2];
  times[0].tv_sec = static_cast<time_t>(secondsSince1970);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  if (utimensat(AT_FDCWD, PathOf(name).c_str(), times, 0) != 0) {
    throw std::runtime_error("cannot set the time of " + PathOf(name));
  }
}

std::string TestFolder::CopyFromBuild(const std::string& relativePath) const {
  std::string name = relativePath.substr(relativePath.find_last_of('/') + 1);
  std::string source = WindowsBuildFile(relativePath);
  if (access(source.c_str(), R_OK) != 0) {
    throw std::runtime_error("cannot read " + source);
  }
  Write(name, ReadWholeFile(source));
  return name;
}

FolderSnapshot Snapshot(const TestFolder& folder) {
  FolderSnapshot snapshot;
  DIR* dir = opendir(folder.path().c_str());
  if (dir == nullptr) {
    return snapshot;
  }
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") {
      continue;
    }
    struct stat info;
    if (stat(folder.PathOf(name).c_str(), &info) != 0) {
      continue;
    }
    std::ostringstream description;
    if (S_ISDIR(info.st_mode)) {
      description << "<dir>";
    } else {
      std::string bytes = folder.Read(name);
      description << "size=" << bytes.size() << " hash=" << std::hash<std::string>()(bytes);
    }
    description << " mode=" << std::oct << (info.st_mode & 07777) << std::dec
                << " mtime=" << info.st_mtim.tv_sec << "." << info.st_mtim.tv_nsec;
    snapshot[name] = description.str();
  }
  closedir(dir);
  return snapshot;
}

std::string ProgramCommandLine(const TestFolder& folder, const std::string& programName,
                               const std::string& arguments) {
  std::string line = "\"" + folder.WindowsPathOf(programName) + "\"";
  if (!arguments.empty()) {
    line += " " + arguments;
  }
  return line;
}

namespace {

// The command line of box_reader.exe running commandLine in folder and answering with actions.
std::vector<std::string> BoxReaderArgv(const TestFolder& folder, const std::string& commandLine,
                                       const std::vector<std::string>& actions, int timeoutMs) {
  std::vector<std::string> argv = {"wine",
                                   HelperPath("box_reader.exe"),
                                   "--timeout",
                                   std::to_string(timeoutMs),
                                   folder.WindowsPath(),
                                   HexOf(commandLine)};
  argv.insert(argv.end(), actions.begin(), actions.end());
  return argv;
}

}  // namespace

ProgramRun RunProgram(const TestFolder& folder, const std::string& commandLine,
                      const std::vector<std::string>& actions) {
  return ParseBoxReport(RunToEnd(BoxReaderArgv(folder, commandLine, actions, BoxReaderTimeoutMs),
                                 folder.path(), RunTimeoutMs));
}

ProgramRun RunProgramTraced(const TestFolder& folder, const std::string& commandLine,
                            const std::vector<std::string>& actions, const std::string& calls,
                            const std::string& tracePath) {
  pid_t server = SessionWineServer();
  if (server < 0) {
    ProgramRun none;
    none.problems.push_back("no wineserver runs for the session's prefix");
    return none;
  }
  // The processes strace starts stop only at the calls traced (--seccomp-bpf); the server,
  // already running, stops at every call. strace would wait for the server to end, which it does
  // not: the shell that runs box_reader under strace stops strace (SIGINT, which -I1 lets
  // through, makes it detach and end) once the run is over.
  std::vector<std::string> argv = {"strace",
                                   "-f",
                                   "-qq",
                                   "--seccomp-bpf",
                                   "-I1",
                                   "-y",
                                   "-p",
                                   std::to_string(server),
                                   "-e",
                                   calls,
                                   "-o",
                                   tracePath,
                                   "sh",
                                   "-c",
                                   "\"$@\"; status=$?; kill -INT $PPID; exit $status",
                                   "sh"};
  std::vector<std::string> run =
      BoxReaderArgv(folder, commandLine, actions, TracedBoxReaderTimeoutMs);
  argv.insert(argv.end(), run.begin(), run.end());
  return ParseBoxReport(RunToEnd(argv, folder.path(), TracedRunTimeoutMs));
}

bool HeldHelper::Start(const std::vector<std::string>& helperArgs, std::string* whyNot) {
  Stop();
  std::vector<std::string> argv = {"wine"};
  argv.insert(argv.end(), helperArgs.begin(), helperArgs.end());
  child_ = StartChild(argv, "/");
  std::string line;
  if (child_.pid < 0 || !ReadLine(&child_, &line, HelperReadyTimeoutMs) || line != "ready") {
    *whyNot = helperArgs.front() + " did not get ready: " + (line.empty() ? "no answer" : line);
    Stop();
    return false;
  }
  return true;
}

void HeldHelper::Stop() {
  if (child_.pid > 0) {
    FinishChild(&child_, HelperStopTimeoutMs);
  }
}

bool StartStandinHost(HeldHelper* host, std::string* whyNot) {
  return host->Start({HelperPath("standin_host.exe")}, whyNot);
}

bool StartFileHolder(HeldHelper* holder, const TestFolder& folder, const std::string& name,
                     const std::string& access, const std::string& share, std::string* whyNot) {
  return holder->Start({HelperPath("file_holder.exe"), folder.WindowsPathOf(name), access, share},
                       whyNot);
}

namespace {

bool RunFileAttributes(const TestFolder& folder, const std::string& name, const std::string& value,
                       uint32_t* attributes) {
  std::vector<std::string> argv = {"wine", HelperPath("file_attributes.exe"),
                                   folder.WindowsPathOf(name)};
  if (!value.empty()) {
    argv.push_back(value);
  }
  for (const auto& [key, number] : KeyValueLines(RunToEnd(argv, folder.path(), RunTimeoutMs))) {
    if (key == "attributes" || key == "error") {
      *attributes =
          static_cast<uint32_t>(std::strtoul(number.c_str(), nullptr, key == "error" ? 10 : 16));
      return key == "attributes";
    }
  }
  *attributes = 0;
  return false;
}

}  // namespace

bool WindowsAttributes(const TestFolder& folder, const std::string& name, uint32_t* attributes) {
  return RunFileAttributes(folder, name, "", attributes);
}

bool SetWindowsAttributes(const TestFolder& folder, const std::string& name, uint32_t attributes) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%X", attributes);
  uint32_t result = 0;
  return RunFileAttributes(folder, name, hex, &result);
}

std::vector<std::pair<std::string, std::string>> ReadVersionRecord(const std::string& programPath) {
  return KeyValueLines(RunToEnd(
      {"wine", HelperPath("version_reader.exe"), ToWindowsPath(programPath)}, "/", RunTimeoutMs));
}

}  // namespace winetest
