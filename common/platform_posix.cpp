// The platform layer of the native build on POSIX systems.
//
// Each operation gives the programs what they rely on from the Win32 function it stands for.
// Message boxes become text on the terminal, converted to UTF-8; the host's main window is looked
// for as a process of the same user running Qtv.exe; file handles are file descriptors, and
// error codes are Win32 codes derived from errno.
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "cp932_text.h"
#include "platform.h"

namespace {

// Win32 error codes that only this layer produces.
constexpr uint32_t ERROR_PATH_NOT_FOUND_CODE = 3;
constexpr uint32_t ERROR_TOO_MANY_OPEN_FILES_CODE = 4;
constexpr uint32_t ERROR_WRITE_PROTECT_CODE = 19;
constexpr uint32_t ERROR_GEN_FAILURE_CODE = 31;
constexpr uint32_t ERROR_FILE_EXISTS_CODE = 80;
constexpr uint32_t ERROR_INVALID_PARAMETER_CODE = 87;
constexpr uint32_t ERROR_DISK_FULL_CODE = 112;
constexpr uint32_t ERROR_FILENAME_EXCED_RANGE_CODE = 206;
constexpr uint32_t ERROR_IO_DEVICE_CODE = 1117;

// The low four bits of a message box style choose its buttons.
constexpr uint32_t MB_BUTTONS_MASK = 0xF;

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
// An answer to the Yes/No question longer than this is no yes anyway.
constexpr size_t MaxAnswerLength = 16;
// How much of a process's command line is read to find its program name.
constexpr size_t MaxCommandWordLength = 4096;

constexpr mode_t NewFileMode = 0666;
constexpr mode_t PermissionBits = 07777;
constexpr mode_t AnyWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

// POSIX keeps only the low 8 bits of an exit code.
constexpr uint32_t ExitCodeMask = 0xFF;

const char HostWindowClassName[] = "TOstrelForm";
const char HostProgramName[] = "Qtv.exe";
const char ProcessDirectory[] = "/proc";
const char YesNoPrompt[] = " [y/N] ";

thread_local uint32_t LastError = 0;
std::string CommandLine;
// Plain files opened by CreateForWriting and not yet closed.
std::vector<int> RewrittenFiles;

// ---- Errors -----------------------------------------------------------------------------------

// The Win32 error code closest to an errno value.
uint32_t ErrorCodeFromErrno(int error) {
  switch (error) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND_CODE;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND_CODE;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES_CODE;
    case EACCES:
    case EPERM:
    case EISDIR:
      return ERROR_ACCESS_DENIED_CODE;
    case EROFS:
      return ERROR_WRITE_PROTECT_CODE;
    case EBUSY:
    case ETXTBSY:
      return ERROR_SHARING_VIOLATION_CODE;
    case EEXIST:
      return ERROR_FILE_EXISTS_CODE;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ERROR_DISK_FULL_CODE;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE_CODE;
    case EIO:
      return ERROR_IO_DEVICE_CODE;
    default:
      return ERROR_GEN_FAILURE_CODE;
  }
}

// Records code as the last error. Returns false, for the caller to return.
bool FailWith(uint32_t code) {
  LastError = code;
  return false;
}

// Records the code for the current errno as the last error. Returns false.
bool FailWithErrno() { return FailWith(ErrorCodeFromErrno(errno)); }

int Descriptor(FileHandle handle) { return static_cast<int>(handle); }

// read() that is not cut short by a signal.
ssize_t ReadRetrying(int descriptor, void* buffer, size_t size) {
  ssize_t count = 0;
  do {
    count = read(descriptor, buffer, size);
  } while (count < 0 && errno == EINTR);
  return count;
}

// write() that is not cut short by a signal.
ssize_t WriteRetrying(int descriptor, const void* buffer, size_t size) {
  ssize_t count = 0;
  do {
    count = write(descriptor, buffer, size);
  } while (count < 0 && errno == EINTR);
  return count;
}

// close(). Linux releases the descriptor even when close() is interrupted, so an interruption is
// no failure, and closing again could hit a descriptor opened meanwhile.
bool CloseDescriptor(int descriptor) { return close(descriptor) == 0 || errno == EINTR; }

// ---- Message boxes ----------------------------------------------------------------------------

// text with every CR LF turned into a plain LF.
std::string WithPlainLineBreaks(const char* text) {
  std::string result;
  for (const char* p = text; *p != '\0'; ++p) {
    if (p[0] != '\r' || p[1] != '\n') {
      result += *p;
    }
  }
  return result;
}

