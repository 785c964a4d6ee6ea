// File handles on the POSIX platform layer: CreateFileA's three uses, reads, writes, flushes,
// closes, the type query, the locks that stand for share modes, and the copy. A handle is a file
// descriptor with one record: the name it was opened by, the way it was opened, what the disk has
// given and the program not yet taken, the text not yet written, and the first failure of any
// operation on it.
//
// Windows' share modes become locks: a file open for reading holds a shared lock, a file being
// rewritten an exclusive one, and an open that meets the other kind fails with a sharing
// violation. A file opened for writing changes only at its close, and only when every operation
// on it succeeded: then its whole new text replaces the old (posix_replace.h), or, where a new
// file would change what the user has, goes into the file in place. A handle the program gives
// up after a failure is abandoned: the file keeps its old text.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <utility>

#include "platform.h"
#include "posix_errors.h"
#include "posix_names.h"
#include "posix_properties.h"
#include "posix_replace.h"

using namespace posix_layer;

namespace {

// The settings file is taken from the disk in blocks of this size, whatever pieces the program
// asks for. No other program sees the difference: a file being read is never changed under its
// reader (a rewrite replaces it, or waits for the reader's lock).
constexpr size_t BlockSize = size_t{64} * 1024;

// How a handle was opened: to read a file, only to flush one, or to write one anew.
enum class Use { Read, Flush, Write };

struct Handle {
  Name* name = nullptr;
  Use use = Use::Read;
  std::string block;      // Read: what the disk gave of the file and the program has not taken
  size_t taken = 0;       //   the part of block the program has taken
  uint64_t total = 0;     //   every byte the disk gave
  bool readable = false;  // Write: the old file, open and locked, may be read (its properties)
  bool writable = false;  //   and written in place
  std::string pending;    //   the new text, written at close
  bool failed = false;    // an operation on it failed: its close abandons it
  Failure failure;        //   the first such failure
};

std::map<int, Handle> Handles;

int Descriptor(FileHandle handle) { return static_cast<int>(handle); }

// The record of an open handle, with the file it works on noted for a failure's report; null for
// a handle the layer did not open.
Handle* Find(FileHandle handle) {
  auto found = Handles.find(Descriptor(handle));
  if (found == Handles.end()) {
    NoteFileInUse("");
    return nullptr;
  }
  NoteFileInUse(found->second.name->given);
  return &found->second;
}

// Marks the handle failed, keeping its first failure, and publishes the failure. Returns false.
bool FailHandle(Handle* handle) {
  if (!handle->failed) {
    handle->failed = true;
    handle->failure = LastFailure();
  }
  return PublishFailure();
}

// Takes a lock on an open file without waiting: LOCK_SH while it is read, LOCK_EX while it is
// rewritten. A lock another open holds is a sharing violation; a file system that keeps no locks
// lets the open go on without one. Returns false with the failure recorded.
bool Lock(int descriptor, int kind) {
  if (flock(descriptor, kind | LOCK_NB) == 0 || errno != EWOULDBLOCK) {
    return true;
  }
  return Fail(ERROR_SHARING_VIOLATION_CODE, InUseReason);
}

// Opens the plain file of entry with flags, refusing anything else before it is opened (a device
// such as /dev/zero has no end, a named pipe would keep the open waiting) and a file over the size
// any settings file has. Returns -1 with the failure recorded.
int OpenPlainFile(const Entry& entry, int flags) {
  if (!S_ISREG(entry.status.st_mode)) {
    Fail(ERROR_ACCESS_DENIED_CODE, NotPlainFileReason);
    return -1;
  }
  struct stat opened {};
  int descriptor = OpenEntry(entry, flags, &opened);
  if (descriptor >= 0 && static_cast<uint64_t>(opened.st_size) > MaxSettingsFileSize) {
    Fail(FileTooLargeCode, TooLargeReason);
    close(descriptor);
    return -1;
  }
  return descriptor;
}

// Opens the file of name for reading under a shared lock. Returns -1 with the failure recorded.
int OpenToRead(const Name& name) {
  if (!MayUseFile(name)) {
    return -1;
  }
  int descriptor = OpenPlainFile(name.file, O_RDONLY);
  if (descriptor >= 0 && !Lock(descriptor, LOCK_SH)) {
    close(descriptor);
    return -1;
  }
  return descriptor;
}

// Opens the file of name to write it anew, under the exclusive lock: the file the look found, or
// nothing, since a name swapped meanwhile is never written through. Nothing changes yet. Windows
// refuses an existing file with the read-only attribute, without cutting it; the owner's write
// bit stands for that attribute here (the superuser could write anyway); a directory cannot be
// opened for writing at all. The file is opened for reading and writing where the runner may,
// else for what the runner may, which decides at close which ways of writing are left. Returns -1
// with the failure recorded.
int OpenToWrite(const Name& name, Handle* handle) {
  if (!MayUseFile(name)) {
    return -1;
  }
  const struct stat& status = name.file.status;
  if (S_ISDIR(status.st_mode) || IsReadOnly(status)) {
    Fail(ERROR_ACCESS_DENIED_CODE);
    return -1;
  }
  int descriptor = -1;
  for (int flags : {O_RDWR, O_RDONLY, O_WRONLY}) {
    descriptor = OpenPlainFile(name.file, flags);
    if (descriptor >= 0 || FailureErrno() != EACCES) {
      handle->readable = flags != O_WRONLY;
      handle->writable = flags != O_RDONLY;
      break;
    }
  }
  if (descriptor >= 0 && !Lock(descriptor, LOCK_EX)) {
    close(descriptor);
    return -1;
  }
  return descriptor;
}

// Opens the entry itself (a link is not followed) only to flush it: Linux flushes a file through
// any descriptor of it, so it is opened for reading only, and takes no lock. Returns -1 with the
// failure recorded.
int OpenToFlush(const Name& name) {
  if (!MayUseItself(name)) {
    return -1;
  }
  if (!name.itself.exists) {
    errno = ENOENT;
    FailErrno();
    return -1;
  }
  return OpenPlainFile(name.itself, O_RDONLY);
}

// Writes the new text of a handle opened to write: a replacement that takes the old file's owner,
// group, mode, ACL and extended attributes, or, where a new file cannot keep what the user has (the
// file has other names; the runner cannot read it, or may not make a new file in its folder or
// give it those properties), the write in place. Returns false with the failure recorded.
bool WriteNewText(int descriptor, Handle* handle) {
  Entry* file = &handle->name->file;
  bool refused = !handle->readable;
  if (file->status.st_nlink == 1 && handle->readable) {
    Replacement replacement;
    if (BeginReplacement(file, &replacement, &refused)) {
      size_t size = handle->pending.size();
      bool written =
          size == 0 || WriteAllAt(replacement.descriptor, handle->pending.data(), size, 0);
      if (!written) {
        DiscardReplacement(&replacement);
        return false;
      }
      if (CommitReplacement(&replacement, TakeOverProperties, descriptor, &refused)) {
        return true;
      }
    }
    if (!refused) {
      return false;
    }
  }
  if (!handle->writable) {
    errno = EACCES;
    return FailErrno();
  }
  return WriteInPlace(descriptor, handle->pending, handle->name->copiedTo);
}

// Whether a copy may replace the entry: not when it is the source itself, a read-only file
// (CopyFileA refuses to overwrite one) or a directory, or, with failIfExists, anything that
// exists. A symbolic link is replaced, never followed. Returns false with the failure recorded.
bool CopyMayReplace(const Entry& destination, const struct stat& source, bool failIfExists) {
  if (!destination.exists) {
    return true;
  }
  const struct stat& existing = destination.status;
  if (failIfExists) {
    return Fail(ERROR_FILE_EXISTS_CODE);
  }
  if (IsSameFile(existing, source)) {
    return Fail(ERROR_SHARING_VIOLATION_CODE);
  }
  if (S_ISDIR(existing.st_mode) || (S_ISREG(existing.st_mode) && IsReadOnly(existing))) {
    return Fail(ERROR_ACCESS_DENIED_CODE);
  }
  return true;
}

// Copies source from *offset to its end, or to end when that is not -1, into destination at the
// same places, and moves *offset past what it copied; no further than the size any settings file
// has, though the source grow while it is copied. Returns false with the failure recorded.
bool CopyRange(int source, int destination, off_t* offset, off_t end) {
  static char buffer[BlockSize];
  while (end < 0 || *offset < end) {
    size_t wanted =
        end < 0 ? BlockSize : static_cast<size_t>(std::min<off_t>(end - *offset, BlockSize));
    ssize_t count = pread(source, buffer, wanted, *offset);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count < 0) {
      return FailRead();
    }
    if (count == 0) {
      return true;
    }
    if (!WriteAllAt(destination, buffer, static_cast<size_t>(count), *offset)) {
      return false;
    }
    *offset += count;
    if (static_cast<uint64_t>(*offset) > MaxSettingsFileSize) {
      return Fail(FileTooLargeCode, TooLargeReason);
    }
  }
  return true;
}

