// The durable replacement and the write in place on the POSIX platform layer.
#include "posix_replace.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "posix_errors.h"
#include "posix_properties.h"
#include "posix_signals.h"

namespace posix_layer {

bool UseUnnamedFiles = true;

}  // namespace posix_layer

using namespace posix_layer;

namespace {

// Until it is complete, every new file is the runner's alone, under whatever name it has: no
// group or other permission, and no ACL a folder's default would give it.
constexpr mode_t PrivateFileMode = 0600;
constexpr int RandomSuffixLength = 6;
constexpr int MaxCreateAttempts = 100;

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
  size_t room = NAME_MAX - std::strlen(UnfinishedSuffix) - RandomSuffixLength;
  std::string name = target.substr(0, room) + UnfinishedSuffix;
  for (unsigned char byte : random) {
    name += Letters[byte % (sizeof Letters - 1)];
  }
  return name;
}

// Makes a new private file under a temporary name beside the target, recorded for removal.
// Returns false with the failure recorded.
bool CreateNamedFile(Replacement* replacement) {
  int folder = replacement->target->folder;
  for (int attempt = 0; attempt < MaxCreateAttempts; ++attempt) {
    std::string candidate = TemporaryName(replacement->target->leaf);
    SignalsHeld held;
    int descriptor =
        openat(folder, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, PrivateFileMode);
    if (descriptor >= 0) {
      RecordUnfinished(folder, candidate);
      replacement->temporary = candidate;
      replacement->descriptor = AboveStandardStreams(descriptor);
      return replacement->descriptor >= 0;
    }
    if (errno != EEXIST) {
      return FailErrno();
    }
  }
  return FailErrno();
}

// Errors of an O_TMPFILE open that mean the file system (or the kernel) has no unnamed files.
bool HasNoUnnamedFiles(int error) {
  return error == EOPNOTSUPP || error == EISDIR || error == EINVAL || error == ENOENT;
}

// Gives an unnamed file a temporary name in its folder, recorded for removal. Call with
// signals held. Returns false with the failure recorded.
bool GiveTemporaryName(Replacement* replacement) {
  int folder = replacement->target->folder;
  std::string self = "/proc/self/fd/" + std::to_string(replacement->descriptor);
  for (int attempt = 0; attempt < MaxCreateAttempts; ++attempt) {
    std::string candidate = TemporaryName(replacement->target->leaf);
    int linked = linkat(AT_FDCWD, self.c_str(), folder, candidate.c_str(), AT_SYMLINK_FOLLOW);
    if (linked != 0 && errno == ENOENT) {
      // Without /proc, the superuser can still link the descriptor itself.
      linked = linkat(replacement->descriptor, "", folder, candidate.c_str(), AT_EMPTY_PATH);
    }
    if (linked == 0) {
      RecordUnfinished(folder, candidate);
      replacement->temporary = candidate;
      return true;
    }
    if (errno != EEXIST) {
      return FailErrno();
    }
  }
  return FailErrno();
}

// Removes the temporary name, if there is one. Call with signals held.
void RemoveTemporaryName(Replacement* replacement) {
  if (!replacement->temporary.empty()) {
    unlinkat(replacement->target->folder, replacement->temporary.c_str(), 0);
    ForgetUnfinished(replacement->target->folder, replacement->temporary);
    replacement->temporary.clear();
  }
}

// fsync of the folder, so that a rename survives a power cut. A file system that cannot flush a
// folder says EINVAL, and a folder the runner may not list is open only by a descriptor that
// names it (O_PATH), which cannot be flushed: there is nothing more to do then. The rename is
// done by then: a failure says that the new file is in place but may not be on disk yet.
bool FlushFolder(int folder) {
  int flags = fcntl(folder, F_GETFL);
  if ((flags >= 0 && (flags & O_PATH) != 0) || fsync(folder) == 0 || errno == EINVAL) {
    return true;
  }
  return FailErrnoBecause(std::string(NotYetOnDiskReason) + " (" + std::strerror(errno) + ")");
}

}  // namespace

namespace posix_layer {

bool WriteAllAt(int descriptor, const char* bytes, size_t size, off_t offset) {
  while (size > 0) {
    ssize_t count = pwrite(descriptor, bytes, size, offset);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      errno = count == 0 ? ENOSPC : errno;
      return FailErrno();
    }
    bytes += count;
    size -= static_cast<size_t>(count);
    offset += count;
  }
  return true;
}

bool ReadAllAt(int descriptor, std::string* bytes, size_t size) {
  bytes->resize(size);
  size_t done = 0;
  while (done < size) {
    ssize_t count = pread(descriptor, bytes->data() + done, size - done, static_cast<off_t>(done));
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      errno = count == 0 ? EIO : errno;
      return FailRead();
    }
    done += static_cast<size_t>(count);
  }
  return true;
}

