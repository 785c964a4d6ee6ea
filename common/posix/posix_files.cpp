// Files on the POSIX platform layer: the directory search, attributes and times, the copy, and
// text-file access. File handles are file descriptors. Windows' read-only attribute is the
// owner's missing write permission; hidden and system have no counterpart. A bare name finds its
// entry whatever its letter case, as on Windows.
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include "platform.h"
#include "posix_io.h"

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
// The name a copy is written under until it is complete: the destination's, with this suffix.
const char CopyTemporarySuffix[] = ".copy-XXXXXX";

constexpr mode_t NewFileMode = 0666;
constexpr mode_t PermissionBits = 07777;
constexpr mode_t AnyWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

int Descriptor(FileHandle handle) { return static_cast<int>(handle); }

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
    return FailWith(ERROR_ACCESS_DENIED_CODE);
  }
  if (fcntl(descriptor, F_SETFL, 0) != 0) {
    return FailWithErrno();
  }
  return true;
}

// Opens name for reading when it is a plain file, and gives its status. Anything else is
// refused: a device such as /dev/zero has no end, and reading it as one endless line would
// exhaust memory first; a pipe may never end either. Without a writer, opening a named pipe
// would wait for one, and the program would hang before it could see what it opened; so the open
// does not wait. Returns -1 with the last error set.
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

// Opens name for writing as CREATE_ALWAYS does: an existing file is cut to length 0 at once and
// keeps its inode, owner, mode and hard links. Cut at the open, a rewrite that stops midway (a
// full disk, a file-size limit, a kill) leaves a file that is visibly short, always the start of
// the new text, never new text followed by the rest of the old. Windows refuses an existing file
// with the read-only attribute, without cutting it; the owner's write bit stands for that
// attribute here (the superuser could write anyway); a directory cannot be opened for writing at
// all. Returns -1 with the last error set.
int CreateForWriting(const char* name) {
  struct stat status {};
  if (stat(name, &status) == 0 && IsReadOnly(status)) {
    FailWith(ERROR_ACCESS_DENIED_CODE);
    return -1;
  }
  int descriptor = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, NewFileMode);
  if (descriptor < 0) {
    FailWithErrno();
    return -1;
  }
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

// Writes all size bytes, over as many write() calls as it takes. Returns false with errno set.
bool WriteAll(int descriptor, const char* bytes, size_t size) {
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
  }
  return true;
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
    if (!WriteAll(destination, buffer, static_cast<size_t>(count))) {
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
// the last error set. The bytes go to a temporary file beside the destination, which is renamed
// over it only once it is complete: a copy that fails midway leaves an older file under the name
// as it was.
bool CopyFromOpenSource(int source, const struct stat& status, const char* newName,
                        bool failIfExists) {
  if (!CopyMayReplace(newName, status, failIfExists)) {
    return false;
  }
  std::string temporary = std::string(newName) + CopyTemporarySuffix;
  int destination = mkostemp(temporary.data(), O_CLOEXEC);
  if (destination < 0) {
    return FailWithErrno();
  }
  bool copied = CopyBytes(source, destination) && CopyFileProperties(destination, status);
  if (!CloseDescriptor(destination) && copied) {
    copied = FailWithErrno();
  }
  if (copied && rename(temporary.c_str(), newName) != 0) {
    copied = FailWithErrno();
  }
  if (!copied) {
    unlink(temporary.c_str());
  }
  return copied;
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
  struct stat status {};
  int source = OpenPlainFileToRead(ExistingName(existingName).c_str(), &status);
  if (source < 0) {
    return false;
  }
  bool copied = CopyFromOpenSource(source, status, ExistingName(newName).c_str(), failIfExists);
  CloseDescriptor(source);
  return copied;
}

// Supports the two uses the programs make: reading an existing file, and writing a file created
// afresh. Share modes have no counterpart on POSIX and are not enforced: other processes may
// open the file in any way meanwhile. Like Windows, it refuses to open a directory; it also
// refuses to read anything but a plain file.
FileHandle OsCreateFile(const char* name, uint32_t access, uint32_t shareMode, uint32_t disposition,
                        uint32_t flags) {
  static_cast<void>(shareMode);
  static_cast<void>(flags);
  int descriptor = -1;
  if (access == GENERIC_READ_ACCESS && disposition == OPEN_EXISTING_DISPOSITION) {
    struct stat status {};
    descriptor = OpenPlainFileToRead(ExistingName(name).c_str(), &status);
  } else if (access == GENERIC_WRITE_ACCESS && disposition == CREATE_ALWAYS_DISPOSITION) {
    descriptor = CreateForWriting(ExistingName(name).c_str());
  } else {
    FailWith(ERROR_INVALID_PARAMETER_CODE);
  }
  return descriptor < 0 ? InvalidFileHandle : descriptor;
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

// One read() call: it may deliver fewer bytes than asked for, and 0 at the end of the file.
bool OsReadFile(FileHandle handle, void* buffer, uint32_t size, uint32_t* bytesRead) {
  *bytesRead = 0;
  ssize_t count = ReadRetrying(Descriptor(handle), buffer, size);
  if (count < 0) {
    return FailWithErrno();
  }
  *bytesRead = static_cast<uint32_t>(count);
  return true;
}

// One write() call; *bytesWritten tells how many bytes it took, which may be fewer than size.
bool OsWriteFile(FileHandle handle, const void* buffer, uint32_t size, uint32_t* bytesWritten) {
  *bytesWritten = 0;
  ssize_t count = WriteRetrying(Descriptor(handle), buffer, size);
  if (count < 0) {
    return FailWithErrno();
  }
  *bytesWritten = static_cast<uint32_t>(count);
  return true;
}

bool OsCloseHandle(FileHandle handle) {
  if (!CloseDescriptor(Descriptor(handle))) {
    return FailWithErrno();
  }
  return true;
}
