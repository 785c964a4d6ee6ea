#include "settings_file.h"

#include <cstring>

#include "runtime_error.h"

TextFile SettingsFile;

namespace {

constexpr unsigned char CarriageReturn = 0x0D;
constexpr unsigned char LineFeed = 0x0A;

// Forgets the handle and everything buffered; the object is closed afterwards.
void ResetSettingsFile() {
  SettingsFile.handle = InvalidFileHandle;
  SettingsFile.mode = FileMode::Closed;
  SettingsFile.fill = 0;
  SettingsFile.position = 0;
  SettingsFile.atPhysicalEnd = false;
  SettingsFile.flushEveryLine = false;
  SettingsFile.onDisk = false;
  SettingsFile.stepError = 0;
}

// Opening an object that is still open closes it first.
void CloseIfOpen() {
  if (SettingsFile.mode != FileMode::Closed) {
    CloseSettingsFile();
  }
}

// Refills the buffer when every byte in it has been taken. Returns false at the physical end.
// A failed read other than a broken pipe records its error code for the step under way and is
// then treated like the end of the text.
bool EnsureBufferedByte() {
  if (SettingsFile.position < SettingsFile.fill) {
    return true;
  }
  if (SettingsFile.atPhysicalEnd) {
    return false;
  }
  SettingsFile.position = 0;
  SettingsFile.fill = 0;
  uint32_t delivered = 0;
  if (!OsReadFile(SettingsFile.handle, SettingsFile.buffer, SettingsBufferSize, &delivered)) {
    uint32_t error = OsGetLastError();
    if (error != ERROR_BROKEN_PIPE_CODE) {
      SettingsFile.stepError = error;
    }
    delivered = 0;
  }
  if (delivered > SettingsBufferSize) {
    delivered = SettingsBufferSize;
  }
  SettingsFile.fill = delivered;
  if (delivered == 0) {
    SettingsFile.atPhysicalEnd = true;
    return false;
  }
  return true;
}

// Passes the buffered bytes to the platform and empties the buffer. A write that stores fewer
// bytes than it was given counts as failed: the write-back must never lose bytes silently.
uint32_t FlushWriteBuffer() {
  if (SettingsFile.fill == 0) {
    return 0;
  }
  uint32_t written = 0;
  if (!OsWriteFile(SettingsFile.handle, SettingsFile.buffer, SettingsFile.fill, &written)) {
    return OsGetLastError();
  }
  if (written != SettingsFile.fill) {
    return ShortWriteError;
  }
  SettingsFile.fill = 0;
  return 0;
}

// The open under both Open... functions: closes the object if it is open, forgets everything
// buffered, and opens name with access and disposition, others allowed to read it meanwhile and
// nobody to write. Returns 0 with the object open in mode, or the platform's error code with the
// object closed.
uint32_t OpenSettings(const char* name, uint32_t access, uint32_t disposition, FileMode mode) {
  CloseIfOpen();
  ResetSettingsFile();
  SettingsFile.name = name;
  FileHandle handle =
      OsCreateFile(name, access, FILE_SHARE_READ_MODE, disposition, FILE_ATTRIBUTE_NORMAL_VALUE);
  if (handle == InvalidFileHandle) {
    return OsGetLastError();
  }
  SettingsFile.handle = handle;
  SettingsFile.mode = mode;
  return 0;
}

}  // namespace

uint32_t OpenSettingsForReading(const char* name) {
  return OpenSettings(name, GENERIC_READ_ACCESS, OPEN_EXISTING_DISPOSITION, FileMode::Reading);
}

// A file of unknown type is closed again at once: the object is left closed.
uint32_t OpenSettingsForWriting(const char* name) {
  uint32_t error =
      OpenSettings(name, GENERIC_WRITE_ACCESS, CREATE_ALWAYS_DISPOSITION, FileMode::Writing);
  if (error != 0) {
    return error;
  }
  uint32_t type = OsGetFileType(SettingsFile.handle);
  if (type == FILE_TYPE_UNKNOWN_VALUE) {
    OsCloseHandle(SettingsFile.handle);
    ResetSettingsFile();
    return UnknownFileTypeError;
  }
  SettingsFile.flushEveryLine = (type == FILE_TYPE_CHAR_VALUE);
  // A device or a pipe cannot be flushed to disk: only a disk file is.
  SettingsFile.onDisk = (type == FILE_TYPE_DISK_VALUE);
  return 0;
}

