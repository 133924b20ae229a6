// quillrun.ini's `tls_ca_file`: the private CA the SMTP server's certificate
// must chain to. Whoever may write it decides which server the login goes
// to, so it is judged as quillrun.ini is, and the text read in that one
// opening is what TLS trusts, never the name looked up again. It holds no
// secret: others may read it.
#pragma once

#include "platform/tls.h"

#include <string>

namespace config {

/// Puts the text of the file `ca_file.path` names into `ca_file.pem`, from
/// one opening of it; nothing for an empty path. Empty when read, or when
/// it cannot be read (`pem` is then empty, and the handshake fails with
/// "cannot read CA file PATH", as for a file that holds no certificate);
/// else why it may not be used: "PATH: REASON" with config::standing_fault's
/// words, or "PATH: larger than 1 MiB".
std::string read_ca_file(platform::CaFile &ca_file);

} // namespace config
