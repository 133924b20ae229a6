// POSIX only: how the socket layer numbers errno values and the resolver's
// failures for the rest of the program, which speaks Windows Sockets error
// codes.
#pragma once

namespace platform {

/// The Windows Sockets code of a POSIX errno value; a value without a
/// counterpart comes back as 20000 + errno, outside the Windows Sockets table.
int windows_sockets_code(int error_number);

/// The Windows Sockets code of getaddrinfo's failure `gai_error`, the one
/// Windows' own getaddrinfo returns for it (11001 for EAI_NONAME, 11002
/// for EAI_AGAIN); with EAI_SYSTEM that of `error_number`.
int resolver_error_code(int gai_error, int error_number);

} // namespace platform
