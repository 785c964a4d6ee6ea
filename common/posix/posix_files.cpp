// Files on the POSIX platform layer: the directory search, attributes and times, the copy, and
// text-file access. File handles are file descriptors. Windows' read-only attribute is the
// owner's missing write permission; hidden and system have no counterpart. A bare name finds its
// entry whatever its letter case, as on Windows.
//
// Windows' share modes become locks: a file open for reading holds a shared lock, a file being
// rewritten an exclusive one, and an open that meets the other kind fails with a sharing
// violation, as it does on Windows. A file opened for writing is never cut where others can see
// it: the new text goes into a new file that replaces the old one whole when it is closed, or,
// where a new file cannot keep what the user has, into the file itself at close, room first.
//
// Every name is looked up once, through posix_folder.h, and every step acts on what that look
// found: the run may be started by root in a folder that someone else can write.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <map>
#include <string>

#include "platform.h"
#include "posix_folder.h"
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
// Added to the reason of a write in place that failed after its first changed byte.
const char BackupHoldsTheOldText[] = "; the old text is in ";
const char FileMayBeCut[] = "; the file may be cut short";

int Descriptor(FileHandle handle) { return static_cast<int>(handle); }

// The names the open handles were opened by, for the report of a failure on one.
std::map<int, std::string> HandleNames;

// A file opened for writing: the new file that replaces it when it is closed, the old file, open
// and locked meanwhile; or, written in place, the file itself.
struct WriteTarget {
  Replacement replacement;
  int lockedOriginal = -1;
  bool inPlace = false;
  bool flush = false;    // a plain file, whose bytes are flushed to disk at close
  bool newFile = false;  // a file made afresh, which takes the mode of a new file at close
  std::string pending;   // bytes of a plain file not yet given to the disk
};
std::map<int, WriteTarget> WriteTargets;

// What the disk has given of a file open for reading and the program has not yet taken.
struct ReadBlock {
  std::string bytes;
  size_t taken = 0;
};
std::map<int, ReadBlock> ReadBlocks;

// A file the run has read or copied, by the name the program gave and the file's identity.
struct FileSeen {
  std::string name;
  dev_t device = 0;
  ino_t inode = 0;
};

// The file the last open for reading found: a rewrite by the same name later in the run must find
// that same file there.
FileSeen LastRead;
// The copy the run made last, by its name, and the identity of its source: a write in place of
// that file that fails midway says where the old text is.
FileSeen LastCopy;
// The copy the run made last, itself: flushed, with its folder, before the copy returned.
FileSeen CopyOnDisk;

