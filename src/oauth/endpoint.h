// Where a token request goes: an "https" URL taken apart (RFC 3986), and a
// proxy's "HOST:PORT".
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace oauth {

struct Endpoint {
  std::string host; ///< a name, an IPv4 literal, or an IPv6 literal in brackets
  int port = 443;
  std::string path; ///< from the first "/", query included; "/" when the URL has none
};

/// "https://HOST[:PORT][/PATH]", the scheme in any case. Nothing for another
/// scheme, an empty host, userinfo ("@" before the path), a fragment, a port
/// that is not 1 to 65535, or any byte that is a control, a space or not
/// ASCII.
std::optional<Endpoint> parse_https_url(std::string_view url);

/// "HOST:PORT" (IPv6 in brackets), PORT 1 to 65535; nothing otherwise.
std::optional<Endpoint> parse_proxy(std::string_view text);

} // namespace oauth
