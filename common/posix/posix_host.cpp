// The host's main window on the POSIX platform layer: the host runs under Wine as a process of
// the same user, found by its program name in /proc.
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform.h"
#include "posix_errors.h"
#include "settings_names.h"

using namespace posix_layer;

namespace {

// How much of a process's command line is read to find its program name.
constexpr size_t MaxCommandWordLength = 4096;

const char ProcessDirectory[] = "/proc";

bool IsProcessId(const char* name) {
  if (*name == '\0') {
    return false;
  }
  for (const char* p = name; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') {
      return false;
    }
  }
  return true;
}

// The first word of a process's command line (up to its first NUL); empty when it cannot be
// read, as for a process that has ended meanwhile.
std::string FirstCommandWord(const std::string& processPath) {
  std::string path = processPath + "/cmdline";
  int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) {
    return std::string();
  }
  std::string word;
  char buffer[256];
  ssize_t count = 0;
  while (word.size() < MaxCommandWordLength &&
         (count = ReadRetrying(descriptor, buffer, sizeof buffer)) > 0) {
    word.append(buffer, static_cast<size_t>(count));
    if (word.find('\0') != std::string::npos) {
      break;
    }
  }
  CloseDescriptor(descriptor);
  return word.substr(0, word.find('\0'));
}

// The last element of a path written with / or \ separators, as a host run under Wine shows it.
std::string LastPathElement(const std::string& path) {
  size_t separator = path.find_last_of("/\\");
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

// Whether the process whose /proc directory is named runs the host for the given user.
bool IsHostProcess(const char* processId, uid_t user) {
  std::string processPath = std::string(ProcessDirectory) + "/" + processId;
  struct stat status {};
  if (stat(processPath.c_str(), &status) != 0 || status.st_uid != user) {
    return false;
  }
  std::string programName = LastPathElement(FirstCommandWord(processPath));
  return strcasecmp(programName.c_str(), HostProgramName) == 0;
}

}  // namespace

// The host's main window exists while the host runs: a process of this user whose program, the
// last path element of its first command-line word, is Qtv.exe in any letter case. Processes
// that end or cannot be read while the list is walked are passed over.
bool OsWindowExists(const char* className) {
  if (std::strcmp(className, HostWindowClass) != 0) {
    return false;
  }
  DIR* processes = opendir(ProcessDirectory);
  if (processes == nullptr) {
    return false;
  }
  uid_t user = geteuid();
  bool found = false;
  const dirent* entry = nullptr;
  while (!found && (entry = readdir(processes)) != nullptr) {
    found = IsProcessId(entry->d_name) && IsHostProcess(entry->d_name, user);
  }
  closedir(processes);
  return found;
}
