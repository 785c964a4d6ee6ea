#include "platform_double.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "settings_names.h"

namespace fake {

State Double;

namespace {

// A handle of the program's own.
struct OpenHandle {
  std::string name;
  uint32_t access;
  uint32_t share;
  size_t position;
  bool replacing = false;  // writes go to pending, which replaces the file at close
  std::string pending;
  bool failed = false;  // an operation on it failed: a replacing close abandons it
};
std::map<FileHandle, OpenHandle> Handles;
FileHandle NextHandle = 100;

const char* const OpNames[] = {
    "MessageBox",       "FindWindow",  "FindFirstFile",  "GetFileAttributes", "SetFileAttributes",
    "CopyFile",         "CreateFile",  "GetFileType",    "ReadFile",          "WriteFile",
    "FlushFileBuffers", "CloseHandle", "GetCommandLine", "ExitProcess"};

// Counts and logs a call; returns the scripted failure for it, if any.
const Failure* Enter(Op op, const std::string& detail) {
  int nth = ++Double.calls[op];
  Double.sequence.push_back(op);
  Double.log.push_back(std::string(OpName(op)) + (detail.empty() ? "" : " " + detail));
  for (const Failure& failure : Double.failures) {
    if (failure.op == op && failure.nth == nth) {
      return &failure;
    }
  }
  return nullptr;
}

bool Fail(uint32_t error) {
  Double.lastError = error;
  return false;
}

File* Find(const std::string& name) {
  auto it = Double.files.find(name);
  return it == Double.files.end() ? nullptr : &it->second;
}

// Records that an operation on the handle failed, as the native layer does.
void MarkFailed(FileHandle handle) {
  auto it = Handles.find(handle);
  if (it != Handles.end()) {
    it->second.failed = true;
  }
}

// Whether an open with access and share is compatible with an existing open.
bool SharesWith(uint32_t access, uint32_t share, uint32_t otherAccess, uint32_t otherShare) {
  if (otherAccess == 0) {
    return true;
  }
  bool otherAllowsMe =
      ((access & GENERIC_READ_ACCESS) == 0 || (otherShare & FILE_SHARE_READ_MODE) != 0) &&
      ((access & GENERIC_WRITE_ACCESS) == 0 || (otherShare & FILE_SHARE_WRITE_MODE) != 0);
  bool iAllowOther =
      ((otherAccess & GENERIC_READ_ACCESS) == 0 || (share & FILE_SHARE_READ_MODE) != 0) &&
      ((otherAccess & GENERIC_WRITE_ACCESS) == 0 || (share & FILE_SHARE_WRITE_MODE) != 0);
  return otherAllowsMe && iAllowOther;
}

// The platform's copy writes over its target sharing reading and writing: another program that
// holds the target open, sharing both, does not stop it.
constexpr uint32_t CopyTargetShareMode = FILE_SHARE_READ_MODE | FILE_SHARE_WRITE_MODE;

bool SharingAllows(const std::string& name, const File& file, uint32_t access, uint32_t share) {
  if (!SharesWith(access, share, file.heldAccess, file.heldShare)) {
    return false;
  }
  for (const auto& entry : Handles) {
    if (entry.second.name == name &&
        !SharesWith(access, share, entry.second.access, entry.second.share)) {
      return false;
    }
  }
  return true;
}

}  // namespace

const char* OpName(Op op) { return OpNames[static_cast<int>(op)]; }

void ResetDouble() {
  Double = State();
  Handles.clear();
  NextHandle = 100;
}

void PutFile(const std::string& name, const std::string& bytes, uint32_t attributes) {
  File file;
  file.bytes = bytes;
  file.attributes = attributes;
  Double.files[name] = file;
}

std::string FileBytes(const std::string& name) {
  File* file = Find(name);
  EXPECT_NE(file, nullptr) << "no file " << name;
  return file == nullptr ? std::string() : file->bytes;
}

bool FileExists(const std::string& name) { return Find(name) != nullptr; }

void FailCall(Op op, int nth, uint32_t error) {
  Double.failures.push_back(Failure{op, nth, error});
}

void ShortenCall(Op op, int nth, uint32_t shortBy) {
  Double.failures.push_back(Failure{op, nth, 0, shortBy});
}

}  // namespace fake

using namespace fake;

int OsMessageBox(const char* text, const char* caption, uint32_t style) {
  if (const Failure* failure = Enter(Op::MessageBox, caption)) {
    Fail(failure->error);
    return 0;  // the box could not be shown
  }
  Double.boxes.push_back(Box{text, caption, style});
  if (Double.answers.empty()) {
    return IDOK_RESULT;
  }
  int answer = Double.answers.front();
  Double.answers.pop_front();
  return answer;
}

bool OsWindowExists(const char* className) {
  if (const Failure* failure = Enter(Op::FindWindow, className)) {
    Fail(failure->error);
    return false;
  }
  return Double.hostWindowOpen && std::strcmp(className, HostWindowClass) == 0;
}

