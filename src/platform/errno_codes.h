// POSIX only: how the socket layer numbers errno values for the rest of the
// program, which speaks Windows Sockets error codes.
#pragma once

namespace platform {

/// The Windows Sockets code of a POSIX errno value; a value without a
/// counterpart comes back as 20000 + errno, outside the Windows Sockets table.
int windows_sockets_code(int error_number);

} // namespace platform
