// The platform layer on Windows: each operation is the one ANSI function it is named after.
// This is the only file that includes windows.h.
#include <windows.h>

#include "platform.h"

namespace {

HANDLE ToWin32Handle(FileHandle handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

int OsMessageBox(const char* text, const char* caption, uint32_t style) {
  return MessageBoxA(nullptr, text, caption, style);
}

bool OsWindowExists(const char* className) { return FindWindowA(className, nullptr) != nullptr; }

bool OsFindFirstEntry(const char* name, FoundEntry* entry) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(name, &found);
  if (search == ToWin32Handle(InvalidFileHandle)) {
    return false;
  }
  FindClose(search);
  entry->attributes = found.dwFileAttributes;
  return true;
}

uint32_t OsGetFileAttributes(const char* name) { return GetFileAttributesA(name); }

bool OsSetFileAttributes(const char* name, uint32_t attributes) {
  return SetFileAttributesA(name, attributes) != FALSE;
}

bool OsCopyFile(const char* existingName, const char* newName, bool failIfExists) {
  return CopyFileA(existingName, newName, failIfExists ? TRUE : FALSE) != FALSE;
}

FileHandle OsCreateFile(const char* name, uint32_t access, uint32_t shareMode, uint32_t disposition,
                        uint32_t flags) {
  HANDLE handle = CreateFileA(name, access, shareMode, nullptr, disposition, flags, nullptr);
  return reinterpret_cast<FileHandle>(handle);
}

uint32_t OsGetFileType(FileHandle handle) { return GetFileType(ToWin32Handle(handle)); }

bool OsReadFile(FileHandle handle, void* buffer, uint32_t size, uint32_t* bytesRead) {
  DWORD got = 0;
  BOOL ok = ReadFile(ToWin32Handle(handle), buffer, size, &got, nullptr);
  *bytesRead = got;
  return ok != FALSE;
}

bool OsWriteFile(FileHandle handle, const void* buffer, uint32_t size, uint32_t* bytesWritten) {
  DWORD put = 0;
  BOOL ok = WriteFile(ToWin32Handle(handle), buffer, size, &put, nullptr);
  *bytesWritten = put;
  return ok != FALSE;
}

bool OsFlushFileBuffers(FileHandle handle) {
  return FlushFileBuffers(ToWin32Handle(handle)) != FALSE;
}

bool OsCloseHandle(FileHandle handle) { return CloseHandle(ToWin32Handle(handle)) != FALSE; }

uint32_t OsGetLastError() { return GetLastError(); }

const char* OsGetCommandLine() { return GetCommandLineA(); }

void OsExitProcess(uint32_t exitCode) { ExitProcess(exitCode); }

uint32_t OsImageOffset(const void* codeAddress) {
  uintptr_t imageBase = reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr));
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(codeAddress) - imageBase);
}

// The program has no window of its own: the entry runs the program's work and ends the process,
// with exit code 0 whether the run did its work or a check stopped it, as Windows callers know it.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  static_cast<void>(ProgramMain());
  ExitProcess(0);
}