// Copies every byte of source into destination. A sparse file (fewer blocks than its size needs)
// keeps its holes, as cp --sparse=auto does: only its data is copied, and the copy gets the
// source's length. Returns false with the failure recorded.
bool CopyBytes(int source, int destination, const struct stat& status) {
  constexpr off_t BlockUnit = 512;
  off_t offset = 0;
  if (status.st_size > 0 && status.st_blocks * BlockUnit < status.st_size) {
    for (;;) {
      off_t data = lseek(source, offset, SEEK_DATA);
      off_t hole = data < 0 ? -1 : lseek(source, data, SEEK_HOLE);
      if (data < 0 && errno == ENXIO) {
        break;  // only a hole is left
      }
      if (hole < 0) {
        // The file system cannot tell holes: the rest is copied as data.
        return CopyRange(source, destination, &offset, -1);
      }
      offset = data;
      if (!CopyRange(source, destination, &offset, hole)) {
        return false;
      }
      if (offset < hole) {
        break;  // the file ended early
      }
    }
    return ftruncate(destination, std::max(offset, status.st_size)) == 0 || FailErrno();
  }
  return CopyRange(source, destination, &offset, -1);
}

// The copy, once the source is open under its shared lock: a new file beside the destination,
// private until complete, which replaces it whole only once it is complete and on disk. A copy
// that fails midway, or a run that is stopped, leaves an older file under the name as it was.
bool CopyFromOpenSource(int source, Name* destination, bool failIfExists) {
  struct stat status {};
  if (fstat(source, &status) != 0) {
    return FailErrno();
  }
  Replacement copy;
  bool refused = false;
  if (!MayUseItself(*destination) || !CopyMayReplace(destination->itself, status, failIfExists) ||
      !BeginReplacement(&destination->itself, &copy, &refused)) {
    return false;
  }
  if (!CopyBytes(source, copy.descriptor, status)) {
    DiscardReplacement(&copy);
    return false;
  }
  if (!CommitReplacement(&copy, GiveCopyProperties, source, &refused)) {
    return false;
  }
  destination->madeByRun = true;
  return TakeItselfAsFile(destination);
}

}  // namespace

