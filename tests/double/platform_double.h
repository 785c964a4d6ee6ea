// The test double of the platform layer: an in-memory Windows as the programs see it.
//
// Files are bytes with attributes; handles honour the share modes; every
// operation is logged, any call can be made to fail, every message box is recorded and answered
// from a script, and the process end is observable. Tests reset it with ResetDouble().
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform.h"

namespace fake {

struct File {
  std::string bytes;
  uint32_t attributes = FILE_ATTRIBUTE_ARCHIVE_BIT;
  uint32_t type = FILE_TYPE_DISK_VALUE;
  bool isDirectory = false;
  // Another program's open handle on the file: its access (0 when none) and share mode.
  uint32_t heldAccess = 0;
  uint32_t heldShare = 0;
};

struct Box {
  std::string text;
  std::string caption;
  uint32_t style;
};

// The operations the double knows, by the name of the Win32 function each stands for.
enum class Op {
  MessageBox,
  FindWindow,
  FindFirstFile,
  GetFileAttributes,
  SetFileAttributes,
  CopyFile,
  CreateFile,
  GetFileType,
  ReadFile,
  WriteFile,
  FlushFileBuffers,
  CloseHandle,
  GetCommandLine,
  ExitProcess
};
const char* OpName(Op op);

// One scripted failure: the nth call (1-based) of op fails with error, or, for WriteFile with
// shortBy > 0, reports success having stored shortBy fewer bytes; for ReadFile with
// shortBy > 0 it succeeds with that many bytes fewer.
struct Failure {
  Op op;
  int nth;
  uint32_t error;
  uint32_t shortBy = 0;
};

// Thrown by OsExitProcess so that a test can see the exit code.
struct ProcessEnded {
  uint32_t exitCode;
};

struct State {
  std::map<std::string, File> files;
  std::vector<Box> boxes;
  std::deque<int> answers;  // results for message boxes; IDOK_RESULT when empty
  bool hostWindowOpen = false;
  std::string commandLine = "Program.exe";
  std::vector<std::string>
      log;                   // "CreateFile Qtv.ini", "WriteFile 128", "FlushFileBuffers Qtv.ini"...
  std::vector<Op> sequence;  // the op of every call, in order
  std::map<Op, int> calls;   // how many times each op was called
  std::vector<Failure> failures;
  uint32_t lastError = 0;
  uint32_t readChunkLimit = 0xFFFFFFFF;  // ReadFile delivers at most this many bytes
  std::vector<uint32_t> readSizes;       // the size asked for in every ReadFile
  std::vector<uint32_t> writeSizes;      // the size passed in every WriteFile
  // As the native layer does it: a file created afresh for writing keeps its old bytes until
  // its handle is closed, and is replaced whole then; a failed close replaces nothing.
  bool replacesOnClose = false;
};

extern State Double;

// Clears every file, box, script and counter.
void ResetDouble();

// Adds or replaces a plain file.
void PutFile(const std::string& name, const std::string& bytes,
             uint32_t attributes = FILE_ATTRIBUTE_ARCHIVE_BIT);

// The bytes of a file; fails the test when it is missing.
std::string FileBytes(const std::string& name);
bool FileExists(const std::string& name);

// Makes the nth call of op fail.
void FailCall(Op op, int nth, uint32_t error);

// Makes the nth ReadFile or WriteFile succeed with shortBy bytes fewer than asked.
void ShortenCall(Op op, int nth, uint32_t shortBy);

// Makes the nth allocation from now on fail, as when memory is exhausted; 0 stops failing.
// Returns how many allocations were counted since the previous call.
int FailAllocation(int nth);

// Runs body as the program would run, and returns its exit code: 0 when body returns, the code
// given to OsExitProcess otherwise.
template <typename Body>
uint32_t RunProgram(Body body) {
  try {
    body();
    return 0;
  } catch (const ProcessEnded& end) {
    return end.exitCode;
  }
}

}  // namespace fake
