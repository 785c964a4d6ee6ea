// Files replaced whole on the POSIX platform layer: the new text goes into a new file beside the
// old one, is flushed to disk and renamed over the old name, and the folder is flushed, so that
// a kill, a crash or a power cut at any moment leaves the old text or the new one, whole, and a
// reader always opens one whole file.
#pragma once

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

// Opens the folder the new file goes into (the folder of path, or "." for a bare name) and gives
// the name inside it. Returns -1 with the last error set.
int OpenFolderOf(const std::string& path, std::string* name);

// Makes a new, empty file in folder that is to replace target there. With model (an open
// descriptor of the file it replaces) the new file gets that file's owner, group, permission
// bits and extended attributes; without, the mode a new file gets. On success the replacement
// holds folder; on failure it stays the caller's, and the last error is set. *writeInPlace is
// then set when a write in place would keep what a new file cannot have: the folder refuses new
// files, or the file's owner, group or an extended attribute cannot be given to one.
bool BeginReplacement(int folder, const std::string& target, int model, Replacement* replacement,
                      bool* writeInPlace);

// Flushes the new file to disk, renames it over the target and flushes the folder. Returns false
// with the last error set, the new file gone and the target as it was. Closes the replacement
// either way.
bool CommitReplacement(Replacement* replacement);

// Closes and removes the new file; the target stays as it was.
void DiscardReplacement(Replacement* replacement);

// Removes every new file that still has a temporary name. Safe in a signal handler.
void RemoveUnfinishedFiles();

// Makes SIGINT, SIGTERM and SIGHUP remove the unfinished files first and then end the process
// as the signal ends it.
void RemoveUnfinishedFilesOnInterrupt();

}  // namespace posix_layer
