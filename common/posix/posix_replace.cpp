// Files replaced whole on the POSIX platform layer: the new file, made beside the one it
// replaces, flushed, renamed over it, and the folder flushed; and the clean-up of new files that
// still have a temporary name when the run fails or is interrupted.
#include "posix_replace.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/random.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "posix_io.h"

namespace posix_layer {

bool UseUnnamedFiles = true;

}  // namespace posix_layer

using namespace posix_layer;

namespace {

constexpr mode_t NewFileMode = 0666;
// Until it has its final permissions, every new file is the runner's alone, under whatever name it
// has: no group or other permission, and no ACL a folder's default would give it.
constexpr mode_t PrivateFileMode = 0600;
constexpr mode_t PermissionBits = 07777;
constexpr mode_t AccessBits = 0777;
// Where the system keeps a file's ACL.
const char AccessAclName[] = "system.posix_acl_access";
// More than any ACL of a settings file needs: 8 bytes an entry.
constexpr size_t MaxAclSize = size_t{64} * 1024;
constexpr int RandomSuffixLength = 6;
constexpr int MaxCreateAttempts = 100;
// The longest name a folder entry may have.
constexpr size_t MaxEntryNameLength = NAME_MAX;
// The first real-time signal of the kernel; the C library keeps the first few for itself.
constexpr int FirstRealTimeSignal = 32;

// The new files that have a temporary name, for a signal handler to remove: at most the backup
// copy and the rewrite of a run are under way at once.
constexpr int MaxUnfinishedFiles = 2;
constexpr size_t MaxNameLength = MaxEntryNameLength + 1;
struct UnfinishedFile {
  volatile sig_atomic_t used;
  int folder;
  char name[MaxNameLength];
};
UnfinishedFile UnfinishedFiles[MaxUnfinishedFiles];

// Signals that come from a fault of the process itself, at the instruction that caused it: held
// back, they would end it at once all the same.
const int FaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT};

// Signals whose default action does not end the process (it ignores, stops or continues it), and
// the two that nothing can catch.
const int NonEndingSignals[] = {SIGCHLD, SIGCONT, SIGSTOP,  SIGTSTP, SIGTTIN,
                                SIGTTOU, SIGURG,  SIGWINCH, SIGKILL};

template <size_t Count>
bool IsOneOf(int signal, const int (&list)[Count]) {
  for (int member : list) {
    if (member == signal) {
      return true;
    }
  }
  return false;
}

// Whether signal is one whose default action ends the process and that a handler can catch. The
// real-time signals that the C library keeps for itself (below SIGRTMIN) are left to it.
bool IsEndingSignal(int signal) {
  bool libraryOwn = signal >= FirstRealTimeSignal && signal < SIGRTMIN;
  return signal > 0 && signal <= SIGRTMAX && !libraryOwn && !IsOneOf(signal, NonEndingSignals);
}

// Call with interrupts held.
void RecordUnfinished(int folder, const std::string& name) {
  for (UnfinishedFile& file : UnfinishedFiles) {
    if (file.used == 0 && name.size() < MaxNameLength) {
      file.folder = folder;
      std::memcpy(file.name, name.c_str(), name.size() + 1);
      file.used = 1;
      return;
    }
  }
}

// Call with interrupts held.
void ForgetUnfinished(int folder, const std::string& name) {
  for (UnfinishedFile& file : UnfinishedFiles) {
    if (file.used != 0 && file.folder == folder && name == file.name) {
      file.used = 0;
    }
  }
}

// A name for a new file that is to replace target: the target's name, what it is, and six
// random letters, so that a file left behind by a run that died tells the user what it was. The
// target's name is shortened where the whole would be longer than a name may be.
std::string TemporaryName(const std::string& target) {
  static const char Letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char random[RandomSuffixLength] = {};
  if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
    static unsigned counter = 0;
    unsigned seed = static_cast<unsigned>(getpid()) * 2654435761U + counter++;
    for (unsigned char& byte : random) {
      byte = static_cast<unsigned char>(seed >>= 3);
    }
  }
  size_t room = MaxEntryNameLength - std::strlen(UnfinishedSuffix) - RandomSuffixLength;
  std::string name = target.substr(0, room) + UnfinishedSuffix;
  for (unsigned char byte : random) {
    name += Letters[byte % (sizeof Letters - 1)];
  }
  return name;
}

