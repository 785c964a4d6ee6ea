// The two ways the POSIX platform layer puts new text under a name, and nothing between: a
// replacement, where a new file beside the old one is written, flushed, given its properties,
// renamed over the old name and the folder flushed, so that a kill, a crash or a power cut at
// any moment leaves the old text or the new one, whole; and a write in place, for a file a new
// one cannot stand in for, where the room comes first and the old bytes go only once the new ones
// are sure to fit.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

#include "posix_names.h"

namespace posix_layer {

// Whether new files are first made without a name (O_TMPFILE), so that a run that dies leaves
// nothing behind; where the file system has no unnamed files, they get a temporary name. Tests
// turn it off to take the second road on any file system.
extern bool UseUnnamedFiles;

// The suffix of a temporary name, after the name of the file it is to replace.
constexpr const char* UnfinishedSuffix = ".unfinished-";

// A new file being written beside the entry it is to replace.
struct Replacement {
  Entry* target = nullptr;
  int descriptor = -1;    // the new file, open for writing
  std::string temporary;  // its temporary name; empty while it has none
};

// Gives the new file (descriptor) its properties from the file open as from. Returns false with
// the failure recorded and *refused set when the system refused the runner one of them.
using GiveProperties = bool (*)(int from, int descriptor, bool* refused);

// Makes a new, empty file beside target, in its folder, private to the runner (mode 0600, no ACL
// from the folder's default) until it is complete. Returns false with the failure recorded and
// *refused set when the folder lets the runner make no new file.
bool BeginReplacement(Entry* target, Replacement* replacement, bool* refused);

// Flushes the new file, gives it its properties, renames it over the target and flushes the
// folder; the target's record then has the new file's status. Returns false with the failure
// recorded (and *refused as GiveProperties sets it), the new file gone and the target as it was,
// unless only the folder's flush failed: the failure then says that the new text is in place.
bool CommitReplacement(Replacement* replacement, GiveProperties give, int from, bool* refused);

// Closes and removes the new file; the target stays as it was.
void DiscardReplacement(Replacement* replacement);

// pwrite() of all size bytes at offset, over as many calls as it takes. Returns false with the
// failure recorded (a write that stores nothing: a full disk).
bool WriteAllAt(int descriptor, const char* bytes, size_t size, off_t offset);

// pread() of exactly size bytes from the start into *bytes. Returns false with the failure
// recorded (a file shorter than size: an I/O error).
bool ReadAllAt(int descriptor, std::string* bytes, size_t size);

// Writes text into the plain file open as descriptor in place of its old bytes, which stay until
// the new ones are sure to fit, with the signals that would end the run held back until it is
// whole. A failure midway puts the old text back; where it cannot, the failure says where the old
// text is: in the file named oldTextIn, when that is not empty. Returns false with the failure
// recorded.
bool WriteInPlace(int descriptor, const std::string& text, const std::string& oldTextIn);

}  // namespace posix_layer
