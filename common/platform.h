// The platform operations that the two programs use, and nothing else.
//
// Every call the logic makes to the operating system goes through this header. Each operation
// mirrors one Win32 ANSI function: the values passed and the results relied on are the ones the
// programs need from that function. Three implementations exist, chosen at link time:
// platform_win32.cpp (the real functions), posix/ (the native build) and the test
// double under tests/double/. Text is 8-bit code page 932 throughout.
#pragma once

#include <cstdint>

// ---- Values shared with Win32 ----------------------------------------------------------------
//
// Every Win32 number the programs, the platform layers, the test double and the tests use is
// named here, once, with the value Win32 gives it.

// Message box styles and results. The low four bits of a style choose its buttons, the next four
// its icon.
constexpr uint32_t MB_OK_STYLE = 0x0;
constexpr uint32_t MB_YESNO_STYLE = 0x4;
constexpr uint32_t MB_ICONHAND_STYLE = 0x10;
constexpr uint32_t MB_ICONEXCLAMATION_STYLE = 0x30;
constexpr uint32_t MB_BUTTONS_MASK = 0xF;
constexpr uint32_t MB_ICON_MASK = 0xF0;
constexpr uint32_t MB_DEFBUTTON2_STYLE = 0x100;
constexpr uint32_t MB_SETFOREGROUND_STYLE = 0x10000;
constexpr uint32_t MB_TOPMOST_STYLE = 0x40000;
constexpr int IDOK_RESULT = 1;
constexpr int IDYES_RESULT = 6;
constexpr int IDNO_RESULT = 7;

// File attribute bits, as GetFileAttributesA reports them.
constexpr uint32_t FILE_ATTRIBUTE_READONLY_BIT = 0x1;
constexpr uint32_t FILE_ATTRIBUTE_HIDDEN_BIT = 0x2;
constexpr uint32_t FILE_ATTRIBUTE_SYSTEM_BIT = 0x4;
constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY_BIT = 0x10;
constexpr uint32_t FILE_ATTRIBUTE_ARCHIVE_BIT = 0x20;
constexpr uint32_t FILE_ATTRIBUTE_NORMAL_VALUE = 0x80;
constexpr uint32_t INVALID_ATTRIBUTES_VALUE = 0xFFFFFFFF;

// CreateFileA parameters.
constexpr uint32_t GENERIC_READ_ACCESS = 0x80000000;
constexpr uint32_t GENERIC_WRITE_ACCESS = 0x40000000;
constexpr uint32_t FILE_SHARE_READ_MODE = 0x1;
constexpr uint32_t FILE_SHARE_WRITE_MODE = 0x2;
constexpr uint32_t CREATE_ALWAYS_DISPOSITION = 2;
constexpr uint32_t OPEN_EXISTING_DISPOSITION = 3;

// GetFileType results.
constexpr uint32_t FILE_TYPE_UNKNOWN_VALUE = 0x0;
constexpr uint32_t FILE_TYPE_DISK_VALUE = 0x1;
constexpr uint32_t FILE_TYPE_CHAR_VALUE = 0x2;
constexpr uint32_t FILE_TYPE_PIPE_VALUE = 0x3;

// Error codes, as GetLastError reports them. The logic names a few; the POSIX layer gives the
// others for the errno values closest to them, and the test double for its own refusals.
constexpr uint32_t ERROR_FILE_NOT_FOUND_CODE = 2;
constexpr uint32_t ERROR_PATH_NOT_FOUND_CODE = 3;
constexpr uint32_t ERROR_TOO_MANY_OPEN_FILES_CODE = 4;
constexpr uint32_t ERROR_ACCESS_DENIED_CODE = 5;
constexpr uint32_t ERROR_INVALID_HANDLE_CODE = 6;
constexpr uint32_t ERROR_WRITE_PROTECT_CODE = 19;
constexpr uint32_t ERROR_GEN_FAILURE_CODE = 31;
constexpr uint32_t ERROR_SHARING_VIOLATION_CODE = 32;
constexpr uint32_t ERROR_FILE_EXISTS_CODE = 80;
constexpr uint32_t ERROR_INVALID_PARAMETER_CODE = 87;
constexpr uint32_t ERROR_BROKEN_PIPE_CODE = 109;
constexpr uint32_t ERROR_DISK_FULL_CODE = 112;
constexpr uint32_t ERROR_NO_DATA_CODE = 232;
constexpr uint32_t ERROR_FILENAME_EXCED_RANGE_CODE = 206;
constexpr uint32_t ERROR_IO_DEVICE_CODE = 1117;

// A file handle; InvalidFileHandle stands for INVALID_HANDLE_VALUE.
using FileHandle = intptr_t;
constexpr FileHandle InvalidFileHandle = -1;

// What a directory search tells of the first entry it finds.
struct FoundEntry {
  uint32_t attributes;
};

// ---- Operations ------------------------------------------------------------------------------

// MessageBoxA with no owner window. Returns the button that closed the box (IDOK_RESULT, ...).
int OsMessageBox(const char* text, const char* caption, uint32_t style);

// FindWindowA(className, NULL) != NULL: whether a top-level window of that class exists.
bool OsWindowExists(const char* className);

// FindFirstFileA on name followed at once by FindClose. Returns false when the search found
// nothing; otherwise fills entry with the first entry found.
bool OsFindFirstEntry(const char* name, FoundEntry* entry);

// GetFileAttributesA: the attribute bits, or INVALID_ATTRIBUTES_VALUE.
uint32_t OsGetFileAttributes(const char* name);

// SetFileAttributesA. Returns false on failure; OsGetLastError then tells why.
bool OsSetFileAttributes(const char* name, uint32_t attributes);

// CopyFileA. Returns false on failure.
bool OsCopyFile(const char* existingName, const char* newName, bool failIfExists);

// CreateFileA with no security attributes and no template. Returns InvalidFileHandle on failure.
FileHandle OsCreateFile(const char* name, uint32_t access, uint32_t shareMode, uint32_t disposition,
                        uint32_t flags);

// GetFileType: one of the FILE_TYPE_* values.
uint32_t OsGetFileType(FileHandle handle);

// ReadFile of at most size bytes. Returns false on failure; *bytesRead is what arrived.
bool OsReadFile(FileHandle handle, void* buffer, uint32_t size, uint32_t* bytesRead);

// WriteFile of size bytes. Returns false on failure; *bytesWritten is what was stored.
bool OsWriteFile(FileHandle handle, const void* buffer, uint32_t size, uint32_t* bytesWritten);

// FlushFileBuffers: everything written through the handle, which was opened for writing, reaches
// the disk before it returns. Returns false on failure; OsGetLastError then tells why.
bool OsFlushFileBuffers(FileHandle handle);

// CloseHandle. Returns false on failure.
bool OsCloseHandle(FileHandle handle);

// GetLastError: the error code of the last failed operation above.
uint32_t OsGetLastError();

// GetCommandLineA: the whole command line, the program's own name first.
const char* OsGetCommandLine();

// ExitProcess: ends the process with the exit code. Never returns.
[[noreturn]] void OsExitProcess(uint32_t exitCode);

// The offset of a code address from the start of the program's loaded image.
uint32_t OsImageOffset(const void* codeAddress);

// The program's own work, called by the platform's program entry (WinMain or main) once the
// platform is ready. Each program defines it. Returns true when the run did what it was started
// for, false when a check stopped it (its box has said why). Its return ends the process: on
// Windows with exit code 0 either way, natively with 0 or 1, so that a shell can tell them apart.
bool ProgramMain();
