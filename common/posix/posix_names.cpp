// The run's folder and the records of the names the programs use in it, on the POSIX platform
// layer: the one look at each name, its letter-case match, and the walk along trusted links.
#include "posix_names.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <string>

#include "platform.h"
#include "posix_errors.h"
#include "runtime_error.h"

using namespace posix_layer;

namespace {

// How many symbolic links one look follows before it gives up, as the system does.
constexpr int MaxLinksFollowed = 40;

// The current folder, opened at the first look of the run and kept open to its end.
int RunFolder = -1;

// The record of every name the run has looked at; a map, so that a record never moves.
std::map<std::string, Name> Names;

// Opens the folder at path (relative to from) for the names in it. A folder the runner may pass
// through but not list still serves, by a descriptor that only names it: its entries are found,
// but not by their letter case, and it cannot be flushed. Returns -1 with the failure recorded.
int OpenFolderAt(int from, const char* path) {
  // A part the walk looked at as a folder may have been swapped for a link since: never followed.
  int descriptor = openat(from, path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor < 0 && errno == EACCES) {
    descriptor = openat(from, path, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  }
  return AboveStandardStreams(descriptor);
}

// A descriptor of its own of the same open folder. Returns -1 with the failure recorded.
int DuplicateFolder(int folder) { return AboveStandardStreams(fcntl(folder, F_DUPFD_CLOEXEC, 0)); }

// How well an entry of the folder serves as the file a name stands for: a plain file (or a link,
// which may lead to one) before anything else, such as a folder of the same name.
int Rank(int folder, const char* name) {
  struct stat status {};
  if (fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
    return 2;
  }
  return S_ISREG(status.st_mode) || S_ISLNK(status.st_mode) ? 0 : 1;
}

// The entry of folder that a bare name stands for, as Windows (and Wine) find it: the name itself
// when it is a plain file or a link; else the entry that matches it without regard to ASCII
// letter case (QTV.INI for Qtv.ini), a plain file or link before anything else, the name itself
// before other spellings, then the first in byte order. A name that nothing matches, or a folder
// that cannot be listed, leaves the name as it is.
std::string MatchLetterCase(int folder, const std::string& name) {
  if (name.empty() || Rank(folder, name.c_str()) == 0) {
    return name;
  }
  int listed = DuplicateFolder(folder);
  DIR* entries = listed >= 0 ? fdopendir(listed) : nullptr;
  if (entries == nullptr) {
    if (listed >= 0) {
      close(listed);
    }
    return name;
  }
  // A duplicate shares the position of the run folder's descriptor, which an earlier listing moved.
  rewinddir(entries);
  std::string found;
  int foundRank = INT_MAX;
  while (const dirent* entry = readdir(entries)) {
    if (strcasecmp(entry->d_name, name.c_str()) != 0) {
      continue;
    }
    int rank = Rank(folder, entry->d_name) * 2 + (name == entry->d_name ? 0 : 1);
    if (rank < foundRank || (rank == foundRank && std::strcmp(entry->d_name, found.c_str()) < 0)) {
      found = entry->d_name;
      foundRank = rank;
    }
  }
  closedir(entries);
  return found.empty() ? name : found;
}

// The status of the entry leaf of folder, without following it. *exists is false for a missing
// entry, which is no failure. Returns false with the failure recorded.
bool LookAt(int folder, const std::string& leaf, struct stat* status, bool* exists) {
  int descriptor =
      AboveStandardStreams(openat(folder, leaf.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  *exists = descriptor >= 0;
  if (descriptor < 0) {
    return FailureErrno() == ENOENT;
  }
  bool looked = fstat(descriptor, status) == 0 || FailErrno();
  close(descriptor);
  return looked;
}

// The target of the symbolic link leaf of folder, whose status is given, when the link may be
// followed: its owner is the runner or root, and it has no other name in a folder others can
// write. It is read through a descriptor of the link itself, so the target is the one its trusted
// owner gave it, whatever has been put under its name since. Returns false with the failure
// recorded.
bool ReadTrustedLink(int folder, const std::string& leaf, const struct stat& status,
                     std::string* target) {
  if (status.st_uid != geteuid() && status.st_uid != 0) {
    return Fail(ERROR_ACCESS_DENIED_CODE, ForeignLinkReason);
  }
  if (status.st_nlink > 1 && OthersMayWrite(folder)) {
    return Fail(ERROR_ACCESS_DENIED_CODE, SharedHardLinkReason);
  }
  int descriptor =
      AboveStandardStreams(openat(folder, leaf.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (descriptor < 0) {
    return false;
  }
  struct stat opened {};
  char buffer[PATH_MAX];
  ssize_t length = -1;
  if (fstat(descriptor, &opened) != 0) {
    FailErrno();
  } else if (!IsSameFile(opened, status) || !S_ISLNK(opened.st_mode)) {
    Fail(ERROR_SHARING_VIOLATION_CODE, ReplacedReason);
  } else {
    length = readlinkat(descriptor, "", buffer, sizeof buffer);
    if (length < 0 || static_cast<size_t>(length) == sizeof buffer || length == 0) {
      errno = length < 0 ? errno : (length == 0 ? ENOENT : ENAMETOOLONG);
      length = -1;
      FailErrno();
    }
  }
  close(descriptor);
  if (length < 0) {
    return false;
  }
  target->assign(buffer, static_cast<size_t>(length));
  return true;
}

// Takes the first part of *path off it: the part before the first slash, which is "." for a path
// that is all slashes or ends in one.
std::string TakeFirstPart(std::string* path) {
  for (;;) {
    size_t slash = path->find('/');
    std::string part = path->substr(0, slash);
    *path = slash == std::string::npos ? std::string() : path->substr(slash + 1);
    if ((part.empty() || part == ".") && !path->empty()) {
      continue;
    }
    return part.empty() ? "." : part;
  }
}

// Walks from the link the entry is to the entry its target names, one part at a time from
// descriptors: every link met on the way must be one ReadTrustedLink follows, and a relative
// target is taken from the folder of the link that names it. *found gets the entry the walk ends
// at (missing, when its last part does not exist). Returns false with the failure recorded.
bool FollowLinks(const Entry& link, Entry* found) {
  int folder = DuplicateFolder(link.folder);
  if (folder < 0) {
    return false;
  }
  std::string rest = link.leaf;
  int followed = 0;
  for (;;) {
    std::string part = TakeFirstPart(&rest);
    struct stat status {};
    bool exists = false;
    bool looked = LookAt(folder, part, &status, &exists);
    if (looked && !exists && !rest.empty()) {
      errno = ENOENT;
      looked = FailErrno();
    }
    if (!looked) {
      close(folder);
      return false;
    }
    if (exists && S_ISLNK(status.st_mode)) {
      std::string target;
      if (++followed > MaxLinksFollowed) {
        errno = ELOOP;
        FailErrno();
      }
      if (followed > MaxLinksFollowed || !ReadTrustedLink(folder, part, status, &target)) {
        close(folder);
        return false;
      }
      if (!rest.empty()) {
        target.append("/").append(rest);
      }
      rest = target;
      if (rest[0] == '/') {
        close(folder);
        folder = OpenFolderAt(AT_FDCWD, "/");
        if (folder < 0) {
          return false;
        }
      }
      continue;
    }
    if (!rest.empty()) {
      int inner = -1;
      if (!S_ISDIR(status.st_mode)) {
        errno = ENOTDIR;
        FailErrno();
      } else {
        inner = OpenFolderAt(folder, part.c_str());
      }
      close(folder);
      if (inner < 0) {
        return false;
      }
      folder = inner;
      continue;
    }
    *found = Entry{folder, part, exists, status};
    return true;
  }
}

// Whether the entry is a plain file with another name in a folder others can write: a writer of
// the folder could have linked any file of the system there.
bool IsSharedHardLink(const Entry& entry) {
  return entry.exists && S_ISREG(entry.status.st_mode) && entry.status.st_nlink > 1 &&
         OthersMayWrite(entry.folder);
}

// The one look at a name: the entry itself in the run's folder, then, for a link, where it leads.
// Returns false with the failure recorded; name->looked tells whether the entry itself was found.
bool Look(Name* name) {
  if (RunFolder < 0) {
    RunFolder = OpenFolderAt(AT_FDCWD, ".");
    if (RunFolder < 0) {
      return false;
    }
  }
  Entry& itself = name->itself;
  itself.folder = DuplicateFolder(RunFolder);
  if (itself.folder < 0) {
    return false;
  }
  itself.leaf = MatchLetterCase(itself.folder, name->given);
  name->looked = LookAt(itself.folder, itself.leaf, &itself.status, &itself.exists);
  if (!name->looked) {
    return false;
  }
  if (itself.exists && S_ISLNK(itself.status.st_mode)) {
    if (!FollowLinks(itself, &name->file)) {
      return false;
    }
  } else {
    name->file = itself;
    name->file.folder = DuplicateFolder(itself.folder);
    if (name->file.folder < 0) {
      return false;
    }
  }
  return !IsSharedHardLink(name->file) || Fail(ERROR_ACCESS_DENIED_CODE, SharedHardLinkReason);
}

}  // namespace

namespace posix_layer {

__attribute__((noinline)) Name* LookUpName(const char* given) {
  auto found = Names.find(given);
  if (found != Names.end()) {
    return &found->second;
  }
  Name* name = &Names[given];
  name->given = given;
  if (!Look(name)) {
    if (FailureIsPassing()) {
      PublishFailure();
      RuntimeErrorExit(OsGetLastError(), OsImageOffset(__builtin_return_address(0)));
    }
    name->refusal = LastFailure();
  }
  return name;
}

bool MayUseFile(const Name& name) {
  if (name.refusal.code != 0) {
    return FailAgain(name.refusal);
  }
  if (!name.file.exists) {
    errno = ENOENT;
    return FailErrno();
  }
  return true;
}

bool MayUseItself(const Name& name) { return name.looked || FailAgain(name.refusal); }

bool StatusToShow(const Name& name, struct stat* status) {
  // A link refused on the way shows as itself; a refused file as itself too, where it was found.
  bool trustRefused = name.refusal.code != 0 && name.refusal.error == 0;
  if (name.file.exists && (name.refusal.code == 0 || trustRefused)) {
    *status = name.file.status;
    return true;
  }
  if (trustRefused && name.itself.exists) {
    *status = name.itself.status;
    return true;
  }
  return MayUseFile(name);
}

int OpenEntry(const Entry& entry, int flags, struct stat* opened) {
  int descriptor = AboveStandardStreams(openat(
      entry.folder, entry.leaf.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (descriptor < 0) {
    // A link, or nothing, where the look found a file: swapped since.
    if ((FailureErrno() == ELOOP || FailureErrno() == ENOENT) && entry.exists) {
      Fail(ERROR_SHARING_VIOLATION_CODE, ReplacedReason);
    }
    return -1;
  }
  struct stat status {};
  // Once open, reads and writes wait as usual. A descriptor that reaches no content has no such
  // flags.
  int open = (flags & O_PATH) != 0 ? 0 : fcntl(descriptor, F_GETFL);
  if (fstat(descriptor, &status) != 0 || open < 0 ||
      ((flags & O_PATH) == 0 && fcntl(descriptor, F_SETFL, open & ~O_NONBLOCK) != 0)) {
    FailErrno();
  } else if (!entry.exists || !IsSameFile(status, entry.status)) {
    Fail(ERROR_SHARING_VIOLATION_CODE, ReplacedReason);
  } else {
    if (opened != nullptr) {
      *opened = status;
    }
    return descriptor;
  }
  close(descriptor);
  return -1;
}

bool TakeItselfAsFile(Name* name) {
  int folder = DuplicateFolder(name->itself.folder);
  if (folder < 0) {
    return false;
  }
  close(name->file.folder);
  name->file = name->itself;
  name->file.folder = folder;
  name->refusal = Failure();
  name->looked = true;
  return true;
}

bool ShowedMissing(const char* given) {
  auto found = Names.find(given);
  struct stat status {};
  return found != Names.end() && (!StatusToShow(found->second, &status) || S_ISDIR(status.st_mode));
}

bool RefreshEntry(Entry* entry, int descriptor) {
  if (fstat(descriptor, &entry->status) != 0) {
    return FailErrno();
  }
  entry->exists = true;
  return true;
}

bool IsSameFile(const struct stat& one, const struct stat& other) {
  return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

bool OthersMayWrite(int folder) {
  struct stat status {};
  if (fstat(folder, &status) != 0) {
    return true;
  }
  bool othersOwn = status.st_uid != geteuid() && status.st_uid != 0;
  return othersOwn || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

void ForgetRun() {
  for (auto& [given, name] : Names) {
    for (int folder : {name.itself.folder, name.file.folder}) {
      if (folder >= 0) {
        close(folder);
      }
    }
  }
  Names.clear();
  if (RunFolder >= 0) {
    close(RunFolder);
    RunFolder = -1;
  }
}

}  // namespace posix_layer