bool OsFindFirstEntry(const char* name, FoundEntry* entry) {
  if (const Failure* failure = Enter(Op::FindFirstFile, name)) {
    return Fail(failure->error);
  }
  File* file = Find(name);
  if (file == nullptr) {
    return Fail(ERROR_FILE_NOT_FOUND_CODE);
  }
  entry->attributes = file->isDirectory ? FILE_ATTRIBUTE_DIRECTORY_BIT : file->attributes;
  return true;
}

uint32_t OsGetFileAttributes(const char* name) {
  if (const Failure* failure = Enter(Op::GetFileAttributes, name)) {
    Fail(failure->error);
    return INVALID_ATTRIBUTES_VALUE;
  }
  File* file = Find(name);
  if (file == nullptr) {
    Fail(ERROR_FILE_NOT_FOUND_CODE);
    return INVALID_ATTRIBUTES_VALUE;
  }
  return file->isDirectory ? FILE_ATTRIBUTE_DIRECTORY_BIT : file->attributes;
}

bool OsSetFileAttributes(const char* name, uint32_t attributes) {
  if (const Failure* failure =
          Enter(Op::SetFileAttributes, std::string(name) + " " + std::to_string(attributes))) {
    return Fail(failure->error);
  }
  File* file = Find(name);
  if (file == nullptr) {
    return Fail(ERROR_FILE_NOT_FOUND_CODE);
  }
  // FILE_ATTRIBUTE_NORMAL is kept as "no attribute"; a file never shows it alongside others.
  file->attributes = attributes;
  return true;
}

bool OsCopyFile(const char* existingName, const char* newName, bool failIfExists) {
  if (const Failure* failure = Enter(Op::CopyFile, std::string(existingName) + " " + newName)) {
    return Fail(failure->error);
  }
  File* source = Find(existingName);
  if (source == nullptr || source->isDirectory) {
    return Fail(source == nullptr ? ERROR_FILE_NOT_FOUND_CODE : ERROR_ACCESS_DENIED_CODE);
  }
  if (!SharingAllows(existingName, *source, GENERIC_READ_ACCESS,
                     FILE_SHARE_READ_MODE | FILE_SHARE_WRITE_MODE)) {
    return Fail(ERROR_SHARING_VIOLATION_CODE);
  }
  File* target = Find(newName);
  if (target != nullptr) {
    if (failIfExists) {
      return Fail(ERROR_FILE_EXISTS_CODE);
    }
    if (target->isDirectory || (target->attributes & (FILE_ATTRIBUTE_READONLY_BIT)) != 0 ||
        !SharingAllows(newName, *target, GENERIC_WRITE_ACCESS, CopyTargetShareMode)) {
      return Fail(ERROR_ACCESS_DENIED_CODE);
    }
  }
  // The copy is written into the target, so another program's handle on the target stays open
  // on it; the source's stays with the source.
  File copy = *source;
  copy.heldAccess = target != nullptr ? target->heldAccess : 0;
  copy.heldShare = target != nullptr ? target->heldShare : 0;
  copy.attributes |= FILE_ATTRIBUTE_ARCHIVE_BIT;
  copy.type = FILE_TYPE_DISK_VALUE;  // whatever the source, the copy is a file on disk
  Double.files[newName] = copy;
  return true;
}

FileHandle OsCreateFile(const char* name, uint32_t access, uint32_t shareMode, uint32_t disposition,
                        uint32_t flags) {
  if (const Failure* failure = Enter(Op::CreateFile, name)) {
    Fail(failure->error);
    return InvalidFileHandle;
  }
  EXPECT_EQ(flags, FILE_ATTRIBUTE_NORMAL_VALUE);
  File* file = Find(name);
  if (file != nullptr && file->isDirectory) {
    Fail(ERROR_ACCESS_DENIED_CODE);
    return InvalidFileHandle;
  }
  if (disposition == OPEN_EXISTING_DISPOSITION && file == nullptr) {
    Fail(ERROR_FILE_NOT_FOUND_CODE);
    return InvalidFileHandle;
  }
  if (file != nullptr && !SharingAllows(name, *file, access, shareMode)) {
    Fail(ERROR_SHARING_VIOLATION_CODE);
    return InvalidFileHandle;
  }
  if (disposition == CREATE_ALWAYS_DISPOSITION) {
    if (file != nullptr &&
        (file->attributes & (FILE_ATTRIBUTE_READONLY_BIT | FILE_ATTRIBUTE_HIDDEN_BIT |
                             FILE_ATTRIBUTE_SYSTEM_BIT)) != 0) {
      Fail(ERROR_ACCESS_DENIED_CODE);
      return InvalidFileHandle;
    }
    if (Double.replacesOnClose) {
      FileHandle handle = NextHandle++;
      Handles[handle] = OpenHandle{name, access, shareMode, 0, true, std::string()};
      return handle;
    }
    if (file == nullptr) {
      PutFile(name, "");
      file = Find(name);
    }
    file->bytes.clear();
    file->attributes = FILE_ATTRIBUTE_ARCHIVE_BIT;
  }
  FileHandle handle = NextHandle++;
  Handles[handle] = OpenHandle{name, access, shareMode, 0, false, std::string()};
  return handle;
}