bool BeginReplacement(Entry* target, Replacement* replacement, bool* refused) {
  *refused = false;
  *replacement = Replacement();
  replacement->target = target;
  bool made = false;
  if (UseUnnamedFiles) {
    replacement->descriptor = AboveStandardStreams(
        openat(target->folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, PrivateFileMode));
    made = replacement->descriptor >= 0;
  }
  if (!made && (!UseUnnamedFiles || HasNoUnnamedFiles(FailureErrno()))) {
    made = CreateNamedFile(replacement);
  }
  if (!made) {
    *refused = FailureErrno() == EPERM || FailureErrno() == EACCES || FailureErrno() == EOPNOTSUPP;
    return false;
  }
  if (!DropAcl(replacement->descriptor)) {
    DiscardReplacement(replacement);
    return false;
  }
  return true;
}

// The new file's properties come only after its last byte is on disk, so that no partial copy is
// ever readable by anyone but the runner. They are metadata: the folder's flush after the rename
// puts them on disk with the rename.
bool CommitReplacement(Replacement* replacement, GiveProperties give, int from, bool* refused) {
  *refused = false;
  Entry made = *replacement->target;
  bool committed = (fsync(replacement->descriptor) == 0 || FailErrno()) &&
                   give(from, replacement->descriptor, refused) &&
                   RefreshEntry(&made, replacement->descriptor);
  {
    SignalsHeld held;
    if (committed && replacement->temporary.empty()) {
      committed = GiveTemporaryName(replacement);
    }
    if (committed) {
      committed = CloseDescriptor(replacement->descriptor);
    } else {
      close(replacement->descriptor);
    }
    replacement->descriptor = -1;
    if (committed && renameat(made.folder, replacement->temporary.c_str(), made.folder,
                              made.leaf.c_str()) != 0) {
      committed = FailErrno();
    }
    if (committed) {
      ForgetUnfinished(made.folder, replacement->temporary);
      replacement->temporary.clear();
    }
    RemoveTemporaryName(replacement);
  }
  if (!committed) {
    return false;
  }
  *replacement->target = made;
  return FlushFolder(made.folder);
}

void DiscardReplacement(Replacement* replacement) {
  if (replacement->descriptor >= 0) {
    close(replacement->descriptor);
    replacement->descriptor = -1;
  }
  SignalsHeld held;
  RemoveTemporaryName(replacement);
}

// The old text is read first where the runner may read the file, so that a failure midway can put
// it back. The room comes next: the bytes past the old end are added there, and where they cannot
// be (a full disk, a file-size limit) the file gets back its old length and last-write time. Only
// then are the old bytes overwritten, the file cut to the new length and flushed. Where that
// fails, the old text goes back in place, length and last-write time included; only where that
// fails too, or the file could not be read, does the report say where the old text is.
bool WriteInPlace(int descriptor, const std::string& text, const std::string& oldTextIn) {
  SignalsHeld held;
  struct stat status {};
  int access = fcntl(descriptor, F_GETFL);
  if (fstat(descriptor, &status) != 0 || access < 0) {
    return FailErrno();
  }
  size_t oldSize = static_cast<size_t>(status.st_size);
  std::string old;
  bool readable = (access & O_ACCMODE) != O_WRONLY;
  if (readable && !ReadAllAt(descriptor, &old, oldSize)) {
    return false;
  }
  const timespec times[2] = {status.st_atim, status.st_mtim};
  if (text.size() > oldSize && !WriteAllAt(descriptor, text.data() + oldSize, text.size() - oldSize,
                                           static_cast<off_t>(oldSize))) {
    static_cast<void>(ftruncate(descriptor, static_cast<off_t>(oldSize)) == 0 &&
                      futimens(descriptor, times) == 0);
    return false;
  }
  size_t overwritten = std::min(text.size(), oldSize);
  bool written = WriteAllAt(descriptor, text.data(), overwritten, 0) &&
                 (text.size() >= oldSize ||
                  ftruncate(descriptor, static_cast<off_t>(text.size())) == 0 || FailErrno()) &&
                 (fsync(descriptor) == 0 || FailErrno());
  if (written) {
    return true;
  }
  Failure failed = LastFailure();
  bool putBack = readable && WriteAllAt(descriptor, old.data(), old.size(), 0) &&
                 ftruncate(descriptor, static_cast<off_t>(oldSize)) == 0 &&
                 futimens(descriptor, times) == 0 && fsync(descriptor) == 0;
  FailAgain(failed);
  if (putBack) {
    return false;
  }
  errno = failed.error;
  return FailErrno(oldTextIn.empty() ? std::string(FileMayBeCutReason)
                                     : OldTextInBackupReason + oldTextIn);
}

}  // namespace posix_layer
