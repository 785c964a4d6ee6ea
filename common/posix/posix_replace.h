// Files replaced whole on the POSIX platform layer: the new text goes into a new file beside the
// old one, is flushed to disk and renamed over the old name, and the folder is flushed, so that
// a kill, a crash or a power cut at any moment leaves the old text or the new one, whole, and a
// reader always opens one whole file.
#pragma once

#include <signal.h>
#include <sys/stat.h>

#include <string>

namespace posix_layer {

// Whether new files are first made without a name (O_TMPFILE), so that a run that dies leaves
// nothing behind; where the file system has no unnamed files, they get a temporary name. Tests
// turn it off to take the second road on any file system.
extern bool UseUnnamedFiles;

// The suffix of a temporary name, after the name of the file it is to replace.
constexpr const char* UnfinishedSuffix = ".unfinished-";

// A new file being written beside the file it is to replace.
struct Replacement {
  int folder = -1;        // the folder of both, open
  std::string target;     // the name it is to take in that folder
  int descriptor = -1;    // the new file, open for writing
  std::string temporary;  // its temporary name; empty while it has none
};

// Makes a new, empty file in folder that is to replace target there, private to the runner (mode
// 0600, no ACL from the folder's default). With model (an open descriptor of the file it
// replaces) the new file gets that file's owner, group, permission bits and extended attributes
// (its ACL among them) exactly. On success the replacement
// holds folder; on failure it stays the caller's, and the last error is set. *writeInPlace is
// then set when a write in place would keep what a new file cannot have: the folder refuses new
// files, or the file's owner, group or an extended attribute cannot be given to one.
bool BeginReplacement(int folder, const std::string& target, int model, Replacement* replacement,
                      bool* writeInPlace);

// Gives a copy the permissions of its source, and nothing more: the source's permission bits
// without set-user-ID, set-group-ID and sticky; the source's group and ACL when the runner can
// give that group, else no group or other permission and no ACL. Returns false with errno set.
bool GiveCopyPermissions(int source, int descriptor);

// Gives a new file that replaces nothing the mode a new file gets: 0666 less the umask. Returns
// false with errno set.
bool GiveNewFileMode(int descriptor);

// What a failed folder flush after the rename leaves.
constexpr const char* NotYetOnDiskReason = "the new text is in place but may not be on disk yet";

// Flushes the new file to disk, renames it over the target and flushes the folder. Returns false
// with the last error set, the new file gone and the target as it was. Closes the replacement
// either way.
bool CommitReplacement(Replacement* replacement);

// Closes and removes the new file; the target stays as it was.
void DiscardReplacement(Replacement* replacement);

// Removes every new file that still has a temporary name. Safe in a signal handler.
void RemoveUnfinishedFiles();

// Makes every signal whose default action ends the process (SIGINT, SIGTERM, SIGHUP, SIGQUIT,
// SIGUSR1, SIGALRM, ... and the faults) remove the unfinished files first and then end the process
// as the signal ends it. A signal the process was started with ignored stays ignored.
void RemoveUnfinishedFilesOnInterrupt();

// Holds back, until scope end, every signal that would end the process and can wait: a handler
// never sees a name half recorded or a file renamed but still recorded under its temporary name,
// and a file written in place is never left half written by one.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_{};
};

}  // namespace posix_layer