bool OsCopyFile(const char* existingName, const char* newName, bool failIfExists) {
  NoteFileInUse(existingName);
  Name* source = LookUpName(existingName);
  int descriptor = OpenToRead(*source);
  if (descriptor < 0) {
    return PublishFailure();
  }
  NoteFileInUse(newName);
  bool copied = CopyFromOpenSource(descriptor, LookUpName(newName), failIfExists);
  close(descriptor);
  if (!copied) {
    return PublishFailure();
  }
  source->copiedTo = newName;
  return true;
}

// Supports the three uses the programs make: reading an existing plain file, writing it anew
// (CREATE_ALWAYS on the file just read), and opening an existing plain file only to flush it.
// The first two keep the share mode the programs give them, "others may read": a reader holds a
// shared lock, a writer an exclusive one, and the one that comes second fails with a sharing
// violation (a writer lets others go on reading the old text, which it replaces only at close).
FileHandle OsCreateFile(const char* name, uint32_t access, uint32_t shareMode, uint32_t disposition,
                        uint32_t flags) {
  static_cast<void>(shareMode);
  static_cast<void>(flags);
  NoteFileInUse(name);
  Handle handle;
  handle.name = LookUpName(name);
  int descriptor = -1;
  if (access == GENERIC_READ_ACCESS && disposition == OPEN_EXISTING_DISPOSITION) {
    handle.use = Use::Read;
    descriptor = OpenToRead(*handle.name);
  } else if (access == GENERIC_WRITE_ACCESS && disposition == CREATE_ALWAYS_DISPOSITION) {
    handle.use = Use::Write;
    descriptor = OpenToWrite(*handle.name, &handle);
  } else if (access == GENERIC_WRITE_ACCESS && disposition == OPEN_EXISTING_DISPOSITION) {
    handle.use = Use::Flush;
    descriptor = OpenToFlush(*handle.name);
  } else {
    Fail(ERROR_INVALID_PARAMETER_CODE);
  }
  if (descriptor < 0) {
    PublishFailure();
    return InvalidFileHandle;
  }
  Handles[descriptor] = handle;
  return descriptor;
}

