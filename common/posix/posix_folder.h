// The run's folder and the entries the programs use in it, on the POSIX platform layer.
//
// The programs may run as root, or in a folder that someone else can write (a shared folder, a
// Wine prefix handed over by another account). Such a writer can put anything under the names
// the programs use, and swap it at any moment. So a name is looked up once: the folder is opened
// once per run, a bare name's letter-case match is made once per run, a symbolic link is followed
// only when its owner is the runner or root, and every later step opens the entry relative to the
// open folder, without following a link, and checks that it opened the file it looked at.
#pragma once

#include <sys/stat.h>

#include <string>

namespace posix_layer {

// An entry as one look found it: the folder that holds it, its name there and, when it exists,
// its status (links not followed). After a trusted symbolic link, the entry is the link's target,
// in the target's own folder.
struct Entry {
  int folder = -1;  // open, and the entry's own: CloseEntry closes it
  std::string name;
  bool exists = false;
  struct stat status {};
};

// Why a look refuses a name, as the runtime-error report's second line names it.
constexpr const char* ForeignLinkReason = "a link owned by another user";
constexpr const char* SharedHardLinkReason = "a file with other links in a folder others can write";
constexpr const char* ReplacedReason = "replaced by another program since it was read";

// Looks name up once, for a step that uses the file: in the run's folder for a bare name (whose
// letter-case match is made once per run), else in the folder its path names. A symbolic link is
// followed to the entry it names when its owner is the runner or root; one owned by anyone else is
// refused with ERROR_ACCESS_DENIED_CODE. So is a plain file with more than one link in a folder
// that others can write, since a writer of the folder could have linked any file of the system
// there. A missing entry is no failure: *entry then has exists false and the name a new file
// would take. Returns false with the last error set, *entry closed.
bool LookUpEntry(const std::string& name, Entry* entry);

// The same look for an entry that is to be replaced, never followed: a link is the entry itself.
bool LookUpEntryItself(const std::string& name, Entry* entry);

// The status that a query of name (the directory search, the attributes) reports: that of the
// file a trusted link leads to, or, for a link that the layer does not follow, the link's own.
// Returns false with the last error set (a missing entry: ERROR_FILE_NOT_FOUND_CODE).
bool LookUpStatusToShow(const std::string& name, struct stat* status);

// Opens the entry with flags (besides those, never following a link, never waiting for a named
// pipe's other end, closed on exec) and checks that it opened the file the look found: another
// one is ERROR_SHARING_VIOLATION_CODE. Returns -1 with the last error set.
int OpenEntry(const Entry& entry, int flags);

// Sets the permission bits of the file the entry looked at, through a descriptor of it, whatever
// the file's own permissions. Returns false with the last error set.
bool ChangeEntryMode(const Entry& entry, mode_t mode);

// Whether two statuses are of one file: the same device and inode.
bool IsSameFile(const struct stat& one, const struct stat& other);

// Closes the entry's folder.
void CloseEntry(Entry* entry);

// Whether anyone but the runner and root may add, remove or rename entries of the open folder:
// its owner is someone else, or its group or others may write it.
bool OthersMayWrite(int folder);

}  // namespace posix_layer
