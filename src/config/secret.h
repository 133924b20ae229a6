// The secret of the login (a password, or an OAuth 2.0 access token for
// XOAUTH2), from the one source quillrun.ini names. It never comes from the
// command line, where every user of the machine could read it.
#pragma once

#include "config/quillrun_ini.h"

#include <string>

namespace config {

/// How long a `password_command` may take before it is ended.
inline constexpr int kSecretCommandMs = 30 * 1000;

struct SecretRead {
  std::string secret;  ///< empty on failure
  std::string failure; ///< REASON for "No password for USER: REASON"; empty when read
};

/// The secret for `ini.submission.user`: the first line of the
/// `password_file` (without its CR LF, or a UTF-8 byte order mark before
/// it), the first line of what `password_command` writes on its standard
/// output (run through the system's command interpreter with standard input
/// and standard error on the null device, ended after kSecretCommandMs; a
/// non-zero exit is a failure), or `password` itself. An empty line, one
/// longer than platform::kSecretLimit ("longer than 16 KiB"), or no source
/// given, is a failure. A file holding a
/// secret (the `password_file`, or quillrun.ini when it holds `password`)
/// is refused when others may read it or anyone but its owner may write it;
/// on Windows when its access list lets Everyone, Users or Authenticated
/// Users read it, and the reason then names the icacls line that fixes it.
/// The `password_file` is refused too when it may not be trusted ("PATH "
/// and config::standing_fault's words), and when its first line, up to its
/// LF, is longer than 16 KiB: "longer than 16 KiB".
SecretRead read_secret(const QuillrunIni &ini);

} // namespace config
