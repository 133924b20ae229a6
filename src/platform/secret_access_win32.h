// Windows only: the rules that decide whether a file holding settings or a
// secret is open to others, or someone else's, over its security descriptor
// alone, so that they can be tried on descriptors built in memory.
#pragma once

#include <windows.h>

namespace platform {

/// Whether `descriptor`'s access list lets Everyone, Users or Authenticated
/// Users read the file's data. A descriptor without an access list (a NULL
/// DACL) lets everyone in, and so does one that cannot be read. Deny entries
/// are not weighed: a grant to those groups is refused wherever it stands.
bool lets_others_read(PSECURITY_DESCRIPTOR descriptor);

/// Whether `descriptor`'s access list lets Everyone, Users or Authenticated
/// Users write the file, modify it or have full control of it: a grant of
/// FILE_WRITE_DATA, FILE_APPEND_DATA (a line added is a key added), WRITE_DAC
/// or WRITE_OWNER (either gives the rest), GENERIC_WRITE or GENERIC_ALL.
/// DELETE alone does not count: another file in its place needs the folder's
/// right to add one, and belongs to whoever made it. A NULL DACL, or one
/// that cannot be read, lets everyone in; deny entries are not weighed.
bool lets_others_write(PSECURITY_DESCRIPTOR descriptor);

/// Whether `descriptor`'s owner is `caller`, SYSTEM or Administrators; not
/// when it names no owner.
bool owned_by_trusted(PSECURITY_DESCRIPTOR descriptor, PSID caller);

} // namespace platform
