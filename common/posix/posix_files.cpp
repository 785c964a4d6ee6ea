// Files on the POSIX platform layer: the directory search, attributes and times, the copy, and
// text-file access. File handles are file descriptors. Windows' read-only attribute is the
// owner's missing write permission; hidden and system have no counterpart. A bare name finds its
// entry whatever its letter case, as on Windows.
//
// Windows' share modes become locks: a file open for reading holds a shared lock, a file being
// rewritten an exclusive one, and an open that meets the other kind fails with a sharing
// violation, as it does on Windows. A file opened for writing is never cut where others can see
// it: the new text goes into a new file that replaces the old one whole when it is closed.
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>

#include "platform.h"
#include "posix_io.h"
#include "posix_replace.h"

using namespace posix_layer;

namespace {

// FileTime counts 100-nanosecond ticks from 1601-01-01 UTC; the system clock counts seconds
// from 1970-01-01 UTC.
constexpr int64_t TicksPerSecond = 10000000;
constexpr int64_t NanosecondsPerTick = 100;
constexpr int64_t SecondsFrom1601To1970 = 11644473600;
// Win32 keeps file times as signed 64-bit values; later times are held at the last second.
constexpr int64_t MaxFileTimeSeconds = INT64_MAX / TicksPerSecond - 1;

// The years an MS-DOS date can hold.
constexpr int DosFirstYear = 1980;
constexpr int DosLastYear = 2107;
constexpr int TmYearBase = 1900;

constexpr size_t CopyBufferSize = size_t{16} * 1024;
// The settings file is read and written in small pieces; the layer takes them from the disk, and
// gives them to it, in blocks of this size. No other program sees the difference: a file being
// read is never changed under its reader (a rewrite replaces it, or waits for the reader's lock),
// and a new file's bytes are seen by nobody before it replaces the old one.
constexpr size_t BlockSize = size_t{64} * 1024;

constexpr mode_t PermissionBits = 07777;
constexpr mode_t AnyWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

const char InUseReason[] = "in use by another program";
const char NotPlainFileReason[] = "not a plain file";
const char ReplacedReason[] = "replaced by another program since it was read";

int Descriptor(FileHandle handle) { return static_cast<int>(handle); }

// The names the open handles were opened by, for the report of a failure on one.
std::map<int, std::string> HandleNames;

// A file opened for writing: the new file that replaces it when it is closed, the old file, open
// and locked meanwhile, or, written in place, nothing beside the handle.
struct WriteTarget {
  Replacement replacement;
  int lockedOriginal = -1;
  bool inPlace = false;
  bool flush = false;   // a plain file, whose bytes are flushed to disk at close
  std::string pending;  // bytes of a plain file not yet given to the disk
};
std::map<int, WriteTarget> WriteTargets;

// What the disk has given of a file open for reading and the program has not yet taken.
struct ReadBlock {
  std::string bytes;
  size_t taken = 0;
};
std::map<int, ReadBlock> ReadBlocks;

// The file the last open for reading found, by the name it was opened by and its identity: a
// rewrite by the same name later in the run must find that same file there, links followed.
struct FileRead {
  std::string name;
  dev_t device = 0;
  ino_t inode = 0;
};
FileRead LastRead;

// The path of the file a name stands for, links followed; empty when it cannot be resolved.
std::string ResolvedPath(const std::string& name) {
  char* resolved = realpath(name.c_str(), nullptr);
  if (resolved == nullptr) {
    return std::string();
  }
  std::string path = resolved;
  std::free(resolved);
  return path;
}

bool IsSameFile(const struct stat& one, const struct stat& other) {
  return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

// Whether name may be rewritten as the file it stands for now: it is not the name of the last
// read, or the file is still the one that was read.
bool IsStillTheFileRead(const std::string& name, const struct stat& status) {
  return name != LastRead.name ||
         (status.st_dev == LastRead.device && status.st_ino == LastRead.inode);
}

// Takes a lock on an open file without waiting: LOCK_SH while it is read, LOCK_EX while it is
// rewritten. A lock another open holds is a sharing violation; a file system that keeps no locks
// lets the open go on without one. Returns false with the last error set.
bool LockOpenFile(int descriptor, int kind) {
  if (flock(descriptor, kind | LOCK_NB) == 0 || errno != EWOULDBLOCK) {
    return true;
  }
  return FailWith(ERROR_SHARING_VIOLATION_CODE, InUseReason);
}

// What Windows calls the read-only attribute: the owner may not write.
bool IsReadOnly(const struct stat& status) { return (status.st_mode & S_IWUSR) == 0; }

uint32_t AttributesOf(const struct stat& status) {
  uint32_t attributes =
      S_ISDIR(status.st_mode) ? FILE_ATTRIBUTE_DIRECTORY_BIT : FILE_ATTRIBUTE_ARCHIVE_BIT;
  if (IsReadOnly(status)) {
    attributes |= FILE_ATTRIBUTE_READONLY_BIT;
  }
  return attributes;
}

FileTime FileTimeFromTimespec(const timespec& time) {
  if (time.tv_sec > MaxFileTimeSeconds - SecondsFrom1601To1970) {
    return static_cast<FileTime>(MaxFileTimeSeconds * TicksPerSecond);
  }
  int64_t seconds = time.tv_sec + SecondsFrom1601To1970;
  if (seconds < 0) {
    return 0;
  }
  return static_cast<FileTime>(seconds * TicksPerSecond + time.tv_nsec / NanosecondsPerTick);
}

// The whole seconds of a FileTime, counted from 1970.
time_t UnixSecondsFromFileTime(FileTime time) {
  return static_cast<time_t>(static_cast<int64_t>(time / TicksPerSecond) - SecondsFrom1601To1970);
}

// Whether the descriptor opened by OpenPlainFileToRead is a plain file, with its status; a plain
// file gets ordinary reads back. Returns false with the last error set.
bool IsPlainFileToRead(int descriptor, struct stat* status) {
  if (fstat(descriptor, status) != 0) {
    return FailWithErrno();
  }
  if (!S_ISREG(status->st_mode)) {
    return FailWith(ERROR_ACCESS_DENIED_CODE, NotPlainFileReason);
  }
  if (fcntl(descriptor, F_SETFL, 0) != 0) {
    return FailWithErrno();
  }
  return LockOpenFile(descriptor, LOCK_SH);
}

// Opens name for reading when it is a plain file, and gives its status; the file holds a shared
// lock while it is open. Anything else is refused: a device such as /dev/zero has no end, and
// reading it as one endless line would exhaust memory first; a pipe may never end either. Without a
// writer, opening a named pipe would wait for one, and the program would hang before it could see
// what it opened; so the open does not wait. Returns -1 with the last error set.
int OpenPlainFileToRead(const char* name, struct stat* status) {
  int descriptor = open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (descriptor < 0) {
    FailWithErrno();
    return -1;
  }
  if (!IsPlainFileToRead(descriptor, status)) {
    CloseDescriptor(descriptor);
    return -1;
  }
  return descriptor;
}

// Opens the file name stands for in place, for writing, cut to length 0 once it holds the
// exclusive lock and is known to be the file expected (device and inode): a name swapped meanwhile
// is never written through. Something other than a plain file (a device) is written as it is.
// Returns -1 with the last error set.
int OpenInPlace(int folder, const std::string& name, const struct stat& expected) {
  // A named pipe without a reader would keep the open waiting: it does not wait, and the
  // writes that follow do once it is open.
  int descriptor = openat(folder, name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat status {};
  if (descriptor < 0 || fstat(descriptor, &status) != 0 || fcntl(descriptor, F_SETFL, 0) != 0) {
    FailWithErrno();
  } else if (!IsSameFile(status, expected)) {
    FailWith(ERROR_SHARING_VIOLATION_CODE, ReplacedReason);
  } else if (!S_ISREG(status.st_mode) || (LockOpenFile(descriptor, LOCK_EX) &&
                                          (ftruncate(descriptor, 0) == 0 || FailWithErrno()))) {
    WriteTargets[descriptor] = WriteTarget{Replacement(), -1, true, S_ISREG(status.st_mode), {}};
    return descriptor;
  }
  if (descriptor >= 0) {
    CloseDescriptor(descriptor);
  }
  return -1;
}

// Starts the rewrite of the plain file name in folder by a new file that replaces it at close.
// The old file stays open meanwhile, under an exclusive lock. Returns the new file, -1 with the
// last error set, or -1 with *writeInPlace set when a new file cannot have what the old one has.
int BeginRewrite(int folder, const std::string& name, const struct stat& expected,
                 bool* writeInPlace) {
  *writeInPlace = false;
  int original = openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (original < 0) {
    // Not even readable: only a write in place can change it.
    *writeInPlace = true;
    return -1;
  }
  struct stat status {};
  WriteTarget target;
  if (fstat(original, &status) != 0) {
    FailWithErrno();
  } else if (!IsSameFile(status, expected)) {
    FailWith(ERROR_SHARING_VIOLATION_CODE, ReplacedReason);
  } else if (LockOpenFile(original, LOCK_EX) &&
             BeginReplacement(folder, name, original, &target.replacement, writeInPlace)) {
    target.lockedOriginal = original;
    target.flush = true;
    int descriptor = target.replacement.descriptor;
    WriteTargets[descriptor] = target;
    return descriptor;
  }
  CloseDescriptor(original);
  return -1;
}

// Opens name for writing as CREATE_ALWAYS does, as a rewrite that replaces the file whole when it
// is closed: until then, the old text stays whole on disk. The file keeps its owner, group, mode
// and extended attributes; a symbolic link stays a link, and its target gets the new text. Where
// a new file would change what the user has (more than one hard link, an owner or group the
// program cannot give, a folder that lets it make no new file), the file is written in place.
// Windows refuses an existing file with the read-only attribute, without cutting it; the owner's
// write bit stands for that attribute here (the superuser could write anyway); a directory cannot
// be opened for writing at all. A file other than the one the last read of the same path found
// is not written: another program has replaced it meanwhile. Returns -1 with the last error set.
int CreateForWriting(const std::string& givenName) {
  std::string path = givenName;
  struct stat status {};
  if (lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
    path = ResolvedPath(givenName);
    if (path.empty()) {
      FailWithErrno();
      return -1;
    }
  }
  std::string name;
  int folder = OpenFolderOf(path, &name);
  if (folder < 0) {
    return -1;
  }
  int descriptor = -1;
  bool writeInPlace = false;
  if (fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) {
      FailWithErrno();
    } else {
      WriteTarget target;
      if (BeginReplacement(folder, name, -1, &target.replacement, &writeInPlace)) {
        descriptor = target.replacement.descriptor;
        target.flush = true;
        WriteTargets[descriptor] = target;
        return descriptor;
      }
    }
  } else if (S_ISDIR(status.st_mode) || IsReadOnly(status)) {
    FailWith(ERROR_ACCESS_DENIED_CODE);
  } else if (!IsStillTheFileRead(givenName, status)) {
    FailWith(ERROR_SHARING_VIOLATION_CODE, ReplacedReason);
  } else if (!S_ISREG(status.st_mode) || status.st_nlink > 1) {
    descriptor = OpenInPlace(folder, name, status);
  } else {
    descriptor = BeginRewrite(folder, name, status, &writeInPlace);
    if (descriptor >= 0) {
      return descriptor;  // the replacement holds the folder now
    }
    if (writeInPlace) {
      descriptor = OpenInPlace(folder, name, status);
    }
  }
  CloseDescriptor(folder);
  return descriptor;
}

// Whether a copy may go to name: not when it is the source itself, a read-only file (CopyFileA
// refuses to overwrite one), or, with failIfExists, any existing file. Returns false with the
// last error set.
bool CopyMayReplace(const char* name, const struct stat& source, bool failIfExists) {
  struct stat existing {};
  if (stat(name, &existing) != 0) {
    return true;
  }
  if (failIfExists) {
    return FailWith(ERROR_FILE_EXISTS_CODE);
  }
  if (existing.st_dev == source.st_dev && existing.st_ino == source.st_ino) {
    return FailWith(ERROR_SHARING_VIOLATION_CODE);
  }
  if (IsReadOnly(existing)) {
    return FailWith(ERROR_ACCESS_DENIED_CODE);
  }
  return true;
}

// Writes all size bytes, over as many write() calls as it takes, and adds the bytes stored to
// *stored. Returns false with errno set.
bool WriteAll(int descriptor, const char* bytes, size_t size, size_t* stored) {
  while (size > 0) {
    ssize_t count = WriteRetrying(descriptor, bytes, size);
    if (count < 0) {
      return false;
    }
    if (count == 0) {
      errno = ENOSPC;
      return false;
    }
    bytes += count;
    size -= static_cast<size_t>(count);
    *stored += static_cast<size_t>(count);
  }
  return true;
}

// Gives the pending bytes of a file open for writing to the disk. Returns false with the last
// error set.
bool StorePending(int descriptor, std::string* pending) {
  size_t stored = 0;
  bool written = WriteAll(descriptor, pending->data(), pending->size(), &stored);
  pending->clear();
  return written || FailWithErrno();
}

// Copies every byte from source to its end into destination. Returns false with the last error
// set.
bool CopyBytes(int source, int destination) {
  char buffer[CopyBufferSize];
  for (;;) {
    ssize_t count = ReadRetrying(source, buffer, sizeof buffer);
    if (count < 0) {
      return FailWithErrno();
    }
    if (count == 0) {
      return true;
    }
    size_t stored = 0;
    if (!WriteAll(destination, buffer, static_cast<size_t>(count), &stored)) {
      return FailWithErrno();
    }
  }
}

// Gives the copy the source's permission bits and last-write time, as CopyFileA gives it the
// attributes and the time of the source.
bool CopyFileProperties(int destination, const struct stat& source) {
  const timespec times[2] = {{0, UTIME_OMIT}, source.st_mtim};
  if (fchmod(destination, source.st_mode & PermissionBits) != 0 ||
      futimens(destination, times) != 0) {
    return FailWithErrno();
  }
  return true;
}

// The copy, once the source is open as a plain file with the given status. Returns false with
// the last error set. The bytes go to a new file beside the destination, which replaces it whole
// only once it is complete and on disk: a copy that fails midway, or a run that is stopped, leaves
// an older file under the name as it was.
bool CopyFromOpenSource(int source, const struct stat& status, const char* newName,
                        bool failIfExists) {
  if (!CopyMayReplace(newName, status, failIfExists)) {
    return false;
  }
  std::string name;
  int folder = OpenFolderOf(newName, &name);
  if (folder < 0) {
    return false;
  }
  Replacement copy;
  bool writeInPlace = false;
  if (!BeginReplacement(folder, name, -1, &copy, &writeInPlace)) {
    CloseDescriptor(folder);
    return false;
  }
  if (CopyBytes(source, copy.descriptor) && CopyFileProperties(copy.descriptor, status)) {
    return CommitReplacement(&copy);
  }
  DiscardReplacement(&copy);
  return false;
}

// The entry a name stands for, as Windows (and Wine) find it: the name itself when an entry of
// that name exists; else, for a bare name, the entry of the current folder that matches it
// without regard to ASCII letter case (QTV.INI for Qtv.ini), the first in byte order when
// several do. A name that nothing matches stays as it is, so that a file made under it gets the
// name as the program spells it.
std::string ExistingName(const char* name) {
  struct stat status {};
  if (std::strchr(name, '/') != nullptr || lstat(name, &status) == 0) {
    return name;
  }
  DIR* folder = opendir(".");
  if (folder == nullptr) {
    return name;
  }
  std::string found;
  while (const dirent* entry = readdir(folder)) {
    if (strcasecmp(entry->d_name, name) == 0 &&
        (found.empty() || std::strcmp(entry->d_name, found.c_str()) < 0)) {
      found = entry->d_name;
    }
  }
  closedir(folder);
  return found.empty() ? std::string(name) : found;
}

// ---- A flush of a file the layer is not writing ----------------------------------------------
//
// The repair flushes its backup once the copy is done, through a handle opened for writing with
// OPEN_EXISTING. Linux flushes a file through any descriptor of it, so the layer opens it for
// reading only: it never opens a name for writing outside its rewrite.

// Opens the existing plain file name to be flushed, without following a symbolic link and
// without waiting on a named pipe; anything but a plain file is refused. Returns -1 with the
// last error set.
int OpenPlainFileToFlush(const char* name) {
  int descriptor = open(name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (descriptor < 0) {
    FailWithErrno();
    return -1;
  }
  struct stat status {};
  if (fstat(descriptor, &status) != 0) {
    FailWithErrno();
  } else if (!S_ISREG(status.st_mode)) {
    FailWith(ERROR_ACCESS_DENIED_CODE, NotPlainFileReason);
  } else {
    return descriptor;
  }
  CloseDescriptor(descriptor);
  return -1;
}

// ---- End of the flush of a file the layer is not writing ---------------------------------------

}  // namespace

// Wildcards have no meaning here.
bool OsFindFirstEntry(const char* name, FoundEntry* entry) {
  struct stat status {};
  if (stat(ExistingName(name).c_str(), &status) != 0) {
    return FailWithErrno();
  }
  entry->attributes = AttributesOf(status);
  entry->lastWriteTime = FileTimeFromTimespec(status.st_mtim);
  return true;
}

// Adds the offset from UTC that the local time zone has at that moment (daylight saving time
// included).
bool OsFileTimeToLocal(FileTime utc, FileTime* local) {
  tzset();
  time_t seconds = UnixSecondsFromFileTime(utc);
  struct tm parts {};
  if (utc > static_cast<FileTime>(INT64_MAX) || localtime_r(&seconds, &parts) == nullptr) {
    return FailWith(ERROR_INVALID_PARAMETER_CODE);
  }
  int64_t shifted = static_cast<int64_t>(utc) + parts.tm_gmtoff * TicksPerSecond;
  if (shifted < 0) {
    return FailWith(ERROR_INVALID_PARAMETER_CODE);
  }
  *local = static_cast<FileTime>(shifted);
  return true;
}

// The time is broken down as it stands: it is already local, so no time zone applies.
bool OsFileTimeToDosDateTime(FileTime time, uint16_t* dosDate, uint16_t* dosTime) {
  time_t seconds = UnixSecondsFromFileTime(time);
  struct tm parts {};
  if (gmtime_r(&seconds, &parts) == nullptr) {
    return FailWith(ERROR_INVALID_PARAMETER_CODE);
  }
  int year = parts.tm_year + TmYearBase;
  if (year < DosFirstYear || year > DosLastYear) {
    return FailWith(ERROR_INVALID_PARAMETER_CODE);
  }
  *dosDate = static_cast<uint16_t>(((year - DosFirstYear) << 9) | ((parts.tm_mon + 1) << 5) |
                                   parts.tm_mday);
  *dosTime =
      static_cast<uint16_t>((parts.tm_hour << 11) | (parts.tm_min << 5) | (parts.tm_sec / 2));
  return true;
}

uint32_t OsGetFileAttributes(const char* name) {
  struct stat status {};
  if (stat(ExistingName(name).c_str(), &status) != 0) {
    FailWithErrno();
    return INVALID_ATTRIBUTES_VALUE;
  }
  return AttributesOf(status);
}

// Only the read-only bit has a counterpart: without it the owner gets write permission, with it
// nobody keeps one. The hidden and system bits are ignored.
bool OsSetFileAttributes(const char* givenName, uint32_t attributes) {
  std::string name = ExistingName(givenName);
  struct stat status {};
  if (stat(name.c_str(), &status) != 0) {
    return FailWithErrno();
  }
  mode_t mode = status.st_mode & PermissionBits;
  if ((attributes & FILE_ATTRIBUTE_READONLY_BIT) != 0) {
    mode &= ~AnyWriteBits;
  } else {
    mode |= S_IWUSR;
  }
  if (chmod(name.c_str(), mode) != 0) {
    return FailWithErrno();
  }
  return true;
}

bool OsCopyFile(const char* existingName, const char* newName, bool failIfExists) {
  NoteFileInUse(existingName);
  struct stat status {};
  int source = OpenPlainFileToRead(ExistingName(existingName).c_str(), &status);
  if (source < 0) {
    return false;
  }
  NoteFileInUse(newName);
  bool copied = CopyFromOpenSource(source, status, ExistingName(newName).c_str(), failIfExists);
  CloseDescriptor(source);
  return copied;
}

// Supports the three uses the programs make: reading an existing file, writing a file created
// afresh, and opening an existing plain file only to flush it (see OpenPlainFileToFlush), which
// takes no lock. The first two keep the share mode the programs give them, "others may read": a
// reader holds a shared lock, a writer an exclusive one, and the one that comes second fails with
// a sharing violation (a writer lets others go on reading the old text, which it replaces only at
// close). Like Windows, it refuses to open a directory; it also refuses to read anything but a
// plain file.
FileHandle OsCreateFile(const char* name, uint32_t access, uint32_t shareMode, uint32_t disposition,
                        uint32_t flags) {
  static_cast<void>(shareMode);
  static_cast<void>(flags);
  NoteFileInUse(name);
  int descriptor = -1;
  if (access == GENERIC_READ_ACCESS && disposition == OPEN_EXISTING_DISPOSITION) {
    struct stat status {};
    std::string found = ExistingName(name);
    descriptor = OpenPlainFileToRead(found.c_str(), &status);
    if (descriptor >= 0) {
      LastRead = FileRead{found, status.st_dev, status.st_ino};
      ReadBlocks[descriptor] = ReadBlock();
    }
  } else if (access == GENERIC_WRITE_ACCESS && disposition == CREATE_ALWAYS_DISPOSITION) {
    descriptor = CreateForWriting(ExistingName(name));
  } else if (access == GENERIC_WRITE_ACCESS && disposition == OPEN_EXISTING_DISPOSITION) {
    descriptor = OpenPlainFileToFlush(ExistingName(name).c_str());
  } else {
    FailWith(ERROR_INVALID_PARAMETER_CODE);
  }
  if (descriptor < 0) {
    return InvalidFileHandle;
  }
  HandleNames[descriptor] = name;
  return descriptor;
}

uint32_t OsGetFileType(FileHandle handle) {
  struct stat status {};
  if (fstat(Descriptor(handle), &status) != 0) {
    FailWithErrno();
    return FILE_TYPE_UNKNOWN_VALUE;
  }
  if (S_ISREG(status.st_mode)) {
    return FILE_TYPE_DISK_VALUE;
  }
  if (S_ISCHR(status.st_mode)) {
    return FILE_TYPE_CHAR_VALUE;
  }
  if (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) {
    return FILE_TYPE_PIPE_VALUE;
  }
  return FILE_TYPE_UNKNOWN_VALUE;
}

// As one read() call: it may deliver fewer bytes than asked for, and 0 at the end of the file.
// A file the layer opened for reading is taken from the disk a block at a time.
bool OsReadFile(FileHandle handle, void* buffer, uint32_t size, uint32_t* bytesRead) {
  int descriptor = Descriptor(handle);
  NoteFileInUse(HandleNames[descriptor]);
  *bytesRead = 0;
  auto found = ReadBlocks.find(descriptor);
  if (found == ReadBlocks.end()) {
    ssize_t count = ReadRetrying(descriptor, buffer, size);
    if (count < 0) {
      return FailWithErrno();
    }
    *bytesRead = static_cast<uint32_t>(count);
    return true;
  }
  ReadBlock& block = found->second;
  if (block.taken == block.bytes.size()) {
    block.bytes.resize(BlockSize);
    ssize_t count = ReadRetrying(descriptor, block.bytes.data(), BlockSize);
    block.bytes.resize(count > 0 ? static_cast<size_t>(count) : 0);
    block.taken = 0;
    if (count < 0) {
      return FailWithErrno();
    }
  }
  size_t count = std::min<size_t>(size, block.bytes.size() - block.taken);
  std::memcpy(buffer, block.bytes.data() + block.taken, count);
  block.taken += count;
  *bytesRead = static_cast<uint32_t>(count);
  return true;
}

// As WriteFile on a disk file: every byte is stored, over as many write() calls as it takes, or
// the write fails with the error that stopped it (a full disk, a file-size limit) and
// *bytesWritten tells how many were stored before.
// A plain file's bytes reach the disk a block at a time, the last ones at close; a failure to
// store a block fails the write that filled it.
bool OsWriteFile(FileHandle handle, const void* buffer, uint32_t size, uint32_t* bytesWritten) {
  int descriptor = Descriptor(handle);
  NoteFileInUse(HandleNames[descriptor]);
  *bytesWritten = 0;
  auto found = WriteTargets.find(descriptor);
  if (found != WriteTargets.end() && found->second.flush) {
    std::string& pending = found->second.pending;
    pending.append(static_cast<const char*>(buffer), size);
    if (pending.size() >= BlockSize && !StorePending(descriptor, &pending)) {
      return false;
    }
    *bytesWritten = size;
    return true;
  }
  size_t stored = 0;
  bool written = WriteAll(descriptor, static_cast<const char*>(buffer), size, &stored);
  *bytesWritten = static_cast<uint32_t>(stored);
  return written || FailWithErrno();
}

// ---- FlushFileBuffers ---------------------------------------------------------------------------
//
// A file the layer is writing reaches the disk at its close, which flushes it (and renames a
// rewrite into place): a flush before that close has nothing to add, and a second fsync would
// only cost time. Any other file is flushed at once; a file system that cannot flush (EINVAL)
// holds nothing to flush.
bool OsFlushFileBuffers(FileHandle handle) {
  int descriptor = Descriptor(handle);
  NoteFileInUse(HandleNames[descriptor]);
  if (WriteTargets.count(descriptor) > 0) {
    return true;
  }
  return fsync(descriptor) == 0 || errno == EINVAL || FailWithErrno();
}

// ---- End of FlushFileBuffers ------------------------------------------------------------------

// A file opened for writing is done only when its bytes are on disk: flushed, and, for a
// rewrite, renamed over the old file with the folder flushed. A rewrite that fails at its close
// leaves the old file as it was.
bool OsCloseHandle(FileHandle handle) {
  int descriptor = Descriptor(handle);
  NoteFileInUse(HandleNames[descriptor]);
  HandleNames.erase(descriptor);
  ReadBlocks.erase(descriptor);
  auto found = WriteTargets.find(descriptor);
  if (found == WriteTargets.end()) {
    return CloseDescriptor(descriptor) || FailWithErrno();
  }
  WriteTarget target = found->second;
  WriteTargets.erase(found);
  bool closed = StorePending(descriptor, &target.pending);
  if (!closed) {
    if (target.inPlace) {
      CloseDescriptor(descriptor);
    } else {
      DiscardReplacement(&target.replacement);
    }
  } else if (target.inPlace) {
    closed = !target.flush || fsync(descriptor) == 0 || FailWithErrno();
    if (!CloseDescriptor(descriptor) && closed) {
      closed = FailWithErrno();
    }
  } else {
    closed = CommitReplacement(&target.replacement);
  }
  if (target.lockedOriginal >= 0) {
    CloseDescriptor(target.lockedOriginal);
  }
  return closed;
}
