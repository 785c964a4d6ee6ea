// File properties on the POSIX platform layer: the directory search and the attributes, which
// Windows' read-only attribute maps onto the owner's write permission (hidden and system have no
// counterpart), and the properties a new file takes over.
#include "posix_properties.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform.h"
#include "posix_errors.h"
#include "posix_names.h"

using namespace posix_layer;

namespace {

constexpr mode_t PermissionBits = 07777;
constexpr mode_t AccessBits = 0777;
constexpr mode_t AnyWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;
// Where the system keeps a file's ACL.
const char AccessAclName[] = "system.posix_acl_access";
// More than any ACL of a settings file needs: 8 bytes an entry.
constexpr size_t MaxAclSize = size_t{64} * 1024;

uint32_t AttributesOf(const struct stat& status) {
  uint32_t attributes =
      S_ISDIR(status.st_mode) ? FILE_ATTRIBUTE_DIRECTORY_BIT : FILE_ATTRIBUTE_ARCHIVE_BIT;
  if (IsReadOnly(status)) {
    attributes |= FILE_ATTRIBUTE_READONLY_BIT;
  }
  return attributes;
}

// The status the presence test and the attribute query of given show. Returns false with the
// failure published.
bool ShownStatus(const char* given, struct stat* status) {
  NoteFileInUse(given);
  return StatusToShow(*LookUpName(given), status) || PublishFailure();
}

// Sets the permission bits of the file the entry looked at, whatever the file's own permissions:
// it is reached by a descriptor that needs no permission on it (O_PATH), and its mode is set
// through the descriptor's entry in /proc, which names that file and no other. Without /proc,
// through a descriptor opened for reading. Returns false with the failure recorded.
bool ChangeMode(Entry* entry, mode_t mode) {
  int descriptor = OpenEntry(*entry, O_PATH);
  if (descriptor < 0) {
    return false;
  }
  std::string self = "/proc/self/fd/" + std::to_string(descriptor);
  bool changed = chmod(self.c_str(), mode) == 0;
  if (!changed && errno == ENOENT) {
    int readable = OpenEntry(*entry, O_RDONLY);
    changed = readable >= 0 && (fchmod(readable, mode) == 0 || FailErrno());
    if (readable >= 0) {
      close(readable);
    }
  } else if (!changed) {
    FailErrno();
  }
  changed = changed && RefreshEntry(entry, descriptor);
  close(descriptor);
  return changed;
}

// Gives destination every extended attribute of source (ACLs, the DOS attributes Wine keeps).
// Returns false with the failure recorded.
bool CopyExtendedAttributes(int source, int destination) {
  ssize_t size = flistxattr(source, nullptr, 0);
  if (size < 0) {
    return errno == EOPNOTSUPP || FailErrno();
  }
  std::vector<char> names(static_cast<size_t>(size) + 1);
  size = flistxattr(source, names.data(), names.size());
  if (size < 0) {
    return FailErrno();
  }
  for (const char* name = names.data(); name < names.data() + size; name += std::strlen(name) + 1) {
    ssize_t length = fgetxattr(source, name, nullptr, 0);
    if (length < 0) {
      return FailErrno();
    }
    std::vector<char> value(static_cast<size_t>(length) + 1);
    length = fgetxattr(source, name, value.data(), value.size());
    if (length < 0 ||
        fsetxattr(destination, name, value.data(), static_cast<size_t>(length), 0) != 0) {
      return FailErrno();
    }
  }
  return true;
}

// Gives destination the ACL of source, if it has one. Returns false with the failure recorded.
bool CopyAcl(int source, int destination) {
  std::vector<char> value(MaxAclSize);
  ssize_t length = fgetxattr(source, AccessAclName, value.data(), value.size());
  if (length < 0) {
    return errno == ENODATA || errno == EOPNOTSUPP || FailErrno();
  }
  return fsetxattr(destination, AccessAclName, value.data(), static_cast<size_t>(length), 0) == 0 ||
         FailErrno();
}

// Errors that refuse the new file something the old one has, where a write in place keeps it.
bool IsRefusal(int error) { return error == EPERM || error == EACCES || error == EOPNOTSUPP; }

}  // namespace

namespace posix_layer {

bool IsReadOnly(const struct stat& status) { return (status.st_mode & S_IWUSR) == 0; }

// The owner comes first: a change of owner clears the set-user-ID bit.
bool TakeOverProperties(int model, int descriptor, bool* refused) {
  struct stat wanted {};
  struct stat made {};
  bool taken = (fstat(model, &wanted) == 0 && fstat(descriptor, &made) == 0) || FailErrno();
  if (taken && (wanted.st_uid != made.st_uid || wanted.st_gid != made.st_gid) &&
      fchown(descriptor, wanted.st_uid, wanted.st_gid) != 0) {
    taken = FailErrno();
  }
  taken = taken && CopyExtendedAttributes(model, descriptor) &&
          (fchmod(descriptor, wanted.st_mode & PermissionBits) == 0 || FailErrno());
  *refused = !taken && IsRefusal(FailureErrno());
  return taken;
}

bool GiveCopyProperties(int source, int descriptor, bool* refused) {
  *refused = false;
  struct stat wanted {};
  struct stat made {};
  if (fstat(source, &wanted) != 0 || fstat(descriptor, &made) != 0) {
    return FailErrno();
  }
  mode_t mode = wanted.st_mode & AccessBits;
  bool groupGiven = wanted.st_gid == made.st_gid ||
                    fchown(descriptor, static_cast<uid_t>(-1), wanted.st_gid) == 0;
  if (!groupGiven) {
    mode &= S_IRWXU;
  }
  const timespec times[2] = {{0, UTIME_OMIT}, wanted.st_mtim};
  return (fchmod(descriptor, mode) == 0 || FailErrno()) &&
         (!groupGiven || CopyAcl(source, descriptor)) &&
         (futimens(descriptor, times) == 0 || FailErrno());
}

bool DropAcl(int descriptor) {
  return fremovexattr(descriptor, AccessAclName) == 0 || errno == ENODATA || errno == EOPNOTSUPP ||
         FailErrno();
}

}  // namespace posix_layer

// Wildcards have no meaning here.
bool OsFindFirstEntry(const char* name, FoundEntry* entry) {
  struct stat status {};
  if (!ShownStatus(name, &status)) {
    return false;
  }
  entry->attributes = AttributesOf(status);
  return true;
}

uint32_t OsGetFileAttributes(const char* name) {
  struct stat status {};
  return ShownStatus(name, &status) ? AttributesOf(status) : INVALID_ATTRIBUTES_VALUE;
}

// Only the read-only bit has a counterpart: without it the owner gets write permission, with it
// nobody keeps one. The hidden and system bits are ignored. The mode is set on the file the look
// found, through a descriptor of it.
bool OsSetFileAttributes(const char* given, uint32_t attributes) {
  NoteFileInUse(given);
  Name* name = LookUpName(given);
  if (!MayUseFile(*name)) {
    return PublishFailure();
  }
  mode_t mode = name->file.status.st_mode & PermissionBits;
  if ((attributes & FILE_ATTRIBUTE_READONLY_BIT) != 0) {
    mode &= ~AnyWriteBits;
  } else {
    mode |= S_IWUSR;
  }
  return ChangeMode(&name->file, mode) || PublishFailure();
}