// The caption on a line of its own, then the text, in UTF-8 with LF line breaks.
std::string BoxTerminalText(const char* text, const char* caption) {
  return Utf8FromCp932(WithPlainLineBreaks(caption != nullptr ? caption : "")) + "\n" +
         Utf8FromCp932(WithPlainLineBreaks(text != nullptr ? text : ""));
}

void WriteToStream(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

// One line of standard input without its LF and a CR before it; empty at the end of input.
// Read byte by byte, so that nothing after the line is taken from the input.
std::string ReadAnswerLine() {
  std::string line;
  char byte = 0;
  while (ReadRetrying(STDIN_FILENO, &byte, 1) == 1 && byte != '\n') {
    if (line.size() <= MaxAnswerLength) {
      line += byte;
    }
  }
  if (!line.empty() && line.back() == '\r') {
    line.pop_back();
  }
  return line;
}

// "y" or "yes" in any letter case.
bool IsYesAnswer(const std::string& answer) {
  return strcasecmp(answer.c_str(), "y") == 0 || strcasecmp(answer.c_str(), "yes") == 0;
}

// The result boxes (the viewer's value, the repair tool's success) are the program's output;
// every other box reports a refusal or a failure.
bool IsResultBox(uint32_t style) {
  return (style & MB_TOPMOST_STYLE) != 0 && (style & MB_ICON_MASK) == 0;
}

// ---- Host process -----------------------------------------------------------------------------

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

// ---- Files ------------------------------------------------------------------------------------

uint32_t AttributesOf(const struct stat& status) {
  uint32_t attributes =
      S_ISDIR(status.st_mode) ? FILE_ATTRIBUTE_DIRECTORY_BIT : FILE_ATTRIBUTE_ARCHIVE_BIT;
  if ((status.st_mode & S_IWUSR) == 0) {
    attributes |= FILE_ATTRIBUTE_READONLY_BIT;
  }
  return attributes;
}

// What Windows calls the read-only attribute: the owner may not write.
bool IsReadOnly(const struct stat& status) { return (status.st_mode & S_IWUSR) == 0; }

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

// Opens name for writing as CREATE_ALWAYS does. Windows refuses an existing file with the
// read-only attribute, without cutting it; the owner's write bit stands for that attribute here
// (the superuser could write anyway); a directory cannot be opened for writing at all. Returns
// -1 with the last error set.
//
// An existing file is cut to what has been written when it is closed (EndRewrittenFile), not
// when it is opened: the new bytes go over the file's own blocks, which takes a fraction of the
// time that freeing them and allocating them afresh takes, and on most file systems a rewrite no
// longer than the file needs no free space. Until the close, bytes of the old content may follow
// the new ones, as they stay after a write that fails midway.
int CreateForWriting(const char* name) {
  struct stat status {};
  if (stat(name, &status) == 0 && IsReadOnly(status)) {
    FailWith(ERROR_ACCESS_DENIED_CODE);
    return -1;
  }
  int descriptor = open(name, O_WRONLY | O_CREAT | O_CLOEXEC, NewFileMode);
  if (descriptor < 0) {
    FailWithErrno();
    return -1;
  }
  if (fstat(descriptor, &status) != 0) {
    FailWithErrno();
    CloseDescriptor(descriptor);
    return -1;
  }
  if (S_ISREG(status.st_mode)) {
    RewrittenFiles.push_back(descriptor);
  }
  return descriptor;
}

// Cuts a plain file opened by CreateForWriting where the writing stopped. Any other descriptor
// is left as it is. Returns false with the last error set.
bool EndRewrittenFile(int descriptor) {
  auto found = std::find(RewrittenFiles.begin(), RewrittenFiles.end(), descriptor);
  if (found == RewrittenFiles.end()) {
    return true;
  }
  RewrittenFiles.erase(found);
  off_t end = lseek(descriptor, 0, SEEK_CUR);
  if (end < 0 || ftruncate(descriptor, end) != 0) {
    return FailWithErrno();
  }
  return true;
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

// ---- Command line -----------------------------------------------------------------------------

bool NeedsQuotes(const char* argument) {
  if (*argument == '\0') {
    return true;
  }
  for (const char* p = argument; *p != '\0'; ++p) {
    if (static_cast<unsigned char>(*p) <= ' ') {
      return true;
    }
  }
  return false;
}

// The command line as GetCommandLineA would give it for these arguments: each argument (the
// program name first) after one blank. An empty argument, or one holding a byte at or below 0x20,
// stands in double quotes, so that the command-line splitter sees it as one token.
std::string CommandLineFromArguments(int argc, const char* const* argv) {
  std::string line;
  for (int i = 0; i < argc; ++i) {
    if (i > 0) {
      line += ' ';
    }
    if (NeedsQuotes(argv[i])) {
      line += '"';
      line += argv[i];
      line += '"';
    } else {
      line += argv[i];
    }
  }
  return line;
}

}  // namespace

// The executable's ELF header, placed by the linker.
extern "C" const char __ehdr_start[];  // NOLINT(bugprone-reserved-identifier)

// ---- Operations -------------------------------------------------------------------------------

// Every box goes to the terminal at once and nothing waits for a key, except the Yes/No question,
// which reads its answer from standard input. Result boxes go to standard output, all others to
// standard error.
int OsMessageBox(const char* text, const char* caption, uint32_t style) {
  std::string shown = BoxTerminalText(text, caption);
  if ((style & MB_BUTTONS_MASK) == MB_YESNO_STYLE) {
    WriteToStream(stderr, shown + YesNoPrompt);
    return IsYesAnswer(ReadAnswerLine()) ? IDYES_RESULT : IDNO_RESULT;
  }
  WriteToStream(IsResultBox(style) ? stdout : stderr, shown + "\n");
  return IDOK_RESULT;
}

// The host's main window exists while the host runs: a process of this user whose program, the
// last path element of its first command-line word, is Qtv.exe in any letter case. Processes
// that end or cannot be read while the list is walked are passed over.
bool OsWindowExists(const char* className) {
  if (std::strcmp(className, HostWindowClassName) != 0) {
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

// The name is looked up as it stands; wildcards have no meaning here.
bool OsFindFirstEntry(const char* name, FoundEntry* entry) {
  struct stat status {};
  if (stat(name, &status) != 0) {
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
  if (stat(name, &status) != 0) {
    FailWithErrno();
    return INVALID_ATTRIBUTES_VALUE;
  }
  return AttributesOf(status);
}

// Only the read-only bit has a counterpart: without it the owner gets write permission, with it
// nobody keeps one. The hidden and system bits are ignored.
bool OsSetFileAttributes(const char* name, uint32_t attributes) {
  struct stat status {};
  if (stat(name, &status) != 0) {
    return FailWithErrno();
  }
  mode_t mode = status.st_mode & PermissionBits;
  if ((attributes & FILE_ATTRIBUTE_READONLY_BIT) != 0) {
    mode &= ~AnyWriteBits;
  } else {
    mode |= S_IWUSR;
  }
  if (chmod(name, mode) != 0) {
    return FailWithErrno();
  }
  return true;
}

bool OsCopyFile(const char* existingName, const char* newName, bool failIfExists) {
  struct stat status {};
  int source = OpenPlainFileToRead(existingName, &status);
  if (source < 0) {
    return false;
  }
  bool copied = CopyFromOpenSource(source, status, newName, failIfExists);
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
    descriptor = OpenPlainFileToRead(name, &status);
  } else if (access == GENERIC_WRITE_ACCESS && disposition == CREATE_ALWAYS_DISPOSITION) {
    descriptor = CreateForWriting(name);
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
  bool ended = EndRewrittenFile(Descriptor(handle));
  if (!CloseDescriptor(Descriptor(handle))) {
    return FailWithErrno();
  }
  return ended;
}

uint32_t OsGetLastError() { return LastError; }

const char* OsGetCommandLine() { return CommandLine.c_str(); }

[[noreturn]] void OsExitProcess(uint32_t exitCode) {
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(static_cast<int>(exitCode & ExitCodeMask));
}

// The offset from the load address of the executable. All of the programs' code is linked into
// the executable itself, whose ELF header the linker places at that address.
uint32_t OsImageOffset(const void* codeAddress) {
  uintptr_t offset =
      reinterpret_cast<uintptr_t>(codeAddress) - reinterpret_cast<uintptr_t>(__ehdr_start);
  return static_cast<uint32_t>(offset);
}

// The program entry: records the command line, runs the program, and ends with exit code 0.
int main(int argc, char** argv) {
  CommandLine = CommandLineFromArguments(argc, argv);
  ProgramMain();
  std::fflush(stdout);
  std::fflush(stderr);
  return 0;
}