uint32_t OsGetFileType(FileHandle handle) {
  Handle* record = Find(handle);
  struct stat status {};
  if (fstat(Descriptor(handle), &status) != 0) {
    FailErrno();
    if (record != nullptr) {
      FailHandle(record);
    }
    PublishFailure();
    return FILE_TYPE_UNKNOWN_VALUE;
  }
  if (S_ISREG(status.st_mode)) {
    return FILE_TYPE_DISK_VALUE;
  }
  if (S_ISCHR(status.st_mode)) {
    return FILE_TYPE_CHAR_VALUE;
  }
  if (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) {
    return FILE_TYPE_PIPE_VALUE;
  }
  return FILE_TYPE_UNKNOWN_VALUE;
}

// As one read() call: it may deliver fewer bytes than asked for, and 0 at the end of the file.
// The file is taken from the disk a block at a time, and no further than the size any settings
// file has, though it grow while it is read.
bool OsReadFile(FileHandle handle, void* buffer, uint32_t size, uint32_t* bytesRead) {
  *bytesRead = 0;
  Handle* record = Find(handle);
  if (record == nullptr || record->use != Use::Read) {
    Fail(ERROR_INVALID_HANDLE_CODE);
    return PublishFailure();
  }
  if (record->taken == record->block.size()) {
    record->block.resize(BlockSize);
    ssize_t count = ReadRetrying(Descriptor(handle), record->block.data(), BlockSize);
    record->block.resize(count > 0 ? static_cast<size_t>(count) : 0);
    record->taken = 0;
    if (count < 0) {
      FailRead();
      return FailHandle(record);
    }
    record->total += static_cast<uint64_t>(count);
    if (record->total > MaxSettingsFileSize) {
      Fail(FileTooLargeCode, TooLargeReason);
      return FailHandle(record);
    }
  }
  size_t count = std::min<size_t>(size, record->block.size() - record->taken);
  std::memcpy(buffer, record->block.data() + record->taken, count);
  record->taken += count;
  *bytesRead = static_cast<uint32_t>(count);
  return true;
}

// As WriteFile on a disk file, every byte is taken; they reach the disk at close, all at once.
bool OsWriteFile(FileHandle handle, const void* buffer, uint32_t size, uint32_t* bytesWritten) {
  *bytesWritten = 0;
  Handle* record = Find(handle);
  if (record == nullptr || record->use != Use::Write) {
    Fail(ERROR_INVALID_HANDLE_CODE);
    return PublishFailure();
  }
  record->pending.append(static_cast<const char*>(buffer), size);
  *bytesWritten = size;
  return true;
}

// A file being written reaches the disk at its close, which flushes it (and renames a
// replacement into place), and a copy the run made was on disk, with its folder, before the copy
// returned: a flush has nothing to add to either, and a second fsync would only cost time. Any
// other file is flushed at once; a file system that cannot flush (EINVAL) holds nothing to flush.
bool OsFlushFileBuffers(FileHandle handle) {
  Handle* record = Find(handle);
  if (record != nullptr && (record->use == Use::Write || record->name->madeByRun)) {
    return true;
  }
  if (fsync(Descriptor(handle)) == 0 || errno == EINVAL) {
    return true;
  }
  FailErrno();
  return record != nullptr ? FailHandle(record) : PublishFailure();
}

// A file opened for writing is done only when its bytes are on disk: flushed, and, for a
// replacement, renamed over the old file with the folder flushed. A handle on which an operation
// failed is abandoned, and one whose new text cannot be written leaves the old file as it was.
bool OsCloseHandle(FileHandle handle) {
  Handle* record = Find(handle);
  int descriptor = Descriptor(handle);
  if (record == nullptr) {
    return CloseDescriptor(descriptor) || PublishFailure();
  }
  Handle closing = std::move(*record);
  Handles.erase(descriptor);
  bool done = true;
  if (closing.use == Use::Write) {
    done = closing.failed ? FailAgain(closing.failure) : WriteNewText(descriptor, &closing);
  }
  if (!done) {
    close(descriptor);
    return PublishFailure();
  }
  return CloseDescriptor(descriptor) || PublishFailure();
}
