// File properties on the POSIX platform layer: Windows' attributes as permission bits, and the
// owner, group, permission bits, extended attributes and ACL a new file takes from the one it
// stands in for.
#pragma once

#include <sys/stat.h>

#include "posix_names.h"

namespace posix_layer {

// Gives a new file every property of model (an open descriptor of the file it replaces): its
// owner, group, extended attributes (its ACL among them) and permission bits, exactly. Returns
// false with the failure recorded; *refused then tells whether the system refused the runner one
// of them (a write in place keeps what a new file cannot have).
bool TakeOverProperties(int model, int descriptor, bool* refused);

// Gives a copy what it takes from its source, and nothing more: the source's permission bits
// without set-user-ID, set-group-ID and sticky; the source's group and ACL when the runner can
// give that group, else no group or other permission and no ACL; and the source's last-write
// time, as CopyFileA gives it. Returns false with the failure recorded.
bool GiveCopyProperties(int source, int descriptor, bool* refused);

// Removes the ACL a new file took from its folder's default ACL. Returns false with the failure
// recorded.
bool DropAcl(int descriptor);

// What Windows calls the read-only attribute: the owner may not write.
bool IsReadOnly(const struct stat& status);

}  // namespace posix_layer
