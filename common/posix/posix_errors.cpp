// Errors and reasons on the POSIX platform layer: the failure recorded last, the last error the
// Os* functions publish from it, and the descriptor operations the layer shares.
#include "posix_errors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform.h"

using posix_layer::Failure;

namespace {

// The failure recorded last inside the layer, and the one the last Os* function published.
Failure Recorded;
Failure Published;

std::string FileInUse;
uint32_t OutputFailure = 0;

// The lowest descriptor that is none of the standard streams.
constexpr int FirstOwnDescriptor = 3;

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

bool Fail(uint32_t code, const char* reason) {
  Recorded = Failure{code, 0, FileInUse, reason != nullptr ? reason : ""};
  return false;
}

bool FailErrno(const std::string& suffix) {
  int error = errno;
  Recorded = Failure{ErrorCodeFromErrno(error), error, FileInUse, std::strerror(error) + suffix};
  return false;
}

bool FailErrnoBecause(const std::string& reason) {
  int error = errno;
  Recorded = Failure{ErrorCodeFromErrno(error), error, FileInUse, reason};
  return false;
}

bool FailRead() {
  bool failed = FailErrno();
  if (Recorded.error == EPIPE) {
    Recorded.code = ERROR_NO_DATA_CODE;
  }
  return failed;
}

const Failure& LastFailure() { return Recorded; }

bool FailAgain(const Failure& failure) {
  Recorded = failure;
  return false;
}

int FailureErrno() { return Recorded.error; }

bool FailureIsPassing() {
  switch (Recorded.error) {
    case EMFILE:
    case ENFILE:
    case ENOMEM:
    case ENOBUFS:
    case EAGAIN:
    case EIO:
    case ESTALE:
    case ETIMEDOUT:
      return true;
    default:
      return false;
  }
}

void NoteFileInUse(const std::string& name) { FileInUse = name; }

bool PublishFailure() {
  Published = Recorded;
  return false;
}

std::string ReasonLine(uint32_t code) {
  if (code != Published.code || Published.file.empty() || Published.reason.empty()) {
    return std::string();
  }
  return Published.file + ": " + Published.reason;
}

int AboveStandardStreams(int descriptor) {
  if (descriptor < 0) {
    FailErrno();
    return -1;
  }
  if (descriptor >= FirstOwnDescriptor) {
    return descriptor;
  }
  int moved = fcntl(descriptor, F_DUPFD_CLOEXEC, FirstOwnDescriptor);
  if (moved < 0) {
    FailErrno();
  }
  close(descriptor);
  return moved;
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

bool CloseDescriptor(int descriptor) {
  return close(descriptor) == 0 || errno == EINTR || FailErrno();
}

void NoteOutputFailure(int error) {
  if (OutputFailure == 0) {
    OutputFailure = ErrorCodeFromErrno(error);
  }
}

uint32_t OutputFailureCode() { return OutputFailure; }

}  // namespace posix_layer

uint32_t OsGetLastError() { return Published.code; }
