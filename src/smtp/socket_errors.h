// Socket error codes in words, as the user reads them after a failed
// connection.
#pragma once

#include <string>

namespace smtp {

/// The text for a Windows Sockets error code, without a line end. Each text
/// starts with "() "; a code outside the table (0 included) gives
/// "() Socket Unkown error code N ".
std::string socket_error_text(int code);

} // namespace smtp
