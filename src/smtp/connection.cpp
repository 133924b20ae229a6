#include "smtp/connection.h"

#include "log/debug_log.h"
#include "log/report.h"
#include "platform/deadline.h"
#include "smtp/socket_errors.h"
#include "text/ascii.h"

#include <algorithm>

namespace smtp {
namespace {

// The host name is asked for with a buffer of 190 bytes, terminator included;
// kept on purpose: a longer name fails as it always has, with its message.
constexpr std::size_t kHostNameLength = 190;

void lower_case(std::string &host) {
  for (char &c : host) c = ascii::to_lower(c);
}

std::string_view without_brackets(std::string_view text) {
  if (!text.empty() && text.front() == '[') text.remove_prefix(1);
  if (!text.empty() && text.back() == ']') text.remove_suffix(1);
  return text;
}

} // namespace

void start_sockets() {
  platform::SocketStartup startup = platform::start_socket_library();
  if (!startup.started) {
    logs::report(kNoWinsock);
  } else if (!startup.version_1_1) {
    logs::report(kOtherWinsock);
  }
}

std::string local_host_name() {
  static std::string last_name;
  if (auto name = platform::host_name(kHostNameLength)) {
    last_name = *name;
  } else {
    logs::report(kNoHostName);
  }
  return last_name;
}

bool is_dotted_quad(std::string_view text) {
  if (!text.empty() && text.front() == '[') text.remove_prefix(1);
  std::size_t dots = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '.') {
      ++dots;
    } else if (text[at] == ']' && at + 1 == text.size()) {
      break;
    } else if (!ascii::is_digit(text[at])) {
      return false;
    }
  }
  // The last-character test sees a closing "]", not the dot before it.
  return dots == 3 && text.find("..") == std::string_view::npos && text.front() != '.' &&
         text.back() != '.';
}

std::optional<std::string> ipv6_literal(std::string_view host) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  return platform::address_bytes(std::string(host), 16);
}

TcpConnection connect_in_turn(const std::vector<std::string> &addresses, int port,
                              const TimeLimits &limits) {
  const platform::Clock::time_point deadline = platform::deadline_in(limits.connect_in_all);
  const int each = static_cast<int>(limits.connect.count());
  TcpConnection connection;
  for (const std::string &address : addresses) {
    const int left = platform::milliseconds_left(deadline);
    if (left == 0) break;
    // Only the low 16 bits of the configured number name the port.
    platform::Opened opened = platform::connect_stream(
        address, static_cast<std::uint16_t>(port & 0xFFFF), std::min(each, left));
    if (opened.socket != platform::kInvalidSocket) return {opened.socket, address, 0};
    connection.error = opened.error;
    // With one address the message names the failure: the trace stays as
    // it has always been.
    if (addresses.size() > 1)
      logs::debug_log("Could not connect to " + platform::address_text(address) + " " +
                      socket_error_text(opened.error) + "\n");
  }
  return connection;
}

TcpConnection open_smtp_connection(std::string &host, int port, const TimeLimits &limits) {
  lower_case(host);
  platform::Resolved resolved;
  if (is_dotted_quad(host)) {
    resolved.addresses = {platform::numeric_ipv4(std::string(without_brackets(host)))};
  } else if (auto address = ipv6_literal(host)) {
    resolved.addresses = {*address};
  } else {
    resolved = platform::resolve(host);
  }
  if (resolved.addresses.empty()) return {platform::kInvalidSocket, {}, resolved.error};
  return connect_in_turn(resolved.addresses, port, limits);
}

bool is_loopback(std::string_view address) {
  static constexpr std::string_view kIpv6Loopback{"\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\1", 16};
  return (address.size() == 4 && address.front() == '\x7f') || address == kIpv6Loopback;
}

std::string connection_failure(std::string host, int port, int error) {
  lower_case(host);
  return "Could not connect to SMTP server " + host + " " + std::to_string(port) + " " +
         socket_error_text(error);
}

} // namespace smtp
