#include "oauth/endpoint.h"

#include "text/ascii.h"

namespace oauth {
namespace {

constexpr std::string_view kScheme = "https://";

bool is_hex_digit(char c) {
  return ascii::is_digit(c) || (ascii::to_lower(c) >= 'a' && ascii::to_lower(c) <= 'f');
}

// The bytes a URL may hold at all: printable ASCII, no space (RFC 3986 2).
bool all_visible(std::string_view text) {
  for (char c : text) {
    if (c <= ' ' || c > '~') return false;
  }
  return true;
}

// A reg-name of unreserved characters (RFC 3986 3.2.2: letters, digits
// "-._~"), which also covers an IPv4 literal; or an IPv6 literal in brackets.
bool is_host(std::string_view host) {
  if (host.starts_with('[')) {
    if (host.size() < 4 || !host.ends_with(']')) return false;
    const std::string_view inside = host.substr(1, host.size() - 2);
    if (inside.find(':') == std::string_view::npos) return false;
    for (char c : inside) {
      if (!is_hex_digit(c) && c != ':' && c != '.') return false;
    }
    return true;
  }
  if (host.empty()) return false;
  for (char c : host) {
    const bool letter = ascii::to_lower(c) >= 'a' && ascii::to_lower(c) <= 'z';
    if (!letter && !ascii::is_digit(c) && c != '-' && c != '.' && c != '_' && c != '~') {
      return false;
    }
  }
  return true;
}

// 1 to 65535 in decimal digits; 0 when `text` is not such a port.
int port_of(std::string_view text) {
  int port = 0;
  for (char c : text) {
    if (!ascii::is_digit(c)) return 0;
    port = port * 10 + (c - '0');
    if (port > 65535) return 0;
  }
  return port;
}

// "HOST[:PORT]", the port `port` when it has none and `port` is not 0.
std::optional<Endpoint> parse_authority(std::string_view authority, int port) {
  // The colon of the port comes after an IPv6 literal's brackets.
  const std::size_t colon =
      authority.find(':', authority.starts_with('[') ? authority.find(']') : 0);
  Endpoint endpoint;
  endpoint.host = authority.substr(0, colon);
  endpoint.port = colon == std::string_view::npos ? port : port_of(authority.substr(colon + 1));
  if (!is_host(endpoint.host) || endpoint.port == 0) return std::nullopt;
  return endpoint;
}

} // namespace

std::optional<Endpoint> parse_https_url(std::string_view url) {
  if (!all_visible(url) || url.size() < kScheme.size() ||
      !ascii::equal_ignoring_case(url.substr(0, kScheme.size()), kScheme) ||
      url.find('#') != std::string_view::npos) {
    return std::nullopt;
  }
  url.remove_prefix(kScheme.size());
  const std::size_t path = url.find_first_of("/?");
  std::optional<Endpoint> endpoint = parse_authority(url.substr(0, path), 443);
  if (!endpoint) return std::nullopt;
  // An empty path is sent as "/" (RFC 9112 3.2.1), a query after it.
  endpoint->path = path == std::string_view::npos ? "/" : url.substr(path);
  if (endpoint->path.starts_with('?')) endpoint->path.insert(0, "/");
  return endpoint;
}

std::optional<Endpoint> parse_proxy(std::string_view text) {
  if (!all_visible(text)) return std::nullopt;
  return parse_authority(text, 0);
}

} // namespace oauth
