// The run's folder, the names the programs use in it and the trust in what they lead to, on the
// POSIX platform layer.
//
// The programs may run as root, or in a folder that someone else can write (a shared folder, a
// Wine prefix handed over by another account). Such a writer can put anything under the names
// the programs use, and swap it at any moment. So each name is looked at once per run, and the
// record of that look serves every step: the presence test, the attribute change, the copy, the
// read and the write. A symbolic link is followed one part at a time, from descriptors, and only
// through links that belong to the runner or root; a file or link with more than one name is
// refused in a folder others can write, since a writer of the folder could have linked anything
// there. Every step opens the entry relative to its folder, without following a link, and checks
// that it opened the file the look found.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "posix_errors.h"

namespace posix_layer {

// An entry as the look found it: the folder that holds it (open for the whole run), its name there
// and, when it exists, its status (a link not followed).
struct Entry {
  int folder = -1;
  std::string leaf;
  bool exists = false;
  struct stat status {};
};

// One name of the program's, for the whole run.
struct Name {
  std::string given;       // as the program spells it
  Entry itself;            // the entry in the run's folder, never followed
  Entry file;              // where trusted links lead: itself, for anything but a link
  bool looked = false;     // the look at itself succeeded; else every step fails with the refusal
  Failure refusal;         // why steps that use the file refuse it (code 0: they do not)
  bool madeByRun = false;  // the run's copy made the file, flushed with its folder
  std::string copiedTo;    // the name of the run's copy of the file, if any
};

// The record of given, looked at on first use: in the run's folder (the current folder, opened
// once), by the name itself when it is a plain file or link, else by the entry that matches it
// without regard to ASCII letter case. A missing entry is no failure. A look that fails for a
// passing reason (too many open files, an I/O error) ends the run with the runtime-error report;
// other failures are kept in the record as its refusal. Never returns null.
Name* LookUpName(const char* given);

// Whether the steps that use the file may use it: it exists and the look did not refuse it.
// Returns false with the failure recorded.
bool MayUseFile(const Name& name);

// Whether the steps that replace the entry itself (the copy, never following a link) may use it:
// the look at it succeeded. Returns false with the failure recorded.
bool MayUseItself(const Name& name);

// The status the presence test and the attribute query show for the name: the file's, or, for a
// link the layer does not follow, the link's own, as Windows shows a link. Returns false with the
// failure recorded (a missing entry: ERROR_FILE_NOT_FOUND_CODE).
bool StatusToShow(const Name& name, struct stat* status);

// Opens the entry with flags (besides those, never following a link, never waiting for a named
// pipe's other end, never as a standard stream, closed on exec) and checks that it opened the
// file the look found: another one is ERROR_SHARING_VIOLATION_CODE. Returns -1 with the failure
// recorded.
// *opened, when given, gets the status of what was opened.
int OpenEntry(const Entry& entry, int flags, struct stat* opened = nullptr);

// Takes the status of the open descriptor as the entry's, after the layer changed the file or
// put a new one in its place. Returns false with the failure recorded.
bool RefreshEntry(Entry* entry, int descriptor);

// Takes the entry itself, which the layer has just replaced by a plain file of its own, as the
// file the name stands for.
bool TakeItselfAsFile(Name* name);

// Whether the name was looked at in this run and shows no file (nothing, or a folder): the presence
// test said that there is none.
bool ShowedMissing(const char* given);

// Whether two statuses are of one file: the same device and inode.
bool IsSameFile(const struct stat& one, const struct stat& other);

// Whether anyone but the runner and root may add, remove or rename entries of the open folder:
// its owner is someone else, or its group or others may write it.
bool OthersMayWrite(int folder);

// Forgets every record and the run's folder: the next look starts a new run in the current
// folder. For tests, which run many runs in one process.
void ForgetRun();

}  // namespace posix_layer
