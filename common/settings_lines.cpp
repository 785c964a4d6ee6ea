#include "settings_lines.h"

#include "runtime_error.h"
#include "settings_file.h"

std::vector<std::string> SettingsLines;
int32_t LineCount = 0;
int32_t WidthLineIndex = -1;
std::string TrailingBytes;

bool LoadSettingsLines() {
  // The store gets its whole capacity once, and is cut to the lines read once, at the end.
  SettingsLines.assign(MaxSettingsLines, std::string());
  TrailingBytes.clear();
  int32_t count = 0;
  bool atEnd = false;
  do {
    TestFileOperation(ReadSettingsLine(&SettingsLines[static_cast<size_t>(count)]));
    ++count;
    TestFileOperation(TestEndOfSettings(&atEnd));
  } while (!atEnd && count < MaxSettingsLines);
  LineCount = count;
  SettingsLines.resize(static_cast<size_t>(count));
  return LineCount != 0;
}

void LoadTrailingBytes() {
  TrailingBytes.clear();
  TestFileOperation(ReadRemainingBytes(&TrailingBytes));
  if (TrailingBytes.size() == 1 && static_cast<unsigned char>(TrailingBytes[0]) == EndOfTextByte) {
    TrailingBytes.clear();
  }
}

bool WriteSettingsLines() {
  int32_t written = 0;
  for (const std::string& line : SettingsLines) {
    uint32_t error = WriteSettingsBytes(line.data(), line.size());
    if (error == 0) {
      error = WriteSettingsLineEnd();
    }
    TestFileOperation(error);
    ++written;
  }
  TestFileOperation(WriteSettingsBytes(TrailingBytes.data(), TrailingBytes.size()));
  return written == LineCount;
}

bool ReadSettingsFile(const char* name, bool keepTrailingBytes) {
  TestFileOperation(OpenSettingsForReading(name));
  bool loaded = LoadSettingsLines();
  if (loaded && keepTrailingBytes) {
    LoadTrailingBytes();
  }
  TestFileOperation(CloseSettingsFile());
  return loaded;
}

bool WriteSettingsFile(const char* name) {
  TestFileOperation(OpenSettingsForWriting(name));
  bool written = WriteSettingsLines();
  TestFileOperation(CloseSettingsFile());
  return written;
}

void ReleaseSettingsLines() {
  std::vector<std::string>().swap(SettingsLines);
  std::string().swap(TrailingBytes);
  LineCount = 0;
  WidthLineIndex = -1;
}
