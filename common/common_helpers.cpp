#include "common_helpers.h"

#include "platform.h"
#include "runtime_error.h"

const char* ProgramCaption = "";

namespace {
constexpr uint32_t ErrorBoxStyle = MB_OK_STYLE | MB_ICONHAND_STYLE | MB_SETFOREGROUND_STYLE;
}

void BeginProgram(const char* caption) {
  ProgramCaption = caption;
  InstallOutOfMemoryExit();
}

void ShowErrorBox(const char* message) { OsMessageBox(message, ProgramCaption, ErrorBoxStyle); }

// The time plays no part: a file whose last write has no MS-DOS date is there all the same, and
// telling the user to copy the tool into the folder where it already is would help nobody.
bool FileIsPresent(const char* name) {
  FoundEntry entry{};
  return OsFindFirstEntry(name, &entry) && (entry.attributes & FILE_ATTRIBUTE_DIRECTORY_BIT) == 0;
}

uint32_t GetAttributes(const char* name) { return OsGetFileAttributes(name); }

uint32_t SetAttributes(const char* name, uint32_t attributes) {
  if (OsSetFileAttributes(name, attributes)) {
    return 0;
  }
  return OsGetLastError();
}