// Makes a new file under a temporary name in folder, recorded for removal. Returns -1 with
// errno set.
int CreateNamedFile(int folder, const std::string& target, mode_t mode, std::string* name) {
  for (int attempt = 0; attempt < MaxCreateAttempts; ++attempt) {
    std::string candidate = TemporaryName(target);
    SignalsHeld held;
    int descriptor =
        openat(folder, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (descriptor >= 0) {
      RecordUnfinished(folder, candidate);
      *name = candidate;
      return descriptor;
    }
    if (errno != EEXIST) {
      return -1;
    }
  }
  return -1;
}

// Errors of an O_TMPFILE open that mean the file system (or the kernel) has no unnamed files.
bool HasNoUnnamedFiles(int error) {
  return error == EOPNOTSUPP || error == EISDIR || error == EINVAL || error == ENOENT;
}

// Errors that refuse the new file something the old one has, where a write in place keeps it.
bool IsRefusal(int error) { return error == EPERM || error == EACCES || error == EOPNOTSUPP; }

// Gives destination every extended attribute of source (ACLs, the DOS attributes Wine keeps).
// Returns false with errno set.
bool CopyExtendedAttributes(int source, int destination) {
  ssize_t size = flistxattr(source, nullptr, 0);
  if (size < 0) {
    return errno == EOPNOTSUPP;
  }
  std::vector<char> names(static_cast<size_t>(size) + 1);
  size = flistxattr(source, names.data(), names.size());
  if (size < 0) {
    return false;
  }
  for (const char* name = names.data(); name < names.data() + size; name += std::strlen(name) + 1) {
    ssize_t length = fgetxattr(source, name, nullptr, 0);
    if (length < 0) {
      return false;
    }
    std::vector<char> value(static_cast<size_t>(length) + 1);
    length = fgetxattr(source, name, value.data(), value.size());
    if (length < 0 ||
        fsetxattr(destination, name, value.data(), static_cast<size_t>(length), 0) != 0) {
      return false;
    }
  }
  return true;
}

// Removes the ACL a new file took from its folder's default ACL. Returns false with errno set.
bool DropAcl(int descriptor) {
  return fremovexattr(descriptor, AccessAclName) == 0 || errno == ENODATA || errno == EOPNOTSUPP;
}

// Gives destination the ACL of source, if it has one. Returns false with errno set.
bool CopyAcl(int source, int destination) {
  std::vector<char> value(MaxAclSize);
  ssize_t length = fgetxattr(source, AccessAclName, value.data(), value.size());
  if (length < 0) {
    return errno == ENODATA || errno == EOPNOTSUPP;
  }
  return fsetxattr(destination, AccessAclName, value.data(), static_cast<size_t>(length), 0) == 0;
}

// Gives the new file the owner, group, extended attributes and permission bits of model. The
// owner comes first: a change of owner clears the set-user-ID bit. Returns false with errno set.
bool TakeOverProperties(int model, int descriptor) {
  struct stat wanted {};
  struct stat made {};
  if (fstat(model, &wanted) != 0 || fstat(descriptor, &made) != 0) {
    return false;
  }
  if ((wanted.st_uid != made.st_uid || wanted.st_gid != made.st_gid) &&
      fchown(descriptor, wanted.st_uid, wanted.st_gid) != 0) {
    return false;
  }
  return CopyExtendedAttributes(model, descriptor) &&
         fchmod(descriptor, wanted.st_mode & PermissionBits) == 0;
}

// Gives an unnamed file a temporary name in its folder, recorded for removal. Call with
// interrupts held. Returns false with the last error set.
bool GiveTemporaryName(Replacement* replacement) {
  std::string self = "/proc/self/fd/" + std::to_string(replacement->descriptor);
  for (int attempt = 0; attempt < MaxCreateAttempts; ++attempt) {
    std::string candidate = TemporaryName(replacement->target);
    int linked =
        linkat(AT_FDCWD, self.c_str(), replacement->folder, candidate.c_str(), AT_SYMLINK_FOLLOW);
    if (linked != 0 && errno == ENOENT) {
      // Without /proc, the superuser can still link the descriptor itself.
      linked = linkat(replacement->descriptor, "", replacement->folder, candidate.c_str(),
                      AT_EMPTY_PATH);
    }
    if (linked == 0) {
      RecordUnfinished(replacement->folder, candidate);
      replacement->temporary = candidate;
      return true;
    }
    if (errno != EEXIST) {
      return FailWithErrno();
    }
  }
  return FailWithErrno();
}

// fsync of the folder, so that a rename survives a power cut. A file system that cannot flush a
// folder says EINVAL: there is nothing more to do then. The rename is done by then: a failure
// says that the new file is in place but may not be on disk yet.
bool FlushFolder(int folder) {
  if (fsync(folder) == 0 || errno == EINVAL) {
    return true;
  }
  int error = errno;
  std::string reason = std::string(NotYetOnDiskReason) + " (" + std::strerror(error) + ")";
  return FailWith(ErrorCodeFromErrno(error), reason.c_str());
}

// Closes the new file and removes its temporary name, if it has one; the folder stays open.
// errno stays as it was, for the caller's report.
void RemoveNewFile(Replacement* replacement) {
  int saved = errno;
  if (replacement->descriptor >= 0) {
    CloseDescriptor(replacement->descriptor);
    replacement->descriptor = -1;
  }
  if (!replacement->temporary.empty()) {
    SignalsHeld held;
    unlinkat(replacement->folder, replacement->temporary.c_str(), 0);
    ForgetUnfinished(replacement->folder, replacement->temporary);
    replacement->temporary.clear();
  }
  errno = saved;
}

void OnInterrupt(int signal) {
  RemoveUnfinishedFiles();
  raise(signal);
}

}  // namespace

