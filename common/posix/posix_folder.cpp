// The run's folder and its entries on the POSIX platform layer: the one look at a name, the trust
// in a symbolic link, and the check that a later open finds the file that was looked at.
#include "posix_folder.h"

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
#include "posix_io.h"
#include "posix_replace.h"

using namespace posix_layer;

namespace {

// How many symbolic links one look follows before it gives up, as the system does.
constexpr int MaxLinksFollowed = 40;

// The current folder, opened at the first look of the run and kept open to its end.
int RunFolderDescriptor = -1;

// The entry each bare name was matched with, once per run.
std::map<std::string, std::string> LetterCaseMatches;

// Opens the folder at path (relative to from) for the names in it. A folder the runner may pass
// through but not list still serves, by a descriptor that only names it: its entries are found,
// but not by their letter case, and it cannot be flushed. Returns -1 with errno set.
int OpenFolderAt(int from, const char* path) {
  int descriptor = openat(from, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0 && errno == EACCES) {
    descriptor = openat(from, path, O_PATH | O_DIRECTORY | O_CLOEXEC);
  }
  return descriptor;
}

// A new descriptor of the run's folder, opened once per run. Returns -1 with the last error set.
int DuplicateRunFolder() {
  if (RunFolderDescriptor < 0) {
    RunFolderDescriptor = OpenFolderAt(AT_FDCWD, ".");
    if (RunFolderDescriptor < 0) {
      FailWithErrno();
      return -1;
    }
  }
  int descriptor = fcntl(RunFolderDescriptor, F_DUPFD_CLOEXEC, 0);
  if (descriptor < 0) {
    FailWithErrno();
  }
  return descriptor;
}

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
// before other spellings, then the first in byte order. A name that nothing matches stays as it
// is, so that a file made under it gets the name as the program spells it.
std::string MatchLetterCase(int folder, const std::string& name) {
  if (name.empty() || Rank(folder, name.c_str()) == 0) {
    return name;
  }
  int listed = fcntl(folder, F_DUPFD_CLOEXEC, 0);
  DIR* entries = listed >= 0 ? fdopendir(listed) : nullptr;
  if (entries == nullptr) {
    if (listed >= 0) {
      CloseDescriptor(listed);
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

// Opens the folder of path (or "." for a bare name) and gives the name inside it. Returns -1 with
// the last error set.
int OpenFolderOf(const std::string& path, std::string* name) {
  size_t slash = path.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  *name = slash == std::string::npos ? path : path.substr(slash + 1);
  int descriptor = OpenFolderAt(AT_FDCWD, folder.c_str());
  if (descriptor < 0) {
    FailWithErrno();
  }
  return descriptor;
}

// Opens the folder and gives the leaf name a path stands for: the run's folder and the letter-case
// match of a bare name; else the folder the path names. Returns -1 with the last error set.
int OpenFolderOfName(const std::string& path, std::string* leaf) {
  if (path.find('/') != std::string::npos) {
    return OpenFolderOf(path, leaf);
  }
  int folder = DuplicateRunFolder();
  if (folder < 0) {
    return -1;
  }
  auto cached = LetterCaseMatches.find(path);
  if (cached == LetterCaseMatches.end()) {
    cached = LetterCaseMatches.emplace(path, MatchLetterCase(folder, path)).first;
  }
  *leaf = cached->second;
  return folder;
}

// The target of the symbolic link that descriptor (opened with O_PATH | O_NOFOLLOW) stands for,
// when its owner is the runner or root. Returns false with the last error set.
bool ReadTrustedLink(int descriptor, const struct stat& status, std::string* target) {
  if (status.st_uid != geteuid() && status.st_uid != 0) {
    return FailWith(ERROR_ACCESS_DENIED_CODE, ForeignLinkReason);
  }
  char buffer[PATH_MAX];
  ssize_t length = readlinkat(descriptor, "", buffer, sizeof buffer);
  if (length < 0) {
    return FailWithErrno();
  }
  if (static_cast<size_t>(length) == sizeof buffer) {
    errno = ENAMETOOLONG;
    return FailWithErrno();
  }
  target->assign(buffer, static_cast<size_t>(length));
  return true;
}

// Steps from the link entry->name in entry->folder to the entry its target names. The link has
// been read through a descriptor of it, so the target is the one its trusted owner gave it,
// whatever has been put under its name since. Returns false with the last error set.
bool FollowLink(Entry* entry, const std::string& target) {
  std::string leaf;
  int folder = -1;
  size_t slash = target.find_last_of('/');
  if (slash == std::string::npos) {
    folder = fcntl(entry->folder, F_DUPFD_CLOEXEC, 0);
    leaf = target;
  } else {
    std::string path = target.substr(0, slash + 1);
    folder = OpenFolderAt(entry->folder, path.c_str());
    leaf = target.substr(slash + 1);
  }
  if (folder < 0) {
    return FailWithErrno();
  }
  CloseDescriptor(entry->folder);
  entry->folder = folder;
  entry->name = leaf;
  return true;
}

// The one look: the entry's status through a descriptor of the entry itself and, with
// followLinks, for a trusted link, the same again for its target. A link of another owner is
// refused with *foreignLink set and the link's own status in the entry. Returns false with the
// last error set.
bool LookAtEntry(Entry* entry, bool followLinks, bool* foreignLink) {
  *foreignLink = false;
  for (int followed = 0;; ++followed) {
    int descriptor = openat(entry->folder, entry->name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0) {
      entry->exists = false;
      return errno == ENOENT || FailWithErrno();
    }
    bool looked = fstat(descriptor, &entry->status) == 0 || FailWithErrno();
    std::string target;
    bool isLink = looked && followLinks && S_ISLNK(entry->status.st_mode);
    if (isLink && followed == MaxLinksFollowed) {
      errno = ELOOP;
      looked = FailWithErrno();
    } else if (isLink) {
      looked = ReadTrustedLink(descriptor, entry->status, &target);
      *foreignLink = !looked && OsGetLastError() == ERROR_ACCESS_DENIED_CODE;
    }
    CloseDescriptor(descriptor);
    if (!looked) {
      return false;
    }
    if (!isLink) {
      entry->exists = true;
      return true;
    }
    if (!FollowLink(entry, target)) {
      return false;
    }
  }
}

// The look of the three below. Returns false with the last error set and *entry closed.
bool LookUp(const std::string& name, bool followLinks, Entry* entry, bool* foreignLink) {
  *entry = Entry();
  *foreignLink = false;
  entry->folder = OpenFolderOfName(name, &entry->name);
  if (entry->folder < 0) {
    return false;
  }
  if (!LookAtEntry(entry, followLinks, foreignLink)) {
    CloseEntry(entry);
    return false;
  }
  return true;
}

}  // namespace

namespace posix_layer {

bool LookUpEntry(const std::string& name, Entry* entry) {
  bool foreignLink = false;
  if (!LookUp(name, true, entry, &foreignLink)) {
    return false;
  }
  if (entry->exists && S_ISREG(entry->status.st_mode) && entry->status.st_nlink > 1 &&
      OthersMayWrite(entry->folder)) {
    CloseEntry(entry);
    return FailWith(ERROR_ACCESS_DENIED_CODE, SharedHardLinkReason);
  }
  return true;
}

bool LookUpEntryItself(const std::string& name, Entry* entry) {
  bool foreignLink = false;
  return LookUp(name, false, entry, &foreignLink);
}

bool LookUpStatusToShow(const std::string& name, struct stat* status) {
  Entry entry;
  bool foreignLink = false;
  bool looked = LookUp(name, true, &entry, &foreignLink);
  if (looked && !entry.exists) {
    errno = ENOENT;
    looked = FailWithErrno();
  }
  if (looked || foreignLink) {
    *status = entry.status;
  }
  CloseEntry(&entry);
  return looked || foreignLink;
}

int OpenEntry(const Entry& entry, int flags) {
  int descriptor = openat(entry.folder, entry.name.c_str(),
                          flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (descriptor < 0) {
    // A link where the look found a file: swapped since.
    if (errno == ELOOP && entry.exists) {
      FailWith(ERROR_SHARING_VIOLATION_CODE, ReplacedReason);
    } else {
      FailWithErrno();
    }
    return -1;
  }
  struct stat status {};
  // Once open, reads and writes wait as usual. A descriptor that reaches no content has no such
  // flags.
  int open = (flags & O_PATH) != 0 ? 0 : fcntl(descriptor, F_GETFL);
  if (fstat(descriptor, &status) != 0 || open < 0 ||
      ((flags & O_PATH) == 0 && fcntl(descriptor, F_SETFL, open & ~O_NONBLOCK) != 0)) {
    FailWithErrno();
  } else if (entry.exists && !IsSameFile(status, entry.status)) {
    FailWith(ERROR_SHARING_VIOLATION_CODE, ReplacedReason);
  } else {
    return descriptor;
  }
  CloseDescriptor(descriptor);
  return -1;
}

// The file is reached by a descriptor that needs no permission on it (O_PATH); its mode is set
// through the descriptor's entry in /proc, which names that file and no other. Without /proc,
// through a descriptor opened for reading.
bool ChangeEntryMode(const Entry& entry, mode_t mode) {
  int descriptor = OpenEntry(entry, O_PATH);
  if (descriptor < 0) {
    return false;
  }
  std::string self = "/proc/self/fd/" + std::to_string(descriptor);
  bool changed = chmod(self.c_str(), mode) == 0;
  if (!changed && errno == ENOENT) {
    int readable = OpenEntry(entry, O_RDONLY);
    changed = readable >= 0 && fchmod(readable, mode) == 0;
    if (readable >= 0) {
      CloseDescriptor(readable);
    }
  }
  if (!changed) {
    FailWithErrno();
  }
  CloseDescriptor(descriptor);
  return changed;
}

bool IsSameFile(const struct stat& one, const struct stat& other) {
  return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

void CloseEntry(Entry* entry) {
  if (entry->folder >= 0) {
    CloseDescriptor(entry->folder);
    entry->folder = -1;
  }
}

bool OthersMayWrite(int folder) {
  struct stat status {};
  if (fstat(folder, &status) != 0) {
    return true;
  }
  bool othersOwn = status.st_uid != geteuid() && status.st_uid != 0;
  return othersOwn || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

}  // namespace posix_layer
