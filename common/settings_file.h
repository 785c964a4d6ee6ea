// The one text-file object through which the settings file is read and written.
//
// All traffic goes through a 128-byte buffer: reads ask the platform for at most 128 bytes at a
// time, writes reach it in blocks of 128 bytes and a shorter last block at close. Every operation
// that touches the file returns an error number, 0 for success; callers hand it straight to
// TestFileOperation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform.h"

constexpr uint32_t SettingsBufferSize = 128;

// The end of the text: a Ctrl-Z byte, or the physical end of the file.
constexpr unsigned char EndOfTextByte = 0x1A;

// Error number for a file opened for writing that turns out to be of unknown type.
constexpr uint32_t UnknownFileTypeError = 105;

enum class FileMode { Closed, Reading, Writing };

struct TextFile {
  FileHandle handle = InvalidFileHandle;
  FileMode mode = FileMode::Closed;
  std::string name;
  unsigned char buffer[SettingsBufferSize] = {};
  uint32_t fill = 0;            // valid bytes in buffer
  uint32_t position = 0;        // next byte in buffer
  bool atPhysicalEnd = false;   // a refill delivered nothing, or reading failed
  bool flushEveryLine = false;  // a character device: each line goes out at its end
  bool onDisk = false;          // a disk file: its text is flushed to disk before it is closed
  uint32_t stepError = 0;       // error number of the step under way
};

extern TextFile SettingsFile;

// Opens name for reading from its first byte; others may read it meanwhile, nobody may write.
uint32_t OpenSettingsForReading(const char* name);

// Creates name afresh (an existing file is cut to length 0) for writing; others may read it.
uint32_t OpenSettingsForWriting(const char* name);

// Closes the file; opened for writing, the bytes still in the buffer go out first, and a disk
// file is flushed to disk before its handle is closed, so that its text is safe once this
// returns 0. A failed flush is a failed file operation like a failed write.
uint32_t CloseSettingsFile();

// Reads one line into *line: its text up to the first CR, Ctrl-Z or physical end, then skips a
// CR and one LF directly after it. Lines may be of any length.
uint32_t ReadSettingsLine(std::string* line);

// Sets *atEnd when the next byte is a Ctrl-Z or the physical end has been reached. Looks at the
// next byte without consuming it.
uint32_t TestEndOfSettings(bool* atEnd);

// Reads every byte from the current position to the physical end, Ctrl-Z bytes included,
// appending them to *rest.
uint32_t ReadRemainingBytes(std::string* rest);

// Writes size bytes through the buffer.
uint32_t WriteSettingsBytes(const char* bytes, size_t size);

// Writes the CR LF that ends every line; on a character device the line goes out at once.
uint32_t WriteSettingsLineEnd();
