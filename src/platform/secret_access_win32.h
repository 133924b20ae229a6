// Windows only: the rule that decides whether a file holding a secret is
// open to others, over its security descriptor alone, so that it can be
// tried on descriptors built in memory.
#pragma once

#include <windows.h>

namespace platform {

/// Whether `descriptor`'s access list lets Everyone, Users or Authenticated
/// Users read the file's data. A descriptor without an access list (a NULL
/// DACL) lets everyone in, and so does one that cannot be read. Deny entries
/// are not weighed: a grant to those groups is refused wherever it stands.
bool lets_others_read(PSECURITY_DESCRIPTOR descriptor);

} // namespace platform