namespace posix_layer {

bool BeginReplacement(int folder, const std::string& target, int model, Replacement* replacement,
                      bool* writeInPlace) {
  *writeInPlace = false;
  *replacement = Replacement();
  replacement->folder = folder;
  replacement->target = target;
  mode_t mode = PrivateFileMode;
  int descriptor = -1;
  if (UseUnnamedFiles) {
    descriptor = openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
  }
  if (descriptor < 0 && (!UseUnnamedFiles || HasNoUnnamedFiles(errno))) {
    descriptor = CreateNamedFile(folder, target, mode, &replacement->temporary);
  }
  if (descriptor < 0) {
    *writeInPlace = model >= 0 && IsRefusal(errno);
    return FailWithErrno();
  }
  replacement->descriptor = descriptor;
  if (!DropAcl(descriptor)) {
    FailWithErrno();
    RemoveNewFile(replacement);
    return false;
  }
  if (model >= 0 && !TakeOverProperties(model, descriptor)) {
    *writeInPlace = IsRefusal(errno);
    FailWithErrno();
    RemoveNewFile(replacement);
    return false;
  }
  return true;
}

bool GiveCopyPermissions(int source, int descriptor) {
  struct stat wanted {};
  struct stat made {};
  if (fstat(source, &wanted) != 0 || fstat(descriptor, &made) != 0) {
    return false;
  }
  mode_t mode = wanted.st_mode & AccessBits;
  bool groupGiven = wanted.st_gid == made.st_gid ||
                    fchown(descriptor, static_cast<uid_t>(-1), wanted.st_gid) == 0;
  if (!groupGiven) {
    mode &= S_IRWXU;
  }
  return fchmod(descriptor, mode) == 0 && (!groupGiven || CopyAcl(source, descriptor));
}

bool GiveNewFileMode(int descriptor) {
  mode_t mask = umask(0);
  umask(mask);
  return fchmod(descriptor, NewFileMode & ~mask) == 0;
}

bool CommitReplacement(Replacement* replacement) {
  bool committed = fsync(replacement->descriptor) == 0 || FailWithErrno();
  {
    SignalsHeld held;
    if (committed && replacement->temporary.empty()) {
      committed = GiveTemporaryName(replacement);
    }
    if (!CloseDescriptor(replacement->descriptor) && committed) {
      committed = FailWithErrno();
    }
    replacement->descriptor = -1;
    if (committed && renameat(replacement->folder, replacement->temporary.c_str(),
                              replacement->folder, replacement->target.c_str()) != 0) {
      committed = FailWithErrno();
    }
    if (!replacement->temporary.empty()) {
      if (!committed) {
        unlinkat(replacement->folder, replacement->temporary.c_str(), 0);
      }
      ForgetUnfinished(replacement->folder, replacement->temporary);
      replacement->temporary.clear();
    }
  }
  if (committed) {
    committed = FlushFolder(replacement->folder);
  }
  CloseDescriptor(replacement->folder);
  replacement->folder = -1;
  return committed;
}

void DiscardReplacement(Replacement* replacement) {
  RemoveNewFile(replacement);
  if (replacement->folder >= 0) {
    CloseDescriptor(replacement->folder);
    replacement->folder = -1;
  }
}

void RemoveUnfinishedFiles() {
  for (UnfinishedFile& file : UnfinishedFiles) {
    if (file.used != 0) {
      unlinkat(file.folder, file.name, 0);
      file.used = 0;
    }
  }
}

void RemoveUnfinishedFilesOnInterrupt() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  // Reset to the default and not held back, so that raise() in the handler ends the process.
  action.sa_flags = static_cast<int>(SA_RESETHAND | SA_NODEFER);
  sigemptyset(&action.sa_mask);
  for (int signal = 1; signal < NSIG; ++signal) {
    struct sigaction current {};
    // A signal the run was started with ignored (nohup) stays ignored.
    if (IsEndingSignal(signal) && sigaction(signal, nullptr, &current) == 0 &&
        current.sa_handler != SIG_IGN) {
      sigaction(signal, &action, nullptr);
    }
  }
}

SignalsHeld::SignalsHeld() {
  sigset_t held;
  sigemptyset(&held);
  for (int signal = 1; signal < NSIG; ++signal) {
    if (IsEndingSignal(signal) && !IsOneOf(signal, FaultSignals)) {
      sigaddset(&held, signal);
    }
  }
  sigprocmask(SIG_BLOCK, &held, &previous_);
}

SignalsHeld::~SignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

}  // namespace posix_layer
