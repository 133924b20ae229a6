// Windows only: what tls_win32.cpp reads from the server's name and from the
// server's first bytes before Schannel is asked, apart so that unit tests
// can call it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

/// What the first bytes a server sent in a handshake tell of it.
enum class ServerStart {
  tls,          ///< a TLS record, or too few bytes to tell
  clear_text,   ///< no TLS record but text, like the "220 " of an SMTP greeting
  old_protocol, ///< a ServerHello of TLS 1.1 or older, or a protocol_version alert
};

/// Classifies `first_bytes`, the server's first reply as received.
ServerStart classify_server_start(std::string_view first_bytes);

/// The address of an IPv4 or IPv6 literal (an IPv6 one in brackets or
/// without), as its 4 or 16 bytes in network order; nothing for a host name.
std::optional<std::string> ip_literal_address(const std::string &server);

} // namespace platform
