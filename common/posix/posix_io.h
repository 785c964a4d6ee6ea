// What the files of the POSIX platform layer share: the last error, the Win32 error code for an
// errno value, and the system calls that a signal does not cut short.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace posix_layer {

// The Win32 error code closest to an errno value.
uint32_t ErrorCodeFromErrno(int error);

// Records code as the last error, with the reason a report of it names (nullptr: none). Returns
// false, for the caller to return.
bool FailWith(uint32_t code, const char* reason = nullptr);

// Records the code for the current errno as the last error, with the system's reason for it.
// Returns false.
bool FailWithErrno();

// Records the code for errno of a failed read. A file the layer reads is never a pipe, so EPIPE
// (which a network or FUSE file system can give) is a failure of its own, 232, and never the
// broken pipe 109 that ends the text of a pipe. Returns false.
bool FailWithReadErrno();

// Names the file that the operation under way works on, for the report of its failure.
void NoteFileInUse(const std::string& name);

// The file and the reason of the last failure, as the second line of the runtime-error report
// shows them ("Qtv.ini: No space left on device"), when that failure gave code; else empty.
std::string FailureDescription(uint32_t code);

// read() that is not cut short by a signal.
ssize_t ReadRetrying(int descriptor, void* buffer, size_t size);

// write() that is not cut short by a signal.
ssize_t WriteRetrying(int descriptor, const void* buffer, size_t size);

// Remembers errno of a message that could not be written to standard output or standard error;
// the first one counts.
void NoteOutputFailure(int error);

// The Win32 code of the first message that could not be written; 0 while all could.
uint32_t OutputFailureCode();

// close(). Linux releases the descriptor even when close() is interrupted, so an interruption is
// no failure, and closing again could hit a descriptor opened meanwhile.
bool CloseDescriptor(int descriptor);

}  // namespace posix_layer