bool IsFileSeen(const FileSeen& seen, const struct stat& status) {
  return status.st_dev == seen.device && status.st_ino == seen.inode;
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

// Opens for reading the existing plain file that name stands for: the file a trusted link leads
// to, or, without followLinks, the entry itself. Anything but a plain file is refused before it is
// opened: a device such as /dev/zero has no end, and reading it as one endless line would exhaust
// memory first; a pipe may never end either, and a named pipe would keep the open waiting for a
// writer. Returns -1 with the last error set.
int OpenPlainFile(const char* name, bool followLinks) {
  Entry entry;
  if (!(followLinks ? LookUpEntry(name, &entry) : LookUpEntryItself(name, &entry))) {
    return -1;
  }
  int descriptor = -1;
  if (!entry.exists) {
    errno = ENOENT;
    FailWithErrno();
  } else if (!S_ISREG(entry.status.st_mode)) {
    FailWith(ERROR_ACCESS_DENIED_CODE, NotPlainFileReason);
  } else {
    descriptor = OpenEntry(entry, O_RDONLY);
  }
  CloseEntry(&entry);
  return descriptor;
}

// Opens the plain file name stands for to read it, and gives its status; the file holds a shared
// lock while it is open. Returns -1 with the last error set.
int OpenPlainFileToRead(const char* name, struct stat* status) {
  int descriptor = OpenPlainFile(name, true);
  if (descriptor < 0) {
    return -1;
  }
  if (fstat(descriptor, status) != 0) {
    FailWithErrno();
  } else if (LockOpenFile(descriptor, LOCK_SH)) {
    return descriptor;
  }
  CloseDescriptor(descriptor);
  return -1;
}

// Opens the entry in place, for writing, under the exclusive lock: the file the look found, or
// nothing, since a name swapped meanwhile is never written through. Nothing changes yet: the old
// bytes stay until the whole new text is there, at close. Something other than a plain file (a
// device) is written as it is. Returns -1 with the last error set.
int OpenInPlace(const Entry& entry) {
  int descriptor = OpenEntry(entry, O_WRONLY);
  if (descriptor < 0) {
    return -1;
  }
  bool plain = S_ISREG(entry.status.st_mode);
  if (plain && !LockOpenFile(descriptor, LOCK_EX)) {
    CloseDescriptor(descriptor);
    return -1;
  }
  WriteTarget target;
  target.inPlace = true;
  target.flush = plain;
  WriteTargets[descriptor] = target;
  return descriptor;
}

// Starts a new file that replaces the entry at close: the new text of the plain file open as
// original, which stays open under an exclusive lock meanwhile, or, with original -1, a file where
// there was none. The replacement takes over the entry's folder. Returns the new file, or -1 with
// the last error set (and *writeInPlace set when a new file cannot have what the old one has).
int BeginReplacingEntry(Entry* entry, int original, bool* writeInPlace) {
  WriteTarget target;
  if ((original >= 0 && !LockOpenFile(original, LOCK_EX)) ||
      !BeginReplacement(entry->folder, entry->name, original, &target.replacement, writeInPlace)) {
    return -1;
  }
  entry->folder = -1;
  target.lockedOriginal = original;
  target.flush = true;
  target.newFile = original < 0;
  int descriptor = target.replacement.descriptor;
  WriteTargets[descriptor] = target;
  return descriptor;
}

// Starts the rewrite of the plain file of the entry by a new file that replaces it at close.
// Returns the new file, -1 with the last error set, or -1 with *writeInPlace set when only a write
// in place keeps what the user has.
int BeginRewrite(Entry* entry, bool* writeInPlace) {
  *writeInPlace = false;
  int original = OpenEntry(*entry, O_RDONLY);
  if (original < 0) {
    // A file the runner may write but not read: only a write in place can change it. Any other
    // failure (too many open files, a swapped entry) is reported, and nothing is written.
    *writeInPlace = errno == EACCES;
    return -1;
  }
  int descriptor = BeginReplacingEntry(entry, original, writeInPlace);
  if (descriptor < 0) {
    CloseDescriptor(original);
  }
  return descriptor;
}

// Opens name for writing as CREATE_ALWAYS does, as a rewrite that replaces the file whole when it
// is closed: until then, the old text stays whole on disk. The file keeps its owner, group, mode,
// ACL and extended attributes; a trusted symbolic link stays a link, and its target gets the new
// text. Where a new file would change what the user has (more than one hard link, an owner or
// group the program cannot give, a folder that lets it make no new file), the file is written in
// place, at close. Windows refuses an existing file with the read-only attribute, without cutting
// it; the owner's write bit stands for that attribute here (the superuser could write anyway); a
// directory cannot be opened for writing at all. A file other than the one the last read of the
// same name found is not written: another program has replaced or removed it meanwhile. Returns
// -1 with the last error set.
int CreateForWriting(const std::string& name) {
  Entry entry;
  if (!LookUpEntry(name, &entry)) {
    return -1;
  }
  bool wasRead = name == LastRead.name;
  int descriptor = -1;
  bool writeInPlace = false;
  if (!entry.exists && !wasRead) {
    descriptor = BeginReplacingEntry(&entry, -1, &writeInPlace);
  } else if (!entry.exists || (wasRead && !IsFileSeen(LastRead, entry.status))) {
    FailWith(ERROR_SHARING_VIOLATION_CODE, ReplacedReason);
  } else if (S_ISDIR(entry.status.st_mode) || IsReadOnly(entry.status)) {
    FailWith(ERROR_ACCESS_DENIED_CODE);
  } else if (!S_ISREG(entry.status.st_mode) || entry.status.st_nlink > 1) {
    descriptor = OpenInPlace(entry);
  } else {
    descriptor = BeginRewrite(&entry, &writeInPlace);
    if (descriptor < 0 && writeInPlace) {
      descriptor = OpenInPlace(entry);
    }
  }
  CloseEntry(&entry);
  return descriptor;
}

// Whether a copy may replace the entry: not when it is the source itself, a read-only file
// (CopyFileA refuses to overwrite one) or a directory, or, with failIfExists, anything that
// exists. A symbolic link is replaced, never followed. Returns false with the last error set.
bool CopyMayReplace(const Entry& destination, const struct stat& source, bool failIfExists) {
  if (!destination.exists) {
    return true;
  }
  const struct stat& existing = destination.status;
  if (failIfExists) {
    return FailWith(ERROR_FILE_EXISTS_CODE);
  }
  if (IsSameFile(existing, source)) {
    return FailWith(ERROR_SHARING_VIOLATION_CODE);
  }
  if (S_ISDIR(existing.st_mode) || (S_ISREG(existing.st_mode) && IsReadOnly(existing))) {
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
      return FailWithReadErrno();
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

// Gives the copy the source's permissions (posix_replace.h says which) and last-write time, as
// CopyFileA gives it the attributes and the time of the source.
bool CopyFileProperties(int destination, int source, const struct stat& status) {
  const timespec times[2] = {{0, UTIME_OMIT}, status.st_mtim};
  if (!GiveCopyPermissions(source, destination) || futimens(destination, times) != 0) {
    return FailWithErrno();
  }
  return true;
}

// The copy, once the source is open as a plain file with the given status. Returns false with
// the last error set. The bytes go to a new file beside the destination, private until complete,
// which replaces it whole only once it is complete and on disk: a copy that fails midway, or a run
// that is stopped, leaves an older file under the name as it was.
bool CopyFromOpenSource(int source, const struct stat& status, const char* newName,
                        bool failIfExists) {
  Entry destination;
  if (!LookUpEntryItself(newName, &destination)) {
    return false;
  }
  Replacement copy;
  bool writeInPlace = false;
  if (!CopyMayReplace(destination, status, failIfExists) ||
      !BeginReplacement(destination.folder, destination.name, -1, &copy, &writeInPlace)) {
    CloseEntry(&destination);
    return false;
  }
  struct stat made {};
  if (CopyBytes(source, copy.descriptor) && CopyFileProperties(copy.descriptor, source, status) &&
      (fstat(copy.descriptor, &made) == 0 || FailWithErrno())) {
    if (!CommitReplacement(&copy)) {
      return false;
    }
    CopyOnDisk = FileSeen{newName, made.st_dev, made.st_ino};
    return true;
  }
  DiscardReplacement(&copy);
  return false;
}

// pwrite() of all size bytes at offset, over as many calls as it takes. Returns false with errno
// set.
bool WriteAllAt(int descriptor, const char* bytes, size_t size, off_t offset) {
  while (size > 0) {
    ssize_t count = pwrite(descriptor, bytes, size, offset);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      errno = count == 0 ? ENOSPC : errno;
      return false;
    }
    bytes += count;
    size -= static_cast<size_t>(count);
    offset += count;
  }
  return true;
}

// Records the failure of a write in place after its first changed byte: the file may be cut, and
// the copy this run made of it, if any, holds the old text. Returns false.
bool FailWithCutFile(int descriptor) {
  int error = errno;
  struct stat status {};
  std::string reason = std::strerror(error);
  if (!LastCopy.name.empty() && fstat(descriptor, &status) == 0 && IsFileSeen(LastCopy, status)) {
    reason += BackupHoldsTheOldText + LastCopy.name;
  } else {
    reason += FileMayBeCut;
  }
  return FailWith(ErrorCodeFromErrno(error), reason.c_str());
}

// Writes text into the plain file in place of its old bytes, which stay until the new ones go in.
// The room comes first: the bytes past the old end are added there, and where they cannot be (a
// full disk, a file-size limit) the file gets back its old length and last-write time. Only
// then are the old bytes overwritten, the file cut to the new length and flushed, with the signals
// that would end the run held back until it is whole. Returns false with the last error set.
bool WriteInPlace(int descriptor, const std::string& text) {
  SignalsHeld held;
  struct stat status {};
  if (fstat(descriptor, &status) != 0) {
    return FailWithErrno();
  }
  size_t oldSize = static_cast<size_t>(status.st_size);
  if (text.size() > oldSize && !WriteAllAt(descriptor, text.data() + oldSize, text.size() - oldSize,
                                           static_cast<off_t>(oldSize))) {
    int error = errno;
    const timespec times[2] = {status.st_atim, status.st_mtim};
    static_cast<void>(ftruncate(descriptor, static_cast<off_t>(oldSize)));
    static_cast<void>(futimens(descriptor, times));
    errno = error;
    return FailWithErrno();
  }
  size_t overwritten = std::min(text.size(), oldSize);
  if (!WriteAllAt(descriptor, text.data(), overwritten, 0) ||
      (text.size() < oldSize && ftruncate(descriptor, static_cast<off_t>(text.size())) != 0) ||
      fsync(descriptor) != 0) {
    return FailWithCutFile(descriptor);
  }
  return true;
}

// Finishes a file opened for writing. Returns false with the last error set.
bool FinishWriting(int descriptor, WriteTarget* target) {
  if (target->inPlace && target->flush) {
    bool written = WriteInPlace(descriptor, target->pending);
    return (CloseDescriptor(descriptor) || FailWithErrno()) && written;
  }
  if (target->inPlace) {
    return CloseDescriptor(descriptor) || FailWithErrno();
  }
  if (!StorePending(descriptor, &target->pending) ||
      (target->newFile && !GiveNewFileMode(descriptor) && !FailWithErrno())) {
    DiscardReplacement(&target->replacement);
    return false;
  }
  return CommitReplacement(&target->replacement);
}

}  // namespace

// Wildcards have no meaning here.
bool OsFindFirstEntry(const char* name, FoundEntry* entry) {
  struct stat status {};
  if (!LookUpStatusToShow(name, &status)) {
    return false;
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
  if (!LookUpStatusToShow(name, &status)) {
    return INVALID_ATTRIBUTES_VALUE;
  }
  return AttributesOf(status);
}

// Only the read-only bit has a counterpart: without it the owner gets write permission, with it
// nobody keeps one. The hidden and system bits are ignored. The mode is set on the file the look
// found, through a descriptor of it.
bool OsSetFileAttributes(const char* name, uint32_t attributes) {
  Entry entry;
  if (!LookUpEntry(name, &entry)) {
    return false;
  }
  bool changed = false;
  if (!entry.exists) {
    errno = ENOENT;
    FailWithErrno();
  } else {
    mode_t mode = entry.status.st_mode & PermissionBits;
    if ((attributes & FILE_ATTRIBUTE_READONLY_BIT) != 0) {
      mode &= ~AnyWriteBits;
    } else {
      mode |= S_IWUSR;
    }
    changed = ChangeEntryMode(entry, mode);
  }
  CloseEntry(&entry);
  return changed;
}

bool OsCopyFile(const char* existingName, const char* newName, bool failIfExists) {
  NoteFileInUse(existingName);
  struct stat status {};
  int source = OpenPlainFileToRead(existingName, &status);
  if (source < 0) {
    return false;
  }
  NoteFileInUse(newName);
  bool copied = CopyFromOpenSource(source, status, newName, failIfExists);
  CloseDescriptor(source);
  if (copied) {
    LastCopy = FileSeen{newName, status.st_dev, status.st_ino};
  }
  return copied;
}

// Supports the three uses the programs make: reading an existing file, writing a file created
// afresh, and opening an existing plain file only to flush it (OpenPlainFile), which
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
    descriptor = OpenPlainFileToRead(name, &status);
    if (descriptor >= 0) {
      LastRead = FileSeen{name, status.st_dev, status.st_ino};
      ReadBlocks[descriptor] = ReadBlock();
    }
  } else if (access == GENERIC_WRITE_ACCESS && disposition == CREATE_ALWAYS_DISPOSITION) {
    descriptor = CreateForWriting(name);
  } else if (access == GENERIC_WRITE_ACCESS && disposition == OPEN_EXISTING_DISPOSITION) {
    // Only the repair's flush of its backup opens a file so: Linux flushes a file through any
    // descriptor of it, so it is opened for reading only, and the layer never opens a name for
    // writing outside its rewrite. A symbolic link is not followed.
    descriptor = OpenPlainFile(name, false);
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
      return FailWithReadErrno();
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
      return FailWithReadErrno();
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
// A new file's bytes reach the disk a block at a time, the last ones at close; a failure to
// store a block fails the write that filled it. A plain file written in place gets all its new
// bytes at close.
bool OsWriteFile(FileHandle handle, const void* buffer, uint32_t size, uint32_t* bytesWritten) {
  int descriptor = Descriptor(handle);
  NoteFileInUse(HandleNames[descriptor]);
  *bytesWritten = 0;
  auto found = WriteTargets.find(descriptor);
  if (found != WriteTargets.end() && found->second.flush) {
    std::string& pending = found->second.pending;
    pending.append(static_cast<const char*>(buffer), size);
    if (!found->second.inPlace && pending.size() >= BlockSize &&
        !StorePending(descriptor, &pending)) {
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

// A file the layer is writing reaches the disk at its close, which flushes it (and renames a
// rewrite into place), and the copy the layer made last was on disk, with its folder, before the
// copy returned: a flush has nothing to add to either, and a second fsync would only cost time.
// Any other file is flushed at once; a file system that cannot flush (EINVAL) holds nothing to
// flush.
bool OsFlushFileBuffers(FileHandle handle) {
  int descriptor = Descriptor(handle);
  NoteFileInUse(HandleNames[descriptor]);
  struct stat status {};
  if (WriteTargets.count(descriptor) > 0 ||
      (fstat(descriptor, &status) == 0 && IsFileSeen(CopyOnDisk, status))) {
    return true;
  }
  return fsync(descriptor) == 0 || errno == EINVAL || FailWithErrno();
}

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
  bool closed = FinishWriting(descriptor, &target);
  if (target.lockedOriginal >= 0) {
    CloseDescriptor(target.lockedOriginal);
  }
  return closed;
}