uint32_t CloseSettingsFile() {
  if (SettingsFile.mode == FileMode::Closed) {
    return 0;
  }
  if (SettingsFile.mode == FileMode::Writing) {
    uint32_t error = FlushWriteBuffer();
    if (error != 0) {
      return error;
    }
    // The success the caller reports next must not come while the text is still in a cache.
    if (SettingsFile.onDisk && !OsFlushFileBuffers(SettingsFile.handle)) {
      return OsGetLastError();
    }
  }
  FileHandle handle = SettingsFile.handle;
  ResetSettingsFile();
  if (!OsCloseHandle(handle)) {
    return OsGetLastError();
  }
  return 0;
}

uint32_t ReadSettingsLine(std::string* line) {
  SettingsFile.stepError = 0;
  line->clear();
  // The text: whole runs of the buffer at a time, up to a CR or a Ctrl-Z, which stay unread.
  while (EnsureBufferedByte()) {
    const unsigned char* start = SettingsFile.buffer + SettingsFile.position;
    const unsigned char* end = SettingsFile.buffer + SettingsFile.fill;
    const unsigned char* stop = start;
    while (stop < end && *stop != CarriageReturn && *stop != EndOfTextByte) {
      ++stop;
    }
    line->append(reinterpret_cast<const char*>(start), static_cast<size_t>(stop - start));
    SettingsFile.position += static_cast<uint32_t>(stop - start);
    if (stop < end) {
      break;
    }
  }
  // The line end: a CR, and one LF right after it. A Ctrl-Z or the physical end is left alone.
  if (EnsureBufferedByte() && SettingsFile.buffer[SettingsFile.position] == CarriageReturn) {
    ++SettingsFile.position;
    if (EnsureBufferedByte() && SettingsFile.buffer[SettingsFile.position] == LineFeed) {
      ++SettingsFile.position;
    }
  }
  return SettingsFile.stepError;
}

uint32_t TestEndOfSettings(bool* atEnd) {
  SettingsFile.stepError = 0;
  *atEnd = !EnsureBufferedByte() || SettingsFile.buffer[SettingsFile.position] == EndOfTextByte;
  return SettingsFile.stepError;
}

uint32_t ReadRemainingBytes(std::string* rest) {
  SettingsFile.stepError = 0;
  while (EnsureBufferedByte()) {
    rest->append(reinterpret_cast<const char*>(SettingsFile.buffer + SettingsFile.position),
                 SettingsFile.fill - SettingsFile.position);
    SettingsFile.position = SettingsFile.fill;
  }
  return SettingsFile.stepError;
}

uint32_t WriteSettingsBytes(const char* bytes, size_t size) {
  while (size > 0) {
    size_t room = SettingsBufferSize - SettingsFile.fill;
    size_t part = size < room ? size : room;
    std::memcpy(SettingsFile.buffer + SettingsFile.fill, bytes, part);
    SettingsFile.fill += static_cast<uint32_t>(part);
    bytes += part;
    size -= part;
    if (SettingsFile.fill == SettingsBufferSize) {
      uint32_t error = FlushWriteBuffer();
      if (error != 0) {
        return error;
      }
    }
  }
  return 0;
}

uint32_t WriteSettingsLineEnd() {
  static const char LineEnd[] = {static_cast<char>(CarriageReturn), static_cast<char>(LineFeed)};
  uint32_t error = WriteSettingsBytes(LineEnd, sizeof LineEnd);
  if (error == 0 && SettingsFile.flushEveryLine) {
    error = FlushWriteBuffer();
  }
  return error;
}
