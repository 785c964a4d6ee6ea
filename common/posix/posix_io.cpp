// The POSIX platform layer's errors (Win32 codes derived from errno, and the last error) and the
// system calls that a signal does not cut short.
#include "posix_io.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform.h"

namespace {

thread_local uint32_t LastError = 0;
uint32_t OutputFailure = 0;

// What the report of a failure says beside its number.
std::string FileInUse;
std::string LastFailureFile;
std::string LastFailureReason;

}  // namespace

namespace posix_layer {

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
    case EPIPE:
      return ERROR_BROKEN_PIPE_CODE;
    default:
      return ERROR_GEN_FAILURE_CODE;
  }
}

bool FailWith(uint32_t code, const char* reason) {
  LastError = code;
  LastFailureFile = FileInUse;
  LastFailureReason = reason != nullptr ? reason : "";
  return false;
}

bool FailWithErrno() {
  int error = errno;
  return FailWith(ErrorCodeFromErrno(error), std::strerror(error));
}

bool FailWithReadErrno() {
  int error = errno;
  return FailWith(error == EPIPE ? ERROR_NO_DATA_CODE : ErrorCodeFromErrno(error),
                  std::strerror(error));
}

void NoteFileInUse(const std::string& name) { FileInUse = name; }

std::string FailureDescription(uint32_t code) {
  if (code != LastError || LastFailureFile.empty() || LastFailureReason.empty()) {
    return std::string();
  }
  return LastFailureFile + ": " + LastFailureReason;
}

ssize_t ReadRetrying(int descriptor, void* buffer, size_t size) {
  ssize_t count = 0;
  do {
    count = read(descriptor, buffer, size);
  } while (count < 0 && errno == EINTR);
  return count;
}

ssize_t WriteRetrying(int descriptor, const void* buffer, size_t size) {
  ssize_t count = 0;
  do {
    count = write(descriptor, buffer, size);
  } while (count < 0 && errno == EINTR);
  return count;
}

bool CloseDescriptor(int descriptor) { return close(descriptor) == 0 || errno == EINTR; }

void NoteOutputFailure(int error) {
  if (OutputFailure == 0) {
    OutputFailure = ErrorCodeFromErrno(error);
  }
}

uint32_t OutputFailureCode() { return OutputFailure; }

}  // namespace posix_layer

uint32_t OsGetLastError() { return LastError; }