uint32_t OsGetFileType(FileHandle handle) {
  if (const Failure* failure = Enter(Op::GetFileType, "")) {
    Fail(failure->error);
    MarkFailed(handle);
    return FILE_TYPE_UNKNOWN_VALUE;
  }
  auto it = Handles.find(handle);
  if (it == Handles.end()) {
    Fail(ERROR_INVALID_HANDLE_CODE);
    return FILE_TYPE_UNKNOWN_VALUE;
  }
  File* file = Find(it->second.name);
  return file != nullptr ? file->type : FILE_TYPE_DISK_VALUE;
}

bool OsReadFile(FileHandle handle, void* buffer, uint32_t size, uint32_t* bytesRead) {
  *bytesRead = 0;
  Double.readSizes.push_back(size);
  const Failure* failure = Enter(Op::ReadFile, std::to_string(size));
  if (failure != nullptr && failure->shortBy == 0) {
    return Fail(failure->error);
  }
  auto it = Handles.find(handle);
  if (it == Handles.end() || (it->second.access & GENERIC_READ_ACCESS) == 0) {
    return Fail(ERROR_INVALID_HANDLE_CODE);
  }
  const std::string& bytes = Double.files[it->second.name].bytes;
  size_t available = bytes.size() - std::min(bytes.size(), it->second.position);
  size_t count = std::min<size_t>({size, available, Double.readChunkLimit});
  if (failure != nullptr) {
    count -= std::min<size_t>(count, failure->shortBy);
  }
  std::memcpy(buffer, bytes.data() + it->second.position, count);
  it->second.position += count;
  *bytesRead = static_cast<uint32_t>(count);
  return true;
}

bool OsWriteFile(FileHandle handle, const void* buffer, uint32_t size, uint32_t* bytesWritten) {
  *bytesWritten = 0;
  Double.writeSizes.push_back(size);
  const Failure* failure = Enter(Op::WriteFile, std::to_string(size));
  if (failure != nullptr && failure->shortBy == 0) {
    MarkFailed(handle);
    return Fail(failure->error);
  }
  auto it = Handles.find(handle);
  if (it == Handles.end() || (it->second.access & GENERIC_WRITE_ACCESS) == 0) {
    return Fail(ERROR_INVALID_HANDLE_CODE);
  }
  uint32_t count = size;
  if (failure != nullptr) {
    count -= std::min(count, failure->shortBy);
  }
  std::string& bytes =
      it->second.replacing ? it->second.pending : Double.files[it->second.name].bytes;
  bytes.replace(it->second.position, count, static_cast<const char*>(buffer), count);
  it->second.position += count;
  *bytesWritten = count;
  return true;
}

// Like Windows, it needs a handle with write access to a disk file; a device has nothing to
// flush and refuses.
bool OsFlushFileBuffers(FileHandle handle) {
  auto it = Handles.find(handle);
  std::string name = it == Handles.end() ? std::string() : it->second.name;
  if (const Failure* failure = Enter(Op::FlushFileBuffers, name)) {
    MarkFailed(handle);
    return Fail(failure->error);
  }
  if (it == Handles.end()) {
    return Fail(ERROR_INVALID_HANDLE_CODE);
  }
  if ((it->second.access & GENERIC_WRITE_ACCESS) == 0) {
    return Fail(ERROR_ACCESS_DENIED_CODE);
  }
  File* file = Find(name);
  return file == nullptr || file->type == FILE_TYPE_DISK_VALUE || Fail(ERROR_INVALID_HANDLE_CODE);
}

bool OsCloseHandle(FileHandle handle) {
  const Failure* failure = Enter(Op::CloseHandle, "");
  auto it = Handles.find(handle);
  if (it == Handles.end()) {
    return Fail(ERROR_INVALID_HANDLE_CODE);
  }
  OpenHandle closed = it->second;
  Handles.erase(it);
  if (failure != nullptr) {
    return Fail(failure->error);
  }
  if (closed.replacing && !closed.failed) {
    File* file = Find(closed.name);
    if (file == nullptr) {
      PutFile(closed.name, "");
      file = Find(closed.name);
    }
    file->bytes = closed.pending;
    file->attributes = FILE_ATTRIBUTE_ARCHIVE_BIT;
  }
  return true;
}

uint32_t OsGetLastError() { return Double.lastError; }

const char* OsGetCommandLine() {
  Enter(Op::GetCommandLine, "");
  return Double.commandLine.c_str();
}

void OsExitProcess(uint32_t exitCode) {
  Enter(Op::ExitProcess, std::to_string(exitCode));
  throw ProcessEnded{exitCode};
}

uint32_t OsImageOffset(const void* codeAddress) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(codeAddress) & 0xFFFFFFFF);
}
