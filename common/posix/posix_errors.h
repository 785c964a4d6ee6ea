// Errors and reasons on the POSIX platform layer: its one way of recording a failure, the Win32
// code of an errno value, every reason the runtime-error report's second line can give, and the
// plain descriptor operations every file of the layer shares.
//
// Inside the layer, a function that can fail returns false (or -1) with the failure recorded by
// one of the Fail functions below, and nothing else. Only the Os* functions hand a recorded
// failure on as the last error (PublishFailure), and only the end of the run writes its reason.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace posix_layer {

// ---- The reasons the report's second line gives besides the system's own ---------------------

constexpr const char* ForeignLinkReason = "a link owned by another user";
constexpr const char* SharedHardLinkReason = "a file with other links in a folder others can write";
constexpr const char* ReplacedReason = "replaced by another program since it was read";
constexpr const char* InUseReason = "in use by another program";
constexpr const char* NotPlainFileReason = "not a plain file";
constexpr const char* TooLargeReason = "too large for a settings file (over 256 MiB)";
// After the rename, the folder flush failed.
constexpr const char* NotYetOnDiskReason = "the new text is in place but may not be on disk yet";
// Added to the system's reason when a write in place failed after its first changed byte.
constexpr const char* OldTextInBackupReason = "; the old text is in ";
constexpr const char* FileMayBeCutReason = "; the file may be cut short";

// The largest settings file the layer copies or reads: far more than any real one holds, so that
// a planted file cannot make a run fill the disk or the memory.
constexpr uint64_t MaxSettingsFileSize = uint64_t{256} * 1024 * 1024;
// The Win32 code of a file over that size (ERROR_FILE_TOO_LARGE).
constexpr uint32_t FileTooLargeCode = 223;

// ---- Recording failures ----------------------------------------------------------------------

// A failure: its Win32 code, its errno (0 for one of the layer's own), the file it concerns and
// the reason the report names.
struct Failure {
  uint32_t code = 0;
  int error = 0;
  std::string file;
  std::string reason;
};

// The Win32 error code closest to an errno value.
uint32_t ErrorCodeFromErrno(int error);

// Records a failure of the layer's own, with the reason a report of it names (nullptr: none).
// Returns false.
bool Fail(uint32_t code, const char* reason = nullptr);

// Records the failure errno tells of, with the system's reason and after it suffix. Returns false.
bool FailErrno(const std::string& suffix = std::string());

// Records the failure errno tells of, with reason in place of the system's. Returns false.
bool FailErrnoBecause(const std::string& reason);

// The same for a failed read. A file the layer reads is never a pipe, so EPIPE (which a network or
// FUSE file system can give) is a failure of its own, 232, and never the broken pipe 109 that
// ends the text of a pipe. Returns false.
bool FailRead();

// The failure recorded last.
const Failure& LastFailure();

// Records a failure kept from before. Returns false.
bool FailAgain(const Failure& failure);

// The errno of the failure recorded last; 0 for a failure of the layer's own.
int FailureErrno();

// Whether the failure recorded last is one that passes (too many open files, exhausted memory,
// an I/O error): it says nothing about the file, so it is never taken for a missing one.
bool FailureIsPassing();

// Names the file that the Os operation under way works on, for the report of its failure.
void NoteFileInUse(const std::string& name);

// Hands the failure recorded last on as the last error (OsGetLastError) with its file and reason.
// Returns false.
bool PublishFailure();

// The report's second line for a run that ends with error number code: the file and the reason of
// the last error, when the last error is that code; else empty.
std::string ReasonLine(uint32_t code);

// ---- Descriptors -----------------------------------------------------------------------------

// A new descriptor from the system, moved above standard input, output and error where it landed
// on one of them (they were closed when the run started): a message written there must never
// reach a file. Returns -1 with the failure recorded when descriptor is -1 or cannot be moved.
int AboveStandardStreams(int descriptor);

// read() and write() that a signal does not cut short.
ssize_t ReadRetrying(int descriptor, void* buffer, size_t size);
ssize_t WriteRetrying(int descriptor, const void* buffer, size_t size);

// close(). Linux releases the descriptor even when close() is interrupted, so an interruption is
// no failure, and closing again could hit a descriptor opened meanwhile. Returns false with the
// failure recorded.
bool CloseDescriptor(int descriptor);

// Remembers errno of a message that could not be written to standard output or standard error;
// the first one counts.
void NoteOutputFailure(int error);

// The Win32 code of the first message that could not be written; 0 while all could.
uint32_t OutputFailureCode();

}  // namespace posix_layer
